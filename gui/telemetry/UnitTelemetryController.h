// The telemetry's part of the main window: the graphs under the video and
// their pop-up menu (time-line and graph commands). Graphs, the details
// window and the GPS log converter bind here when they come.
//
// UI thread only; the widgets belong to the window.
#pragma once

#include <QObject>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"

namespace tachora {

class TCommands;

class TTelemetryController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  TTelemetryController(QObject *parent, const TGraphsPanel &panel, TCommands &commands);
  void Translate() override;

 private:
  TGraphsPanel panel_;
  TCommands &commands_;
};

}  // namespace tachora
