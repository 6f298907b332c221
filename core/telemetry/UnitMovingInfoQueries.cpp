// The queries on a loaded TMovingInfo: trimming and merging over a trip,
// altitude transfer, the state at a playback position, the nearest point to
// a map position, the map's thinned track and the records of a time range.
#include <algorithm>
#include <cmath>
#include <map>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

namespace {

constexpr double kSecond = 1.0 / kSecPerDay;
// A gap longer than this between two fixes breaks the track.
constexpr double kGap = 6 * kSecond;
// Outside the data, the first or last value still holds this long.
constexpr double kHold = 3 * kSecond;

// lo with Time[lo] <= t < Time[lo + 1] (lo = n - 2 when t is the last time),
// for t inside [Time[0], Time[n - 1]] and n >= 2.
template <typename P>
size_t Bracket(const std::vector<P> &v, double t) {
  size_t lo = 0, hi = v.size() - 1;
  while (lo + 1 < hi) {
    const size_t mid = (lo + hi) / 2;
    if (t < v[mid].Time)
      hi = mid;
    else
      lo = mid;
  }
  return lo;
}

template <typename V>
void MergeNumberingOf(V &infos) {
  TGpsPoint lastPoint;
  TGsensorPoint lastSample;
  // Until a point (sample) has been seen there is nothing to continue from:
  // an object after a leading one without GPS keeps its own numbering.
  bool havePoint = false, haveSample = false;
  bool first = true;
  for (auto &ref : infos) {
    TMovingInfo *mi = &*ref;
    if (!mi) continue;
    if (!first) {
      if (havePoint)
        for (auto &p : mi->GpsPoints) {
          p.Number += lastPoint.Number + 1;
          p.Distance += lastPoint.Distance;
        }
      if (haveSample)
        for (auto &s : mi->GsensorPoints) s.Number += lastSample.Number + 1;
    }
    first = false;
    if (!mi->GpsPoints.empty()) {
      lastPoint = mi->GpsPoints.back();
      havePoint = true;
    }
    if (!mi->GsensorPoints.empty()) {
      lastSample = mi->GsensorPoints.back();
      haveSample = true;
    }
  }
}

}  // namespace

void Trim(TMovingInfo &mi, double start, double end) {
  bool removed = false;
  auto &g = mi.GpsPoints;
  size_t gpsDropped = 0;  // leading points removed, for the samples' GpsIndex
  const size_t gpsBefore = g.size();
  {
    size_t b = 0, e = g.size();
    while (b < e && g[b].Time < start) ++b;
    while (e > b && g[e - 1].Time > end) --e;
    if (b > 0 || e < g.size()) {
      g.erase(g.begin() + static_cast<std::ptrdiff_t>(e), g.end());
      g.erase(g.begin(), g.begin() + static_cast<std::ptrdiff_t>(b));
      gpsDropped = b;
      const long double d0 = g.empty() ? 0 : g.front().Distance;
      for (size_t i = 0; i < g.size(); ++i) {
        g[i].Number = static_cast<int32_t>(i);
        g[i].Distance -= d0;
      }
      removed = true;
    }
  }
  auto &s = mi.GsensorPoints;
  {
    size_t b = 0, e = s.size();
    while (b < e && s[b].Time < start) ++b;
    while (e > b && s[e - 1].Time > end) --e;
    if (b > 0 || e < s.size()) {
      s.erase(s.begin() + static_cast<std::ptrdiff_t>(e), s.end());
      s.erase(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(b));
      for (size_t i = 0; i < s.size(); ++i) s[i].Number = static_cast<int32_t>(i);
      removed = true;
    }
  }
  // Keep each sample tied to the same point after the points moved down.
  if (g.size() != gpsBefore)
    for (auto &x : s) {
      const int64_t k = static_cast<int64_t>(x.GpsIndex) - static_cast<int64_t>(gpsDropped);
      x.GpsIndex = x.GpsIndex >= 0 && k >= 0 && k < static_cast<int64_t>(g.size())
                       ? static_cast<int32_t>(k)
                       : -1;
    }
  if (!removed) return;
  double lo = 0, hi = 0;
  auto take = [&](double a, double b) {
    if (lo == 0 || a < lo) lo = a;
    if (hi == 0 || b > hi) hi = b;
  };
  if (!g.empty()) take(g.front().Time, g.back().Time);
  if (!s.empty()) take(s.front().Time, s.back().Time);
  // With nothing left the object keeps the span it was trimmed to.
  mi.StartTime = lo != 0 ? lo : start;
  mi.EndTime = hi != 0 ? hi : end;
}

void MergeNumbering(std::vector<TMovingInfo> &infos) {
  std::vector<TMovingInfo *> p;
  for (auto &i : infos) p.push_back(&i);
  MergeNumberingOf(p);
}
void MergeNumbering(const std::vector<TMovingInfo *> &infos) {
  std::vector<TMovingInfo *> p = infos;
  MergeNumberingOf(p);
}
void MergeNumbering(std::vector<std::unique_ptr<TMovingInfo>> &infos) {
  std::vector<TMovingInfo *> p;
  for (auto &i : infos) p.push_back(i.get());
  MergeNumberingOf(p);
}

void CopyAltitude(TMovingInfo &target, const TMovingInfo &source) {
  auto &t = target.GpsPoints;
  const auto &s = source.GpsPoints;
  if (t.empty() || s.empty()) return;
  size_t si = 0;
  while (si < s.size() && s[si].Time < t.front().Time) ++si;
  size_t ti = 0;
  ptrdiff_t a = -1;
  for (; si < s.size(); ++si) {
    while (ti < t.size() && t[ti].Time < s[si].Time) ++ti;
    if (ti >= t.size()) break;
    t[ti].Altitude = s[si].Altitude;
    if (a >= 0 && static_cast<size_t>(a) + 1 < ti) {
      const long double a0 = t[static_cast<size_t>(a)].Altitude, a1 = t[ti].Altitude;
      const long double span = static_cast<long double>(ti - static_cast<size_t>(a));
      for (size_t k = static_cast<size_t>(a) + 1; k < ti; ++k)
        t[k].Altitude =
            a0 + (a1 - a0) * static_cast<long double>(k - static_cast<size_t>(a)) / span;
    }
    a = static_cast<ptrdiff_t>(ti);
  }
}

void StateAt(const TMovingInfo &mi, long double fraction, TGpsPoint &gps, TGsensorPoint &gsensor,
             bool &fixValid) {
  gps = TGpsPoint();
  gsensor = TGsensorPoint();
  fixValid = false;
  if (!(mi.StartTime > 0 && mi.StartTime < mi.EndTime)) return;
  const double t = static_cast<double>(mi.StartTime + fraction * (mi.EndTime - mi.StartTime));

  const auto &s = mi.GsensorPoints;
  if (!s.empty()) {
    if (t >= s.front().Time && t <= s.back().Time) {
      if (s.size() == 1) {
        gsensor = s.front();
      } else {
        const size_t lo = Bracket(s, t), hi = lo + 1;
        gsensor = s[lo];
        const double dt = s[hi].Time - s[lo].Time;
        if (dt > 0) {
          const long double r = (t - s[lo].Time) / dt;
          gsensor.Time = t;
          gsensor.X = s[lo].X + r * (s[hi].X - s[lo].X);
          gsensor.Y = s[lo].Y + r * (s[hi].Y - s[lo].Y);
          gsensor.Z = s[lo].Z + r * (s[hi].Z - s[lo].Z);
          gsensor.A = s[lo].A + r * (s[hi].A - s[lo].A);
        }
      }
    } else if (t < s.front().Time && s.front().Time - t < kHold) {
      gsensor = s.front();
    } else if (t > s.back().Time && t - s.back().Time < kHold) {
      gsensor = s.back();
    }
  }

  const auto &g = mi.GpsPoints;
  if (g.empty()) return;
  if (t < g.front().Time) {
    if (g.front().Time - t < kHold) {
      gps = g.front();
      fixValid = true;
    }
    return;
  }
  if (t > g.back().Time) {
    if (t - g.back().Time < kHold) {
      gps = g.back();
      fixValid = true;
    }
    return;
  }
  if (g.size() == 1) {  // t is exactly the one point's time
    gps = g.front();
    fixValid = true;
    return;
  }
  const size_t lo = Bracket(g, t), hi = lo + 1;
  gps = g[lo];
  const double dt = g[hi].Time - g[lo].Time;
  if (dt <= 0) return;
  const long double r = (t - g[lo].Time) / dt;
  const TGpsPoint &a = g[lo], &b = g[hi];
  gps.Time = t;
  gps.Lon = a.Lon + r * (b.Lon - a.Lon);
  gps.Lat = a.Lat + r * (b.Lat - a.Lat);
  gps.Speed = a.Speed + r * (b.Speed - a.Speed);
  gps.Distance = a.Distance + r * (b.Distance - a.Distance);
  if (a.Altitude != 0 && b.Altitude != 0)
    gps.Altitude = a.Altitude + r * (b.Altitude - a.Altitude);
  else
    gps.Altitude = a.Altitude != 0 ? a.Altitude : b.Altitude;
  // Course on the circle: from 350 to 10 passes through north.
  long double c1 = a.Course, c2 = b.Course;
  if (std::fabs(c2 - c1) > 180) {
    if (c1 < c2)
      c1 += 360;
    else
      c2 += 360;
  }
  long double c = c1 + r * (c2 - c1);
  if (c >= 360) c -= 360;
  gps.Course = c;
  fixValid = dt < kGap || std::min(b.Time - t, t - a.Time) < 1.5 * kSecond;
}

TMovingState StateAt(const TMovingInfo &mi, long double fraction) {
  TMovingState s;
  StateAt(mi, fraction, s.Gps, s.Gsensor, s.FixValid);
  return s;
}

long double NearestPoint(const TMovingInfo &mi, long double lat, long double lon,
                         long double &best) {
  const auto &g = mi.GpsPoints;
  const double span = mi.EndTime - mi.StartTime;
  long double result = -1;
  for (size_t i = 0; i < g.size(); ++i) {
    const long double q = (g[i].Lon - lon) * (g[i].Lon - lon) + (g[i].Lat - lat) * (g[i].Lat - lat);
    if (!(q < best)) continue;
    best = q;
    const double l = g[i].Time;
    double d;
    if (i > 0 && g[i].Time - g[i - 1].Time <= kGap) {
      d = (i + 1 < g.size() && g[i + 1].Time - g[i].Time <= kGap) ? l : l - 0.5 * kSecond;
    } else {
      d = l + 0.5 * kSecond;
    }
    // An object without a time span has no fractions to give.
    result = span > 0 ? (d - mi.StartTime) / span : 0;
  }
  return result;
}

TTrack Thin(const TMovingInfo &mi, long double minDistance) {
  const auto &g = mi.GpsPoints;
  if (minDistance < 0)
    minDistance = std::min<long double>(static_cast<long double>(g.size()) / 500, 20);
  TTrack track;
  auto point = [](const TGpsPoint &p) {
    TTrackItemPoint q;
    q.Lon = p.Lon;
    q.Lat = p.Lat;
    q.Distance = p.Distance;
    q.Time = p.Time;
    return q;
  };
  size_t b = 0;
  while (b < g.size()) {
    size_t e = b;  // last index of the stretch
    while (e + 1 < g.size() && !(g[e].Time + kGap < g[e + 1].Time)) ++e;
    TTrackItem item;
    item.Points.push_back(point(g[b]));
    size_t kept = b;
    for (size_t i = b + 1; i < e; ++i) {
      if (Distance(g[kept].Lat, g[kept].Lon, g[i].Lat, g[i].Lon) >= minDistance) {
        item.Points.push_back(point(g[i]));
        kept = i;
      }
    }
    if (e > b) item.Points.push_back(point(g[e]));
    track.push_back(std::move(item));
    b = e + 1;
  }
  return track;
}

void ExtractRange(const TMovingInfo &mi, long double fromFraction, long double toFraction,
                  TTrackInfo &info) {
  const auto &g = mi.GpsPoints;
  const auto &s = mi.GsensorPoints;
  const long double span = mi.EndTime - mi.StartTime;
  const double tf = static_cast<double>(mi.StartTime + fromFraction * span);
  const double tt = static_cast<double>(mi.StartTime + toFraction * span);
  info.Items.reserve(info.Items.size() + g.size() + s.size());
  auto addPoint = [&](const TGpsPoint &p) { info.Items.push_back(RecordOf(p)); };
  auto addSample = [&](const TGsensorPoint &p) { info.Items.push_back(RecordOf(p)); };
  size_t i = 0, j = 0;
  while (i < g.size() && g[i].Time < tf) ++i;
  while (j < s.size() && s[j].Time < tf) ++j;
  // A short fragment keeps the fix just before it, so that it has a position.
  if (tt - tf < 20 * kSecond && i > 0 && i < g.size() && g[i].Time - g[i - 1].Time < kGap)
    addPoint(g[i - 1]);
  for (; i < g.size() && g[i].Time <= tt; ++i) {
    for (; j < s.size() && s[j].Time < g[i].Time; ++j) addSample(s[j]);
    addPoint(g[i]);
  }
  for (; j < s.size() && s[j].Time < tt; ++j) addSample(s[j]);
}

std::vector<std::unique_ptr<TMovingInfo>> LoadGroupTelemetry(
    const std::vector<TGroupTelemetrySource> &sources) {
  std::vector<std::unique_ptr<TMovingInfo>> out;
  std::map<std::string, std::unique_ptr<TMovingInfo>> external;  // one load per selection
  auto externalTrack = [&](const std::string &path) -> const TMovingInfo * {
    auto it = external.find(path);
    if (it == external.end())
      it = external.emplace(path, TMovingInfo::LoadFromFile(path, false)).first;
    return it->second.get();
  };
  for (const auto &src : sources) {
    std::unique_ptr<TMovingInfo> mi;
    if (!src.TelemetryPath.empty()) mi = TMovingInfo::LoadFromFile(src.TelemetryPath, false);
    if (!mi && !src.ExternalPath.empty()) mi = TMovingInfo::LoadFromFile(src.ExternalPath, false);
    if (!mi) mi = std::make_unique<TMovingInfo>();
    if (mi->StartTime == 0) {
      mi->StartTime = src.Start;
      mi->EndTime = src.End;
    }
    mi->FitTo(src.Start, src.End);
    if (!src.ExternalPath.empty())
      if (const TMovingInfo *ext = externalTrack(src.ExternalPath)) CopyAltitude(*mi, *ext);
    out.push_back(std::move(mi));
  }
  MergeNumbering(out);
  return out;
}

}  // namespace tachora
