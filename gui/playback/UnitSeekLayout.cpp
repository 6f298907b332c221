#include "playback/UnitSeekLayout.h"

#include <algorithm>
#include <cmath>

#include "catalogue/UnitFileItems.h"

namespace tachora {

namespace {

constexpr long double kShortView = 4.0L / (24 * 60);  // days
constexpr long double kSecond = 1.0L / kSecPerDay;

// Columns are rounded outwards, with a little slack so that a boundary that
// is a whole column in decimal (0.3 of 100 columns) does not move one column
// for the binary fraction's last bit.
constexpr long double kColumnSlack = 1e-7L;
int FloorInt(long double v) {
  return static_cast<int>(std::floor(v + kColumnSlack));
}
int CeilInt(long double v) {
  return static_cast<int>(std::ceil(v - kColumnSlack));
}
// Label times are whole milliseconds; the trip's end in binary days is not.
constexpr long double kMsSlack = 0.5L;

// Column (from the margin) of trip position x, floor or ceiling; huge values
// of a deeply zoomed view are held to a range that int and QPainter take.
long double Column(long double x, const TTimeView &view, int linePixels) {
  const long double c = linePixels * (x - view.Start) / view.Width();
  return std::clamp(c, -1.0e6L, 1.0e6L);
}

bool Overlaps(long double s, long double e, const TTimeView &view) {
  return e > view.Start && s < view.End;
}

// The smallest multiple of `base` (ms) for which span / step gives at most
// `slots` whole steps.
long double LabelStep(long double spanMs, long double baseMs, int slots) {
  long double k = std::floor(spanMs / ((slots + 1) * baseMs)) + 1;
  while (k > 1 && std::floor(spanMs / ((k - 1) * baseMs)) <= slots) --k;
  while (std::floor(spanMs / (k * baseMs)) > slots) ++k;
  return k * baseMs;
}

// Adds a label unless it would overlap the last one kept.
void AddLabel(std::vector<TSeekLabel> &row, int &lastX, int x, std::string text,
              const TTextWidth &textWidth) {
  if (textWidth(text) >= x - lastX) return;
  row.push_back({x, std::move(text)});
  lastX = x;
}

}  // namespace

std::vector<TSeekRecording> SeekRecordingsOf(const TFileItem &row) {
  std::vector<TSeekRecording> recs;
  recs.reserve(row.Items.size());
  for (const TFileItemSubitem &it : row.Items)
    recs.push_back({it.RelStart, it.RelEnd, it.DurationSource == kDurNoHeader});
  return recs;
}

long double MinViewWidth(double tripSpan) {
  return 0.5L * kSecond / (std::max(0.0, tripSpan) + kSecond);
}

void ZoomView(TTimeView &view, long double p, long double factor, bool zoomIn, double tripSpan) {
  long double w = std::fabs(view.Width());
  if (factor > 0) w = zoomIn ? w / factor : w * factor;
  view.Start = p - w / 2;
  view.End = p + w / 2;
  view = NormaliseView(view, tripSpan);
}

bool KeepInView(TTimeView &view, long double p, double tripSpan) {
  const long double w = view.Width();
  const TTimeView old = view;
  if (p > view.End - 0.05L * w && view.End < 1) {
    view.Start = p - 0.1L * w;
    view.End = view.Start + w;
  } else if (p < view.Start) {
    view.Start = p - w / 2;
    view.End = p + w / 2;
  } else {
    return false;
  }
  view = NormaliseView(view, tripSpan);
  return !(view == old);
}

TZoomScroll ZoomScrollFor(const TTimeView &view, int linePixels) {
  TZoomScroll s;
  s.Page = std::max(1, linePixels / 10);
  const long double w = view.Width();
  // Steps of the whole trip, bounded so that a view zoomed to half a second
  // of a week-long trip still fits the scroll bar's int range.
  const long double total = w > 0 ? std::min<long double>(std::round(s.Page / w), 1e9L) : s.Page;
  s.Total = std::max(s.Page, static_cast<int>(total));
  s.Enabled = s.Total > s.Page;
  if (!s.Enabled) s.Total = s.Page;
  s.Position = std::clamp(static_cast<int>(std::llround(s.Total * view.Start)), 0, s.Maximum());
  return s;
}

TTimeView ViewFromScroll(const TZoomScroll &scroll, int position, long double width) {
  if (!scroll.Enabled || scroll.Total <= 0) return TTimeView{};
  position = std::clamp(position, 0, scroll.Maximum());
  TTimeView v;
  if (position >= scroll.Maximum()) {
    v.End = 1;
    v.Start = 1 - width;
  } else {
    v.Start = static_cast<long double>(position) / scroll.Total;
    v.End = v.Start + width;
  }
  if (v.End > 1) {
    v.End = 1;
    v.Start = 1 - width;
  }
  if (v.Start < 0) v.Start = 0;
  return v;
}

TArrayInteger GapMarks(const std::vector<TSeekRecording> &recs, const TTimeView &view,
                       int linePixels) {
  TArrayInteger list;
  if (view.Width() <= 0) return list;
  for (const TSeekRecording &r : recs) {
    if (!(r.Start < r.End) || !Overlaps(r.Start, r.End, view)) continue;
    const int xs = FloorInt(Column(r.Start, view, linePixels));
    const int xe = CeilInt(Column(r.End, view, linePixels));
    if (list.empty()) {
      if (xs > 0) list.insert(list.end(), {0, xs});
    } else {
      list.push_back(xs);
    }
    list.push_back(xe);
  }
  if (!list.empty()) {
    if (list.back() < linePixels - 1)
      list.push_back(linePixels);
    else
      list.pop_back();
  }
  return list;
}

TArrayInteger UnknownDurationMarks(const std::vector<TSeekRecording> &recs, const TTimeView &view,
                                   int linePixels) {
  TArrayInteger list;
  if (view.Width() <= 0) return list;
  for (const TSeekRecording &r : recs) {
    if (!r.DurationUnknown || !(r.Start < r.End) || !Overlaps(r.Start, r.End, view)) continue;
    list.push_back(std::max(0, FloorInt(Column(r.Start, view, linePixels))));
    list.push_back(std::min(CeilInt(Column(r.End, view, linePixels)), linePixels));
  }
  return list;
}

TArrayInteger SelectionMarks(long double a, long double b, const TTimeView &view, int linePixels) {
  if (!(a < b) || view.Width() <= 0 || !Overlaps(a, b, view)) return {};
  return {std::max(0, FloorInt(Column(a, view, linePixels))),
          std::min(CeilInt(Column(b, view, linePixels)), linePixels)};
}

TSeekMarks ComputeSeekMarks(const std::vector<TSeekRecording> &recs, const TTimeView &view,
                            long double selStart, long double selEnd, int linePixels) {
  linePixels = std::max(0, linePixels);
  return {GapMarks(recs, view, linePixels), UnknownDurationMarks(recs, view, linePixels),
          SelectionMarks(selStart, selEnd, view, linePixels)};
}

void SetSelectionStart(long double &a, long double &b, long double p) {
  a = p;
  if (a > b) b = 1;
}

void SetSelectionEnd(long double &a, long double &b, long double p) {
  b = p;
  if (b < a) a = 0;
}

TSeekLabels ComputeSeekLabels(TDateTime tripStart, TDateTime tripEnd, const TTimeView &view,
                              int width, int margin, const TTextWidth &textWidth, int gap) {
  TSeekLabels out;
  const long double span = static_cast<long double>(tripEnd) - tripStart;
  const long double s = tripStart + view.Start * span;
  const long double e = tripStart + view.End * span;
  if (!(s < e)) return out;
  const int k = std::max(1, width - 2 * margin);
  const bool isShort = e - s < kShortView;
  const long double baseMs = isShort ? 1000 : 60000;
  const long double viewMs = (e - s) * kMsPerDay;

  // Upper row: time from the trip start.
  const int upperSlot = textWidth(isShort ? "99:99" : "99") + gap;
  long double step = LabelStep(viewMs, baseMs, std::max(0, k / std::max(1, upperSlot)));
  const long double fromMs = (s - tripStart) * kMsPerDay;
  const long double toMs = (e - tripStart) * kMsPerDay;
  int lastX = -100;
  for (long double t = std::ceil((fromMs - kMsSlack) / step) * step; t < toMs - kMsSlack;
       t += step) {
    const int x = margin + static_cast<int>(std::llround(k * (t - fromMs) / viewMs));
    AddLabel(out.Upper, lastX, x, DurationText(std::llround(t), isShort), textWidth);
  }

  // Lower row: clock time, at multiples of the step within the day.
  const int lowerSlot = textWidth("99:99:99") + gap;
  step = LabelStep(viewMs, baseMs, std::max(0, k / std::max(1, lowerSlot)));
  const long double day = std::floor(s);
  const long double sMs = (s - day) * kMsPerDay;
  const long double eMs = (e - day) * kMsPerDay;
  lastX = -100;
  for (long double u = std::ceil((sMs - kMsSlack) / step) * step; u < eMs - kMsSlack; u += step) {
    const int x = margin + static_cast<int>(std::llround(k * (u - sMs) / viewMs));
    AddLabel(out.Lower, lastX, x, FormatTime(static_cast<double>(day + u / kMsPerDay)), textWidth);
  }
  return out;
}

std::optional<int> MarkerColumn(long double p, const TTimeView &view, int width, int margin) {
  const long double f = view.Start < view.End ? (p - view.Start) / view.Width() : -1;
  const long double x = margin + std::round((width - 2 * margin) * f);
  if (!(x >= margin && x <= width - margin)) return std::nullopt;
  return static_cast<int>(x);
}

long double PositionAtColumn(int x, const TTimeView &view, int width, int margin) {
  const long double c = std::clamp<long double>(
      static_cast<long double>(x - margin) / std::max(1, width - 2 * margin), 0, 1);
  return view.Start + c * view.Width();
}

long double HoverTolerance(const TTimeView &view, int linePixels) {
  return view.Width() * 20 / std::max(32, linePixels);
}

int PrecisionLevel(const TTimeView &view, double tripSpan, int linePixels) {
  const long double secPerColumn = view.Width() * tripSpan * kSecPerDay / std::max(1, linePixels);
  if (secPerColumn < 0.01L) return 3;
  if (secPerColumn < 0.1L) return 1;
  return 0;
}

std::string MarkerTimeText(int64_t ms, int level) {
  if (ms < 0) ms = 0;
  std::string t = DurationText(ms, true);
  const int frac = static_cast<int>(ms % 1000);
  if (level == 1) {
    t += "." + std::to_string(frac / 100);
  } else if (level == 3) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%03d", frac);
    t += buf;
  }
  return t;
}

int64_t TripMilliseconds(long double p, TDateTime tripStart, TDateTime tripEnd) {
  return RoundHalfAway(p * (static_cast<long double>(tripEnd) - tripStart) * kMsPerDay);
}

}  // namespace tachora
