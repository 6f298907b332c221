#include "playback/UnitChannelView.h"

#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "playback/UnitVideoSurface.h"
#include "playback/UnitVideoView.h"

namespace tachora {

// ---- geometry ------------------------------------------------------------------

namespace {

QSize Or169(QSize size) {
  return size.isEmpty() ? QSize(16, 9) : size;
}

}  // namespace

std::vector<QRect> PlaceChannels(TChannelLayout layout, const QRect &area,
                                 const std::vector<QSize> &sizes, TCorner corner,
                                 int insetPercent) {
  const int n = static_cast<int>(sizes.size());
  std::vector<QRect> rects(sizes.size());
  if (n == 0 || area.isEmpty()) return rects;
  switch (layout) {
    case TChannelLayout::kMainOnly:
      rects[0] = area;
      break;
    case TChannelLayout::kSideBySide:
      for (int i = 0; i < n; ++i) {
        const int x0 = area.left() + area.width() * i / n;
        const int x1 = area.left() + area.width() * (i + 1) / n;
        rects[static_cast<size_t>(i)] = QRect(x0, area.top(), x1 - x0, area.height());
      }
      break;
    case TChannelLayout::kPictureInPicture: {
      rects[0] = area;
      // The insets sit on the big picture itself, not on the black bars
      // beside a letterboxed one.
      const QRect picture = FitRect(Or169(sizes[0]), area).toRect().intersected(area);
      const int percent =
          std::clamp(insetPercent, TChannelView::kMinInset, TChannelView::kMaxInset);
      const int margin = std::max(4, picture.width() / 50);
      const int w = std::max(1, picture.width() * percent / 100);
      const bool right = corner == TCorner::kTopRight || corner == TCorner::kBottomRight;
      const bool bottom = corner == TCorner::kBottomLeft || corner == TCorner::kBottomRight;
      const int x = right ? picture.right() + 1 - margin - w : picture.left() + margin;
      // A third camera stacks beside the second, towards the middle.
      int y = bottom ? picture.bottom() + 1 - margin : picture.top() + margin;
      for (int i = 1; i < n; ++i) {
        const QSize s = Or169(sizes[static_cast<size_t>(i)]);
        const int h =
            std::max(1, static_cast<int>(std::lround(double(w) * s.height() / s.width())));
        const QRect r(x, bottom ? y - h : y, w, h);
        rects[static_cast<size_t>(i)] = r;
        y = bottom ? r.top() - margin : r.bottom() + 1 + margin;
      }
      break;
    }
  }
  return rects;
}

TCorner NearestCorner(const QPoint &point, const QRect &picture) {
  const QPoint c = picture.center();
  const bool right = point.x() >= c.x(), bottom = point.y() >= c.y();
  if (bottom) return right ? TCorner::kBottomRight : TCorner::kBottomLeft;
  return right ? TCorner::kTopRight : TCorner::kTopLeft;
}

QString CameraName(const std::string &label) {
  if (label == "F") return L("Camera_Front");
  if (label == "R") return L("Camera_Rear");
  if (label == "I") return L("Camera_Interior");
  return L("Camera_Other") + " " + QString::fromStdString(label);
}

// ---- the view --------------------------------------------------------------------

TChannelView::TChannelView(QFrame *panel, TVideoView &video, TFilterGraph &main, TChannelSync &sync,
                           QObject *parent)
    : QObject(parent), panel_(panel), video_(video), main_(main), sync_(sync) {
  layout_ = TChannelLayout::kPictureInPicture;
  corner_ = static_cast<TCorner>(std::clamp(settings::kInsetCorner.Get(), 0, 3));
  inset_ = std::clamp(settings::kInsetSize.Get(), kMinInset, kMaxInset);
  follow_.setInterval(kFollowMs);
  connect(&follow_, &QTimer::timeout, this, &TChannelView::FollowTick);
  connect(&main_, &TFilterGraph::VideoSizeChanged, this, &TChannelView::Relayout);
  // Installed after the video view's filter, so this one sees a resize first
  // and hands the main picture its area before the view places it.
  panel_->installEventFilter(this);
  if (QWidget *w = video_.SurfaceWidget()) Watch(w);
}

TChannelView::~TChannelView() {
  ClearTrip();
}

void TChannelView::Watch(QWidget *w) {
  w->removeEventFilter(this);
  w->installEventFilter(this);
}

void TChannelView::SetTrip(const TFileItem &row) {
  ClearTrip();
  sync_.SetTrip(row);
  std::vector<TPlayerEngine *> engines;
  for (const std::string &label : sync_.Slots()) {
    const int slot = static_cast<int>(followers_.size());
    TFollowerView f;
    f.Graph = std::make_unique<TFilterGraph>();
    f.Graph->SetRenderer(renderer_);
    // Only the main recording is heard.
    f.Graph->SetOption("aid", "no");
    f.Label = label;
    f.Note = new QLabel(panel_);
    f.Note->setAlignment(Qt::AlignCenter);
    f.Note->setWordWrap(true);
    f.Note->setAutoFillBackground(true);
    QPalette pal = f.Note->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    f.Note->setPalette(pal);
    f.Note->hide();
    Watch(f.Note);
    connect(f.Graph.get(), &TFilterGraph::OpenError, this,
            [this, slot](const QString &path, TOpenError) {
              followers_[static_cast<size_t>(slot)].FailedPath = path.toStdString();
              UpdateNotes();
            });
    connect(f.Graph.get(), &TFilterGraph::VideoSizeChanged, this, &TChannelView::Relayout);
    engines.push_back(f.Graph.get());
    followers_.push_back(std::move(f));
    MakeSurface(slot);
  }
  sync_.SetFollowers(engines);
  big_ = 0;
  if (!followers_.empty()) follow_.start();
  Relayout();
  emit LayoutChanged();
}

void TChannelView::ClearTrip() {
  follow_.stop();
  dragging_ = -1;
  // After Shutdown the engine and the video view may be gone already.
  if (!shutDown_) {
    sync_.SetFollowers({});
    sync_.ClearTrip();
  }
  for (TFollowerView &f : followers_) {
    f.Graph->disconnect(this);
    // The surface lets go of the render context before the player goes.
    delete f.Widget;
    delete f.Note;
    f.Graph.reset();
  }
  followers_.clear();
  rects_.clear();
  big_ = 0;
  if (shutDown_) return;
  video_.SetArea({});
  if (QWidget *w = video_.SurfaceWidget()) w->show();
}

void TChannelView::MakeSurface(int slot) {
  TFollowerView &f = followers_[static_cast<size_t>(slot)];
  f.Surface = CreateVideoSurface(renderer_, *f.Graph, panel_);
  QWidget *w = f.Surface->Widget();
  f.Widget = w;
  w->setContextMenuPolicy(Qt::NoContextMenu);
  Watch(w);
  if (auto *native = qobject_cast<TNativeSurface *>(w)) {
    f.Graph->SetWindow(static_cast<quint64>(w->winId()));
    connect(native, &TNativeSurface::WindowGoing, this, &TChannelView::NativeWindowGoing);
    connect(native, &TNativeSurface::WindowBack, this, &TChannelView::NativeWindowBack);
  }
  w->show();
}

void TChannelView::SetRenderer(TRenderer renderer) {
  if (QWidget *w = video_.SurfaceWidget()) Watch(w);
  if (renderer == renderer_) return;
  renderer_ = renderer;
  for (int slot = 0; slot < static_cast<int>(followers_.size()); ++slot) {
    TFollowerView &f = followers_[static_cast<size_t>(slot)];
    f.Graph->Deactivate();
    delete f.Widget;
    f.Surface = nullptr;
    f.Graph->SetRenderer(renderer);
    MakeSurface(slot);
  }
  Relayout();
}

void TChannelView::Shutdown() {
  shutDown_ = true;
  follow_.stop();
  for (TFollowerView &f : followers_) f.Graph->disconnect(this);
  disconnect(&main_, nullptr, this, nullptr);
}

// ---- choices -------------------------------------------------------------------

void TChannelView::SetLayout(TChannelLayout layout) {
  if (layout == layout_) return;
  layout_ = layout;
  Relayout();
  emit LayoutChanged();
}

void TChannelView::SetCorner(TCorner corner) {
  corner_ = corner;
  settings::kInsetCorner.Set(static_cast<int>(corner));
  Relayout();
}

void TChannelView::SetInsetPercent(int percent) {
  inset_ = std::clamp(percent, kMinInset, kMaxInset);
  settings::kInsetSize.Set(inset_);
  Relayout();
}

void TChannelView::Swap() {
  if (Count() < 2) return;
  big_ = (big_ + 1) % Count();
  Relayout();
  emit LayoutChanged();
}

TFilterGraph *TChannelView::Follower(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(followers_.size())) return nullptr;
  return followers_[static_cast<size_t>(slot)].Graph.get();
}

QWidget *TChannelView::FollowerWidget(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(followers_.size())) return nullptr;
  return followers_[static_cast<size_t>(slot)].Widget;
}

QLabel *TChannelView::Note(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(followers_.size())) return nullptr;
  return followers_[static_cast<size_t>(slot)].Note;
}

QRect TChannelView::PictureRect(int index) const {
  if (index < 0 || index >= static_cast<int>(rects_.size())) return {};
  return rects_[static_cast<size_t>(index)];
}

bool TChannelView::IsInset(int index) const {
  return layout_ == TChannelLayout::kPictureInPicture && index != big_ && index >= 0 &&
         index < Count();
}

// ---- placing -------------------------------------------------------------------

QWidget *TChannelView::PictureWidget(int index) const {
  return index == 0 ? video_.SurfaceWidget() : FollowerWidget(index - 1);
}

QSize TChannelView::PictureSize(int index) const {
  if (index == 0) return main_.VideoSize();
  const TFilterGraph *g = Follower(index - 1);
  const QSize s = g ? g->VideoSize() : QSize();
  // A camera without a picture takes the main picture's shape.
  return s.isEmpty() ? main_.VideoSize() : s;
}

int TChannelView::PictureOf(const QObject *widget) const {
  if (!widget) return -1;
  if (widget == video_.SurfaceWidget()) return 0;
  for (int i = 0; i < static_cast<int>(followers_.size()); ++i)
    if (widget == FollowerWidget(i) || widget == followers_[static_cast<size_t>(i)].Note)
      return i + 1;
  return -1;
}

void TChannelView::MovePicture(int index, const QRect &rect) {
  if (index == 0) {
    video_.SetArea(rect);
    return;
  }
  const TFollowerView &f = followers_[static_cast<size_t>(index - 1)];
  if (QWidget *w = FollowerWidget(index - 1)) w->setGeometry(rect);
  if (f.Note) f.Note->setGeometry(rect);
}

void TChannelView::Relayout() {
  if (!panel_ || shutDown_) return;
  if (followers_.empty()) {
    video_.SetArea({});
    return;
  }
  std::vector<int> order{big_};
  for (int i = 0; i < Count(); ++i)
    if (i != big_) order.push_back(i);
  std::vector<QSize> sizes;
  for (int i : order) sizes.push_back(PictureSize(i));
  const std::vector<QRect> placed =
      PlaceChannels(layout_, panel_->contentsRect(), sizes, corner_, inset_);
  rects_.assign(static_cast<size_t>(Count()), QRect());
  for (size_t k = 0; k < order.size(); ++k) rects_[static_cast<size_t>(order[k])] = placed[k];

  // The main player keeps playing when hidden: it is the clock.
  if (QWidget *w = video_.SurfaceWidget()) w->setVisible(!rects_[0].isEmpty());
  if (!rects_[0].isEmpty()) video_.SetArea(rects_[0]);
  for (int slot = 0; slot < static_cast<int>(followers_.size()); ++slot) {
    const QRect &r = rects_[static_cast<size_t>(slot + 1)];
    // A camera not shown is not decoded either.
    sync_.SetFollowerEnabled(slot, !r.isEmpty());
    MovePicture(slot + 1, r);
  }
  UpdateNotes();
  // The insets above the big picture.
  for (size_t k = 1; k < order.size(); ++k) {
    if (QWidget *w = PictureWidget(order[k])) w->raise();
    if (order[k] > 0) {
      if (QLabel *note = Note(order[k] - 1)) note->raise();
    }
  }
  const QString hint = L("Camera_InsetHint");
  for (int i = 0; i < Count(); ++i)
    if (QWidget *w = PictureWidget(i)) w->setToolTip(IsInset(i) ? hint : QString());
}

QString TChannelView::NoteText(int slot) const {
  const TFollowerView &f = followers_[static_cast<size_t>(slot)];
  // Before anything is loaded every picture is black alike.
  if (!main_.HasSeeking()) return {};
  const QString name = CameraName(f.Label);
  const std::string path = sync_.FollowerPath(slot);
  const QString noRecording = name + ": " + L("Camera_NoRecording");
  if (path.empty() || sync_.FollowerPastEnd(slot)) return noRecording;
  if (f.FailedPath != path || f.Graph->HasSeeking()) return {};
  // A file that is not there (deleted, another card) is no recording; one
  // that is there but does not play is named.
  const QFileInfo file(QString::fromStdString(path));
  if (!file.exists()) return noRecording;
  return name + ": " + L("Camera_CannotOpen") + "\n" + file.fileName();
}

void TChannelView::UpdateNotes() {
  for (int slot = 0; slot < static_cast<int>(followers_.size()); ++slot) {
    TFollowerView &f = followers_[static_cast<size_t>(slot)];
    if (!f.Note) continue;
    const QRect r = PictureRect(slot + 1);
    const QString text = NoteText(slot);
    const bool note = !text.isEmpty() && !r.isEmpty();
    if (f.Note->text() != text) f.Note->setText(text);
    if (f.Note->isVisible() != note) {
      f.Note->setVisible(note);
      if (note) f.Note->raise();
    }
    // A native surface would cover the note: it goes while the note shows.
    if (QWidget *w = FollowerWidget(slot)) {
      const bool picture = !note && !r.isEmpty();
      if (w->isVisible() != picture) w->setVisible(picture);
    }
  }
}

void TChannelView::FollowTick() {
  if (!main_.Active()) return;
  if (main_.FrameRate() > 0) sync_.SetFrameTicks(std::llround(kTicksPerSecond / main_.FrameRate()));
  sync_.Follow();
  UpdateNotes();
}

// ---- mouse -----------------------------------------------------------------------

bool TChannelView::eventFilter(QObject *watched, QEvent *event) {
  if (watched == panel_) {
    if (event->type() == QEvent::Resize) Relayout();
    return QObject::eventFilter(watched, event);
  }
  const int index = PictureOf(watched);
  if (index < 0 || followers_.empty()) return QObject::eventFilter(watched, event);
  const bool inset = IsInset(index);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto *m = static_cast<QMouseEvent *>(event);
      if (m->button() == Qt::LeftButton && inset) {
        dragging_ = index;
        dragStart_ = m->globalPosition().toPoint();
        dragRect_ = PictureRect(index);
        return true;
      }
      if (index == 0) break;  // the video view's
      if (m->button() == Qt::LeftButton) emit video_.LeftClicked();
      if (m->button() == Qt::RightButton && panel_)
        emit panel_->customContextMenuRequested(
            panel_->mapFromGlobal(m->globalPosition().toPoint()));
      return true;
    }
    case QEvent::MouseMove:
      if (dragging_ == index) {
        const QPoint d = static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - dragStart_;
        QRect r = dragRect_.translated(d);
        const QRect whole = panel_->contentsRect();
        r.moveLeft(
            std::clamp(r.left(), whole.left(), std::max(whole.left(), whole.right() - r.width())));
        r.moveTop(
            std::clamp(r.top(), whole.top(), std::max(whole.top(), whole.bottom() - r.height())));
        MovePicture(index, r);
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      if (dragging_ == index && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        dragging_ = -1;
        const QPoint d = static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - dragStart_;
        const QRect big = FitRect(Or169(PictureSize(big_)), PictureRect(big_)).toRect();
        SetCorner(NearestCorner(dragRect_.translated(d).center(), big));
        return true;
      }
      break;
    case QEvent::MouseButtonDblClick:
      if (inset) {
        // The inset becomes the big picture.
        while (big_ != index) Swap();
        return true;
      }
      if (index != 0) {
        emit video_.FullScreenToggleRequested(true);
        return true;
      }
      break;
    case QEvent::Wheel:
      if (inset) {
        const int steps = static_cast<QWheelEvent *>(event)->angleDelta().y() / 120;
        if (steps != 0) SetInsetPercent(inset_ + steps * kInsetStep);
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tachora
