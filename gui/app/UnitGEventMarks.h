// G-force events on the trip's time line: where they lie (trip positions),
// the small red triangles the seek bar and the G graphs draw for them, the
// hint over one, the jump to the next or previous one, and which
// sensitivity View -> Event Sensitivity has checked.
//
// Positions are trip positions (fractions of the row's span, see
// UnitSeekLayout.h); columns count from the time line's left margin.
// UI thread only (the menu); the rest are pure functions.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "app/UnitUtils.h"
#include "playback/UnitTripTimeline.h"

class QPainter;

namespace tachora {

class TCommands;
struct TRowTelemetry;

struct TEventMark {
  long double Position = 0;  // the event's start
  TDateTime Time = 0;        // the strongest moment
  float PeakG = 0;
};

// The items of View -> Event Sensitivity (0.3, 0.5, 0.8 g).
extern const char *const kEventSensitivityItems[3];
// The checked one (the normal one when none is).
int EventLevel(const TCommands &commands);

// The trip's events at the sensitivity, on its time line.
std::vector<TEventMark> EventMarksOf(const TRowTelemetry &trip, int level);

// Columns of the marks inside the view on a line of `linePixels` columns.
std::vector<int> EventColumns(const std::vector<TEventMark> &marks, const TTimeView &view,
                              int linePixels);
// The mark under column x (within 4 columns), if any.
std::optional<size_t> EventAtColumn(const std::vector<TEventMark> &marks, const TTimeView &view,
                                    int linePixels, int x);
// Small red triangles pointing down at `top`, one per column, shifted by
// `offset` (the margin).
void DrawEventMarks(QPainter &p, const std::vector<int> &columns, int offset, int top);
// "Event 14:03:12, 0.72 g".
QString EventHint(const TEventMark &mark);

// Where Next/Previous Event lands: 3 seconds before the next event after
// `position` (or the previous one before it); none when there is none.
// `tripDays` is the span of the time line.
std::optional<long double> EventJumpTarget(const std::vector<TEventMark> &marks,
                                           long double position, bool forward, double tripDays);

}  // namespace tachora
