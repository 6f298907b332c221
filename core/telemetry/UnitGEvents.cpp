#include "telemetry/UnitGEvents.h"

#include <algorithm>
#include <cmath>

namespace tachora {

namespace {

struct TMean {
  double X = 0, Y = 0, Z = 0;
};

TMean MeanOf(const std::vector<TGsensorPoint> &samples) {
  TMean m;
  size_t n = 0;
  for (const auto &s : samples) {
    // A damaged reading must not spoil the mean of all the others.
    if (!(s.Time > 0) || !std::isfinite(s.X + s.Y + s.Z)) continue;
    m.X += s.X;
    m.Y += s.Y;
    m.Z += s.Z;
    ++n;
  }
  if (n > 0) m.X /= n, m.Y /= n, m.Z /= n;
  return m;
}

void AddEvent(std::vector<TGEvent> &events, const TGEvent &e) {
  if (!events.empty() && e.Start - events.back().End < kEventMergeGap) {
    TGEvent &last = events.back();
    last.End = std::max(last.End, e.End);
    if (e.PeakG > last.PeakG) last.PeakG = e.PeakG, last.PeakTime = e.PeakTime;
    return;
  }
  events.push_back(e);
}

}  // namespace

std::vector<TGEvent> DetectGEvents(const std::vector<TGsensorPoint> &samples, float thresholdG) {
  std::vector<TGEvent> events;
  if (samples.empty() || !(thresholdG > 0)) return events;
  const TMean m = MeanOf(samples);
  const float mx = static_cast<float>(m.X), my = static_cast<float>(m.Y),
              mz = static_cast<float>(m.Z);
  // Compared squared: no root for the millions of quiet samples.
  const float t2 = thresholdG * thresholdG;
  for (const auto &s : samples) {
    if (!(s.Time > 0)) continue;
    const float x = s.X - mx, y = s.Y - my, z = s.Z - mz;
    const float a2 = x * x + y * y + z * z;
    if (!(a2 > t2)) continue;  // NaN readings are never events
    const float g = std::sqrt(a2);
    AddEvent(events, TGEvent{s.Time, s.Time, s.Time, g});
  }
  return events;
}

std::vector<TGEvent> DetectTripGEvents(const std::vector<const TMovingInfo *> &recordings,
                                       float thresholdG) {
  std::vector<TGEvent> found;
  for (const TMovingInfo *mi : recordings)
    if (mi)
      for (const TGEvent &e : DetectGEvents(mi->GsensorPoints, thresholdG)) found.push_back(e);
  // Recordings of a trip follow each other, but two may overlap a little.
  std::stable_sort(found.begin(), found.end(),
                   [](const TGEvent &a, const TGEvent &b) { return a.Start < b.Start; });
  std::vector<TGEvent> events;
  for (const TGEvent &e : found) AddEvent(events, e);
  return events;
}

TGEventCounts CountGEvents(const std::vector<TGsensorPoint> &samples) {
  TGEventCounts c;
  for (int i = 0; i < 3; ++i)
    c.Count[i] = static_cast<int32_t>(DetectGEvents(samples, kEventThresholds[i]).size());
  return c;
}

}  // namespace tachora
