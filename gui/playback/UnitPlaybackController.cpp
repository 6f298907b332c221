#include "playback/UnitPlaybackController.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitMyBitmap.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "playback/UnitChannelView.h"
#include "playback/UnitPowerManagement.h"
#include "playback/UnitSeekBitmap.h"
#include "playback/UnitVideoView.h"
#include "playback/UnitVideoZoomDialog.h"

namespace tachora {

namespace {

// The seek bar's share of a tick: the marker at the position.
class TSeekBarTick : public ITickListener {
 public:
  explicit TSeekBarTick(TSeekBitmap *seek) : seek_(seek) {}
  void PlaybackTick(const TTickState &state) override { seek_->ShowPosition(state.Position); }

 private:
  TSeekBitmap *seek_;
};

}  // namespace

const char *const kRendererItemNames[3] = {"N_Playback_Renderer_NUL", "N_Playback_Renderer_WMR",
                                           "N_Playback_Renderer_EVR"};

namespace {

struct TFitItem {
  const char *Name;
  TFitMode Mode;
};
const TFitItem kFitItems[] = {{"N_VideoZoom_Custom", TFitMode::Custom},
                              {"N_VideoZoom_Letterbox", TFitMode::Letterbox},
                              {"N_VideoZoom_PanAndScan", TFitMode::PanAndScan},
                              {"N_VideoZoom_Stretch", TFitMode::Stretch},
                              {"N_VideoZoom_NotLinear", TFitMode::NotLinear}};

// Items that become check marks here; their state is kept like every other
// option item's.
const char *const kToggleItems[] = {"N_View_Time_LoopAB", "N_VideoZoom_FlipV", "N_VideoZoom_FlipH"};

}  // namespace

TPlaybackController::TPlaybackController(QObject *parent, const TPlaybackPanel &panel,
                                         TCommands &commands)
    : QObject(parent),
      panel_(panel),
      commands_(commands),
      menu_(commands.Menu()),
      graph_(new TFilterGraph(this)),
      engine_(*graph_),
      timeline_(engine_, *this),
      power_(new TPowerManagement(this)) {
  clock_.start();
  QWidget *window = panel_.PanelVideo->window();
  Warn = [window](const QString &text) {
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tachora"), text,
                                QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  };

  // The seek bar draws into a picture widget inside the layout's place.
  seekImage_ = new TMyImage(panel_.ImageSeek);
  auto *seekLayout = new QVBoxLayout(panel_.ImageSeek);
  seekLayout->setContentsMargins(0, 0, 0, 0);
  seekLayout->addWidget(seekImage_);
  seek_ = new TSeekBitmap(seekImage_, this);
  seekListener_ = std::make_unique<TSeekBarTick>(seek_);
  AddTickListener(seekListener_.get(), TTickRank::kSeekBar);

  video_ = new TVideoView(panel_.PanelVideo, panel_.PanelZoomScroll->parentWidget(), *graph_, this);
  QList<QAction *> shortcuts;
  menu_->ForEachMainItem([&shortcuts](QAction *a) {
    if (!a->shortcut().isEmpty()) shortcuts << a;
  });
  video_->SetShortcutActions(shortcuts);

  for (const char *name : kToggleItems) {
    QAction *a = Item(name);
    a->setCheckable(true);
    a->setChecked(settings::MenuCheck(name, false).Get());
  }
  panel_.CheckBoxLoop->setChecked(Item("N_View_Time_LoopAB")->isChecked());

  ProbeRenderer();
  const TRenderer renderer = CheckedRenderer();
  graph_->SetRenderer(renderer);
  video_->SetRenderer(renderer);
  if (renderer == TRenderer::kSimple) graph_->SetWindow(video_->SurfaceWidget()->winId());
  WatchNativeSurface();
  for (const TFitItem &f : kFitItems)
    if (Item(f.Name)->isChecked()) video_->SetMode(f.Mode);
  video_->SetFlips(Item("N_VideoZoom_FlipV")->isChecked(), Item("N_VideoZoom_FlipH")->isChecked());
  channels_ = new TChannelView(panel_.PanelVideo, *video_, *graph_, engine_, this);
  channels_->SetRenderer(renderer);
  connect(channels_, &TChannelView::NativeWindowGoing, this,
          &TPlaybackController::NativeWindowGoing);
  connect(channels_, &TChannelView::NativeWindowBack, this, &TPlaybackController::NativeWindowBack);

  connect(&timer_, &QTimer::timeout, this, [this]() { Tick(true); });
  ApplyTickInterval();
  connect(graph_, &TFilterGraph::OpenError, this, &TPlaybackController::OnOpenError);
  connect(graph_, &TFilterGraph::FileReady, this, [this]() {
    video_->Apply();
    Tick(false);
  });

  panel_.PanelVideo->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(panel_.PanelVideo, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
    menu_->PopupMenuVideoWindow()->popup(panel_.PanelVideo->mapToGlobal(p));
  });
  connect(video_, &TVideoView::LeftClicked, this, [this]() {
    if (Item("N_Playback_PauseOnClick")->isChecked() && graph_->Active()) TogglePlay();
  });
  connect(video_, &TVideoView::FullScreenToggleRequested, this, [this](bool fromDoubleClick) {
    if (fromDoubleClick && Item("N_Playback_PauseOnClick")->isChecked()) return;
    SetFullScreen(!FullScreen());
  });
  connect(video_, &TVideoView::ZoomChanged, this, &TPlaybackController::UpdateZoomMenu);
  connect(video_, &TVideoView::CloseRequested, this, &TPlaybackController::CloseRequested);

  panel_.TrackBarVolume->setValue(std::clamp(settings::kVolume.Get(), 0, 100));
  graph_->SetVolume(panel_.TrackBarVolume->value() * 100);
  connect(panel_.TrackBarVolume, &QSlider::valueChanged, this, [this](int v) {
    settings::kVolume.Set(v);
    graph_->SetVolume(v * 100);
  });
  panel_.PanelControl->installEventFilter(this);

  WireSeekBar();
  BindCommands();
  BindZoomCommands();
  BindCameraCommands();
  UpdateZoomMenu();
  UpdateControls();
}

TPlaybackController::~TPlaybackController() {
  Shutdown();
}

QAction *TPlaybackController::Item(const char *name) const {
  return menu_->Item(QString::fromLatin1(name));
}

void TPlaybackController::AddTickListener(ITickListener *listener, TTickRank rank) {
  auto at = std::upper_bound(listeners_.begin(), listeners_.end(), rank,
                             [](TTickRank r, const auto &entry) { return r < entry.first; });
  listeners_.insert(at, {rank, listener});
}

void TPlaybackController::RemoveTickListener(ITickListener *listener) {
  std::erase_if(listeners_, [listener](const auto &e) { return e.second == listener; });
}

// ---- wiring ----------------------------------------------------------------------

void TPlaybackController::WireSeekBar() {
  connect(seek_, &TSeekBitmap::SeekRequested, this, [this](long double p) { Seek(p); });
  connect(seek_, &TSeekBitmap::DragMoved, this, [this](long double p) {
    timeline_.Drag(p);
    Tick(true);
  });
  connect(seek_, &TSeekBitmap::ViewChanged, this, [this]() {
    if (!syncingView_ && timeline_.Loaded()) {
      syncingView_ = true;
      timeline_.SetView(seek_->View());
      syncingView_ = false;
    }
    SyncScrollBar();
  });
  connect(seekImage_, &TMyImage::Resized, this, &TPlaybackController::SyncScrollBar);
  connect(panel_.ScrollBarZoom, &QScrollBar::valueChanged, this, [this](int v) {
    seek_->ScrollTo(v);
    Tick(false);
  });
  connect(panel_.ButtonZoomIn, &QToolButton::clicked, this, [this]() { TimeZoom(true); });
  connect(panel_.ButtonZoomOut, &QToolButton::clicked, this, [this]() { TimeZoom(false); });
}

void TPlaybackController::BindCommands() {
  TCommands &c = commands_;
  c.Bind("N_Playback_Play", [this]() { TogglePlay(); });
  // Esc leaves full screen first; in the main window it stops.
  c.Bind("N_Playback_Stop", [this]() { FullScreen() ? SetFullScreen(false) : Stop(); });
  c.Bind("N_FullScreen", [this]() { SetFullScreen(!FullScreen()); });
  c.Bind("N_Playback_PauseOnClick", []() {});
  c.Bind("N_Playback_Left", [this]() { Jump(false); });
  c.Bind("N_Playback_Right", [this]() { Jump(true); });
  c.Bind("N_Playback_Frame_Prev", [this]() { BackFrames(); });
  c.Bind("N_Playback_Frame_Next", [this]() { NextFrame(); });
  c.Bind("N_Playback_Event_Prev", [this]() { JumpToEvent(false); });
  c.Bind("N_Playback_Event_Next", [this]() { JumpToEvent(true); });
  for (const char *name : kRendererItemNames)
    c.Bind(name, [this]() { SwitchRenderer(CheckedRenderer()); });
  c.Bind("N_View_Time_ZoomIn", [this]() { TimeZoom(true); });
  c.Bind("N_View_Time_ZoomOut", [this]() { TimeZoom(false); });
  c.Bind("N_View_Time_SetA", [this]() { SetA(); });
  c.Bind("N_View_Time_SetB", [this]() { SetB(); });
  c.Bind("N_View_Time_LoopAB", [this]() { SetLoop(Item("N_View_Time_LoopAB")->isChecked()); });
  for (const char *name : {"N_View_Refresh_Slow", "N_View_Refresh_Norm", "N_View_Refresh_Fast"})
    c.Bind(name, [this]() { ApplyTickInterval(); });

  connect(panel_.ButtonPlay, &QToolButton::clicked, this, [this](bool down) { SetPlay(down); });
  connect(panel_.ButtonStop, &QToolButton::clicked, this, [this]() { Stop(); });
  connect(panel_.ButtonFramePrev, &QToolButton::clicked, this, [this]() { BackFrames(); });
  connect(panel_.ButtonFrameNext, &QToolButton::clicked, this, [this]() { NextFrame(); });
  connect(panel_.PlaySpeedGroup, &QButtonGroup::idClicked, this,
          [this](int tag) { SetSpeedTag(tag); });
  connect(panel_.CheckBoxLoop, &QCheckBox::clicked, this, [this](bool on) { SetLoop(on); });
}

void TPlaybackController::BindZoomCommands() {
  TCommands &c = commands_;
  for (const TFitItem &f : kFitItems)
    c.Bind(f.Name, [this, mode = f.Mode]() {
      video_->SetMode(mode);
      UpdateZoomMenu();
    });
  auto step = [this](bool in) {
    video_->ZoomStep(in);
    UpdateZoomMenu();
  };
  c.Bind("N_VideoZoom_ZoomIn", [step]() { step(true); });
  c.Bind("N_VideoZoom_ZoomOut", [step]() { step(false); });
  connect(panel_.ButtonVideoZoomIn, &QToolButton::clicked, this, [step]() { step(true); });
  connect(panel_.ButtonVideoZoomOut, &QToolButton::clicked, this, [step]() { step(false); });
  for (int preset : kZoomPresets)
    c.Bind(QStringLiteral("N_VideoZoom_%1").arg(preset), [this, preset]() {
      video_->ZoomToPercent(preset);
      UpdateZoomMenu();
    });
  c.Bind("N_VideoZoom_Other", [this]() {
    AskZoomPercentLater(panel_.PanelVideo->window(), video_->Zoom().Factor, [this](double percent) {
      video_->ZoomToPercent(percent);
      UpdateZoomMenu();
    });
  });
  auto flips = [this]() {
    video_->SetFlips(Item("N_VideoZoom_FlipV")->isChecked(),
                     Item("N_VideoZoom_FlipH")->isChecked());
  };
  c.Bind("N_VideoZoom_FlipV", flips);
  c.Bind("N_VideoZoom_FlipH", flips);
}

namespace {

struct TLayoutItem {
  const char *Name;
  TChannelLayout Layout;
};
const TLayoutItem kLayoutItems[] = {{"N_Playback_Cameras_PiP", TChannelLayout::kPictureInPicture},
                                    {"N_Playback_Cameras_Side", TChannelLayout::kSideBySide},
                                    {"N_Playback_Cameras_Main", TChannelLayout::kMainOnly}};

}  // namespace

void TPlaybackController::BindCameraCommands() {
  for (const TLayoutItem &l : kLayoutItems) {
    if (Item(l.Name)->isChecked()) channels_->SetLayout(l.Layout);
    commands_.Bind(l.Name, [this, layout = l.Layout]() { channels_->SetLayout(layout); });
  }
  commands_.Bind("N_Playback_Cameras_Swap", [this]() { channels_->Swap(); });
}

void TPlaybackController::ReleaseEngines() {
  engine_.Stop();
  engine_.Deactivate();
}

// ---- state shown by the controls ---------------------------------------------------

void TPlaybackController::UpdateControls() {
  const bool trip = row_ && timeline_.Loaded();
  const bool active = graph_->Active();
  const bool playing = timeline_.PlayDown();
  const bool paused = active && !playing;
  panel_.ButtonPlay->setEnabled(trip);
  panel_.ButtonPlay->setChecked(trip && playing);
  panel_.ButtonPlay->setIcon(GlyphIcon(playing ? TGlyph::Pause : TGlyph::Play, 45));
  panel_.ButtonStop->setEnabled(trip || active);
  panel_.PanelPlaySpeed->setEnabled(trip);
  panel_.CheckBoxLoop->setEnabled(trip);
  for (QToolButton *b : panel_.PlaySpeedButtons) b->setEnabled(trip);
  panel_.ButtonFramePrev->setEnabled(paused);
  panel_.ButtonFrameNext->setEnabled(paused);
  panel_.ButtonVideoZoomIn->setEnabled(true);
  panel_.ButtonVideoZoomOut->setEnabled(true);
  panel_.ButtonZoomIn->setEnabled(trip);
  panel_.ButtonZoomOut->setEnabled(trip);
  commands_.SetEnabled("N_Playback_Play", trip);
  commands_.SetEnabled("N_Playback_Stop", trip || active || FullScreen());
  commands_.SetEnabled("N_Playback_Frame_Prev", paused);
  commands_.SetEnabled("N_Playback_Frame_Next", paused);
  commands_.SetEnabled("N_Playback_Left", active);
  commands_.SetEnabled("N_Playback_Right", active);
  const bool events = trip && !seek_->Events().empty();
  commands_.SetEnabled("N_Playback_Cameras_Swap", channels_ && channels_->Count() > 1);
  commands_.SetEnabled("N_Playback_Event_Prev", events);
  commands_.SetEnabled("N_Playback_Event_Next", events);
  for (const char *name :
       {"N_View_Time_ZoomIn", "N_View_Time_ZoomOut", "N_View_Time_SetA", "N_View_Time_SetB"})
    commands_.SetEnabled(name, trip);
}

void TPlaybackController::UpdateCaption() {
  QWidget *window = panel_.PanelControl->window();
  if (!row_) {
    window->setWindowTitle(QStringLiteral("Tachora"));
    return;
  }
  const QString name = QString::fromStdString(row_->Row.Summary.DisplayName);
  window->setWindowTitle(name.isEmpty() ? QStringLiteral("Tachora") : name + " - Tachora");
}

void TPlaybackController::UpdateZoomMenu() {
  const TVideoZoom &z = video_->Zoom();
  for (const TFitItem &f : kFitItems)
    if (f.Mode == z.Mode && !Item(f.Name)->isChecked()) menu_->SetMenuChecked(Item(f.Name), true);
  QAction *custom = Item("N_VideoZoom_Custom");
  QString caption = L("N_VideoZoom_Custom");
  if (z.Mode == TFitMode::Custom) caption += QString::fromStdString(CustomZoomSuffix(z.Factor));
  TMainMenu::SetCaption(custom, caption);
  menu_->SyncMenuCopies(custom);
  TVideoSurface *s = video_->Surface();
  const bool nonLinear = s && s->CanNonLinear();
  const bool flip = s && s->CanFlip();
  commands_.SetEnabled("N_VideoZoom_NotLinear", nonLinear);
  commands_.SetEnabled("N_VideoZoom_FlipV", flip);
  commands_.SetEnabled("N_VideoZoom_FlipH", flip);
  TMainMenu::SetCaption(Item("N_VideoZoom_NotLinear"), L("N_VideoZoom_NotLinear"));
  TMainMenu::SetCaption(Item("N_VideoZoom_FlipV"), L("N_VideoZoom_FlipV"));
  TMainMenu::SetCaption(Item("N_VideoZoom_FlipH"), L("N_VideoZoom_FlipH"));
  menu_->SetMenuSuffix(Item("N_VideoZoom_NotLinear"), L("EVROnly"), !nonLinear);
  menu_->SetMenuSuffix(Item("N_VideoZoom_FlipV"), L("VMROnly"), !flip);
  menu_->SetMenuSuffix(Item("N_VideoZoom_FlipH"), L("VMROnly"), !flip);
  for (const char *name : {"N_VideoZoom_NotLinear", "N_VideoZoom_FlipV", "N_VideoZoom_FlipH"})
    menu_->SyncMenuCopies(Item(name));
}

void TPlaybackController::SyncScrollBar() {
  QScrollBar *bar = panel_.ScrollBarZoom;
  const QSignalBlocker block(bar);
  const TZoomScroll s = seek_->ZoomScroll();
  bar->setEnabled(s.Enabled && timeline_.Loaded());
  bar->setRange(0, s.Enabled ? s.Maximum() : 0);
  bar->setPageStep(s.Page);
  bar->setSingleStep(std::max(1, s.Page / 10));
  bar->setValue(s.Enabled ? s.Position : 0);
}

void TPlaybackController::ApplyTickInterval() {
  int ms = kTickFastMs;
  if (Item("N_View_Refresh_Slow")->isChecked()) ms = kTickSlowMs;
  if (Item("N_View_Refresh_Norm")->isChecked()) ms = kTickNormalMs;
  timer_.setInterval(ms);
}

void TPlaybackController::Translate() {
  panel_.TrackBarVolume->setToolTip(L("Volume"));
  panel_.PanelPlaySpeed->setToolTip(L("PlaySpeed"));
  for (QToolButton *b : panel_.PlaySpeedButtons) b->setToolTip(L("PlaySpeed"));
  panel_.CheckBoxLoop->setText(L("N_View_Time_LoopAB"));
  panel_.CheckBoxLoop->adjustSize();
  panel_.CheckBoxLoop->setToolTip(L("N_View_Time_LoopABHint"));
  auto plain = [](QAction *a) { return TMainMenu::Caption(a).section('\t', 0, 0).trimmed(); };
  panel_.ButtonVideoZoomIn->setToolTip(plain(Item("N_VideoZoom_ZoomIn")) + " (+)");
  panel_.ButtonVideoZoomOut->setToolTip(plain(Item("N_VideoZoom_ZoomOut")) + " (-)");
  for (auto [button, name] : {std::pair{panel_.ButtonFramePrev, "N_Playback_Frame_Prev"},
                              std::pair{panel_.ButtonFrameNext, "N_Playback_Frame_Next"}}) {
    QAction *a = Item(name);
    button->setToolTip(plain(a) + " (" + a->shortcut().toString(QKeySequence::NativeText) + ")");
  }
  panel_.ButtonPlay->setToolTip(plain(Item("N_Playback_Play")));
  panel_.ButtonStop->setToolTip(plain(Item("N_Playback_Stop")));
  panel_.ButtonZoomIn->setToolTip(plain(Item("N_View_Time_ZoomIn")));
  panel_.ButtonZoomOut->setToolTip(plain(Item("N_View_Time_ZoomOut")));
  // Hints stay up for five seconds.
  for (QWidget *w : panel_.PanelControl->findChildren<QWidget *>()) w->setToolTipDuration(5000);
  for (QWidget *w : {panel_.ButtonZoomIn, panel_.ButtonZoomOut}) w->setToolTipDuration(5000);
  UpdateZoomMenu();
}

}  // namespace tachora
