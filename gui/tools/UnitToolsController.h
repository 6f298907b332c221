// The tool windows of the Help menu (about, what's new; later device setup
// and the update check): created with the main window, shown non-modally
// by their commands.
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

 private:
  TFormAbout *about_ = nullptr;
  TFormWhatsNew *whatsNew_ = nullptr;  // a top-level window of its own
};

}  // namespace tachora
