// The player's part of the main window: the video panel (and its pop-up
// menu of playback commands), the seek panel under it and the control
// panel's buttons, play speed and volume. The player engine binds its
// commands here; until it does, its items and buttons stay disabled.
//
// UI thread only; the widgets belong to the window.
#pragma once

#include <QObject>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"
#include "catalogue/UnitCatalogueTrip.h"

namespace tachora {

class TCommands;

class TPlaybackController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  TPlaybackController(QObject *parent, const TPlaybackPanel &panel, TCommands &commands);

  void Translate() override;
  // The row the list handed over last (Open, double click, Enter); null
  // before the first.
  std::shared_ptr<const TRowTelemetry> Row() const { return row_; }

 public slots:
  // A prepared row to play (the list's OpenRequested).
  void OpenRow(std::shared_ptr<const tachora::TRowTelemetry> row);

 signals:
  void RowOpened();

 private:
  TPlaybackPanel panel_;
  TCommands &commands_;
  std::shared_ptr<const TRowTelemetry> row_;
};

}  // namespace tachora
