// The tool windows: about, what's new, device setup and the update check,
// created with the main window and shown non-modally by their commands.
// The update check starts when the main window has been shown for the
// first time (its FirstShowDone signal) and again by StartUpdateCheck (the
// map page's initialisation) while no offer is known.
//
// UI thread only.
#pragma once

#include <QObject>

#include "app/UnitTranslate.h"

class QWidget;

namespace tachora {

class TCommands;
class TFormAbout;
class TFormWhatsNew;
class TFormSetupDevice;
class TFormAutoUpdate;

class TToolsController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  TToolsController(QWidget *window, TCommands &commands);
  ~TToolsController() override;

  void Translate() override;
  // Hides every tool window (the main window closes).
  void HideAll();

  TFormAbout *FormAbout() const { return about_; }
  TFormWhatsNew *FormWhatsNew() const { return whatsNew_; }
  TFormSetupDevice *FormSetupDevice() const { return setup_; }
  TFormAutoUpdate *FormAutoUpdate() const { return update_; }
  // Starts a check (replacing a running one) unless an offer is known.
 public slots:
  void StartUpdateCheck();

 public:
 private:
  TFormAbout *about_ = nullptr;
  TFormWhatsNew *whatsNew_ = nullptr;  // a top-level window of its own
  TFormSetupDevice *setup_ = nullptr;
  TFormAutoUpdate *update_ = nullptr;
};

}  // namespace tachora
