// The units a speed, a distance or an altitude is shown in. Everything the
// program stores or writes stays metric (km/h, metres); these helpers turn a
// metric value into the unit the user chose just before it is shown, and
// name that unit by its language key.
//
// Pure functions; any thread.
#pragma once

#include <string>

namespace tachora {

enum class TUnits { Metric = 0, Imperial = 1 };

constexpr long double kMetresPerMile = 1609.344L;
constexpr long double kMetresPerFoot = 0.3048L;

// km/h -> km/h or mph; a negative (unknown) speed stays negative.
long double DisplaySpeed(long double kmh, TUnits units);
// metres -> km or miles.
long double DisplayDistance(long double metres, TUnits units);
// metres -> metres or feet (altitudes and short distances).
long double DisplayAltitude(long double metres, TUnits units);

// Language keys of the unit names: "KmetersPerH" / "MilesPerH", "Kmeters" /
// "Miles", "Meters" / "Feet".
const char *SpeedUnitKey(TUnits units);
const char *DistanceUnitKey(TUnits units);
const char *AltitudeUnitKey(TUnits units);

// The unit's name from the language table, with the English text when the
// table lacks the key.
std::string UnitText(const char *key);

// A fixed-point text cut (not rounded) after `decimals` decimals, as the
// list's columns are: 12.369 reads "12.3" with one decimal.
std::string CutDecimals(long double v, int decimals);

// "metric" / "imperial" (the command line's words); false for anything else.
bool ParseUnits(const std::string &word, TUnits &out);

}  // namespace tachora
