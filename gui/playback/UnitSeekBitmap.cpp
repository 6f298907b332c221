#include "playback/UnitSeekBitmap.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QWheelEvent>

#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "catalogue/UnitFileItems.h"

namespace tachora {

// ---- TSeekBitmap ----------------------------------------------------------

TSeekBitmap::TSeekBitmap(TMyImage *image, QObject *parent)
    : TMyBitmap(image, parent), font_(PictureFont(kFontPoints)) {
  margin_ = QFontMetrics(font_).horizontalAdvance(QStringLiteral("99:99:99")) / 2 + 4;
  if (image_) {
    image_->setMinimumHeight(kDesignHeight);
    connect(image_, &TMyImage::Resized, this, &TSeekBitmap::Layout);
  }
  Layout();
}

void TSeekBitmap::TakeTrip(const TFileItem &row) {
  recordings_ = SeekRecordingsOf(row);
  tripStart_ = row.Summary.Start;
  tripEnd_ = row.Summary.End;
}

void TSeekBitmap::LoadTrip(const TFileItem &row) {
  TakeTrip(row);
  view_ = TTimeView{};
  selA_ = selB_ = 0;
  position_ = 0;
  dragging_ = false;
  Layout();
  emit ViewChanged();
  emit SelectionChanged();
}

void TSeekBitmap::RefreshTrip(const TFileItem &row) {
  TakeTrip(row);
  view_ = NormaliseView(view_, TripSpan());
  Layout();
}

void TSeekBitmap::SetEvents(std::vector<TEventMark> events) {
  events_ = std::move(events);
  Layout();
}

void TSeekBitmap::ClearTrip() {
  recordings_.clear();
  events_.clear();
  tripStart_ = tripEnd_ = 0;
  view_ = TTimeView{};
  selA_ = selB_ = 0;
  position_ = 0;
  dragging_ = false;
  Layout();
  emit ViewChanged();
  emit SelectionChanged();
}

void TSeekBitmap::Resize() {
  TMyBitmap::Resize();
  // A wider line may allow a narrower view; a resize never leaves an
  // invalid one.
  view_ = NormaliseView(view_, TripSpan());
}

void TSeekBitmap::Layout() {
  Resize();
  const TSeekMarks marks = ComputeSeekMarks(recordings_, view_, selA_, selB_, DeviceLinePixels());
  DrawBackground(marks, view_, tripStart_, tripEnd_);
  ShowPosition(position_);
}

void TSeekBitmap::DrawBackground(const TSeekMarks &marks, const TTimeView &view,
                                 TDateTime tripStart, TDateTime tripEnd) {
  if (background_.isNull()) return;
  FillBackground(ButtonFace());
  DrawBands(Device(margin_), marks.Gaps, marks.Selection, marks.Unknown);

  // Labels are spaced in device pixels, so that their ticks fall on whole
  // device columns at every ratio.
  const QFontMetrics fm(font_);
  const qreal r = Ratio();
  auto textWidth = [&fm, r](const std::string &s) {
    return static_cast<int>(std::lround(fm.horizontalAdvance(Q(s)) * r));
  };
  DrawLabels(ComputeSeekLabels(tripStart, tripEnd, view, DeviceWidth(), Device(margin_), textWidth,
                               Device(20)));

  QPainter p(&background_);

  const int top = (Height() - kBarHeight) / 2;
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::black);
  p.setBrush(ButtonShadow());
  const QRectF bar(margin_ - 5 + 0.5, top + 0.5, Width() - 2 * margin_ + 10 - 1, kBarHeight - 1);
  p.drawRoundedRect(bar, 4.5, 4.5);
  DrawEventMarks(p, EventColumns(events_, view, LinePixels()), margin_, top + 2);
  p.end();
  RestorePicture();
  Update();
}

void TSeekBitmap::DrawLabels(const TSeekLabels &labels) {
  const QFontMetrics fm(font_);
  const qreal r = Ratio();
  const int top = (Height() - kBarHeight) / 2;
  const int bottom = top + kBarHeight;
  const int middle = top + kBarHeight / 2;
  const int lw = LineWidth();
  // Labels in the theme's text colour, readable on a dark window colour too.
  const QColor text = WindowText();
  {
    // Tick lines: the bar covers their inner half. Up from the bar to 2
    // pixels above it, down from the bar to the text.
    QImage device = DevicePixels(background_);
    QPainter p(&device);
    const int x0 = -(lw - 1) / 2;
    for (const TSeekLabel &l : labels.Upper)
      p.fillRect(l.X + x0, Device(top - 2), lw, Device(middle) - Device(top - 2) + 1, text);
    for (const TSeekLabel &l : labels.Lower)
      p.fillRect(l.X + x0, Device(middle), lw, Device(bottom + 1) - Device(middle) + 1, text);
  }
  QPainter p(&background_);
  p.setFont(font_);
  p.setPen(text);
  for (const TSeekLabel &l : labels.Upper) {
    const QString t = Q(l.Text);
    // Text bottom on the bar's top edge.
    p.drawText(QPointF(l.X / r - fm.horizontalAdvance(t) / 2, top - fm.descent()), t);
  }
  for (const TSeekLabel &l : labels.Lower) {
    const QString t = Q(l.Text);
    p.drawText(QPointF(l.X / r - fm.horizontalAdvance(t) / 2, bottom + 1 + fm.ascent()), t);
  }
}

void TSeekBitmap::DrawBox(QPainter &p, int x, int top, int bottom, const QString &text) {
  const QFontMetrics fm(font_);
  const int w = fm.horizontalAdvance(text);
  const QRectF box(x - w / 2 - 5 + 0.5, top + 0.5, w + 9, bottom - top - 1);
  p.setPen(QColor(100, 100, 100));
  p.setBrush(Qt::white);
  p.drawRoundedRect(box, 2.5, 2.5);
  p.setPen(Qt::black);
  p.drawText(box, Qt::AlignCenter, text);
}

void TSeekBitmap::DrawPosition(int level, long double p) {
  RestorePicture();
  markerX_ = -1000;
  const std::optional<int> x = MarkerColumn(p, view_, Width(), margin_);
  if (!image_ || !x || !HasTrip()) {
    Update();
    return;
  }
  const int top = (Height() - kBarHeight) / 2;
  const int bottom = top + kBarHeight;
  const int middle = top + kBarHeight / 2;

  QPainter painter(&image_->Picture());
  painter.setFont(font_);
  painter.setPen(Qt::black);
  painter.drawLine(*x, top - 5, *x, bottom + 5);
  painter.setRenderHint(QPainter::Antialiasing);
  const int64_t ms = TripMilliseconds(p, tripStart_, tripEnd_);
  DrawBox(painter, *x, 0, top - 2, Q(MarkerTimeText(ms, level)));
  const double clock = static_cast<double>(tripStart_ + p * TripSpan());
  DrawBox(painter, *x, bottom + 2, Height(), Q(FormatTime(clock)));
  painter.setPen(Qt::black);
  painter.setBrush(ButtonHighlight());
  painter.drawEllipse(QPointF(*x + 0.5, middle), kBarHeight / 2.0 - 0.5, kBarHeight / 2.0 - 0.5);
  painter.end();
  markerX_ = *x;
  Update();
}

void TSeekBitmap::ShowPosition(long double p) {
  position_ = p;
  DrawPosition(PrecisionLevel(view_, TripSpan(), LinePixels()), p);
}

long double TSeekBitmap::PositionAt(int x, bool *onMarker) const {
  if (onMarker) *onMarker = std::abs(x - markerX_) < kBarHeight / 2;
  return PositionAtColumn(x, view_, Width(), margin_);
}

void TSeekBitmap::ApplyView(const TTimeView &view) {
  const TTimeView old = view_;
  view_ = view;
  view_ = NormaliseView(view_, TripSpan());
  Layout();
  if (!(view_ == old)) emit ViewChanged();
}

void TSeekBitmap::SetView(const TTimeView &view) {
  ApplyView(view);
}

void TSeekBitmap::ZoomIn(long double factor) {
  TTimeView v = view_;
  ZoomView(v, position_, factor, true, TripSpan());
  ApplyView(v);
}

void TSeekBitmap::ZoomOut(long double factor) {
  TTimeView v = view_;
  ZoomView(v, position_, factor, false, TripSpan());
  ApplyView(v);
}

bool TSeekBitmap::FollowPosition(long double p) {
  TTimeView v = view_;
  if (!KeepInView(v, p, TripSpan())) return false;
  position_ = p;
  ApplyView(v);
  return true;
}

void TSeekBitmap::ScrollTo(int position) {
  ApplyView(ViewFromScroll(ZoomScroll(), position, view_.Width()));
}

void TSeekBitmap::SetSelectionStart(long double p) {
  tachora::SetSelectionStart(selA_, selB_, p);
  Layout();
  emit SelectionChanged();
}

void TSeekBitmap::SetSelectionEnd(long double p) {
  tachora::SetSelectionEnd(selA_, selB_, p);
  Layout();
  emit SelectionChanged();
}

void TSeekBitmap::ClearSelection() {
  selA_ = selB_ = 0;
  Layout();
  emit SelectionChanged();
}

void TSeekBitmap::MouseDown(QMouseEvent *event) {
  if (event->button() == Qt::RightButton || !HasTrip()) {
    event->ignore();  // the graphs panel's context menu
    return;
  }
  if (dragging_) return;
  bool onMarker = false;
  const long double p = PositionAt(event->position().toPoint().x(), &onMarker);
  if (onMarker) {
    dragging_ = true;
    dragPosition_ = p;
    emit DragMoved(p);
  } else {
    emit SeekRequested(p);
  }
}

void TSeekBitmap::MouseMove(QMouseEvent *event) {
  const int x = event->position().toPoint().x();
  bool onMarker = false;
  const long double p = PositionAt(x, &onMarker);
  if (dragging_) {
    dragPosition_ = p;
    ShowPosition(p);
    emit DragMoved(p);
    return;
  }
  if (image_) {
    image_->setCursor(onMarker && HasTrip() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    const auto event = EventAtColumn(events_, view_, LinePixels(), x - margin_);
    image_->setToolTip(event ? EventHint(events_[*event]) : QString());
  }
  // The details window looks a little beyond the ends of the line too.
  if (HasTrip() && x >= margin_ - 5 && x <= Width() - margin_ + 5)
    emit HoverAt(p);
  else
    emit HoverLeft();
}

void TSeekBitmap::MouseUp(QMouseEvent *event) {
  if (!dragging_) {
    event->ignore();
    return;
  }
  dragging_ = false;
  emit SeekRequested(PositionAt(event->position().toPoint().x()));
}

void TSeekBitmap::MouseLeave() {
  if (image_) image_->unsetCursor();
  emit HoverLeft();
}

// ---- TSeekZoomPanel -------------------------------------------------------

TSeekZoomPanel::TSeekZoomPanel(TSeekBitmap *seek, QWidget *parent)
    : QWidget(parent),
      seek_(seek),
      scroll_(new QScrollBar(Qt::Horizontal, this)),
      zoomIn_(new QToolButton(this)),
      zoomOut_(new QToolButton(this)) {
  setFixedHeight(kDesignHeight);
  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  zoomOut_->setObjectName(QStringLiteral("ButtonZoomOut"));
  zoomIn_->setObjectName(QStringLiteral("ButtonZoomIn"));
  scroll_->setObjectName(QStringLiteral("ScrollBarZoom"));
  zoomOut_->setText(QStringLiteral("\u2212"));
  zoomIn_->setText(QStringLiteral("+"));
  for (QToolButton *b : {zoomOut_, zoomIn_}) {
    b->setFixedSize(kDesignHeight, kDesignHeight);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
  }
  row->addWidget(zoomOut_);
  row->addWidget(scroll_, 1);
  row->addWidget(zoomIn_);
  scroll_->installEventFilter(this);
  connect(zoomIn_, &QToolButton::clicked, seek_, [this] { seek_->ZoomIn(); });
  connect(zoomOut_, &QToolButton::clicked, seek_, [this] { seek_->ZoomOut(); });
  connect(scroll_, &QScrollBar::valueChanged, seek_, [this](int v) { seek_->ScrollTo(v); });
  connect(seek_, &TSeekBitmap::ViewChanged, this, &TSeekZoomPanel::Sync);
  if (seek_->Image()) connect(seek_->Image(), &TMyImage::Resized, this, &TSeekZoomPanel::Sync);
  Translate();
  Sync();
}

void TSeekZoomPanel::Translate() {
  zoomIn_->setToolTip(QString::fromStdString(LangText("N_View_Time_ZoomIn")));
  zoomOut_->setToolTip(QString::fromStdString(LangText("N_View_Time_ZoomOut")));
}

void TSeekZoomPanel::SetZoomEnabled(bool on) {
  zoomIn_->setEnabled(on);
  zoomOut_->setEnabled(on);
}

void TSeekZoomPanel::Sync() {
  // Setting the bar here must not scroll the view back.
  const QSignalBlocker block(scroll_);
  shown_ = seek_->ZoomScroll();
  scroll_->setEnabled(shown_.Enabled);
  scroll_->setRange(0, shown_.Enabled ? shown_.Maximum() : 0);
  scroll_->setPageStep(shown_.Page);
  scroll_->setSingleStep(std::max(1, shown_.Page / 10));
  scroll_->setValue(shown_.Enabled ? shown_.Position : 0);
}

bool TSeekZoomPanel::eventFilter(QObject *watched, QEvent *event) {
  if (watched == scroll_ && event->type() == QEvent::Wheel) {
    auto *wheel = static_cast<QWheelEvent *>(event);
    if (scroll_->isEnabled()) {
      const int steps = wheel->angleDelta().y() / 120;
      if (steps != 0) scroll_->setValue(scroll_->value() - steps * scroll_->pageStep());
    }
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tachora
