#include "telemetry/UnitMovingInfo.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <type_traits>

#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitRecordingTelemetry.h"
#include "telemetry/UnitTrackBlocks.h"
#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

constexpr double kSecond = 1.0 / kSecPerDay;
// The recorders' nominal G-sensor period when nothing better is known.
constexpr double kDefaultGsensorStep = 0.1015 * kSecond;
constexpr double kPi = 3.14159265358979323846;
// As Distance() (core/app) turns degrees into radians.
constexpr long double kDegree = 3.141592653589793238462643383279502884L / 180.0L;

// The upper median: the value at position n/2 of the sorted values.
template <typename T>
T Median(std::vector<T> v) {
  if (v.empty()) return T();
  auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// Two fixes with the same time (the recorder wrote one second twice): move
// the first back or the second forward by the usual interval, whichever side
// has room for it.
void RepairDuplicateTimes(std::vector<TGpsPoint> &g) {
  const size_t n = g.size();
  if (n < 2) return;
  std::vector<double> d(n - 1);
  for (size_t i = 0; i + 1 < n; ++i) d[i] = g[i + 1].Time - g[i].Time;
  const double m = Median(std::move(d));
  for (size_t i = 0; i + 1 < n; ++i) {
    if (std::fabs(g[i + 1].Time - g[i].Time) >= m / 1000) continue;
    if (i == 0 || g[i].Time - 1.5 * m > g[i - 1].Time)
      g[i].Time -= m;
    else if (i + 1 == n - 1 || g[i + 1].Time + 1.5 * m < g[i + 2].Time)
      g[i + 1].Time += m;
  }
}

// Gives the G-sensor samples times from the GPS lines they follow, spreading
// the samples between two timed ones evenly, and returns the estimated
// sample period (days).
double TimeSamplesFromGps(std::vector<TGsensorPoint> &s, std::vector<TGpsPoint> &g) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(s.size());
  long count = 1;
  double span = kDefaultGsensorStep;
  ptrdiff_t prev = -1, first = -1, last = -1;
  double tp = 0;
  for (ptrdiff_t j = 0; j < n; ++j) {
    double f = 0;
    if (s[j].GpsIndex >= 0 && s[j].GpsIndex < static_cast<int32_t>(g.size())) {
      s[j].Time = g[static_cast<size_t>(s[j].GpsIndex)].Time;
      f = s[j].Time;
    }
    if (f <= 0) continue;
    if (tp > 0 && f > tp) {
      const ptrdiff_t k = j - prev;
      const double step = (f - tp) / static_cast<double>(k);
      for (ptrdiff_t i = 0; i <= k; ++i) s[prev + i].Time = tp + static_cast<double>(i) * step;
      count += static_cast<long>(k);
      span += static_cast<double>(k) * step;
    }
    prev = j;
    tp = f;
    last = j;
    if (first < 0) first = j;
  }
  const double p = span / static_cast<double>(count) * 0.99;
  if (first > 0)
    for (ptrdiff_t j = first - 1; j >= 0; --j) s[j].Time = s[j + 1].Time - p;
  if (last >= 0)  // also when the only timed sample is the first one
    for (ptrdiff_t j = last + 1; j < n; ++j) s[j].Time = s[j - 1].Time + p;

  // Back-jumps: a stretch whose clock ran ahead of the following one is laid
  // back in front of it.
  // Each jump shifts everything before it; the shifts are collected per
  // prefix end and applied in one sweep, so that a file full of jumps stays
  // linear. The walk never reads a time inside an earlier shifted prefix.
  if (n > 0 && s[0].Time > 0) {
    std::vector<double> sampleShift, gpsShift;
    ptrdiff_t k = 0;
    for (ptrdiff_t j = 0; j + 1 < n; ++j) {
      if (s[j].Time > 0) k = j;
      if (s[j].Time <= 0 && s[j + 1].Time > 0) {
        const double e = s[j + 1].Time;
        double t = e;
        for (ptrdiff_t i = j; i > k; --i) {
          t -= p;
          s[i].Time = t;
        }
        const double shift = s[k].Time - (s[k + 1].Time - p);
        if (sampleShift.empty()) sampleShift.assign(s.size(), 0);
        sampleShift[static_cast<size_t>(k)] += shift;
        const int32_t upTo = std::min<int32_t>(s[k].GpsIndex, static_cast<int32_t>(g.size()) - 1);
        if (upTo >= 0) {
          if (gpsShift.empty()) gpsShift.assign(g.size(), 0);
          gpsShift[static_cast<size_t>(upTo)] += shift;
        }
      }
    }
    double run = 0;
    for (size_t i = sampleShift.size(); i-- > 0;) {
      run += sampleShift[i];
      s[i].Time -= run;
    }
    run = 0;
    for (size_t i = gpsShift.size(); i-- > 0;) {
      run += gpsShift[i];
      g[i].Time -= run;
    }
  }
  return p;
}

// A G-sensor-only file: the samples end at the file's last-write time,
// spread over its writing time when that is plausible.
void TimeSamplesFromFile(std::vector<TGsensorPoint> &s, double created, double modified) {
  if (s.empty()) return;
  double step = kDefaultGsensorStep;
  if (modified > created && modified - created < 1.0 / 6)
    step = (modified - created) / static_cast<double>(s.size());
  double w = modified;
  for (size_t j = s.size(); j-- > 0;) {
    s[j].Time = w;
    w -= step;
  }
}

void RemoveBias(std::vector<TGsensorPoint> &s) {
  if (s.empty()) return;
  std::vector<float> v(s.size());
  auto axis = [&](float TGsensorPoint::*field) {
    for (size_t i = 0; i < s.size(); ++i) v[i] = s[i].*field;
    const float m = Median(std::move(v));
    v.resize(s.size());
    for (auto &p : s) p.*field -= m;
  };
  axis(&TGsensorPoint::Z);
  axis(&TGsensorPoint::Y);
  axis(&TGsensorPoint::X);
  for (auto &p : s) p.A = std::sqrt(p.X * p.X + p.Y * p.Y + p.Z * p.Z);
}

void DeriveGpsValues(TMovingInfo &mi, TLoadDepth depth) {
  auto &s = mi.GsensorPoints;
  auto &g = mi.GpsPoints;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i].Number == 0) s[i].Number = static_cast<int32_t>(i);
  // Distance() between consecutive points with each latitude's sine and
  // cosine taken once instead of twice (long double trigonometry is most of
  // the cost of loading a long track), and not at all where the vehicle
  // stands: the same operations in the same order, so the same distances
  // to the last bit.
  struct TLatitude {
    long double Lat = std::numeric_limits<long double>::quiet_NaN();
    long double Sin = 0, Cos = 0;
    void Take(long double lat) {
      if (lat == Lat) return;
      const long double phi = lat * kDegree;
      Lat = lat;
      Sin = std::sin(phi);
      Cos = std::cos(phi);
    }
  } last;  // the latitude whose sine and cosine were taken last
  for (size_t i = 0; i < g.size(); ++i) {
    if (g[i].Number == 0) g[i].Number = static_cast<int32_t>(i);
    if (depth >= TLoadDepth::Distances && g[i].Distance == 0 && i > 0) {
      const TGpsPoint &a = g[i - 1], &b = g[i];
      long double d = 0;
      if (a.Lat != b.Lat || a.Lon != b.Lon) {
        TLatitude from = last;
        from.Take(a.Lat);
        TLatitude to = from;
        to.Take(b.Lat);
        long double c = from.Sin * to.Sin + from.Cos * to.Cos * std::cos((b.Lon - a.Lon) * kDegree);
        c = std::clamp(c, -1.0L, 1.0L);
        d = kEarthRadius * std::acos(c);
        if (!(d > 0)) d = 0;
        last = to;
      }
      g[i].Distance = a.Distance + d;
    }
    if (mi.StartTime == 0 || mi.StartTime > g[i].Time) mi.StartTime = g[i].Time;
    if (g[i].Time > mi.EndTime) mi.EndTime = g[i].Time;
  }
  if (depth < TLoadDepth::Complete) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(g.size());
  for (ptrdiff_t i = 0; i < n; ++i) {
    TGpsPoint &p = g[static_cast<size_t>(i)];
    if (p.Course < 0) {
      const auto &a = g[static_cast<size_t>(std::max<ptrdiff_t>(0, i - 2))];
      const auto &b = g[static_cast<size_t>(std::min<ptrdiff_t>(n - 1, i + 4))];
      long double c = std::atan2(b.Lon - a.Lon, b.Lat - a.Lat) * 180 / kPi;
      if (c < 0) c += 360;
      if (c >= 360) c -= 360;
      p.Course = c;
    }
    if (p.Speed < 0) {
      ptrdiff_t lo = i, hi = i;
      double dt = 0;
      for (ptrdiff_t j = 1;; ++j) {
        lo = std::max<ptrdiff_t>(0, i - j);
        hi = std::min<ptrdiff_t>(n - 1, i + j);
        dt = g[static_cast<size_t>(hi)].Time - g[static_cast<size_t>(lo)].Time;
        if (lo == 0 || hi == n - 1 || j >= 200) break;
        if (p.Time != g[static_cast<size_t>(lo)].Time &&
            p.Time != g[static_cast<size_t>(hi)].Time && dt > 0)
          break;
      }
      p.Speed = dt > 0
                    ? (g[static_cast<size_t>(hi)].Distance - g[static_cast<size_t>(lo)].Distance) /
                          1000 / (dt * 24)
                    : 0;
      // A jump of the position is no speed the vehicle drove.
      if (!(p.Speed <= kMaxSaneSpeed)) p.Speed = -1;
    }
  }
}

}  // namespace

void TTrackInfo::Clear() {
  *this = TTrackInfo();
  MinLon = MaxLat = MaxLon = MinLat = 0;
}

namespace {

// Collects the records of one parse as the GPS points and samples of a
// TMovingInfo. Both are kept in blocks while the parse runs, so that growing
// never holds an old and a new copy of a whole array, and are moved into
// arrays of their exact size at the end.
class TMovingInfoBuilder : public TTrackSink {
 public:
  using TTrackSink::TTrackSink;

  // The steps after parsing (time repair, sample timing, bias, derived
  // values); nothing when no record was taken.
  std::unique_ptr<TMovingInfo> Finish(TLoadDepth depth) {
    if (GpsCount() + samples_.Size() == 0) return nullptr;
    auto mi = std::make_unique<TMovingInfo>();
    if (direct_.empty()) {
      gps_.MoveTo(mi->GpsPoints);
    } else if (gps_.Size() == 0) {
      mi->GpsPoints = std::move(direct_);
    } else {  // more points than expected
      mi->GpsPoints.reserve(GpsCount());
      AdviseHugePages(mi->GpsPoints.data(), GpsCount() * sizeof(TGpsPoint));
      mi->GpsPoints.insert(mi->GpsPoints.end(), direct_.begin(), direct_.end());
      std::vector<TGpsPoint>().swap(direct_);
      gps_.AppendTo(mi->GpsPoints);
    }
    samples_.MoveTo(mi->GsensorPoints);
    Complete(*mi, Created, Modified, depth);
    return mi;
  }

 protected:
  void Store(const TTrackRecord &r) override {
    if (r.Kind == kRecordGps) {
      lastGps_ = static_cast<int32_t>(GpsCount());
      TGpsPoint &p = gps_.Size() == 0 && direct_.size() < direct_.capacity()
                         ? direct_.emplace_back()
                         : *new (gps_.Append()) TGpsPoint;
      p.Time = r.Time;
      p.Lon = r.Lon;
      p.Lat = r.Lat;
      p.Altitude = r.Altitude;
      p.Course = r.Course;
      p.Speed = r.Speed;
    } else if (r.Kind == kRecordGsensor) {
      TGsensorPoint s;
      s.Time = r.Time;
      s.X = r.X;
      s.Y = r.Y;
      s.Z = r.Z;
      s.GpsIndex = lastGps_;  // only the first sample after a GPS line is tied to it
      lastGps_ = -1;
      samples_.PushBack(s);
    }
  }
  // The points go straight into an array with room for the expected number
  // (no copy of them at the end, no memory for one), those taken so far
  // first; what does not fit goes on in blocks. The room stays within the
  // budget: only what the points use of it is ever touched.
  void Expect(size_t records) override {
    const size_t most = static_cast<size_t>(Budget()) / sizeof(TGpsPoint);
    records = std::min(records, most);
    if (!direct_.empty() || samples_.Size() != 0 || records <= gps_.Size()) return;
    direct_.reserve(records);
    AdviseHugePages(direct_.data(), records * sizeof(TGpsPoint));
    gps_.AppendTo(direct_);
  }
  void Forget() override {
    std::vector<TGpsPoint>().swap(direct_);
    gps_.Clear();
    samples_.Clear();
    lastGps_ = -1;
  }

 private:
  static void Complete(TMovingInfo &mi, double created, double modified, TLoadDepth depth) {
    mi.StartTime = mi.EndTime = mi.GsensorPeriod = 0;
    if (!mi.GpsPoints.empty()) {
      RepairDuplicateTimes(mi.GpsPoints);
      mi.GsensorPeriod = TimeSamplesFromGps(mi.GsensorPoints, mi.GpsPoints);
    } else if (!mi.GsensorPoints.empty() && mi.GsensorPoints[0].Time == 0) {
      TimeSamplesFromFile(mi.GsensorPoints, created, modified);
    }
    RemoveBias(mi.GsensorPoints);
    if (!mi.GsensorPoints.empty()) {
      const double first = mi.GsensorPoints.front().Time, last = mi.GsensorPoints.back().Time;
      if (mi.StartTime == 0 || mi.StartTime > first) mi.StartTime = first;
      mi.EndTime = std::max(mi.EndTime, last);
    }
    DeriveGpsValues(mi, depth);
  }

  size_t GpsCount() const { return direct_.size() + gps_.Size(); }

  std::vector<TGpsPoint> direct_;  // the first points, when their number was expected
  TBlocks<TGpsPoint> gps_;
  TBlocks<TGsensorPoint> samples_;
  int32_t lastGps_ = -1;
};

}  // namespace

namespace {

TLoadDepth DepthOf(bool quick) {
  return quick ? TLoadDepth::Distances : TLoadDepth::Complete;
}

}  // namespace

std::unique_ptr<TMovingInfo> TMovingInfo::FromTrackInfo(const TTrackInfo &t, bool quick) {
  // Records already in memory: no budget beyond what they hold.
  TMovingInfoBuilder b(t.Items.size() * sizeof(TGpsPoint));
  b.Created = t.StartTime;
  b.Modified = t.EndTime;
  for (const auto &r : t.Items) b.Add(r);
  return b.Finish(DepthOf(quick));
}

std::unique_ptr<TMovingInfo> TMovingInfo::LoadFromText(std::string_view text,
                                                       const std::string &path, double created,
                                                       double modified, bool quick) {
  return LoadFromText(text, path, created, modified, DepthOf(quick));
}

std::unique_ptr<TMovingInfo> TMovingInfo::LoadFromText(std::string_view text,
                                                       const std::string &path, double created,
                                                       double modified, TLoadDepth depth) {
  TMovingInfoBuilder b(text.size());
  b.Created = created;
  b.Modified = modified;
  b.PositionsOnly = depth < TLoadDepth::Complete;  // course and speed stay unread
  std::string reader;
  if (!ReadTrackInto(text, path, b, &reader)) return nullptr;
  auto mi = b.Finish(depth);
  if (mi) mi->ReaderName = reader;
  return mi;
}

std::unique_ptr<TMovingInfo> TMovingInfo::LoadFromFile(const std::string &path, bool quick) {
  return LoadFromFile(path, DepthOf(quick));
}

std::unique_ptr<TMovingInfo> TMovingInfo::LoadFromFile(const std::string &path, TLoadDepth depth) {
  TMovingInfoBuilder b(0);
  b.PositionsOnly = depth < TLoadDepth::Complete;  // course and speed stay unread
  std::string reader;
  // The text is freed before the arrays are built.
  if (!ReadTrackFileInto(path, b, &reader)) return nullptr;
  auto mi = b.Finish(depth);
  if (mi) {
    mi->ReaderName = reader;
    CorrectLocalClock(*mi, path);  // fixes a camera stamped with its local clock
  }
  return mi;
}

long double TMovingInfo::TrackLength() const {
  if (GpsPoints.empty()) return 0;
  return GpsPoints.back().Distance - GpsPoints.front().Distance;
}

long double TMovingInfo::AverageSpeed() const {
  if (GpsPoints.size() < 2) return -1;
  const double days = GpsPoints.back().Time - GpsPoints.front().Time;
  if (days <= 0) return -1;
  return TrackLength() / 1000 / (days * 24);
}

int TMovingInfo::GpsPointCount() const {
  if (GpsPoints.empty()) return 0;
  return std::max<int>(static_cast<int>(GpsPoints.size()), GpsPoints.back().Number + 1);
}

int TMovingInfo::GsensorPointCount() const {
  if (GsensorPoints.empty()) return 0;
  return GsensorPoints.back().Number + 1;
}

bool TMovingInfo::FitTo(double start, double end) {
  if (StartTime == 0) {
    StartTime = start;
    EndTime = end;
    return true;
  }
  const bool outside =
      (!GpsPoints.empty() && (GpsPoints.front().Time < start || GpsPoints.back().Time > end)) ||
      (!GsensorPoints.empty() &&
       (GsensorPoints.front().Time < start || GsensorPoints.back().Time > end));
  if (!outside) return false;
  Trim(*this, start, end);
  return true;
}

// ---- track summary ---------------------------------------------------------

namespace {

// A span of days as h:mm:ss text. The time-of-day text would drop whole days
// and describe a 25-hour trip as one hour long; hours count on past 24.
std::string DurationText(double days) {
  if (!(days >= 1) || !std::isfinite(days)) return FormatTime(days);
  const auto ms = static_cast<int64_t>(std::llround(days * kMsPerDay));
  const int64_t s = ms / 1000;
  char b[48];
  std::snprintf(b, sizeof b, "%02lld:%02d:%02d", static_cast<long long>(s / 3600),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  return b;
}

}  // namespace

TTrackRecord RecordOf(const TGpsPoint &p) {
  TTrackRecord r;
  r.Kind = kRecordGps;
  r.Time = p.Time;
  r.Lon = p.Lon;
  r.Lat = p.Lat;
  r.Altitude = p.Altitude;
  r.Course = p.Course;
  r.Speed = p.Speed;
  return r;
}

TTrackRecord RecordOf(const TGsensorPoint &p) {
  TTrackRecord r;
  r.Kind = kRecordGsensor;
  r.Time = p.Time;
  r.X = p.X;
  r.Y = p.Y;
  r.Z = p.Z;
  return r;
}

void BeginTrackInfo(const TMovingInfo &mi, TTrackInfo &info) {
  info = TTrackInfo();  // clears and sets the four bound sentinels
  AppendToTrackInfo(mi, info);
}

namespace {

// Takes the GPS points of one more object into the bounds, times, length,
// speed, name and description.
void AddToSummary(const TMovingInfo &mi, TTrackInfo &info) {
  for (const TGpsPoint &p : mi.GpsPoints) {
    info.MinLon = std::min(info.MinLon, p.Lon);
    info.MaxLat = std::max(info.MaxLat, p.Lat);
    info.MaxLon = std::max(info.MaxLon, p.Lon);
    info.MinLat = std::min(info.MinLat, p.Lat);
    if (info.StartTime == 0 || info.StartTime > p.Time) info.StartTime = p.Time;
    info.EndTime = std::max(info.EndTime, p.Time);
  }
  info.CenterLon = (info.MinLon + info.MaxLon) / 2;
  info.CenterLat = (info.MaxLat + info.MinLat) / 2;
  info.Width = Distance(info.CenterLat, info.MaxLon, info.CenterLat, info.MinLon);
  info.Height = Distance(info.MinLat, info.CenterLon, info.MaxLat, info.CenterLon);
  info.Length += mi.TrackLength();
  info.AvgSpeed = info.StartTime < info.EndTime
                      ? info.Length / 1000 / ((info.EndTime - info.StartTime) * 24)
                      : 0;
  info.Name = "Track " + FormatDateTime(info.StartTime);
  info.Description = "Duration: " + DurationText(info.EndTime - info.StartTime) + ". " +
                     "Length: " + IntText(info.Length) + "m. " +
                     "AvgSpeed: " + CutGeneral(std::round(info.AvgSpeed * 10) / 10, 18) + "km/h.";
}

}  // namespace

void AppendToTrackInfo(const TMovingInfo &mi, TTrackInfo &info) {
  if (mi.GpsPoints.empty()) return;
  const size_t need = info.Items.size() + mi.GpsPoints.size();
  if (need > info.Items.capacity()) {
    info.Items.reserve(need);
    AdviseHugePages(info.Items.data() + info.Items.size(),
                    mi.GpsPoints.size() * sizeof(TTrackRecord));
  }
  for (const TGpsPoint &p : mi.GpsPoints) info.Items.push_back(RecordOf(p));
  AddToSummary(mi, info);
}

void SummarizeTrack(const TMovingInfo &mi, TTrackInfo &info) {
  info = TTrackInfo();
  if (!mi.GpsPoints.empty()) AddToSummary(mi, info);
}

}  // namespace tachora
