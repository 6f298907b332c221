// The seek bar under the video: the visible part of the trip's time line
// (the view) as a bar with the time from the trip start above it and the
// clock time below, marks for the gaps between recordings, for recordings
// whose duration is not known yet and for the A-B selection, and the
// position marker with its two time boxes. A click seeks, the marker can be
// dragged, the view can be zoomed and scrolled (TSeekZoomPanel).
//
// It speaks in trip positions (fractions of the trip's time line, see
// UnitSeekLayout.h) and tells its owner what the user did through signals;
// it never drives the player itself. The playback tick calls ShowPosition.
// The arithmetic lives in UnitSeekLayout; this class only keeps the state
// and draws. UI thread only.
#pragma once

#include <QScrollBar>
#include <QToolButton>
#include <vector>

#include "app/UnitGEventMarks.h"
#include "app/UnitMyBitmap.h"
#include "playback/UnitSeekLayout.h"

namespace tachora {

struct TFileItem;

class TSeekBitmap : public TMyBitmap {
  Q_OBJECT
 public:
  static constexpr int kBarHeight = 10;
  static constexpr int kFontPoints = 8;
  static constexpr int kDesignHeight = 40;  // ImageSeek's height in the main window

  explicit TSeekBitmap(TMyImage *image, QObject *parent = nullptr);

  // The trip whose time line is shown. LoadTrip starts with the whole trip
  // in view and no selection; RefreshTrip keeps view and selection (a
  // recording's duration became known). ClearTrip shows an empty bar.
  void LoadTrip(const TFileItem &row);
  void RefreshTrip(const TFileItem &row);
  void ClearTrip();
  bool HasTrip() const { return tripStart_ < tripEnd_; }
  TDateTime TripStart() const { return tripStart_; }
  TDateTime TripEnd() const { return tripEnd_; }

  // The trip's G-force events, marked on the bar with a hint each.
  void SetEvents(std::vector<TEventMark> events);
  const std::vector<TEventMark> &Events() const { return events_; }

  // Half the width of "99:99:99" plus 4: the time line runs from the margin
  // to width - margin.
  int Margin() const { return margin_; }
  int LinePixels() const { return std::max(0, Width() - 2 * margin_); }
  // The line's length in device pixels: the columns the marks count in.
  int DeviceLinePixels() const { return std::max(0, DeviceWidth() - 2 * Device(margin_)); }

  // The drawing steps: the background with the marks (device columns from
  // the margin, see DeviceLinePixels) and labels, and the
  // marker over a copy of it (precision level 0, 1 or 3).
  void DrawBackground(const TSeekMarks &marks, const TTimeView &view, TDateTime tripStart,
                      TDateTime tripEnd);
  void DrawPosition(int level, long double p);
  // Position under column x and whether x lies on the marker.
  long double PositionAt(int x, bool *onMarker = nullptr) const;
  int MarkerX() const { return markerX_; }

  // Redraws everything for the current size, view and selection, then the
  // marker at the last shown position.
  void Layout();
  // Draws the marker at p with the precision the view's scale allows; the
  // playback tick's step for the seek bar.
  void ShowPosition(long double p);
  long double LastPosition() const { return position_; }

  // The view (shared with the graphs).
  const TTimeView &View() const { return view_; }
  void SetView(const TTimeView &view);
  // Zoom about the last shown position; 2 for the buttons and keys, 1.5 for
  // a wheel step over the graphs.
  void ZoomIn(long double factor = 2);
  void ZoomOut(long double factor = 2);
  // Keeps a playing position in view; true when the view moved.
  bool FollowPosition(long double p);
  TZoomScroll ZoomScroll() const { return ZoomScrollFor(view_, LinePixels()); }
  void ScrollTo(int position);

  // The A-B selection; B <= A means none.
  long double SelectionStart() const { return selA_; }
  long double SelectionEnd() const { return selB_; }
  bool HasSelection() const { return selA_ < selB_; }
  void SetSelectionStart(long double p);
  void SetSelectionEnd(long double p);
  void ClearSelection();

  bool Dragging() const { return dragging_; }
  long double DragPosition() const { return dragPosition_; }

  void Resize() override;
  void MouseDown(QMouseEvent *event) override;
  void MouseMove(QMouseEvent *event) override;
  void MouseUp(QMouseEvent *event) override;
  void MouseLeave() override;

 signals:
  // A click, or the end of a drag: play from here.
  void SeekRequested(long double position);
  // The marker is being dragged to `position` (the video stays put).
  void DragMoved(long double position);
  // The pointer rests over the time line at `position` (for the details
  // window); HoverLeft when it leaves.
  void HoverAt(long double position);
  void HoverLeft();
  void ViewChanged();
  void SelectionChanged();

 private:
  double TripSpan() const { return tripEnd_ - tripStart_; }
  void TakeTrip(const TFileItem &row);
  void DrawLabels(const TSeekLabels &labels);
  void DrawBox(QPainter &p, int x, int top, int bottom, const QString &text);
  void ApplyView(const TTimeView &view);

  std::vector<TSeekRecording> recordings_;
  std::vector<TEventMark> events_;
  TDateTime tripStart_ = 0, tripEnd_ = 0;
  TTimeView view_;
  long double selA_ = 0, selB_ = 0;
  long double position_ = 0;
  int margin_ = 0;
  int markerX_ = -1000;
  bool dragging_ = false;
  long double dragPosition_ = 0;
  QFont font_;
};

// The row above the seek bar: ButtonZoomOut, the scroll bar ScrollBarZoom
// over the whole trip and ButtonZoomIn. It follows the seek bar's view and
// moves it; one wheel step over the scroll bar moves the view by a page.
class TSeekZoomPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDesignHeight = 17;
  TSeekZoomPanel(TSeekBitmap *seek, QWidget *parent = nullptr);
  QScrollBar *ScrollBarZoom() const { return scroll_; }
  QToolButton *ButtonZoomIn() const { return zoomIn_; }
  QToolButton *ButtonZoomOut() const { return zoomOut_; }
  // Hints in the current language.
  void Translate();
  // Enables or disables the zoom buttons (no trip playing).
  void SetZoomEnabled(bool on);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void Sync();

  TSeekBitmap *seek_;
  QScrollBar *scroll_;
  QToolButton *zoomIn_, *zoomOut_;
  TZoomScroll shown_;
};

}  // namespace tachora
