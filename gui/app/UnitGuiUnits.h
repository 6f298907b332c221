// The units the window shows speeds, distances and altitudes in (View ->
// Units), and the texts built from them. The menu's check is the setting;
// its design state follows the system locale's measurement system, so a
// user in the United States sees miles and mph from the first start.
//
// UI thread only.
#pragma once

#include <QString>

#include "app/UnitDisplayUnits.h"

namespace tachora {

class TCommands;

// The items of View -> Units, in TUnits order.
extern const char *const kUnitsItems[2];
// Imperial when the system locale measures in miles.
TUnits LocaleUnits();

// The units in use; set from the menu at start-up and on every change.
TUnits DisplayUnits();
void SetDisplayUnits(TUnits units);
// Reads the checked item of View -> Units into DisplayUnits().
void TakeDisplayUnits(const TCommands &commands);

// Unit names in the current language: "km/h" or "mph", "km" or "mi",
// "m" or "ft".
QString SpeedUnit();
QString DistanceUnit();
QString AltitudeUnit();

}  // namespace tachora
