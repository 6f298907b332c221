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
  topMargin_ = GraphTopMargin(Height(), textHeight_);
  bottomMargin_ = GraphBottomMargin(textHeight_);
}

void TMyGraphic::DrawGraph(const std::vector<TGraphSource> &sources, long double windowStart,
                           long double windowEnd, const TGraphBands &bands, bool framed) {
  if (background_.isNull()) return;
  const int w = Width(), h = Height();
  TGraphicItems items =
      BuildGraphicItems(sources, kind_, std::max(0, w - 2 * margin_), windowStart, windowEnd);
  GraphItemsToUnits(items, kind_, DisplayUnits());
  windowStart_ = windowStart;
  windowEnd_ = windowEnd;

  const TGraphScale scale = ScaleGraphicItems(items, kind_);
  positiveOnly_ = scale.PositiveOnly;
  frame_ = MakeGraphFrame(h, textHeight_, scale);

  FillBackground(Qt::white);
  DrawBands(margin_, bands.Gaps, bands.Selection, bands.Unknown);
  {
    QPainter p(&background_);
    p.setFont(font_);
    DrawAxes(p, frame_);
    p.setPen(Color());
    for (const TGraphLine &l : GraphLines(items, frame_, margin_)) {
      if (l.X1 == l.X2 && l.Y1 == l.Y2)
        p.drawPoint(l.X1, l.Y1);
      else
        p.drawLine(l.X1, l.Y1, l.X2, l.Y2);
    }
    DrawPeaks(p, frame_, items);
    events_ = kind_ == TGraphKind::Speed || kind_ == TGraphKind::Altitude
                  ? std::vector<TEventMark>{}
                  : bands.Events;
    DrawEventMarks(p, EventColumns(events_, TTimeView{windowStart, windowEnd}, w - 2 * margin_),
                   margin_, 1);
    if (framed) {
      p.setPen(QColor(100, 100, 100));
      p.drawLine(0, 0, w - 1, 0);
      p.setPen(QColor(200, 200, 200));
      p.drawLine(0, h - 1, w - 1, h - 1);
    }
  }
  RestorePicture();
  Update();
}

void TMyGraphic::DrawAxes(QPainter &p, const TGraphFrame &frame) {
  const int w = Width(), h = Height();
  const QFontMetrics fm(font_);
  const std::vector<TGraphTick> ticks = GraphTicks(frame, Info().BaseStep, textHeight_);
  // Grid first, so that the axes and ticks stay on top.
  p.setPen(QColor(220, 220, 220));
  for (const TGraphTick &t : ticks)
    if (t.Y != frame.Baseline) p.drawLine(margin_ + 1, t.Y, w - margin_ - 1, t.Y);
  p.setPen(Qt::black);
  p.drawLine(margin_, 0, margin_, h - 1);
  p.drawLine(w - margin_, 0, w - margin_, h - 1);
  p.drawLine(margin_, frame.Baseline, w - margin_, frame.Baseline);
  for (const TGraphTick &t : ticks) {
    p.drawLine(margin_ - 1, t.Y, margin_ + 1, t.Y);
    const QString label = QString::fromStdString(t.Label);
    const int tw = fm.horizontalAdvance(label);
    p.drawText(QRect(margin_ - 2 - tw, t.Y - textHeight_ / 2, tw, textHeight_),
               Qt::AlignRight | Qt::AlignVCenter, label);
  }
  const QRect letterBand(w - margin_, frame.TopMargin, margin_,
                         std::max(1, h - frame.BottomMargin - frame.TopMargin));
  p.drawText(letterBand, Qt::AlignCenter, Letter());
}

void TMyGraphic::DrawPeaks(QPainter &p, const TGraphFrame &frame, const TGraphicItems &items) {
  const QFontMetrics fm(font_);
  auto width = [&fm](const std::string &s) {
    return fm.horizontalAdvance(QString::fromStdString(s));
  };
  p.setPen(Qt::black);
  p.setBrush(Qt::NoBrush);
  const int h = Height();
  for (const TGraphPeak &peak : GraphPeaks(items, frame, Info().BaseStep, width)) {
    const int x = margin_ + peak.Column, y = peak.Y;
    p.drawLine(x, y - 1, x, y + 1);
    p.drawLine(x - 1, y, x + 1, y);
    const QString label = QString::fromStdString(peak.Label);
    const int top = peak.Value >= 0 ? std::max(y - textHeight_, 1) : std::min(y, h - textHeight_);
    p.drawText(QRect(x + 2, top, fm.horizontalAdvance(label) + 1, textHeight_),
               Qt::AlignLeft | Qt::AlignVCenter, label);
  }
}

void TMyGraphic::DrawCursor(long double position) {
  RestorePicture();
  const int x = GraphCursorX(position, windowStart_, windowEnd_, Width(), margin_);
  if (x >= 0 && image_) {
    QPainter p(&image_->Picture());
    // NOT (red OR picture): visible on white, on the grid and on every line.
    p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination);
    p.setPen(QColor(255, 0, 0));
    p.drawLine(x, 0, x, Height() - 1);
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
