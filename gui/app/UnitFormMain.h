// TFormMain, the program's main window. It creates the menus (TMainMenu),
// the command registry (TCommands), the panels (TMainLayout) and one
// controller per subsystem, each given only its own panel, and wires them:
// the recording list hands prepared rows to the player. What remains its own
// is the window: start-up and first show, geometry, drag and drop, the view
// switches, the language, close and "Reset All Settings".
//
// UI thread only. Window geometry is written once a move or resize has
// ended (a short single-shot timer), and on close.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/UnitTranslate.h"
#include "map/UnitMapScript.h"

class QTimer;

namespace tachora {

class ITickListener;

class TCardOffer;
class TCardWatcher;
class TCommands;
class TMainLayout;
class TMainMenu;
class TMapController;
class TMapPreview;
class TRecentFiles;
class TPlaybackController;
class TRecordListController;
class TTelemetryController;
class TToolsController;
class TTrackCommands;

class TFormMain : public QMainWindow {
  Q_OBJECT
 public:
  // `args`: the command-line paths (files or folders). `demo`: make the demo
  // card first and open it.
  explicit TFormMain(const QStringList &args = {}, bool demo = false);
  ~TFormMain() override;

  // Shows the window in its stored state (normal or maximized).
  void ShowStored();
  // The common path of the open dialog, drag and drop and the command line.
  void OpenFiles(const QStringList &paths);
  // Applies the current language to every part of the window.
  void Translate();

  TMainMenu *Menu() const { return menu_; }
  TCommands *Commands() const { return commands_; }
  TMainLayout *Panels() const { return layout_; }
  TRecordListController *List() const { return list_; }
  TPlaybackController *Playback() const { return playback_; }
  TMapController *Map() const { return map_; }
  TTelemetryController *Telemetry() const { return telemetry_; }
  TToolsController *Tools() const { return tools_; }
  TTrackCommands *TrackCommands() const { return trackCommands_; }
  TMapPreview *MapPreview() const { return preview_; }
  TRecentFiles *RecentFiles() const { return recent_; }
  TCardOffer *CardOffer() const { return cardOffer_; }
  // The geometry the window was given at creation (after correction).
  QRect StartBounds() const { return startBounds_; }

  // Questions (Yes/No) go through this; tests answer them.
  std::function<bool(const QString &text, bool warning)> Ask;
  // Tests build windows without the first-show steps (no search, no shell
  // registration).
  static bool AutoFirstShow;
  // Quiet time after the last move or resize before the geometry is written.
  static constexpr int kGeometrySaveDelayMs = 250;
  // The longest the map's browser waits for the first video frame of the
  // trip opened at start, counted from the window's appearance.
  static constexpr int kMapHoldMs = 1500;

 signals:
  void FirstShowDone();
  // The window was asked to close (it may wait for files being opened).
  void Closing();

 protected:
  void closeEvent(QCloseEvent *event) override;
  void moveEvent(QMoveEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void changeEvent(QEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void CreateControllers();
  // Connects the player's tick and seek bar to the map, instruments and graphs.
  void WirePlaybackPanels();
  void WireMapPreviews();
  // One tick for the map page; after a "view" report the keyboard focus
  // leaves the page.
  void RefreshMap(bool timerTick);
  // Recent files, Open Folder, the memory card offer and the window title.
  void WireDesktopHabits();
  // Opens the GPX files among `paths` in the converter window; the others.
  QStringList OpenGpsLogs(const QStringList &paths);
  void BindCommands();
  void RestoreGeometry();
  void SaveWindowPosition();
  void ApplyView(bool byClick);
  void FirstShow();
  // The window's first exposure has been painted.
  void WindowShown();
  void StartDemo();
  void ResetAllSettings();
  bool HandleZoomKeys(QKeyEvent *event);

  QStringList args_;
  bool demo_ = false;
  TMainMenu *menu_ = nullptr;
  TCommands *commands_ = nullptr;
  TMainLayout *layout_ = nullptr;
  TTranslator translator_;
  std::vector<std::unique_ptr<ITickListener>> tickAdapters_;
  TRecordListController *list_ = nullptr;
  TPlaybackController *playback_ = nullptr;
  TMapController *map_ = nullptr;
  TTelemetryController *telemetry_ = nullptr;
  TTrackCommands *trackCommands_ = nullptr;
  TMapPreview *preview_ = nullptr;
  TToolsController *tools_ = nullptr;
  TRecentFiles *recent_ = nullptr;
  TCardOffer *cardOffer_ = nullptr;
  TCardWatcher *cardWatcher_ = nullptr;
  QTimer *timerOnStart_ = nullptr;
  QTimer *geometryTimer_ = nullptr;
  QRect startBounds_;
  int storedState_ = 0;
  bool created_ = false;
  bool exposed_ = false;
  bool closing_ = false;
  bool closePending_ = false;  // a close asked for while files were opening
};

// The telemetry point at position p (0..1) of the player's trip, if any.
std::optional<TMapPoint> TripPointAt(TPlaybackController &player, long double p);

}  // namespace tachora
