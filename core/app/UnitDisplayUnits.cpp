#include "app/UnitDisplayUnits.h"

#include <cstring>

#include "app/UnitLang.h"
#include "app/UnitUtils.h"

namespace tachora {

long double DisplaySpeed(long double kmh, TUnits units) {
  if (units == TUnits::Metric || kmh < 0) return kmh;
  return kmh * 1000.0L / kMetresPerMile;
}

long double DisplayDistance(long double metres, TUnits units) {
  return metres / (units == TUnits::Imperial ? kMetresPerMile : 1000.0L);
}

long double DisplayAltitude(long double metres, TUnits units) {
  return units == TUnits::Imperial ? metres / kMetresPerFoot : metres;
}

const char *SpeedUnitKey(TUnits units) {
  return units == TUnits::Imperial ? "MilesPerH" : "KmetersPerH";
}

const char *DistanceUnitKey(TUnits units) {
  return units == TUnits::Imperial ? "Miles" : "Kmeters";
}

const char *AltitudeUnitKey(TUnits units) {
  return units == TUnits::Imperial ? "Feet" : "Meters";
}

std::string UnitText(const char *key) {
  static const struct {
    const char *Key, *English;
  } kDefaults[] = {{"KmetersPerH", "km/h"}, {"MilesPerH", "mph"}, {"Kmeters", "km"},
                   {"Miles", "mi"},         {"Meters", "m"},      {"Feet", "ft"}};
  const std::string t = LangText(key);
  if (t == key)
    for (const auto &d : kDefaults)
      if (std::strcmp(d.Key, key) == 0) return d.English;
  return t;
}

std::string CutDecimals(long double v, int decimals) {
  // Written with six more decimals, correctly rounded, first: a binary value
  // just below a decimal one (12.3 is stored as 12.2999...) is not cut down
  // a step.
  constexpr int kGuard = 6;
  std::string s = FormatFixed(v, decimals + kGuard);
  s.resize(s.size() - kGuard);
  if (decimals == 0 && !s.empty() && s.back() == '.') s.pop_back();
  return s;
}

bool ParseUnits(const std::string &word, TUnits &out) {
  if (word == "metric") {
    out = TUnits::Metric;
    return true;
  }
  if (word == "imperial") {
    out = TUnits::Imperial;
    return true;
  }
  return false;
}

}  // namespace tachora
