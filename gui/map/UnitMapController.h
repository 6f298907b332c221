// The map's part of the main window: the map page on the right and the
// three instrument pictures of the control panel (speed, azimuth,
// G-sensor). The map page and the instruments bind here when they come.
//
// UI thread only; the widgets belong to the window.
#pragma once

#include <QObject>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"

namespace tachora {

class TCommands;

class TMapController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  TMapController(QObject *parent, const TMapPanel &panel, TCommands &commands);
  void Translate() override;

 private:
  TMapPanel panel_;
  TCommands &commands_;
};

}  // namespace tachora
