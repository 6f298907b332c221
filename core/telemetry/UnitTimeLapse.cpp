#include "telemetry/UnitTimeLapse.h"

#include <algorithm>
#include <cmath>

namespace tachora {

double TimeLapseRatio(const TMovingInfo &mi, double start, double end) {
  const double play = end - start, span = mi.EndTime - mi.StartTime;
  if (!(start > 0) || !(play > 0) || !(mi.StartTime > 0) || !(span > 0)) return 1;
  const double ratio = span / play;
  return std::isfinite(ratio) && ratio > kTimeLapseMinRatio ? ratio : 1;
}

double MapTimeLapse(TMovingInfo &mi, double start, double end) {
  const double ratio = TimeLapseRatio(mi, start, end);
  if (ratio == 1) return 1;
  const double from = mi.StartTime;
  // Held inside [start, end]: rounding must not push the last point past
  // the recording's end, where fitting would cut it off.
  auto map = [&](double t) {
    return t > 0 ? std::clamp(start + (t - from) / ratio, start, end) : t;
  };
  for (TGpsPoint &p : mi.GpsPoints) p.Time = map(p.Time);
  for (TGsensorPoint &s : mi.GsensorPoints) s.Time = map(s.Time);
  mi.StartTime = start;
  mi.EndTime = map(mi.EndTime);
  mi.GsensorPeriod /= ratio;
  return ratio;
}

}  // namespace tachora
