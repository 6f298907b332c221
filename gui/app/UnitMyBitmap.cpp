#include "app/UnitMyBitmap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace tachora {

// ---- repaints with the video's frames ----------------------------------------

namespace {

class TRepaintGate : public QObject {
 public:
  static TRepaintGate &Instance() {
    static QPointer<TRepaintGate> gate;
    if (!gate) gate = new TRepaintGate(QCoreApplication::instance());
    return *gate;
  }
  void Frame() {
    lastFrame_.start();
    Flush();
  }
  void Request(TMyImage *image) {
    if (!lastFrame_.isValid() || lastFrame_.elapsed() >= kPictureHoldMs) {
      image->RepaintChanged();
      return;
    }
    if (std::find(pending_.begin(), pending_.end(), image) == pending_.end())
      pending_.emplace_back(image);
    if (!timer_.isActive()) timer_.start(kPictureHoldMs);
  }

 private:
  explicit TRepaintGate(QObject *parent) : QObject(parent) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TRepaintGate::Flush);
  }
  void Flush() {
    timer_.stop();
    for (const QPointer<TMyImage> &image : pending_)
      if (image) image->RepaintChanged();
    pending_.clear();
  }
  QElapsedTimer lastFrame_;
  QTimer timer_;
  std::vector<QPointer<TMyImage>> pending_;
};

}  // namespace

void VideoFrameArriving() {
  TRepaintGate::Instance().Frame();
}

QRect ChangedPixels(const QImage &now, const QImage &before) {
  if (now.size() != before.size() || now.format() != before.format() || now.depth() != 32)
    return now.rect();
  const int w = now.width(), h = now.height();
  const size_t rowBytes = static_cast<size_t>(w) * 4;
  int top = 0, bottom = h - 1;
  while (top < h && std::memcmp(now.constScanLine(top), before.constScanLine(top), rowBytes) == 0)
    ++top;
  if (top == h) return {};
  while (bottom > top &&
         std::memcmp(now.constScanLine(bottom), before.constScanLine(bottom), rowBytes) == 0)
    --bottom;
  int left = w, right = -1;
  for (int y = top; y <= bottom; ++y) {
    const auto *a = reinterpret_cast<const quint32 *>(now.constScanLine(y));
    const auto *b = reinterpret_cast<const quint32 *>(before.constScanLine(y));
    int x = 0;
    while (x < left && a[x] == b[x]) ++x;
    left = std::min(left, x);
    int r = w - 1;
    while (r > right && a[r] == b[r]) --r;
    right = std::max(right, r);
  }
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

// ---- TMyImage -------------------------------------------------------------

TMyImage::TMyImage(QWidget *parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

qreal TMyImage::PixelRatio() const {
  return forcedRatio_ > 0 ? forcedRatio_ : devicePixelRatioF();
}

void TMyImage::SetPixelRatio(qreal ratio) {
  forcedRatio_ = ratio > 0 ? ratio : 0;
  CheckPixelRatio();
}

void TMyImage::CheckPixelRatio() {
  const qreal ratio = PixelRatio();
  if (ratio == shownRatio_) return;
  const bool first = shownRatio_ == 0;
  shownRatio_ = ratio;
  if (first && !picture_.isNull() && picture_.devicePixelRatio() == ratio) return;
  emit PixelRatioChanged();
  emit Resized();
}

bool TMyImage::event(QEvent *event) {
  // Qt tells widgets of a new screen (and, from 6.6, of a new ratio on the
  // same screen); the window's own signal covers the rest.
  switch (event->type()) {
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
    {
      const bool done = QWidget::event(event);
      CheckPixelRatio();
      return done;
    }
    default:
      return QWidget::event(event);
  }
}

void TMyImage::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  QWindow *window = this->window()->windowHandle();
  if (window && !watchingWindow_) {
    watchingWindow_ = true;
    connect(window, &QWindow::screenChanged, this, [this] { CheckPixelRatio(); });
  }
  CheckPixelRatio();
}

void TMyImage::SetPicture(const QImage &picture) {
  picture_ = picture;
  changed_ = rect();
  update();
}

QSize TMyImage::sizeHint() const {
  if (picture_.isNull()) return QWidget::sizeHint();
  return (QSizeF(picture_.size()) / picture_.devicePixelRatio()).toSize();
}

void TMyImage::UpdateIfChanged() {
  QRect changed = rect();
  if (!shown_.isNull() && shown_.devicePixelRatio() == picture_.devicePixelRatio()) {
    const QRect device = ChangedPixels(picture_, shown_);
    // In logical pixels, a pixel wider for a ratio that is not whole.
    const qreal ratio = picture_.devicePixelRatio();
    changed = device.isEmpty() ? QRect()
                               : QRectF(device.x() / ratio, device.y() / ratio,
                                        device.width() / ratio, device.height() / ratio)
                                         .toAlignedRect()
                                         .adjusted(-1, -1, 1, 1) &
                                     rect();
  }
  if (changed.isEmpty() && !updatePending_) return;
  changed_ |= changed;
  updatePending_ = true;
  TRepaintGate::Instance().Request(this);
}

void TMyImage::RepaintChanged() {
  if (changed_.isEmpty())
    update();
  else
    update(changed_);
}

void TMyImage::paintEvent(QPaintEvent *event) {
  // A paint that covers what changed (or the whole widget) shows the
  // picture as it is now; the copy is shared until the next drawing
  // changes the picture.
  const QRegion painted = event->region();
  if (QRegion(rect()).subtracted(painted).isEmpty() ||
      (!changed_.isEmpty() && QRegion(changed_).subtracted(painted).isEmpty())) {
    shown_ = picture_;
    changed_ = QRect();
    updatePending_ = false;
  }
  QPainter p(this);
  const QColor face = palette().color(QPalette::Window);
  if (picture_.isNull()) {
    p.fillRect(event->rect(), face);
    return;
  }
  p.drawImage(QPoint(0, 0), picture_);
  // Whatever the picture does not cover (a fixed-size picture in a larger
  // widget, or a resize not yet answered) shows the window colour.
  const QSize logical = (QSizeF(picture_.size()) / picture_.devicePixelRatio()).toSize();
  if (logical.width() < width()) p.fillRect(logical.width(), 0, width(), height(), face);
  if (logical.height() < height()) p.fillRect(0, logical.height(), width(), height(), face);
}

void TMyImage::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  emit Resized();
}

void TMyImage::mousePressEvent(QMouseEvent *event) {
  if (owner_)
    owner_->MouseDown(event);
  else
    event->ignore();
}

void TMyImage::mouseMoveEvent(QMouseEvent *event) {
  if (owner_)
    owner_->MouseMove(event);
  else
    event->ignore();
}

void TMyImage::mouseReleaseEvent(QMouseEvent *event) {
  if (owner_)
    owner_->MouseUp(event);
  else
    event->ignore();
}

void TMyImage::leaveEvent(QEvent *event) {
  QWidget::leaveEvent(event);
  if (owner_) owner_->MouseLeave();
}

void TMyImage::wheelEvent(QWheelEvent *event) {
  if (owner_)
    owner_->Wheel(event);
  else
    event->ignore();
}

// ---- TMyBitmap ------------------------------------------------------------

TMyBitmap::TMyBitmap(TMyImage *image, QObject *parent) : QObject(parent), image_(image) {
  if (!image_) return;
  image_->owner_ = this;
  connect(image_, &TMyImage::PixelRatioChanged, this, &TMyBitmap::PixelRatioChanged);
  if (!image_->Picture().isNull()) {
    background_ = image_->Picture().copy();
  } else {
    background_ = NewImage(image_->size());
    background_.fill(ButtonFace());
    image_->SetPicture(background_);
  }
}

TMyBitmap::~TMyBitmap() {
  if (image_ && image_->owner_ == this) image_->owner_ = nullptr;
}

QSize TMyBitmap::Size() const {
  if (background_.isNull()) return {};
  return (QSizeF(background_.size()) / background_.devicePixelRatio()).toSize();
}

int TMyBitmap::Device(int logical) const {
  return static_cast<int>(std::lround(logical * Ratio()));
}

int TMyBitmap::LineWidth() const {
  return std::max(1, static_cast<int>(std::lround(Ratio())));
}

QImage TMyBitmap::DevicePixels(QImage &image) {
  return QImage(image.bits(), image.width(), image.height(), image.bytesPerLine(), image.format());
}

QImage TMyBitmap::NewImage(QSize logical) const {
  const qreal ratio = image_ ? image_->PixelRatio() : 1.0;
  const QSize device(std::max(0, static_cast<int>(std::lround(logical.width() * ratio))),
                     std::max(0, static_cast<int>(std::lround(logical.height() * ratio))));
  QImage img(device, QImage::Format_RGB32);
  img.setDevicePixelRatio(ratio);
  return img;
}

void TMyBitmap::Resize() {
  if (!image_) return;
  const qreal ratio = image_->PixelRatio();
  if (Size() == image_->size() && background_.devicePixelRatio() == ratio) return;
  background_ = NewImage(image_->size());
  background_.fill(ButtonFace());
  image_->picture_ = background_;
}

void TMyBitmap::FillBackground(const QColor &colour) {
  background_.fill(colour);
}

void TMyBitmap::DrawBands(int offset, const TArrayInteger &grey, const TArrayInteger &highlight,
                          const TArrayInteger &yellow) {
  if (background_.isNull()) return;
  QImage device = DevicePixels(background_);
  QPainter p(&device);
  const int h = DeviceHeight();
  auto draw = [&](const TArrayInteger &list, const QColor &fill, const QColor &line) {
    for (size_t i = 0; i + 1 < list.size(); i += 2) {
      const int start = list[i];
      const int end = std::max(list[i + 1], start + 1);
      if (end == start + 1)
        p.fillRect(start + offset, 0, 1, h, line);
      else
        p.fillRect(start + offset, 0, end - start, h, fill);
    }
  };
  const QColor yellowColour(255, 255, 0);
  draw(yellow, yellowColour, yellowColour);
  draw(highlight, Highlight(), Highlight());
  draw(grey, QColor(200, 200, 200), QColor(100, 100, 100));
}

void TMyBitmap::RestorePicture() {
  if (!image_) return;
  if (image_->picture_.size() != background_.size() ||
      image_->picture_.format() != background_.format()) {
    image_->picture_ = background_.copy();
    return;
  }
  // Same size: copy the pixels into the existing buffer, no allocation.
  const qsizetype bytes = std::min(image_->picture_.sizeInBytes(), background_.sizeInBytes());
  std::memcpy(image_->picture_.bits(), background_.constBits(), static_cast<size_t>(bytes));
}

void TMyBitmap::Update() {
  if (image_) image_->UpdateIfChanged();
}

void TMyBitmap::SetHint(const QString &hint) {
  if (image_) image_->setToolTip(hint);
}

QFont TMyBitmap::PictureFont(int pointSize, bool bold) {
  QFont f(QStringLiteral("Arial"));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize * 96.0 / 72.0))));
  f.setBold(bold);
  return f;
}

QColor TMyBitmap::ButtonFace() const {
  return image_ ? image_->palette().color(QPalette::Window) : QColor(240, 240, 240);
}
QColor TMyBitmap::Highlight() const {
  return image_ ? image_->palette().color(QPalette::Highlight) : QColor(0, 120, 215);
}
QColor TMyBitmap::ButtonShadow() const {
  return image_ ? image_->palette().color(QPalette::Mid) : QColor(160, 160, 160);
}
QColor TMyBitmap::ButtonHighlight() const {
  return image_ ? image_->palette().color(QPalette::Light) : QColor(255, 255, 255);
}

QColor TMyBitmap::WindowText() const {
  return image_ ? image_->palette().color(QPalette::WindowText) : QColor(Qt::black);
}

void TMyBitmap::PixelRatioChanged() {}

void TMyBitmap::MouseDown(QMouseEvent *event) {
  event->ignore();
}
void TMyBitmap::MouseMove(QMouseEvent *event) {
  event->ignore();
}
void TMyBitmap::MouseUp(QMouseEvent *event) {
  event->ignore();
}
void TMyBitmap::MouseLeave() {}
void TMyBitmap::Wheel(QWheelEvent *event) {
  event->ignore();
}

}  // namespace tachora
