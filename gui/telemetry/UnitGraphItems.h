// The arithmetic of the telemetry graphs, kept apart from any window: the
// six graph kinds, the per-column buckets filled from a recording's
// telemetry, the value scale and baseline, the axis ticks, the line with its
// gaps, and the peak labels. The pictures (UnitGraphics) only paint what
// these functions give.
//
// Units: values are the kind's own (km/h, metres, g); times are TDateTime
// days; fractions are of a TMovingInfo's own [StartTime, EndTime]; trip
// positions are fractions of the trip's time line; y and x are pixel rows
// and columns of the graph's picture. Nothing here keeps state; any thread
// may call it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/UnitDisplayUnits.h"
#include "app/UnitUtils.h"

namespace tachora {

class TMovingInfo;

enum class TGraphKind { Speed, Altitude, GsensorA, GsensorX, GsensorY, GsensorZ };
constexpr int kGraphKindCount = 6;

struct TGraphKindInfo {
  TGraphKind Kind;
  const char *Letter;        // drawn in the right margin
  const char *MenuItemName;  // also the language key of its caption
  long double BaseStep;      // unit step of ticks and label rounding
  int Red, Green, Blue;      // the line's colour
  bool ShownAtFirst;
};
// In menu and drawing order: S, H, G, X, Y, Z.
const TGraphKindInfo &GraphKindInfo(TGraphKind kind);
const TGraphKindInfo &GraphKindInfo(int index);

// One pixel column of the plot. Time is the time of the first value put in.
struct TGraphicItem {
  long double Min = 0, Max = 0;
  int Count = 0;
  double Time = 0;
};
using TGraphicItems = std::vector<TGraphicItem>;

void PutGraphicValue(TGraphicItem &item, long double v, double t);

// Fills the columns with the kind's values between two fractions of the
// telemetry's span; values between two elements are interpolated at the
// window's edges so that the line reaches them. GPS speeds below 0 (unknown)
// are left out.
void FillGraphicItems(const TMovingInfo &mi, TGraphKind kind, TGraphicItems &items,
                      long double from, long double to);

// One telemetry object placed on the trip's time line: Start and End are
// the trip positions of its StartTime and EndTime.
struct TGraphSource {
  const TMovingInfo *Info = nullptr;
  long double Start = 0, End = 0;
};
// Fills `columns` columns for the window [windowStart, windowEnd] of the
// trip from every source that the window overlaps.
TGraphicItems BuildGraphicItems(const std::vector<TGraphSource> &sources, TGraphKind kind,
                                int columns, long double windowStart, long double windowEnd);

// Speed columns into mph, altitude columns into feet for imperial units
// (the G-sensor's g stay); applied before scaling, so the scale's steps
// and labels are in the units shown.
void GraphItemsToUnits(TGraphicItems &items, TGraphKind kind, TUnits units);

// The value range of the plot. For altitude, 0 means unknown: such values
// are dropped from the columns (a column holding only 0 becomes empty).
struct TGraphScale {
  long double M = 1;         // largest magnitude drawn, at least 1.05 x BaseStep
  bool PositiveOnly = true;  // no value below 0: the baseline sits at the bottom
};
TGraphScale ScaleGraphicItems(TGraphicItems &items, TGraphKind kind);

// Vertical placement in a picture of `height` rows.
struct TGraphFrame {
  int Height = 0;
  int TopMargin = 0, BottomMargin = 0;
  int Baseline = 0;
  long double M = 1;
  int YOf(long double v) const;
};
// Margins from the text height of "9": the top one a full text height when
// the picture is at least 60 rows high, else half of it + 1; the bottom one
// half of it + 1.
int GraphTopMargin(int height, int textHeight);
int GraphBottomMargin(int textHeight);
TGraphFrame MakeGraphFrame(int height, int textHeight, const TGraphScale &scale);

// The tick step: the kind's base step widened by whole base steps until
// neighbouring labels are 1.2 text heights apart (at most 1000 steps), and
// further, to 1, 2 or 5 times a power of ten base steps, until at most
// kMaxGraphTicks ticks lie between 0 and M: one absurd value in view costs
// a dozen ticks, not billions.
constexpr int kMaxGraphTicks = 12;
long double GraphTickStep(const TGraphFrame &frame, long double baseStep, int textHeight);
struct TGraphTick {
  int Y = 0;
  long double Value = 0;
  std::string Label;
};
// Ticks at 0, +-step, +-2 step, ... below M that fall inside the margins
// (none when M is not finite).
std::vector<TGraphTick> GraphTicks(const TGraphFrame &frame, long double baseStep, int textHeight);

// The shortest decimal text of a value ("10", "0.3", "-0.25"), "." always;
// values are rounded to 12 significant digits so that sums of steps read
// as written.
std::string ShortestText(long double v);

// The plot as lines (x1, y1, x2, y2), both ends included; column i of the
// items is x = margin + i. A line is broken where more than 3 columns and
// more than 6 s lie between two drawn columns, or, for columns without a
// time, more than 50 columns.
struct TGraphLine {
  int X1, Y1, X2, Y2;
};
std::vector<TGraphLine> GraphLines(const TGraphicItems &items, const TGraphFrame &frame,
                                   int margin);

// Up to five peak labels, largest magnitude first; the columns around each
// peak (within twice the label's width + 10, across empty columns and as
// long as the curve keeps falling away from the peak) are used up.
struct TGraphPeak {
  int Column = 0;
  long double Value = 0;
  int Y = 0;
  std::string Label;
};
using TTextWidthOf = std::function<int(const std::string &)>;
std::vector<TGraphPeak> GraphPeaks(TGraphicItems items, const TGraphFrame &frame,
                                   long double baseStep, const TTextWidthOf &textWidth);

// The cursor's column for trip position p, or -1 when it lies outside the
// plot (or the window is empty).
int GraphCursorX(long double p, long double windowStart, long double windowEnd, int width,
                 int margin);

// The bottom panel's height after the user changed the graphs: `current`
// is its height now, `fixed` the seek bar's plus the zoom row's. Returns
// `current` when nothing changes.
int BottomPanelHeightFor(int shownGraphs, int current, int fixed);

}  // namespace tachora
