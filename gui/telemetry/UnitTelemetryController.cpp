#include "telemetry/UnitTelemetryController.h"

#include <QMenu>
#include <QWidget>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"

namespace tachora {

TTelemetryController::TTelemetryController(QObject *parent, const TGraphsPanel &panel,
                                           TCommands &commands)
    : QObject(parent), panel_(panel), commands_(commands) {
  QWidget *graphs = panel_.PanelBottomGraphics;
  TMainMenu *menu = commands_.Menu();
  graphs->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(graphs, &QWidget::customContextMenuRequested, this, [graphs, menu](const QPoint &p) {
    menu->PopupMenuGraphics()->popup(graphs->mapToGlobal(p));
  });
}

void TTelemetryController::Translate() {
  // The graphs draw their own texts; nothing here has a caption yet.
}

}  // namespace tachora
