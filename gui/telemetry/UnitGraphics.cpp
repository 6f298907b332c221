#include "telemetry/UnitGraphics.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/UnitGuiUnits.h"

namespace tachora {

TMyGraphic::TMyGraphic(TMyImage *image, TGraphKind kind, int margin, QObject *parent)
    : TMyBitmap(image, parent), kind_(kind), margin_(margin), font_(PictureFont(kFontPoints)) {
  textHeight_ = QFontMetrics(font_).height();
  Resize();
}

void TMyGraphic::Resize() {
  TMyBitmap::Resize();
  topMargin_ = GraphTopMargin(DeviceHeight(), DeviceTextHeight());
  bottomMargin_ = GraphBottomMargin(DeviceTextHeight());
}

int TMyGraphic::DeviceTextHeight() const {
  return static_cast<int>(std::lround(textHeight_ * Ratio()));
}

// The graph counts in device pixels: one bucket per device column of the
// plot, rows, ticks and peak spacing in device pixels; texts are placed in
// logical pixels at those spots.
void TMyGraphic::DrawGraph(const std::vector<TGraphSource> &sources, long double windowStart,
                           long double windowEnd, const TGraphBands &bands, bool framed) {
  if (background_.isNull()) return;
  const int w = DeviceWidth(), h = DeviceHeight(), margin = Device(margin_);
  TGraphicItems items =
      BuildGraphicItems(sources, kind_, std::max(0, w - 2 * margin), windowStart, windowEnd);
  GraphItemsToUnits(items, kind_, DisplayUnits());
  windowStart_ = windowStart;
  windowEnd_ = windowEnd;

  const TGraphScale scale = ScaleGraphicItems(items, kind_);
  positiveOnly_ = scale.PositiveOnly;
  frame_ = MakeGraphFrame(h, DeviceTextHeight(), scale);

  const std::vector<TGraphPeak> peaks = Peaks(frame_, items);
  const std::vector<TGraphTick> ticks = GraphTicks(frame_, Info().BaseStep, DeviceTextHeight());

  FillBackground(Qt::white);
  DrawBands(margin, bands.Gaps, bands.Selection, bands.Unknown);
  {
    QImage device = DevicePixels(background_);
    QPainter p(&device);
    DrawAxes(p, frame_, ticks);
    const int lw = LineWidth();
    p.setPen(QPen(Color(), lw, Qt::SolidLine, Qt::SquareCap));
    for (const TGraphLine &l : GraphLines(items, frame_, margin)) {
      if (l.X1 == l.X2 && l.Y1 == l.Y2)
        p.drawPoint(l.X1, l.Y1);
      else
        p.drawLine(l.X1, l.Y1, l.X2, l.Y2);
    }
    DrawPeakMarks(p, peaks);
    if (framed) {
      p.fillRect(0, 0, w, lw, QColor(100, 100, 100));
      p.fillRect(0, h - lw, w, lw, QColor(200, 200, 200));
    }
  }
  {
    QPainter p(&background_);
    p.setFont(font_);
    DrawTexts(p, frame_, ticks);
    DrawPeakLabels(p, peaks);
    // Event marks sit over the plot in logical pixels, where their hints
    // are looked up.
    events_ = kind_ == TGraphKind::Speed || kind_ == TGraphKind::Altitude
                  ? std::vector<TEventMark>{}
                  : bands.Events;
    DrawEventMarks(p,
                   EventColumns(events_, TTimeView{windowStart, windowEnd}, Width() - 2 * margin_),
                   margin_, 1);
  }
  RestorePicture();
  Update();
}

void TMyGraphic::DrawAxes(QPainter &p, const TGraphFrame &frame,
                          const std::vector<TGraphTick> &ticks) {
  const int w = DeviceWidth(), h = DeviceHeight(), margin = Device(margin_);
  const int lw = LineWidth();
  // Grid first, so that the axes and ticks stay on top; grid lines are
  // hairlines of one device pixel.
  for (const TGraphTick &t : ticks)
    if (t.Y != frame.Baseline)
      p.fillRect(margin + 1, t.Y, w - 2 * margin - 1, 1, QColor(220, 220, 220));
  for (const TGraphTick &t : ticks) p.fillRect(margin - lw, t.Y, 3 * lw, lw, Qt::black);
  p.fillRect(margin, 0, lw, h, Qt::black);
  p.fillRect(w - margin, 0, lw, h, Qt::black);
  p.fillRect(margin, frame.Baseline, w - 2 * margin + lw, lw, Qt::black);
}

void TMyGraphic::DrawTexts(QPainter &p, const TGraphFrame &frame,
                           const std::vector<TGraphTick> &ticks) {
  const qreal r = Ratio();
  const int w = Width(), h = Height();
  const QFontMetrics fm(font_);
  p.setPen(Qt::black);
  for (const TGraphTick &t : ticks) {
    const QString label = QString::fromStdString(t.Label);
    const int tw = fm.horizontalAdvance(label);
    const qreal top = t.Y / r - textHeight_ / 2;
    p.drawText(QRectF(margin_ - 2 - tw, top, tw, textHeight_), Qt::AlignRight | Qt::AlignVCenter,
               label);
  }
  const qreal top = frame.TopMargin / r, bottom = frame.BottomMargin / r;
  const QRectF letterBand(w - margin_, top, margin_, std::max<qreal>(1, h - bottom - top));
  p.drawText(letterBand, Qt::AlignCenter, Letter());
}

std::vector<TGraphPeak> TMyGraphic::Peaks(const TGraphFrame &frame,
                                          const TGraphicItems &items) const {
  const qreal r = Ratio();
  const QFontMetrics fm(font_);
  auto width = [&fm, r](const std::string &s) {
    return static_cast<int>(std::lround(fm.horizontalAdvance(QString::fromStdString(s)) * r));
  };
  return GraphPeaks(items, frame, Info().BaseStep, width);
}

void TMyGraphic::DrawPeakMarks(QPainter &p, const std::vector<TGraphPeak> &peaks) {
  const int lw = LineWidth(), margin = Device(margin_);
  for (const TGraphPeak &peak : peaks) {
    const int x = margin + peak.Column, y = peak.Y;
    p.fillRect(x, y - lw, lw, 3 * lw, Qt::black);
    p.fillRect(x - lw, y, 3 * lw, lw, Qt::black);
  }
}

void TMyGraphic::DrawPeakLabels(QPainter &p, const std::vector<TGraphPeak> &peaks) {
  const qreal r = Ratio();
  const QFontMetrics fm(font_);
  p.setPen(Qt::black);
  const qreal h = Height();
  for (const TGraphPeak &peak : peaks) {
    const qreal x = (Device(margin_) + peak.Column) / r, y = peak.Y / r;
    const QString label = QString::fromStdString(peak.Label);
    const qreal top =
        peak.Value >= 0 ? std::max<qreal>(y - textHeight_, 1) : std::min<qreal>(y, h - textHeight_);
    p.drawText(QRectF(x + 2, top, fm.horizontalAdvance(label) + 1, textHeight_),
               Qt::AlignLeft | Qt::AlignVCenter, label);
  }
}

void TMyGraphic::DrawCursor(long double position) {
  RestorePicture();
  const int x = GraphCursorX(position, windowStart_, windowEnd_, DeviceWidth(), Device(margin_));
  if (x >= 0 && image_) {
    QImage device = DevicePixels(image_->Picture());
    QPainter p(&device);
    // NOT (red OR picture): visible on white, on the grid and on every line;
    // a hairline of one device pixel.
    p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination);
    p.setPen(QPen(QColor(255, 0, 0), 1));
    p.drawLine(x, 0, x, DeviceHeight() - 1);
  }
  Update();
}

long double TMyGraphic::PositionAt(int x) const {
  const int line = Width() - 2 * margin_;
  if (line <= 0 || !(windowEnd_ > windowStart_)) return windowStart_;
  const long double f = std::clamp<long double>(static_cast<long double>(x - margin_) / line, 0, 1);
  return windowStart_ + f * (windowEnd_ - windowStart_);
}

bool TMyGraphic::OverPlot(int x) const {
  return x >= margin_ - 5 && x <= Width() - margin_ + 5;
}

void TMyGraphic::MouseDown(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton || !(windowEnd_ > windowStart_)) {
    event->ignore();
    return;
  }
  dragging_ = true;
  emit DragMoved(PositionAt(qRound(event->position().x())));
}

void TMyGraphic::MouseMove(QMouseEvent *event) {
  const int x = qRound(event->position().x());
  if (dragging_) emit DragMoved(PositionAt(x));
  if (image_) {
    const auto event = EventAtColumn(events_, TTimeView{windowStart_, windowEnd_},
                                     Width() - 2 * margin_, x - margin_);
    image_->setToolTip(event ? EventHint(events_[*event]) : QString());
  }
  emit HoverAt(this, x, PositionAt(x));
}

void TMyGraphic::MouseUp(QMouseEvent *event) {
  if (!dragging_ || event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  dragging_ = false;
  emit SeekRequested(PositionAt(qRound(event->position().x())));
}

void TMyGraphic::MouseLeave() {
  emit HoverLeft(this);
}

void TMyGraphic::Wheel(QWheelEvent *event) {
  event->accept();
  emit WheelTurned(event->angleDelta().y());
}

}  // namespace tachora
