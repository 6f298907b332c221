#include "telemetry/UnitGraphItems.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

namespace {

constexpr double kSecond = 1.0 / 86400.0;

const TGraphKindInfo kKinds[kGraphKindCount] = {
    {TGraphKind::Speed, "S", "N_View_Graphics_S", 10, 0, 0, 255, true},
    {TGraphKind::Altitude, "H", "N_View_Graphics_H", 5, 0, 0, 0, false},
    {TGraphKind::GsensorA, "G", "N_View_Graphics_G", 0.1L, 153, 110, 11, true},
    {TGraphKind::GsensorX, "X", "N_View_Graphics_X", 0.1L, 255, 0, 0, false},
    {TGraphKind::GsensorY, "Y", "N_View_Graphics_Y", 0.1L, 0, 128, 0, false},
    {TGraphKind::GsensorZ, "Z", "N_View_Graphics_Z", 0.1L, 211, 0, 169, false},
};

// Walks (time, value) pairs in array order as the column filling wants.
class TFillWalk {
 public:
  TFillWalk(TGraphicItems &items, double t0, double t1)
      : items_(items), n_(static_cast<long long>(items.size())), t0_(t0), t1_(t1) {
    w_ = n_ == 1 ? (t1 - t0) * 4 : (t1 - t0) / static_cast<double>(n_ - 1);
  }
  bool Usable() const { return n_ > 0 && w_ > 0; }

  // False once an element beyond the window ended the walk.
  bool Step(double t, long double v) {
    if (t > t1_) {
      if (!first_) End(t, v);
      return false;
    }
    if (t >= t0_) {
      // t >= t0: rounding half up is rounding to nearest here (and cheap).
      const double k = std::floor((t - t0_) / w_ + 0.5);
      if (!first_ && k > 0 && tp_ < t0_ && tp_ > 0)
        PutGraphicValue(items_[0], Interpolate(t0_, t, v), t0_);
      if (k >= 0 && k < static_cast<double>(n_))
        PutGraphicValue(items_[static_cast<size_t>(k)], v, t);
    }
    tp_ = t;
    prev_ = v;
    first_ = false;
    return true;
  }

 private:
  long double Interpolate(double at, double t, long double v) const {
    if (!(t > tp_)) return v;
    const long double c = (at - tp_) / (t - tp_);
    return (1 - c) * prev_ + c * v;
  }
  void End(double t, long double v) {
    if (items_.back().Count == 0) PutGraphicValue(items_.back(), Interpolate(t1_, t, v), t1_);
    if (tp_ < t0_) PutGraphicValue(items_[0], Interpolate(t0_, t, v), t0_);
  }

  TGraphicItems &items_;
  long long n_;
  double t0_, t1_, w_ = 0;
  double tp_ = 0;
  long double prev_ = 0;
  bool first_ = true;
};

long double GsensorValue(const TGsensorPoint &g, TGraphKind kind) {
  switch (kind) {
    case TGraphKind::GsensorX:
      return g.X;
    case TGraphKind::GsensorY:
      return g.Y;
    case TGraphKind::GsensorZ:
      return g.Z;
    default:
      return g.A;
  }
}

// The value of larger magnitude of a column (Min when it is the deeper one).
long double PeakValue(const TGraphicItem &item) {
  return item.Max < -item.Min ? item.Min : item.Max;
}

}  // namespace

const TGraphKindInfo &GraphKindInfo(TGraphKind kind) {
  return kKinds[static_cast<int>(kind)];
}

const TGraphKindInfo &GraphKindInfo(int index) {
  return kKinds[std::clamp(index, 0, kGraphKindCount - 1)];
}

void PutGraphicValue(TGraphicItem &item, long double v, double t) {
  if (item.Count == 0) item.Time = t;
  if (item.Count == 0 || v > item.Max) item.Max = v;
  if (item.Count == 0 || v < item.Min) item.Min = v;
  ++item.Count;
}

void FillGraphicItems(const TMovingInfo &mi, TGraphKind kind, TGraphicItems &items,
                      long double from, long double to) {
  const double span = mi.EndTime - mi.StartTime;
  if (items.empty() || !(span > 0)) return;
  const double t0 = mi.StartTime + static_cast<double>(from * span);
  const double t1 = mi.StartTime + static_cast<double>(to * span);
  TFillWalk walk(items, t0, t1);
  if (!walk.Usable()) return;
  if (kind == TGraphKind::Speed || kind == TGraphKind::Altitude) {
    const bool speed = kind == TGraphKind::Speed;
    for (const TGpsPoint &p : mi.GpsPoints) {
      const long double v = speed ? p.Speed : p.Altitude;
      if ((speed && p.Speed < 0) || !std::isfinite(v)) continue;
      if (!walk.Step(p.Time, v)) break;
    }
  } else {
    for (const TGsensorPoint &g : mi.GsensorPoints) {
      const long double v = GsensorValue(g, kind);
      if (!std::isfinite(v)) continue;
      if (!walk.Step(g.Time, v)) break;
    }
  }
}

TGraphicItems BuildGraphicItems(const std::vector<TGraphSource> &sources, TGraphKind kind,
                                int columns, long double windowStart, long double windowEnd) {
  TGraphicItems items(static_cast<size_t>(std::max(0, columns)));
  if (items.empty() || !(windowEnd > windowStart)) return items;
  for (const TGraphSource &s : sources) {
    if (!s.Info || !(s.End > s.Start)) continue;
    const long double from = (windowStart - s.Start) / (s.End - s.Start);
    const long double to = (windowEnd - s.Start) / (s.End - s.Start);
    if (from < 1 && to > 0) FillGraphicItems(*s.Info, kind, items, from, to);
  }
  return items;
}

void GraphItemsToUnits(TGraphicItems &items, TGraphKind kind, TUnits units) {
  if (units == TUnits::Metric) return;
  long double factor = 1;
  if (kind == TGraphKind::Speed) factor = DisplaySpeed(1, units);
  if (kind == TGraphKind::Altitude) factor = DisplayAltitude(1, units);
  if (factor == 1) return;
  for (TGraphicItem &it : items) {
    it.Min *= factor;
    it.Max *= factor;
  }
}

TGraphScale ScaleGraphicItems(TGraphicItems &items, TGraphKind kind) {
  TGraphScale scale;
  long double m = 0;
  for (TGraphicItem &it : items) {
    if (kind == TGraphKind::Altitude && it.Count > 0) {
      if (it.Min == 0) it.Min = it.Max;
      if (it.Max == 0) it.Count = 0;
    }
    if (it.Count == 0) continue;
    m = std::max({m, std::fabs(it.Min), std::fabs(it.Max)});
    if (it.Min < 0) scale.PositiveOnly = false;
  }
  scale.M = std::max(m, 1.05L * GraphKindInfo(kind).BaseStep);
  return scale;
}

int TGraphFrame::YOf(long double v) const {
  const long double y = Baseline - std::round(v / M * (Baseline - TopMargin));
  return static_cast<int>(std::clamp<long double>(y, -1000000, 1000000));
}

int GraphTopMargin(int height, int textHeight) {
  return height >= 60 ? textHeight : textHeight / 2 + 1;
}

int GraphBottomMargin(int textHeight) {
  return textHeight / 2 + 1;
}

TGraphFrame MakeGraphFrame(int height, int textHeight, const TGraphScale &scale) {
  TGraphFrame f;
  f.Height = height;
  f.TopMargin = GraphTopMargin(height, textHeight);
  f.BottomMargin = GraphBottomMargin(textHeight);
  f.M = scale.M > 0 && std::isfinite(scale.M) ? scale.M : 1;
  f.Baseline =
      scale.PositiveOnly ? height - f.BottomMargin : (height + f.TopMargin - f.BottomMargin) / 2;
  return f;
}

long double GraphTickStep(const TGraphFrame &frame, long double baseStep, int textHeight) {
  if (!(baseStep > 0) || !std::isfinite(baseStep)) return 1;
  // Whole multiples of the base step, so 3 x 0.1 is 0.3 and not 0.30000000000000004.
  int n = 1;
  const long double room = frame.Baseline - frame.TopMargin;
  while (n < 1000 && room / (frame.M / (n * baseStep)) < 1.2L * textHeight) ++n;
  const long double step = n * baseStep;
  if (!(frame.M / step > kMaxGraphTicks)) return step;
  // A huge value in view: 1, 2 or 5 times a power of ten base steps, the
  // first that leaves at most kMaxGraphTicks ticks on a side.
  const long double want = frame.M / kMaxGraphTicks / baseStep;
  if (!std::isfinite(want)) return step;
  const long double power = std::pow(10.0L, std::floor(std::log10(want)));
  for (const long double m : {1.0L, 2.0L, 5.0L, 10.0L})
    if (m * power >= want) return m * power * baseStep;
  return 10 * power * baseStep;
}

std::vector<TGraphTick> GraphTicks(const TGraphFrame &frame, long double baseStep, int textHeight) {
  std::vector<TGraphTick> ticks;
  const long double step = GraphTickStep(frame, baseStep, textHeight);
  if (!std::isfinite(frame.M) || !(step > 0)) return ticks;
  // The step leaves at most kMaxGraphTicks steps below M; the count bounds
  // the loop even where rounding would not.
  for (int j = 0; j <= kMaxGraphTicks && j * step < frame.M; ++j) {
    for (int sign : {-1, 1}) {
      if (j == 0 && sign < 0) continue;
      const long double v = sign * j * step;
      const int y = frame.YOf(v);
      if (y < frame.TopMargin || y > frame.Height - frame.BottomMargin) continue;
      ticks.push_back({y, v, ShortestText(v)});
    }
  }
  return ticks;
}

std::string ShortestText(long double v) {
  if (std::fabs(v) < 1e-15L) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.12Lg", v);
  std::string s(buf);
  std::replace(s.begin(), s.end(), ',', '.');
  return s;
}

std::vector<TGraphLine> GraphLines(const TGraphicItems &items, const TGraphFrame &frame,
                                   int margin) {
  std::vector<TGraphLine> lines;
  int p = -1, pMax = 0, pMin = 0;
  bool connected = false;
  for (size_t idx = 0; idx < items.size(); ++idx) {
    const TGraphicItem &it = items[idx];
    if (it.Count <= 0) continue;
    const int i = static_cast<int>(idx);
    const int yMax = frame.YOf(it.Max), yMin = frame.YOf(it.Min);
    if (p >= 0) {
      const double dt = it.Time - items[static_cast<size_t>(p)].Time;
      if ((i - p > 3 && dt > 6 * kSecond) || (it.Time == 0 && i - p > 50)) connected = false;
    }
    const int x = margin + i, px = margin + p;
    if (!connected) {
      connected = true;
    } else if (yMin <= pMax) {
      lines.push_back({px, pMax, x, yMin});
    } else if (yMax >= pMin) {
      lines.push_back({px, pMin, x, yMax});
    } else if (p < i - 1) {
      lines.push_back({px, pMax, x, yMax});
    }
    lines.push_back({x, yMax, x, yMin});
    p = i;
    pMax = yMax;
    pMin = yMin;
  }
  return lines;
}

std::vector<TGraphPeak> GraphPeaks(TGraphicItems items, const TGraphFrame &frame,
                                   long double baseStep, const TTextWidthOf &textWidth) {
  std::vector<TGraphPeak> peaks;
  const int n = static_cast<int>(items.size());
  const long double unit = baseStep / 10;
  for (int pass = 0; pass < 5; ++pass) {
    int best = -1;
    for (int i = 0; i < n; ++i) {
      if (items[i].Count <= 0) continue;
      if (best < 0 || std::fabs(PeakValue(items[i])) > std::fabs(PeakValue(items[best]))) best = i;
    }
    if (best < 0) break;
    TGraphPeak peak;
    peak.Column = best;
    peak.Value = PeakValue(items[best]);
    peak.Y = frame.YOf(peak.Value);
    peak.Label = ShortestText(std::round(peak.Value / unit) * unit);
    peaks.push_back(peak);

    // Use up the peak's neighbourhood: a positive peak while the line keeps
    // falling away from it (without crossing below 0), a negative one while
    // it keeps rising.
    const int d = 2 * (textWidth ? textWidth(peak.Label) : 0) + 10;
    const bool up = peak.Value >= 0;
    auto away = [&](int step) {
      int last = up ? frame.YOf(items[best].Max) : frame.YOf(items[best].Min);
      for (int j = best + step; j >= 0 && j < n; j += step) {
        TGraphicItem &it = items[j];
        if (it.Count > 0) {
          const int y = up ? frame.YOf(it.Max) : frame.YOf(it.Min);
          // A column swinging to the other side of 0 is a peak of its own.
          const bool across = up ? PeakValue(it) < 0 : PeakValue(it) > 0;
          const bool falling = (up ? y >= last : y <= last) && !across;
          if (std::abs(j - best) > d && !falling) break;
          last = y;
        }
        it.Count = 0;
      }
    };
    away(1);
    away(-1);
    items[best].Count = 0;
  }
  return peaks;
}

int GraphCursorX(long double p, long double windowStart, long double windowEnd, int width,
                 int margin) {
  if (!(windowStart < windowEnd)) return -1;
  const long double x =
      std::round((width - 2 * margin) * (p - windowStart) / (windowEnd - windowStart)) + margin;
  if (!(x >= margin && x <= width - margin)) return -1;
  return static_cast<int>(x);
}

int BottomPanelHeightFor(int shownGraphs, int current, int fixed) {
  if (shownGraphs <= 0) return fixed;
  if (shownGraphs == kGraphKindCount && current <= fixed + 150) return 320;
  if (current <= 180) return 180;
  return current;
}

}  // namespace tachora
