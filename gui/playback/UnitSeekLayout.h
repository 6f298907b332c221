// The arithmetic of the seek bar and the time line, kept apart from any
// window so that it can be checked without one: the visible part of the trip
// (the view), its zoom and scroll, the mark lists of gaps, recordings of
// unknown duration and the A-B selection, the two rows of time labels, the
// position marker's column and texts, and the hit test.
//
// Positions are trip positions: fractions of the trip's time line (0 = start
// of its first recording, 1 = end of its last), long double. Date-times are
// TDateTime days, spans in days, pixel values are columns of the seek image.
// Mark lists are flat integer lists read as pairs (x1, x2), counted from the
// left margin. Nothing here keeps state; any thread may call it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UnitUtils.h"
#include "playback/UnitTripTimeline.h"

namespace tachora {

struct TFileItem;

// One recording of the trip on the time line.
struct TSeekRecording {
  long double Start = 0, End = 0;  // trip positions
  bool DurationUnknown = false;    // the container gave no duration yet
};
std::vector<TSeekRecording> SeekRecordingsOf(const TFileItem &row);

// The narrowest view: half a second of a trip lasting `tripSpan` days.
long double MinViewWidth(double tripSpan);
// The view itself (TTimeView) and its normalising (NormaliseView: start
// before end, at least MinViewWidth wide, inside [0, 1]) are the trip time
// line's, shared with the player.
// Zooms in (width / factor) or out (width * factor) about position p, then
// normalises.
void ZoomView(TTimeView &view, long double p, long double factor, bool zoomIn, double tripSpan);
// Keeps the playing position in view: near the right edge the view moves on
// so that p sits at a tenth of it; left of it the view centres on p. True
// when the view changed (it is normalised then).
bool KeepInView(TTimeView &view, long double p, double tripSpan);

// The zoom scroll bar for a view, in steps of a tenth of the time line's
// pixels: the whole trip is Total steps, the view Page of them. Qt-style
// range: positions 0 .. Total - Page.
struct TZoomScroll {
  bool Enabled = false;
  int Total = 1, Page = 1, Position = 0;
  int Maximum() const { return Total - Page; }
};
TZoomScroll ZoomScrollFor(const TTimeView &view, int linePixels);
// The view that a scroll position shows, keeping the current width; the last
// position shows the very end of the trip.
TTimeView ViewFromScroll(const TZoomScroll &scroll, int position, long double width);

// Mark lists for a line of `linePixels` columns (image width - 2 margins).
TArrayInteger GapMarks(const std::vector<TSeekRecording> &recs, const TTimeView &view,
                       int linePixels);
TArrayInteger UnknownDurationMarks(const std::vector<TSeekRecording> &recs, const TTimeView &view,
                                   int linePixels);
TArrayInteger SelectionMarks(long double a, long double b, const TTimeView &view, int linePixels);

struct TSeekMarks {
  TArrayInteger Gaps, Unknown, Selection;
};
TSeekMarks ComputeSeekMarks(const std::vector<TSeekRecording> &recs, const TTimeView &view,
                            long double selStart, long double selEnd, int linePixels);

// A-B selection rules: setting A after B moves B to the end, setting B
// before A moves A to the start. B <= A means no selection.
void SetSelectionStart(long double &a, long double &b, long double p);
void SetSelectionEnd(long double &a, long double &b, long double p);

// Time labels of both rows. `textWidth` measures a text in the seek bar's
// font; a label's slot is its width plus `gap`, all in the unit of `width`
// (the seek bar counts device pixels). Labels that would overlap the
// previous one are left out.
struct TSeekLabel {
  int X = 0;  // centre column
  std::string Text;
};
struct TSeekLabels {
  std::vector<TSeekLabel> Upper;  // time from the trip start
  std::vector<TSeekLabel> Lower;  // clock time
};
using TTextWidth = std::function<int(const std::string &)>;
TSeekLabels ComputeSeekLabels(TDateTime tripStart, TDateTime tripEnd, const TTimeView &view,
                              int width, int margin, const TTextWidth &textWidth, int gap = 20);

// The marker's column for position p, or none when it lies outside the line.
std::optional<int> MarkerColumn(long double p, const TTimeView &view, int width, int margin);
// Position under column x, clamped to the view.
long double PositionAtColumn(int x, const TTimeView &view, int width, int margin);

// How far from the pointer the details window looks for values: 20 columns'
// worth of the view (at least 32 columns assumed).
long double HoverTolerance(const TTimeView &view, int linePixels);

// Precision of the marker's upper box: 3 (milliseconds) when a column of the
// line covers less than 0.01 s, 1 (tenths) when less than 0.1 s, else 0.
int PrecisionLevel(const TTimeView &view, double tripSpan, int linePixels);
// "3:07", "3:07.4" (level 1), "3:07.412" (level 3).
std::string MarkerTimeText(int64_t ms, int level);
// Milliseconds from the trip start at position p.
int64_t TripMilliseconds(long double p, TDateTime tripStart, TDateTime tripEnd);

}  // namespace tachora
