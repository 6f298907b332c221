// TPlaybackController's playback loop: loading a trip, Play/Pause, Stop and
// its reset, seeks, speed, jumps, frame steps, A-B and the loop, the tick,
// the renderer switch and what the engine reports.
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QSlider>
#include <QToolButton>
#include <QWheelEvent>

#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "playback/UnitChannelView.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitPowerManagement.h"
#include "playback/UnitSeekBitmap.h"
#include "playback/UnitVideoView.h"

namespace tachora {

// ---- the trip ----------------------------------------------------------------------

bool TPlaybackController::IsOpen(const TRowTelemetry &row) const {
  // The same catalogue row prepared again is the same trip.
  return row_ && timeline_.Loaded() &&
         (&row == row_.get() || (row.Row.Id != 0 && row.Row.Id == row_->Row.Id));
}

void TPlaybackController::OpenRow(std::shared_ptr<const TRowTelemetry> row) {
  if (!row || row->Row.Items.empty()) return;
  // The same prepared trip again (a second double click): just play on.
  if (row == row_ && timeline_.Loaded()) {
    if (!Playing()) SetPlay(true);
    return;
  }
  LoadRow(std::move(row), true);
}

void TPlaybackController::ShowRow(std::shared_ptr<const TRowTelemetry> row) {
  if (!row || row->Row.Items.empty() || IsOpen(*row)) return;
  LoadRow(std::move(row), false);
}

void TPlaybackController::LoadRow(std::shared_ptr<const TRowTelemetry> row, bool play) {
  if (row_ || graph_->Active()) Stop();
  row_ = std::move(row);
  channels_->SetTrip(row_->Row);
  timeline_.LoadTrip(row_->Row);
  seek_->SetEvents(EventMarksOf(*row_, EventLevel(commands_)));
  seek_->LoadTrip(row_->Row);
  timeline_.SetView(seek_->View());
  SyncScrollBar();
  UpdateControls();
  emit RowOpened();
  SetPlay(play);
}

void TPlaybackController::SetPlay(bool down) {
  if (!row_ || !timeline_.Loaded()) {
    panel_.ButtonPlay->setChecked(false);
    return;
  }
  if (!graph_->Active()) {
    UpdateCaption();
    graph_->SetVolume(panel_.TrackBarVolume->value() * 100);
  }
  timeline_.SetPlay(down);
  if (down)
    timer_.start();
  else
    timer_.stop();
  power_->SetPlaying(down);
  video_->SetPlaying(down);
  UpdateControls();
  // Keys go to the list again, so that Space, the arrows and Enter keep
  // working after a click on Play; the video surface gets the focus first
  // (a native surface is told the window is active).
  if (!FullScreen()) {
    if (QWidget *surface = video_->SurfaceWidget()) surface->setFocus(Qt::OtherFocusReason);
    if (QWidget *list =
            panel_.PanelVideo->window()->findChild<QWidget *>(QStringLiteral("ListView")))
      list->setFocus(Qt::OtherFocusReason);
  }
  Tick(false);
}

void TPlaybackController::TogglePlay() {
  SetPlay(!Playing());
}

void TPlaybackController::Pause() {
  if (Playing()) SetPlay(false);
}

void TPlaybackController::Stop() {
  timer_.stop();
  power_->SetPlaying(false);
  video_->SetPlaying(false);
  SetFullScreen(false);
  timeline_.Stop();
  channels_->ClearTrip();
  row_.reset();
  seek_->ClearTrip();
  lastSample_ = false;
  // The reset of the controls: no loop, a custom zoom back to Letterbox.
  // The chosen speed stays for the next trip, its button down.
  panel_.CheckBoxLoop->setChecked(false);
  if (Item("N_View_Time_LoopAB")->isChecked())
    menu_->SetMenuChecked(Item("N_View_Time_LoopAB"), false);
  if (video_->Zoom().Mode == TFitMode::Custom) {
    video_->SetMode(TFitMode::Letterbox);
    UpdateZoomMenu();
  }
  for (const auto &entry : listeners_) entry.second->PlaybackReset();
  UpdateCaption();
  UpdateControls();
  SyncScrollBar();
  emit Stopped();
}

void TPlaybackController::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  // What the engine reports while it stops no longer reaches the widgets.
  disconnect(graph_, nullptr, this, nullptr);
  if (video_) disconnect(graph_, nullptr, video_, nullptr);
  if (channels_) channels_->Shutdown();
  timer_.stop();
  power_->SetPlaying(false);
  if (video_) video_->SetFullScreen(false);
  timeline_.Stop();
  row_.reset();
}

// ---- positions -------------------------------------------------------------------

bool TPlaybackController::IsActive() const {
  return graph_->Active() && graph_->HasSeeking();
}

long double TPlaybackController::Position() {
  return timeline_.Loaded() ? timeline_.Position() : 0;
}

void TPlaybackController::Seek(long double position) {
  timeline_.Seek(position, true);
  UpdateControls();
}

void TPlaybackController::SetSpeedTag(int tag) {
  if (QAbstractButton *b = panel_.PlaySpeedGroup->button(tag)) b->setChecked(true);
  timeline_.SetRate(RateOfTag(tag));
  Tick(true);
}

void TPlaybackController::JumpToEvent(bool forward) {
  if (!row_ || !timeline_.Loaded()) return;
  const double span = row_->Row.Summary.End - row_->Row.Summary.Start;
  if (const auto target = EventJumpTarget(seek_->Events(), timeline_.Position(), forward, span)) {
    Seek(*target);
    Tick(true);
  }
}

void TPlaybackController::RefreshEvents() {
  seek_->SetEvents(row_ ? EventMarksOf(*row_, EventLevel(commands_)) : std::vector<TEventMark>{});
  UpdateControls();
  emit seek_->ViewChanged();  // the graphs mark them too
}

void TPlaybackController::Jump(bool forward, bool fromWheel) {
  TJumpOptions options;
  options.Forward = forward;
  options.HoldBack = lastSample_ && !FullScreen();
  options.FromWheel = fromWheel;
  if (timeline_.Jump(options, clock_.elapsed() / 1000.0)) Tick(true);
}

void TPlaybackController::NextFrame() {
  timeline_.NextFrame();
  UpdateControls();
  Tick(true);
}

void TPlaybackController::BackFrames() {
  timeline_.BackFrames();
  UpdateControls();
  Tick(true);
}

// ---- selection and loop ----------------------------------------------------------

void TPlaybackController::SyncSelection() {
  seek_->ClearSelection();
  if (timeline_.HasSelection()) {
    seek_->SetSelectionEnd(timeline_.B());
    seek_->SetSelectionStart(timeline_.A());
  }
  // A loop asked for before there was a selection starts with it.
  if (panel_.CheckBoxLoop->isChecked() && timeline_.HasSelection() && !timeline_.Loop())
    timeline_.SetLoop(true);
  Tick(false);
}

void TPlaybackController::SetA() {
  if (!timeline_.Loaded()) return;
  timeline_.SetA();
  SyncSelection();
}

void TPlaybackController::SetB() {
  if (!timeline_.Loaded()) return;
  timeline_.SetB();
  SyncSelection();
}

void TPlaybackController::SetLoop(bool on) {
  if (on && !timeline_.HasSelection()) {
    on = false;
    Warn(QString::fromStdString(LangText("Cropping_Info")));
  }
  timeline_.SetLoop(on);
  panel_.CheckBoxLoop->setChecked(on);
  QAction *item = Item("N_View_Time_LoopAB");
  if (item->isChecked() != on) menu_->SetMenuChecked(item, on);
}

bool TPlaybackController::Loop() const {
  return timeline_.Loop();
}

void TPlaybackController::TimeZoom(bool zoomIn, long double factor) {
  if (!timeline_.Loaded()) return;
  if (zoomIn)
    seek_->ZoomIn(factor);
  else
    seek_->ZoomOut(factor);
  Tick(false);
}

// ---- the tick ----------------------------------------------------------------------

bool TPlaybackController::CoversPanels(const QWidget *activeWindow) {
  if (!activeWindow) return false;
  static const char *const kNames[] = {"FormFullScreen", "FormAbout",  "FormAutoUpdate",
                                       "FormDetails",    "FormGPSLog", "FormGroup"};
  const QString name = activeWindow->objectName();
  for (const char *n : kNames)
    if (name == QLatin1String(n)) return true;
  return false;
}

void TPlaybackController::Tick(bool fromSender) {
  QWidget *window = panel_.PanelControl->window();
  if (!window->isVisible() && !FullScreen()) return;
  ++ticks_;
  const long double p = timeline_.Tick(fromSender);
  if (p < 0 || !row_) return;
  TTickState state;
  state.Position = p;
  state.FromSender = fromSender;
  state.Playing = timeline_.PlayDown();
  state.FullScreen = FullScreen();
  state.Row = &timeline_.Row();
  state.Recording = timeline_.RecordingAt(p);
  if (state.Recording >= 0 && state.Recording < static_cast<int>(row_->Tracks.size())) {
    const TSpanFraction f = timeline_.ToTelemetry(state.Recording, p);
    state.TelemetryFraction = f.Value;
    state.Track = row_->Tracks[static_cast<size_t>(state.Recording)].get();
    if (f.Inside && state.Track) {
      state.State = StateAt(*state.Track, f.Value);
      state.HasSample = state.State.Gps.Time != 0;
    }
  }
  lastSample_ = state.HasSample;
  // While a window over the panels is active only the seek bar, the graphs
  // and the details follow the video, and only in full screen (where the
  // bottom panel slides in over the picture); the map and instruments wait.
  state.UpdatePanels = !CoversPanels(QApplication::activeWindow());
  for (const auto &entry : listeners_) {
    const bool cursor = entry.first == TTickRank::kSeekBar || entry.first == TTickRank::kGraphs ||
                        entry.first == TTickRank::kDetails;
    if (state.UpdatePanels || (cursor && state.FullScreen)) entry.second->PlaybackTick(state);
  }
}

void TPlaybackController::TimelineRecordingLoaded(int index, bool playing) {
  (void)index;
  (void)playing;
  video_->Apply();
  UpdateControls();
}

void TPlaybackController::TimelineDurationLearned(int index, int64_t ms) {
  const TFileItem &row = timeline_.Row();
  if (index < 0 || index >= static_cast<int>(row.Items.size())) return;
  emit DurationLearned(QString::fromStdString(row.Items[static_cast<size_t>(index)].Path), ms);
  seek_->RefreshTrip(row);
}

void TPlaybackController::TimelineViewChanged() {
  if (syncingView_) return;
  syncingView_ = true;
  seek_->SetView(timeline_.View());
  syncingView_ = false;
  SyncScrollBar();
}

// ---- engine ------------------------------------------------------------------------

void TPlaybackController::OnOpenError(const QString &path, TOpenError error) {
  Warn(OpenErrorMessage(path, error));
  // A recording that vanished (a card pulled out) leaves a stopped player.
  if (error == TOpenError::kFileLost) Stop();
}

TRenderer TPlaybackController::CheckedRenderer() const {
  for (int i = 0; i < 3; ++i)
    if (Item(kRendererItemNames[i])->isChecked()) return static_cast<TRenderer>(i);
  return TRenderer::kOpenGL;
}

void TPlaybackController::ProbeRenderer() {
  if (CheckedRenderer() != TRenderer::kOpenGL) return;
  // Without OpenGL (no display driver, a headless session) the software
  // renderer takes over, and the choice is kept.
  const QString platform = QGuiApplication::platformName();
  QOpenGLContext probe;
  const bool gl = platform != "offscreen" && platform != "minimal" && probe.create();
  if (!gl) menu_->SetMenuChecked(Item(kRendererItemNames[1]), true);
}

void TPlaybackController::SwitchRenderer(TRenderer renderer) {
  QAction *item = Item(kRendererItemNames[static_cast<int>(renderer)]);
  if (!item->isChecked()) menu_->SetMenuChecked(item, true);
  if (video_->Surface() && video_->Surface()->Renderer() == renderer) return;
  const bool active = graph_->Active();
  const long double p = active ? timeline_.Position() : 0;
  if (active) ReleaseEngines();
  graph_->SetRenderer(renderer);
  video_->SetRenderer(renderer);
  if (renderer == TRenderer::kSimple) graph_->SetWindow(video_->SurfaceWidget()->winId());
  WatchNativeSurface();
  channels_->SetRenderer(renderer);
  UpdateZoomMenu();
  // The same recording at the same place, playing or paused as before.
  if (active) timeline_.ReopenAt(p);
  UpdateControls();
  Tick(false);
}

QImage TPlaybackController::Snapshot() {
  if (!graph_->Active()) return {};
  TVideoSurface *surface = video_->Surface();
  if (!surface) return {};
  QImage image;
  if (surface->Renderer() == TRenderer::kSoftware) {
    // The frame at the video's own size, flipped as shown.
    image = graph_->RenderSoftware(graph_->VideoSize());
    if (!image.isNull() &&
        (Item("N_VideoZoom_FlipV")->isChecked() || Item("N_VideoZoom_FlipH")->isChecked()))
      image = image.mirrored(Item("N_VideoZoom_FlipH")->isChecked(),
                             Item("N_VideoZoom_FlipV")->isChecked());
  } else if (surface->Renderer() == TRenderer::kOpenGL) {
    // What the screen shows, at its size.
    image = static_cast<TOpenGLSurface *>(surface)->grabFramebuffer();
  }
  return image;
}

void TPlaybackController::RequestSnapshot(std::function<void(const QImage &)> done) {
  TVideoSurface *surface = video_->Surface();
  if (!graph_->Active() || !surface || surface->Renderer() == TRenderer::kSoftware) {
    done(Snapshot());
    return;
  }
  // The OpenGL and native surfaces: mpv's own frame at the video's size,
  // answered later (a blocking request could wait on this very thread's
  // drawing). No answer within a few seconds counts as none.
  struct TPending {
    std::function<void(const QImage &)> Done;
    QMetaObject::Connection Reply;
  };
  auto pending = std::make_shared<TPending>();
  pending->Done = std::move(done);
  // The program draws the flips itself where the surface can.
  const bool drawn = surface->CanFlip();
  const bool flipH = drawn && Item("N_VideoZoom_FlipH")->isChecked();
  const bool flipV = drawn && Item("N_VideoZoom_FlipV")->isChecked();
  auto finish = [pending](const QImage &image) {
    if (!pending->Done) return;
    QObject::disconnect(pending->Reply);
    auto call = std::move(pending->Done);
    pending->Done = nullptr;
    call(image);
  };
  pending->Reply = connect(
      graph_, &TFilterGraph::SnapshotReady, this, [finish, flipH, flipV](const QImage &image) {
        finish(image.isNull() || (!flipH && !flipV) ? image : image.mirrored(flipH, flipV));
      });
  QTimer::singleShot(kSnapshotWaitMs, this, [finish]() { finish(QImage()); });
  graph_->RequestSnapshot();
}

QWidget *TPlaybackController::VideoWidget() const {
  return panel_.PanelVideo;
}

// ---- full screen and the wheel -----------------------------------------------------

void TPlaybackController::SetFullScreen(bool on) {
  if (on == FullScreen()) return;
  // An OpenGL widget moved to another window gets a new GL context: the
  // engine lets go of the old one first and reopens the recording at the
  // same place afterwards, as after a renderer switch.
  const bool reopen = graph_->Active() && graph_->Renderer() == TRenderer::kOpenGL;
  const long double p = reopen ? timeline_.Position() : 0;
  if (reopen) ReleaseEngines();
  video_->SetFullScreen(on);
  if (reopen) ReopenWhenSurfaceReady(p, 50);
  UpdateControls();
  Tick(false);
}

void TPlaybackController::ReopenWhenSurfaceReady(long double position, int triesLeft) {
  // mpv shows no picture for a file loaded before the OpenGL surface has its
  // context, which it gets once the new window shows it.
  auto *gl = qobject_cast<TOpenGLSurface *>(video_->SurfaceWidget());
  if (gl && !gl->Ready() && triesLeft > 0) {
    QTimer::singleShot(20, this, [this, position, triesLeft]() {
      if (timeline_.Loaded() && !graph_->Active()) ReopenWhenSurfaceReady(position, triesLeft - 1);
    });
    return;
  }
  timeline_.ReopenAt(position);
  UpdateControls();
}

void TPlaybackController::WatchNativeSurface() {
  auto *native = qobject_cast<TNativeSurface *>(video_->SurfaceWidget());
  if (!native) return;
  connect(native, &TNativeSurface::WindowGoing, this, &TPlaybackController::NativeWindowGoing,
          Qt::UniqueConnection);
  connect(native, &TNativeSurface::WindowBack, this, &TPlaybackController::NativeWindowBack,
          Qt::UniqueConnection);
}

void TPlaybackController::NativeWindowGoing() {
  // Called while Qt destroys the window: mpv must be gone before it is.
  if (shutDown_ || nativeReopen_ || !graph_->Active()) return;
  nativeReopen_ = timeline_.Position();
  ReleaseEngines();
}

void TPlaybackController::NativeWindowBack() {
  if (!nativeReopen_) return;
  // Every native window of the top-level window is made again in one go:
  // reopen once the event loop is back.
  QTimer::singleShot(0, this, [this]() {
    if (!nativeReopen_) return;
    const long double p = *nativeReopen_;
    nativeReopen_.reset();
    if (shutDown_ || !timeline_.Loaded() || graph_->Active()) return;
    timeline_.ReopenAt(p);
    UpdateControls();
    Tick(false);
  });
}

bool TPlaybackController::FullScreen() const {
  return video_ && video_->FullScreen();
}

bool TPlaybackController::eventFilter(QObject *watched, QEvent *event) {
  // The wheel over the control panel: jumps while playing, frame steps
  // while paused (up is back).
  if (watched == panel_.PanelControl && event->type() == QEvent::Wheel) {
    const int steps = static_cast<QWheelEvent *>(event)->angleDelta().y() / 120;
    if (steps != 0 && graph_->Active()) {
      if (Playing())
        Jump(steps < 0, true);
      else if (steps < 0)
        NextFrame();
      else
        BackFrames();
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tachora
