#include "playback/UnitVideoView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace tachora {

namespace {

// The borderless window that holds the video panel in full screen. Closing
// it (the desktop's close shortcut) closes the program, as the main window.
class TFullScreenWindow : public QWidget {
 public:
  explicit TFullScreenWindow(TVideoView *view) : view_(view) {
    setObjectName(QStringLiteral("FormFullScreen"));
    setWindowFlag(Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Full Screen - Tachora"));
    // Black around the picture; a palette, not a style sheet, so that the
    // seek bar and graphs sliding in keep their own look.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    auto *lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
  }

 protected:
  void closeEvent(QCloseEvent *event) override {
    event->ignore();
    emit view_->CloseRequested();
  }

 private:
  TVideoView *view_;
};

QRectF ToQt(const TRectF &r) {
  return QRectF(r.Left, r.Top, r.Width(), r.Height());
}

}  // namespace

TVideoView::TVideoView(QFrame *panel, QWidget *bottom, TFilterGraph &graph, QObject *parent)
    : QObject(parent), panel_(panel), bottom_(bottom), graph_(graph) {
  splitter_ = Splitter();
  hideTimer_.setSingleShot(true);
  hideTimer_.setInterval(kPointerHideMs);
  connect(&hideTimer_, &QTimer::timeout, this, &TVideoView::HidePointer);
  Watch(panel_);
  // The black placeholder of the layout gives way to the renderer's surface.
  for (QWidget *w : panel_->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) w->hide();
  connect(&graph_, &TFilterGraph::VideoSizeChanged, this, &TVideoView::Apply);
}

TVideoView::~TVideoView() {
  // The panels go back to the main window before the full-screen window goes.
  if (fullWindow_ && panel_) SetFullScreen(false);
}

QSplitter *TVideoView::Splitter() const {
  return qobject_cast<QSplitter *>(panel_->parentWidget());
}

void TVideoView::Watch(QWidget *w) {
  w->setMouseTracking(true);
  w->installEventFilter(this);
}

void TVideoView::SetRenderer(TRenderer renderer) {
  if (surface_ && surface_->Renderer() == renderer) return;
  if (surface_) delete surface_->Widget();
  surface_ = CreateVideoSurface(renderer, graph_, panel_);
  QWidget *w = surface_->Widget();
  // Mouse and context menu belong to the panel around the picture.
  w->setContextMenuPolicy(Qt::NoContextMenu);
  w->setFocusPolicy(Qt::StrongFocus);
  Watch(w);
  w->setGeometry(panel_->contentsRect());
  w->show();
  SetFlips(flipV_, flipH_);
  if (!surface_->CanNonLinear() && zoom_.Mode == TFitMode::NotLinear)
    zoom_.Mode = TFitMode::Stretch;
  Apply();
}

// ---- zoom --------------------------------------------------------------------

void TVideoView::SetMode(TFitMode mode) {
  if (mode == TFitMode::NotLinear && surface_ && !surface_->CanNonLinear())
    mode = TFitMode::Stretch;
  zoom_.Mode = mode;
  Apply();
}

void TVideoView::SetArea(const QRect &area) {
  if (area == area_) return;
  area_ = area;
  Apply();
}

QRect TVideoView::Area() const {
  const QRect whole = panel_ ? panel_->contentsRect() : QRect();
  return area_.isEmpty() ? whole : area_.intersected(whole);
}

void TVideoView::ZoomStep(bool zoomIn, double step) {
  const QSize v = graph_.VideoSize();
  const QRect r = Area();
  tachora::ZoomStep(zoom_, zoomIn, step, {v.width(), v.height()}, {r.width(), r.height()});
  Apply();
}

void TVideoView::ZoomToPercent(double percent) {
  tachora::ZoomToPercent(zoom_, percent);
  Apply();
}

void TVideoView::SetFlips(bool vertical, bool horizontal) {
  flipV_ = vertical;
  flipH_ = horizontal;
  if (surface_)
    surface_->SetFlip(vertical && surface_->CanFlip(), horizontal && surface_->CanFlip());
}

void TVideoView::Apply() {
  if (!surface_ || !panel_) return;
  const QRect r = Area();
  const QSize v = graph_.VideoSize();
  TRectI panel{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
  placement_ = PlaceVideo(zoom_, {v.width(), v.height()}, panel);
  QWidget *w = surface_->Widget();
  switch (zoom_.Mode) {
    case TFitMode::Stretch:
      surface_->SetAspectMode(TAspectMode::kStretch);
      break;
    case TFitMode::NotLinear:
      surface_->SetAspectMode(TAspectMode::kNonLinear);
      break;
    default:
      surface_->SetAspectMode(TAspectMode::kKeep);
      break;
  }
  if (placement_.Known && !placement_.Visible.Empty()) {
    const TRectI &vis = placement_.Visible;
    w->setGeometry(vis.Left, vis.Top, vis.Width(), vis.Height());
    surface_->SetSource(ToQt(placement_.Source));
  } else {
    w->setGeometry(r);
    surface_->SetSource(QRectF(0, 0, 1, 1));
  }
  graph_.SetKeepAspect(zoom_.Mode != TFitMode::Stretch && zoom_.Mode != TFitMode::NotLinear);
}

// ---- full screen ---------------------------------------------------------------

void TVideoView::SetFullScreen(bool on) {
  if (on == FullScreen()) return;
  ShowPointer();
  if (on) {
    if (splitter_) splitterSizes_ = splitter_->sizes();
    if (!fullWindow_) {
      fullWindow_ = std::make_unique<TFullScreenWindow>(this);
      fullWindow_->addActions(actions_);
    }
    QWidget *main = panel_->window();
    QScreen *screen = main ? main->screen() : QGuiApplication::primaryScreen();
    fullWindow_->layout()->addWidget(panel_);
    panelInFull_ = true;
    panel_->setFrameShape(QFrame::NoFrame);
    panel_->show();
    if (screen) fullWindow_->setGeometry(screen->geometry());
    fullWindow_->showFullScreen();
    fullWindow_->activateWindow();
  } else {
    SlideBottom(false);
    if (splitter_) {
      splitter_->insertWidget(0, panel_);
      if (!splitterSizes_.isEmpty()) splitter_->setSizes(splitterSizes_);
    }
    panelInFull_ = false;
    panel_->setFrameShape(QFrame::Box);
    panel_->show();
    if (fullWindow_) fullWindow_->hide();
    if (QWidget *main = panel_->window()) {
      main->raise();
      main->activateWindow();
    }
  }
  Apply();
  emit FullScreenChanged(on);
}

void TVideoView::SlideBottom(bool in) {
  if (!bottom_ || in == bottomInFull_) return;
  if (in) {
    if (!fullWindow_ || !panelInFull_) return;
    fullWindow_->layout()->addWidget(bottom_);
    bottomInFull_ = true;
  } else {
    if (splitter_) {
      splitter_->insertWidget(panelInFull_ ? 0 : 1, bottom_);
    }
    bottomInFull_ = false;
  }
  bottom_->show();
  Apply();
}

// ---- pointer -------------------------------------------------------------------

void TVideoView::SetPlaying(bool playing) {
  playing_ = playing;
  if (playing)
    hideTimer_.start();
  else {
    hideTimer_.stop();
    ShowPointer();
  }
}

void TVideoView::ShowPointer() {
  if (!pointerHidden_) return;
  pointerHidden_ = false;
  panel_->unsetCursor();
  if (QWidget *w = SurfaceWidget()) w->unsetCursor();
}

void TVideoView::HidePointer() {
  hideTimer_.stop();
  pointerHidden_ = true;
  panel_->setCursor(Qt::BlankCursor);
  if (QWidget *w = SurfaceWidget()) w->setCursor(Qt::BlankCursor);
}

void TVideoView::PointerMoved(const QPoint &global, QWidget *over) {
  (void)over;
  if (FullScreen()) {
    const int y = panel_->mapFromGlobal(global).y();
    if (y >= panel_->height() - kBottomShowPixels)
      SlideBottom(true);
    else if (y < panel_->height() - kBottomHidePixels)
      SlideBottom(false);
  }
  if (dragging_) {
    const TRectI &d = placement_.Dest;
    PanBy(zoom_, global.x() - last_.x(), global.y() - last_.y(), {d.Width(), d.Height()});
    last_ = global;
    Apply();
  }
  ShowPointer();
  if (playing_) hideTimer_.start();
}

bool TVideoView::eventFilter(QObject *watched, QEvent *event) {
  auto *widget = qobject_cast<QWidget *>(watched);
  const bool surface = widget && widget == SurfaceWidget();
  if (!widget || (widget != panel_ && !surface)) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Resize:
      if (widget == panel_) Apply();
      break;
    case QEvent::MouseButtonPress: {
      auto *m = static_cast<QMouseEvent *>(event);
      if (m->button() == Qt::LeftButton) {
        if (zoom_.Mode == TFitMode::Custom) {
          dragging_ = true;
          last_ = m->globalPosition().toPoint();
        } else {
          emit LeftClicked();
        }
        return true;
      }
      if (m->button() == Qt::MiddleButton) {
        emit FullScreenToggleRequested(false);
        return true;
      }
      if (m->button() == Qt::RightButton && surface) {
        // The panel's pop-up menu, wherever the picture covers it.
        emit panel_->customContextMenuRequested(
            panel_->mapFromGlobal(m->globalPosition().toPoint()));
        return true;
      }
      break;
    }
    case QEvent::MouseMove:
      PointerMoved(static_cast<QMouseEvent *>(event)->globalPosition().toPoint(), widget);
      break;
    case QEvent::MouseButtonRelease:
      if (dragging_ && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        dragging_ = false;
        Apply();
        emit ZoomChanged();
        return true;
      }
      break;
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        emit FullScreenToggleRequested(true);
        return true;
      }
      break;
    case QEvent::Wheel: {
      const int steps = static_cast<QWheelEvent *>(event)->angleDelta().y() / 120;
      if (steps != 0) {
        for (int i = 0; i < std::abs(steps); ++i) ZoomStep(steps > 0, kWheelZoomStep);
        emit ZoomChanged();
      }
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tachora
