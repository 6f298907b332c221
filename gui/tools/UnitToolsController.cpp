#include "tools/UnitToolsController.h"

#include <QMetaObject>
#include <QWidget>

#include "app/UnitCommands.h"
#include "tools/UnitFormAbout.h"
#include "tools/UnitFormAutoUpdate.h"
#include "tools/UnitFormSetupDevice.h"
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
  setup_ = new TFormSetupDevice(window);
  commands.Bind("N_SetupDevice", [this]() { ShowAndRaise(setup_); });
  update_ = new TFormAutoUpdate(window);
  // The player lets go of the program's files before they are replaced.
  connect(update_, &TFormAutoUpdate::UpdateStarting, this,
          [&commands]() { commands.Run("N_Playback_Stop"); });
  // The window class is not known here; the signal is found by name, and a
  // window without it (tests) simply starts no check.
  if (window && window->metaObject()->indexOfSignal("FirstShowDone()") >= 0)
    connect(window, SIGNAL(FirstShowDone()), this, SLOT(StartUpdateCheck()));
}

void TToolsController::StartUpdateCheck() {
  if (!update_->OfferKnown()) update_->StartCheck();
}

TToolsController::~TToolsController() {
  delete whatsNew_;
}

void TToolsController::Translate() {
  about_->Translate();
  whatsNew_->Translate();
  setup_->Translate();
  update_->Translate();
}

void TToolsController::HideAll() {
  about_->hide();
  whatsNew_->hide();
  setup_->hide();
  update_->StopCheck();
}

}  // namespace tachora
