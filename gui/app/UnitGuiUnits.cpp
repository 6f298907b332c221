#include "app/UnitGuiUnits.h"

#include <QAction>
#include <QLocale>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"
#include "app/UnitText.h"

namespace tachora {

namespace {
TUnits gUnits = TUnits::Metric;
}  // namespace

const char *const kUnitsItems[2] = {"N_View_Units_Metric", "N_View_Units_Imperial"};

TUnits LocaleUnits() {
  return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ||
                 QLocale::system().measurementSystem() == QLocale::ImperialUKSystem
             ? TUnits::Imperial
             : TUnits::Metric;
}

TUnits DisplayUnits() {
  return gUnits;
}

void SetDisplayUnits(TUnits units) {
  gUnits = units;
}

void TakeDisplayUnits(const TCommands &commands) {
  const QAction *imperial = commands.Menu() ? commands.Menu()->Item(kUnitsItems[1]) : nullptr;
  SetDisplayUnits(imperial && imperial->isChecked() ? TUnits::Imperial : TUnits::Metric);
}

QString SpeedUnit() {
  return L(SpeedUnitKey(gUnits));
}

QString DistanceUnit() {
  return L(DistanceUnitKey(gUnits));
}

QString AltitudeUnit() {
  return L(AltitudeUnitKey(gUnits));
}

}  // namespace tachora
