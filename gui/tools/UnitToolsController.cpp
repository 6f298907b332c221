#include "tools/UnitToolsController.h"

#include "app/UnitCommands.h"
#include "tools/UnitFormAbout.h"
#include "tools/UnitFormWhatsNew.h"

namespace tachora {

namespace {
void ShowAndRaise(QWidget *w) {
  w->show();
  w->raise();
  w->activateWindow();
}
}  // namespace

TToolsController::TToolsController(QWidget *window, TCommands &commands) : QObject(window) {
  about_ = new TFormAbout(window);
  whatsNew_ = new TFormWhatsNew;
  commands.Bind("N_Help_About", [this]() { ShowAndRaise(about_); });
  commands.Bind("N_Help_WhatsNew", [this]() { ShowAndRaise(whatsNew_); });
}

TToolsController::~TToolsController() {
  delete whatsNew_;
}

void TToolsController::Translate() {
  about_->Translate();
  whatsNew_->Translate();
}

void TToolsController::HideAll() {
  about_->hide();
  whatsNew_->hide();
}

}  // namespace tachora
