// The telemetry graphs under the seek bar: one picture per graph kind
// (speed, altitude, total acceleration and its three axes) over the seek
// bar's visible part of the trip, sharing its margins so that a column of a
// graph is a column of the seek bar. A cursor line shows the playback
// position; a click or a drag asks for a seek like the seek bar, and the
// pointer's place is reported for the details window.
//
// The arithmetic lives in UnitGraphItems; this class keeps the drawn window
// and paints. Positions are trip positions (fractions of the trip's time
// line). UI thread only; the image widget belongs to its window.
#pragma once

#include <QFont>
#include <vector>

#include "app/UnitGEventMarks.h"
#include "app/UnitMyBitmap.h"
#include "telemetry/UnitGraphItems.h"

namespace tachora {

// The seek bar's marks drawn behind a graph (columns from the left margin,
// flat pairs as TMyBitmap::DrawBands takes them).
struct TGraphBands {
  TArrayInteger Gaps, Selection, Unknown;
  // G-force events: the acceleration graphs mark them.
  std::vector<TEventMark> Events;
};

class TMyGraphic : public TMyBitmap {
  Q_OBJECT
 public:
  static constexpr int kFontPoints = 8;

  TMyGraphic(TMyImage *image, TGraphKind kind, int margin, QObject *parent = nullptr);

  TGraphKind Kind() const { return kind_; }
  const TGraphKindInfo &Info() const { return GraphKindInfo(kind_); }
  QString Letter() const { return QString::fromLatin1(Info().Letter); }
  QString MenuItemName() const { return QString::fromLatin1(Info().MenuItemName); }
  QColor Color() const { return QColor(Info().Red, Info().Green, Info().Blue); }

  int Margin() const { return margin_; }
  void SetMargin(int margin) { margin_ = margin; }
  // Margins and baseline in device pixels (rows of the picture's image).
  int TopMargin() const { return topMargin_; }
  int BottomMargin() const { return bottomMargin_; }
  int Baseline() const { return frame_.Baseline; }
  bool PositiveOnly() const { return positiveOnly_; }
  long double WindowStart() const { return windowStart_; }
  long double WindowEnd() const { return windowEnd_; }
  int TextHeight() const { return textHeight_; }

  // Sizes the picture to the image and recomputes the text margins.
  void Resize() override;
  // Draws the graph of the window [windowStart, windowEnd] into the
  // Background: white, the bands, axes, ticks, letter, line and peak labels,
  // and the frame's edges when `framed`. Then shows it with the cursor.
  void DrawGraph(const std::vector<TGraphSource> &sources, long double windowStart,
                 long double windowEnd, const TGraphBands &bands = {}, bool framed = true);
  // The Background with the cursor line at trip position p (inverting the
  // picture under it); no line outside the plot.
  void DrawCursor(long double p);
  // The trip position under column x, within the drawn window.
  long double PositionAt(int x) const;
  // Whether x lies within the plot's margins, 5 px of slack each side.
  bool OverPlot(int x) const;

  void MouseDown(QMouseEvent *event) override;
  void MouseMove(QMouseEvent *event) override;
  void MouseUp(QMouseEvent *event) override;
  void MouseLeave() override;
  // The wheel belongs to the time line (WheelTurned).
  void Wheel(QWheelEvent *event) override;

 signals:
  // A click or the end of a drag: play from here.
  void SeekRequested(long double position);
  // The pointer drags over the graph at `position` (the video stays put).
  void DragMoved(long double position);
  // The pointer rests over the graph at column x / trip position.
  void HoverAt(TMyGraphic *graph, int x, long double position);
  void HoverLeft(TMyGraphic *graph);
  // The wheel turned over the graph (angle delta, 120 a step; up positive).
  void WheelTurned(int delta);

 private:
  int DeviceTextHeight() const;
  // Axes, ticks and grid in device pixels; their texts in logical ones.
  void DrawAxes(QPainter &p, const TGraphFrame &frame, const std::vector<TGraphTick> &ticks);
  void DrawTexts(QPainter &p, const TGraphFrame &frame, const std::vector<TGraphTick> &ticks);
  std::vector<TGraphPeak> Peaks(const TGraphFrame &frame, const TGraphicItems &items) const;
  void DrawPeakMarks(QPainter &p, const std::vector<TGraphPeak> &peaks);
  void DrawPeakLabels(QPainter &p, const std::vector<TGraphPeak> &peaks);

  TGraphKind kind_;
  int margin_;
  int topMargin_ = 0, bottomMargin_ = 0, textHeight_ = 0;
  bool positiveOnly_ = true;
  TGraphFrame frame_;
  std::vector<TEventMark> events_;  // marked on an acceleration graph
  long double windowStart_ = 0, windowEnd_ = 0;
  bool dragging_ = false;
  QFont font_;
};

}  // namespace tachora
