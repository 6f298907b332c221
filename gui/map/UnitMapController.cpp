#include "map/UnitMapController.h"

#include <QLabel>

#include "app/UnitLang.h"

namespace tachora {

namespace {
QString L(const char *key) {
  return QString::fromStdString(LangText(key));
}
}  // namespace

TMapController::TMapController(QObject *parent, const TMapPanel &panel, TCommands &commands)
    : QObject(parent), panel_(panel), commands_(commands) {}

void TMapController::Translate() {
  panel_.ImageSpeed->setToolTip("- " + L("N_View_Graphics_H") + ", " + L("Meters") + "\n- " +
                                L("Property_Track_Length") + ", " + L("Meters") + "\n- " +
                                L("Speed") + ", " + L("KmetersPerH"));
  panel_.ImageAzimut->setToolTip(L("Azimut"));
  panel_.ImageGSensor->setToolTip("x - " + L("N_View_Graphics_X") + "\ny - " +
                                  L("N_View_Graphics_Y") + "\nz - " + L("N_View_Graphics_Z"));
  for (QLabel *w : {panel_.ImageSpeed, panel_.ImageAzimut, panel_.ImageGSensor})
    w->setToolTipDuration(5000);
}

}  // namespace tachora
