#include "app/UnitFormMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QOpenGLWidget>
#include <QProcess>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>
#include <algorithm>

#include "app/UnitCardWatcher.h"
#include "app/UnitCommands.h"
#include "app/UnitDemo.h"
#include "app/UnitException.h"
#include "app/UnitGEventMarks.h"
#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitMyBitmap.h"
#include "app/UnitRecentFiles.h"
#include "app/UnitReg.h"
#include "app/UnitResources.h"
#include "app/UnitSettings.h"
#include "app/UnitStartup.h"
#include "app/UnitText.h"
#include "app/UnitTiming.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormGroup.h"
#include "catalogue/UnitRecordListController.h"
#include "map/UnitMapBrowser.h"
#include "map/UnitMapController.h"
#include "map/UnitMapPreview.h"
#include "map/UnitMapScript.h"
#include "playback/UnitCaptureCommands.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitSeekBitmap.h"
#include "playback/UnitSeekLayout.h"
#include "playback/UnitTickListener.h"
#include "playback/UnitVideoView.h"
#include "telemetry/UnitFormGpsConverter.h"
#include "telemetry/UnitTelemetryController.h"
#include "telemetry/UnitTrackCommands.h"
#include "tools/UnitToolsController.h"

namespace tachora {

bool TFormMain::AutoFirstShow = true;

TFormMain::TFormMain(const QStringList &args, bool demo) : args_(args), demo_(demo) {
  InitResources();
  setObjectName("FormMain");
  setMinimumSize(350, 300);
  // Files dropped from a file manager are opened.
  setAcceptDrops(true);
  menu_ = new TMainMenu(this);
  layout_ = new TMainLayout(this);
  // The renderer item is set in the menu's design; capture the design check
  // marks first, then build the language menu and restore the stored marks.
  menu_->CaptureDefaults();
  menu_->BuildLanguageMenu();
  menu_->RestoreChecks();
  commands_ = new TCommands(menu_);
  TakeDisplayUnits(*commands_);
  Ask = [this](const QString &text, bool warning) {
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    return (warning ? QMessageBox::warning(this, "Tachora", text, buttons, QMessageBox::No)
                    : QMessageBox::question(this, "Tachora", text, buttons, QMessageBox::No)) ==
           QMessageBox::Yes;
  };
  // Where the map page's browser view sits among this window's widgets, it
  // makes the window composed through OpenGL once it shows; mark the window
  // so from the start. Made again at that moment, its native child windows
  // (mpv's own with the simple renderer) would come back as surfaces Qt then
  // fails to compose into, and crashes.
  const QString platform = QGuiApplication::platformName();
  if (platform != "offscreen" && platform != "minimal" && !TMapBrowser::UsesWindow()) {
    auto *mark = new QOpenGLWidget(this);
    mark->setObjectName("OpenGLComposition");
    mark->hide();
  }
  CreateControllers();
  // The map's browser starts after the window and its first frame show.
  if (AutoFirstShow) map_->HoldPage(true);
  BindCommands();
  // Panel sizes and the map's share of the right side.
  layout_->RestorePanels();
  // View choices and the pop-up copies of the menu.
  ApplyView(false);
  menu_->BuildPopupCopies();
  connect(layout_, &TMainLayout::SplittersMoved, this, [this]() { layout_->Layout(); });
  setWindowTitle("Tachora");
  QApplication::setApplicationDisplayName("Tachora");
  QApplication::setWindowIcon(AppIcon());
  RestoreGeometry();
  qApp->installEventFilter(this);

  geometryTimer_ = new QTimer(this);
  geometryTimer_->setSingleShot(true);
  geometryTimer_->setInterval(kGeometrySaveDelayMs);
  connect(geometryTimer_, &QTimer::timeout, this, &TFormMain::SaveWindowPosition);

  timerOnStart_ = new QTimer(this);
  timerOnStart_->setSingleShot(true);
  timerOnStart_->setInterval(1);
  connect(timerOnStart_, &QTimer::timeout, this, &TFormMain::FirstShow);
  if (AutoFirstShow) timerOnStart_->start();

  created_ = true;
  Translate();
}

TFormMain::~TFormMain() {
  qApp->removeEventFilter(this);
  playback_->Shutdown();
  for (const auto &listener : tickAdapters_) playback_->RemoveTickListener(listener.get());
  list_->Shutdown();
}

namespace {

// The map and the instrument pictures follow the playback tick: the trip's
// track is drawn once per trip (tried again on every tick until the page
// takes it), then the vehicle, following and the three pictures.
class TMapTickAdapter : public ITickListener {
 public:
  TMapTickAdapter(TMapController *map, const TMainLayout *layout, std::function<void()> showPins)
      : map_(map), layout_(layout), showPins_(std::move(showPins)) {}
  void NewTrip(const TRowTelemetry *trip) {
    std::vector<TMapRecording> recs;
    if (trip)
      for (size_t i = 0; i < trip->Row.Items.size() && i < trip->Tracks.size(); ++i) {
        // The telemetry's span on the trip's time line (the recording's
        // own when the telemetry has no times).
        const TFileItemSubitem &r = trip->Row.Items[i];
        const bool gps = r.RelGpsEnd > r.RelGpsStart;
        recs.push_back({trip->Tracks[i].get(), gps ? r.RelGpsStart : r.RelStart,
                        gps ? r.RelGpsEnd : r.RelEnd});
      }
    map_->SetTrip(std::move(recs));
    map_->SetTrackDrawn(false);
  }
  void PlaybackTick(const TTickState &s) override {
    if (s.Row && !map_->TrackDrawn()) {
      map_->SetTrackDrawn(map_->DrawTrip(true));
      // The pins leave out the track's ends, known once it is drawn.
      if (map_->TrackDrawn()) showPins_();
    }
    TMapTickState m;
    if (s.HasSample) {
      m.Gps = s.State.Gps;
      m.FixValid = s.State.FixValid;
    }
    m.Gsensor = s.State.Gsensor;
    m.TimerTick = s.FromSender;
    m.Playing = s.Playing;
    m.ControlPanelVisible = layout_->PanelControl->isVisible();
    map_->Tick(m);
  }
  void PlaybackReset() override {
    map_->ClearMap();
    map_->ResetInstruments();
    NewTrip(nullptr);
  }

 private:
  TMapController *map_;
  const TMainLayout *layout_;
  std::function<void()> showPins_;
};

// The graphs' cursors follow the tick; a stopped player leaves them empty
// like the seek bar.
class TGraphsTickAdapter : public ITickListener {
 public:
  explicit TGraphsTickAdapter(TTelemetryController *graphs) : graphs_(graphs) {}
  void PlaybackTick(const TTickState &s) override {
    if (s.Row) graphs_->DrawCursors(s.Position);
  }
  void PlaybackReset() override { graphs_->ClearTrip(); }

 private:
  TTelemetryController *graphs_;
};

}  // namespace

std::optional<TMapPoint> TripPointAt(TPlaybackController &player, long double p) {
  const auto trip = player.Row();
  if (!trip) return std::nullopt;
  TTripTimeline &line = player.Timeline();
  const int i = line.RecordingAt(p);
  if (i < 0 || i >= static_cast<int>(trip->Tracks.size()) || !trip->Tracks[static_cast<size_t>(i)])
    return std::nullopt;
  const TSpanFraction f = line.ToTelemetry(i, p);
  if (!f.Inside) return std::nullopt;
  const TMovingState s = StateAt(*trip->Tracks[static_cast<size_t>(i)], f.Value);
  if (s.Gps.Time == 0) return std::nullopt;
  return TMapPoint{s.Gps.Lon, s.Gps.Lat};
}

namespace {

// The graphs show the seek bar's window of the trip with its marks.
void ShareTimeLine(TSeekBitmap *seek, TTelemetryController *graphs, const TFileItem *row) {
  TGraphBands bands;
  if (row && seek->HasTrip()) {
    const TSeekMarks marks =
        ComputeSeekMarks(SeekRecordingsOf(*row), seek->View(), seek->SelectionStart(),
                         seek->SelectionEnd(), seek->DeviceLinePixels());
    bands.Gaps = marks.Gaps;
    bands.Selection = marks.Selection;
    bands.Unknown = marks.Unknown;
    bands.Events = seek->Events();
  }
  graphs->SetTimeLine(seek->View().Start, seek->View().End, seek->Margin(), bands);
}

}  // namespace

void TFormMain::CreateControllers() {
  list_ = new TRecordListController(this, layout_->ListPanel(), *commands_, Ask);
  playback_ = new TPlaybackController(this, layout_->PlaybackPanel(), *commands_);
  map_ = new TMapController(this, layout_->MapPanel(), *commands_);
  telemetry_ = new TTelemetryController(this, layout_->GraphsPanel(), *commands_);
  tools_ = new TToolsController(this, *commands_);
  trackCommands_ = new TTrackCommands(
      this, *commands_, [this] { return list_->FileManager(); },
      [this] { return list_->SelectedId(); });
  trackCommands_->PlayingTrip = [this] { return playback_->Row(); };
  translator_.Register(trackCommands_);
  for (ITranslatable *part :
       std::initializer_list<ITranslatable *>{list_, playback_, map_, telemetry_, tools_})
    translator_.Register(part);
  // Open, double click and Enter hand the prepared row to the player to
  // play; a click shows it paused.
  connect(list_, &TRecordListController::OpenRequested, playback_, &TPlaybackController::OpenRow);
  connect(list_, &TRecordListController::ShowRequested, playback_, &TPlaybackController::ShowRow);
  list_->PlayerHasTrip = [this]() { return playback_->Row() != nullptr; };
  // The map page's first report is the moment for another update check.
  connect(map_, &TMapController::MapInited, tools_, &TToolsController::StartUpdateCheck);
  // The graphs the user chose want their room under the video.
  connect(telemetry_, &TTelemetryController::BottomPanelHeightRequested, layout_,
          &TMainLayout::SetBottomHeight);
  // The player lets go of a file before it is deleted or its track changes.
  connect(list_, &TRecordListController::FilesChanging, playback_, &TPlaybackController::Stop);
  connect(playback_, &TPlaybackController::DurationLearned, this,
          [this](const QString &path, qint64 ms) {
            if (TFileManager *fm = list_->FileManager()) fm->SetDuration(path.toStdString(), ms);
          });
  connect(playback_, &TPlaybackController::CloseRequested, this, &QWidget::close);
  // The panels' pictures repaint with the video's frames while it plays.
  connect(playback_->Graph(), &TFilterGraph::FrameReady, this, [] { VideoFrameArriving(); });
  WirePlaybackPanels();
  WireDesktopHabits();
  connect(list_, &TRecordListController::FilesOpened, this, [this]() {
    MarkTiming("list-filled");
    if (closePending_ && !list_->Opening()) close();
  });
}

void TFormMain::WirePlaybackPanels() {
  // The cutting dialog and the captures work on the player.
  auto *captures = new TCaptureCommands(this, *commands_, playback_,
                                        [this](const QStringList &p) { list_->OpenFiles(p); });
  translator_.Register(captures);
  // The tick calls the panels in their order: seek bar (the player's own),
  // graphs, instruments and map.
  // The A and B pins mark the seek bar's visible window on the route.
  auto showPins = [this]() {
    const TTimeView view = playback_->SeekBar()->View();
    map_->ShowABMarkers(view.Start, view.End,
                        [this](long double p) { return TripPointAt(*playback_, p); });
  };
  auto *mapTick = new TMapTickAdapter(map_, layout_, showPins);
  auto *graphsTick = new TGraphsTickAdapter(telemetry_);
  tickAdapters_.emplace_back(mapTick);
  tickAdapters_.emplace_back(graphsTick);
  playback_->AddTickListener(graphsTick, TTickRank::kGraphs);
  playback_->AddTickListener(mapTick, TTickRank::kMap);
  connect(playback_, &TPlaybackController::RowOpened, this, [this, mapTick]() {
    const auto trip = playback_->Row();
    mapTick->NewTrip(trip.get());
    telemetry_->LoadTrip(trip);
    ShareTimeLine(playback_->SeekBar(), telemetry_, trip ? &trip->Row : nullptr);
  });
  TSeekBitmap *seek = playback_->SeekBar();
  auto share = [this, seek]() {
    const auto trip = playback_->Row();
    ShareTimeLine(seek, telemetry_, trip ? &trip->Row : nullptr);
  };
  connect(seek, &TSeekBitmap::ViewChanged, this, share);
  connect(seek, &TSeekBitmap::ViewChanged, this, [this, showPins]() {
    if (playback_->Row() && map_->TrackDrawn()) showPins();
  });
  connect(seek, &TSeekBitmap::SelectionChanged, this, share);
  // A new width or pixel ratio changes the columns the marks count in.
  if (seek->Image()) connect(seek->Image(), &TMyImage::Resized, this, share);
  connect(seek, &TSeekBitmap::HoverAt, telemetry_, &TTelemetryController::SeekBarHover);
  connect(seek, &TSeekBitmap::HoverLeft, telemetry_, &TTelemetryController::HideDetails);
  // A click on a graph or on the route plays from there.
  connect(telemetry_, &TTelemetryController::SeekRequested, playback_,
          [this](long double p) { playback_->Seek(p); });
  connect(map_, &TMapController::SeekRequested, playback_,
          [this](double p) { playback_->Seek(p); });
  // The page was (re)initialised, zoomed or moved, or the arrow's size or
  // the time points changed: one tick redraws track and vehicle, also while
  // paused.
  connect(map_, &TMapController::RefreshRequested, this, &TFormMain::RefreshMap);
  // A wheel step over the graphs zooms the time line.
  connect(telemetry_, &TTelemetryController::TimeZoomRequested, playback_,
          [this](bool zoomIn, double factor) { playback_->TimeZoom(zoomIn, factor); });
  WireMapPreviews();
}

void TFormMain::RefreshMap(bool timerTick) {
  playback_->Tick(timerTick);
  if (timerTick || playback_->FullScreen() || QApplication::activeWindow() != this) return;
  // After the user moved or zoomed the map the keys go back to the video
  // and then to the list (so Space and the arrows work again).
  if (!map_->Browser() || !map_->Browser()->HasFocus()) return;
  for (QWidget *w :
       {playback_->Video()->SurfaceWidget(), static_cast<QWidget *>(layout_->ListView)})
    if (w && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus)
      w->setFocus(Qt::OtherFocusReason);
}

void TFormMain::WireMapPreviews() {
  // The grouping and converter windows show their tracks on the map for a
  // while; afterwards the playing trip's track comes back at once.
  preview_ = new TMapPreview(map_, this);
  connect(preview_, &TMapPreview::Ended, this, [this]() {
    if (playback_->Row()) playback_->Tick(false);
  });
  connect(list_, &TRecordListController::GroupWindowOpened, this, [this](TFormGroup *form) {
    connect(form, &TFormGroup::PreviewRequested, preview_,
            [this](const std::vector<uint64_t> &ids, uint64_t highlighted) {
              // Nothing chosen: the map goes back to the playing trip.
              if (ids.empty()) return preview_->End();
              preview_->Show(RowsPreviewLoader(list_->SharedFileManager(), ids, highlighted));
            });
    connect(form, &QDialog::finished, preview_, &TMapPreview::End);
    connect(form, &QObject::destroyed, preview_, &TMapPreview::End);
  });
  TFormGPSLog *converter = trackCommands_->Converter();
  connect(converter, &TFormGPSLog::PreviewRequested, preview_,
          [this](const QStringList &paths, const std::vector<bool> &selected) {
            if (paths.isEmpty()) return preview_->End();
            preview_->Show(FilesPreviewLoader(paths, selected));
          });
  connect(converter, &TFormGPSLog::PreviewEnded, preview_, &TMapPreview::End);
}

void TFormMain::WireDesktopHabits() {
  auto open = [this](const QStringList &paths) { OpenFiles(paths); };
  recent_ = new TRecentFiles(this, *commands_, menu_->SubMenu("N_File_Recent"), open);
  translator_.Register(recent_);
  connect(list_, &TRecordListController::PathsOpening, recent_, &TRecentFiles::Add);
  cardOffer_ = new TCardOffer(this, [this](const QString &card) { OpenFiles({card}); });
  translator_.Register(cardOffer_);
  // The title names the trip that plays ("FILE0001-3 — Tachora").
  connect(playback_, &TPlaybackController::RowOpened, this, [this]() {
    const auto trip = playback_->Row();
    const QString name = trip ? Q(trip->Row.Summary.DisplayName) : QString();
    setWindowTitle(name.isEmpty() ? QString("Tachora") : name);
  });
}

void TFormMain::BindCommands() {
  TCommands &c = *commands_;
  c.Bind("N_File_Exit", [this]() { close(); });
  c.Bind("N_Settings_Clear", [this]() { ResetAllSettings(); });
  for (const char *name : {"N_View_FileList", "N_View_GoogleMaps", "N_View_ControlPanel"})
    c.Bind(name, [this]() { ApplyView(true); });
  for (QAction *a : menu_->SubMenu("N_View_Language")->actions())
    c.Bind(a->objectName(), [this]() { Translate(); });
  // The list counts events and the time line marks them at the sensitivity.
  for (const char *name : kEventSensitivityItems)
    c.Bind(name, [this]() {
      list_->RefreshRecordList();
      playback_->RefreshEvents();
    });
  // Everything showing a speed, a distance or an altitude is drawn again.
  for (const char *name : kUnitsItems)
    c.Bind(name, [this]() {
      TakeDisplayUnits(*commands_);
      Translate();
      list_->RefreshRecordList();
      telemetry_->LayoutGraphics();
      map_->ResetInstruments();  // the dial for the units, at once
      playback_->Tick(true);
    });
}

void TFormMain::OpenFiles(const QStringList &paths) {
  const QStringList recordings = OpenGpsLogs(paths);
  if (!recordings.isEmpty() || paths.isEmpty()) list_->OpenFiles(recordings);
}

QStringList TFormMain::OpenGpsLogs(const QStringList &paths) {
  // GPX files opened from the file manager go to the converter window.
  QStringList logs, rest;
  for (const QString &p : paths)
    (QFileInfo(p).suffix().compare("gpx", Qt::CaseInsensitive) == 0 ? logs : rest) << p;
  if (!logs.isEmpty()) trackCommands_->Converter()->Open(logs);
  return rest;
}

// ---- geometry --------------------------------------------------------------

namespace {
constexpr int kFar = 1000000;  // pixels; beyond any screen
}  // namespace

void TFormMain::RestoreGeometry() {
  QScreen *first = QGuiApplication::screens().value(0, QGuiApplication::primaryScreen());
  const QRect start = first ? StartGeometry(first->geometry()) : QRect(100, 100, 800, 600);
  // A damaged value is brought into a range where no sum of two overflows;
  // CorrectBounds then fits the window into the screen's work area.
  auto stored = [](const TSetting<int> &s, int def) { return std::clamp(s.Get(def), -kFar, kFar); };
  QRect bounds(stored(settings::kPosLeft, start.left()), stored(settings::kPosTop, start.top()),
               stored(settings::kPosWidth, start.width()),
               stored(settings::kPosHeight, start.height()));
  bounds.setWidth(std::max(bounds.width(), minimumWidth()));
  bounds.setHeight(std::max(bounds.height(), minimumHeight()));
  QScreen *near = QGuiApplication::screenAt(bounds.center());
  if (!near) near = first;
  if (near) bounds = CorrectBounds(bounds, near->availableGeometry());
  startBounds_ = bounds;
  setGeometry(bounds);
  storedState_ = settings::kPosState.Get();
}

void TFormMain::ShowStored() {
  if (storedState_ == 2)
    showMaximized();
  else
    show();
}

void TFormMain::SaveWindowPosition() {
  geometryTimer_->stop();
  if (!isVisible() || closing_) return;
  const QRect r = (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) ? normalGeometry()
                                                                                 : geometry();
  if (r.isValid()) {
    settings::kPosLeft.Write(r.left());
    settings::kPosTop.Write(r.top());
    settings::kPosWidth.Write(r.width());
    settings::kPosHeight.Write(r.height());
  }
  if (!(windowState() & Qt::WindowMinimized))
    settings::kPosState.Write((windowState() & Qt::WindowMaximized) ? 2 : 0);
}

void TFormMain::moveEvent(QMoveEvent *event) {
  QMainWindow::moveEvent(event);
  if (isVisible()) geometryTimer_->start();
}

void TFormMain::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  if (isVisible()) geometryTimer_->start();
  layout_->Layout();
}

void TFormMain::changeEvent(QEvent *event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isVisible()) geometryTimer_->start();
}

void TFormMain::ApplyView(bool byClick) {
  auto checked = [this](const char *name) { return menu_->Item(name)->isChecked(); };
  layout_->ApplyView(checked("N_View_FileList"), checked("N_View_GoogleMaps"),
                     checked("N_View_ControlPanel"));
  if (byClick) {
    layout_->Layout();
    layout_->SaveSoon();
  }
}

void TFormMain::Translate() {
  if (!created_) return;
  const QList<QAction *> langs = menu_->SubMenu("N_View_Language")->actions();
  for (int i = 0; i < langs.size(); ++i)
    if (langs[i]->isChecked()) SetCurrentLanguage(i);
  translator_.Apply(*menu_);
  layout_->Layout();
}

// ---- first show ------------------------------------------------------------

void TFormMain::FirstShow() {
  timerOnStart_->stop();
  if (!isVisible()) {
    // Runs once the window is on screen.
    QTimer::singleShot(50, this, &TFormMain::FirstShow);
    return;
  }
  RegisterShell(QCoreApplication::applicationFilePath());
  // Cards inserted from now on are offered in the status line.
  cardWatcher_ = new TCardWatcher(this);
  connect(cardWatcher_, &TCardWatcher::CardFound, cardOffer_, &TCardOffer::Offer);
  connect(cardWatcher_, &TCardWatcher::DriveGone, cardOffer_, &TCardOffer::Withdraw);
  if (demo_) {
    StartDemo();
  } else if (args_.isEmpty()) {
    list_->RefreshCatalogue();
  } else {
    list_->CreateCatalogue(false);
    list_->OpenFiles(OpenGpsLogs(args_), true);
  }
  emit FirstShowDone();
}

void TFormMain::WindowShown() {
  MarkTiming("window-visible");
  if (!map_->PageHeld()) return;
  auto release = [this] { map_->HoldPage(false); };
  // Nothing opens by itself: the map can start now.
  if (!demo_ && args_.isEmpty()) return release();
  QTimer::singleShot(kMapHoldMs, map_, release);
  // The frame is painted after the graph reports it: a moment later the
  // browser may take the UI thread.
  TFilterGraph *graph = playback_->Graph();
  auto first = std::make_shared<QMetaObject::Connection>();
  *first = connect(graph, &TFilterGraph::FrameReady, map_, [this, graph, first, release] {
    if (graph->VideoSize().isEmpty()) return;
    disconnect(*first);
    QTimer::singleShot(100, map_, release);
  });
}

void TFormMain::StartDemo() {
  auto *demo = new TDemoCard(this);
  connect(demo, &TDemoCard::Finished, this,
          [this, demo](const QString &folder, const QString &error) {
            demo->deleteLater();
            if (!error.isEmpty()) {
              if (error != "cancel") QMessageBox::warning(this, "Tachora", error);
              return list_->RefreshCatalogue();
            }
            list_->CreateCatalogue(false);
            list_->OpenFiles({folder}, true);
          });
  demo->Start(this);
}

// ---- close and reset -------------------------------------------------------

void TFormMain::closeEvent(QCloseEvent *event) {
  emit Closing();
  // Granted always (hide, stop the threads, destroy the catalogue), but not
  // while files are being opened on the catalogue: then once that is done.
  if (list_->Opening()) {
    closePending_ = true;
    event->ignore();
    return;
  }
  event->accept();
  if (geometryTimer_->isActive()) SaveWindowPosition();
  layout_->FlushSave();
  closing_ = true;
  hide();
  TApplication::SetTerminating(true);
  tools_->HideAll();
  playback_->Shutdown();
  list_->Shutdown();
  setAcceptDrops(false);
  QCoreApplication::quit();
}

void TFormMain::ResetAllSettings() {
  if (!Ask(QString::fromStdString(LangText("Mes_ClearSettings")) + "?\n", false)) return;
  close();
  DeleteAllSettings();
  QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
  QCoreApplication::quit();
}

// ---- drag and drop, keys ---------------------------------------------------

void TFormMain::dragEnterEvent(QDragEnterEvent *event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent *event) {
  QStringList paths;
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  // Files dropped while others are opening wait their turn.
  if (!paths.isEmpty()) list_->OpenFiles(paths);
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event) {
  // The first exposure is painted while it is handled: what follows it runs
  // once the window can be seen.
  if (event->type() == QEvent::Expose && !exposed_ && watched == windowHandle() &&
      windowHandle()->isExposed()) {
    exposed_ = true;
    QTimer::singleShot(0, this, &TFormMain::WindowShown);
  }
  // The zoom keys work in the main window and in the full-screen window.
  if (event->type() == QEvent::KeyPress) {
    const QWidget *active = QApplication::activeWindow();
    const QWidget *full = playback_ ? playback_->Video()->FullScreenWindow() : nullptr;
    if (active && (active == this || active == full) &&
        HandleZoomKeys(static_cast<QKeyEvent *>(event)))
      return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TFormMain::HandleZoomKeys(QKeyEvent *event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const bool keypad = event->modifiers() & Qt::KeypadModifier;
  auto click = [this](const char *name) {
    QAction *a = menu_->Item(name);
    if (a && a->isEnabled()) a->trigger();
    return true;
  };
  const int key = event->key();
  // The "=" key gives "+" with Shift and the "-" key "_": either is the key.
  const bool plus = key == Qt::Key_Plus || (!keypad && key == Qt::Key_Equal);
  const bool minus = key == Qt::Key_Minus || (!keypad && key == Qt::Key_Underscore);
  // Ctrl with either "+" reaches the time line's zoom like Ctrl+"=".
  if (plus) return click(ctrl ? "N_View_Time_ZoomIn" : "N_VideoZoom_ZoomIn");
  if (minus) return click(ctrl ? "N_View_Time_ZoomOut" : "N_VideoZoom_ZoomOut");
  if (keypad && key == Qt::Key_Asterisk) return click("N_VideoZoom_100");
  if (keypad && key == Qt::Key_Slash)
    return click(menu_->Item("N_VideoZoom_Letterbox")->isChecked() ? "N_VideoZoom_PanAndScan"
                                                                   : "N_VideoZoom_Letterbox");
  return false;
}

}  // namespace tachora
