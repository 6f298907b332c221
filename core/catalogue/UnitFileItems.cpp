#include "catalogue/UnitFileItems.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/UnitLang.h"
#include "catalogue/UnitRecordingKind.h"

namespace tachora {

namespace {

constexpr double kTolerance = 5.0 / 86400.0;   // a row inside another within 5 s
constexpr double kOverlapScale = 1.0 / 120.0;  // 12 minutes
constexpr double kSixSeconds = 6.0 / 86400.0;

std::string Two(int64_t v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string ExtractName(const std::string &path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

std::string CatalogueText(const char *key) {
  static const struct {
    const char *Key, *English;
  } kDefaults[] = {
      {"Kmeters", "km"},           {"today", "today"},
      {"yesterday", "yesterday"},  {"Initializing", "Initializing"},
      {"Searching", "Searching"},  {"Preview", "Preview"},
      {"Video", "Video"},          {"Grouping_Title", "Grouping"},
      {"Kind_Normal", "Normal"},   {"Kind_Event", "Event"},
      {"Kind_Parking", "Parking"},
  };
  std::string t = LangText(key);
  if (t == key)
    for (const auto &d : kDefaults)
      if (std::strcmp(d.Key, key) == 0) return d.English;
  return t;
}

std::string RecordingDisplayName(const std::string &path) {
  std::string name = ExtractName(path);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  if (name.size() == 8 && name[0] == 'F' && name[1] == 'I') {
    const std::string digits = name.substr(2);
    const bool allDigits =
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (allDigits && ParseInt(digits, 0) > 0) {
      name += "." + name.substr(2, 2);
      name[2] = 'L';
      name[3] = 'E';
    }
  }
  if (name.size() >= 12 && ToLowerAscii(name.substr(0, 12)) == "fragment of ")
    name = name.substr(12) + " fragment";
  return name;
}

long double TrailingNumber(const std::string &name) {
  size_t b = name.size();
  while (b > 0 &&
         ((name[b - 1] >= '0' && name[b - 1] <= '9') || name[b - 1] == '.' || name[b - 1] == ','))
    --b;
  if (b == name.size()) return -1;
  return ParseFloatDot(std::string_view(name).substr(b), -1);
}

std::string GroupName(const std::vector<std::string> &names) {
  std::string out;
  long double prev = -1;
  long double runLast = -1;
  bool extended = false;
  auto closeRun = [&]() {
    if (extended && runLast >= 0) out += "-" + std::to_string(static_cast<int64_t>(runLast));
    extended = false;
  };
  for (size_t i = 0; i < names.size(); ++i) {
    const long double n = TrailingNumber(names[i]);
    if (i > 0 && std::fabs(n - prev) < 1.99L) {
      extended = true;
      runLast = n;
    } else {
      closeRun();
      if (i > 0) out += ", ";
      out += names[i];
      runLast = n;
    }
    prev = n;
  }
  closeRun();
  return out;
}

std::string SizeColumnText(int64_t bytes) {
  if (bytes < 0) return {};
  std::string s = std::to_string(RoundHalfAway(static_cast<long double>(bytes) / 1048576.0L));
  if (s.size() > 3) s.insert(s.size() - 3, 1, '`');
  return s;
}

namespace {

// A fixed-point text cut (not rounded) after `decimals` decimals: 12.369 km
// reads "12.3". The value is first written with six more decimals, correctly
// rounded, so that a binary value just below a decimal one (12.3 is stored
// as 12.2999...) is not cut down a step.
std::string CutFixed(long double v, int decimals) {
  constexpr int kGuard = 6;
  std::string s = FormatFixed(v, decimals + kGuard);
  s.resize(s.size() - kGuard);
  if (decimals == 0 && !s.empty() && s.back() == '.') s.pop_back();
  return s;
}

}  // namespace

std::string TrackColumnText(long double metres, const std::string &unit) {
  const long double k = metres / 1000.0L;
  if (k > 100) return std::to_string(RoundHalfAway(k)) + unit;
  if (k > 2) return CutFixed(k, 1) + unit;
  if (k > 0) return CutFixed(k, 2) + unit;
  return {};
}

std::string SpeedColumnText(long double kmh) {
  if (kmh >= 100) return std::to_string(RoundHalfAway(kmh));
  if (kmh > 0) return CutFixed(kmh, 1);
  return {};
}

std::string DurationColumnText(int64_t ms, uint8_t source) {
  if (ms <= 0 || source == kDurUnknown) return "?";
  return (source == kDurEstimated ? "~" : "") + DurationText(ms);
}

std::string PictureColumnText(int width, int height) {
  if (width == 0 && height == 0) return {};
  return std::to_string(width) + "x" + std::to_string(height);
}

std::string DateColumnText(TDateTime start, TDateTime now) {
  if (!(start > 0) || !std::isfinite(start)) return {};
  // Rounding to the minute may carry into the next day (23:59:45).
  const int64_t minutes = RoundHalfAway(static_cast<long double>(start) * 1440.0L);
  const int64_t day = minutes / 1440;
  const int64_t m = minutes % 1440;
  const int64_t today = static_cast<int64_t>(std::floor(now));
  std::string d;
  if (day == today)
    d = CatalogueText("today");
  else if (day == today - 1)
    d = CatalogueText("yesterday");
  else
    d = FormatDate(static_cast<double>(day));
  return d + " " + Two(m / 60) + ":" + Two(m % 60);
}

void AlignTimes(TFileItemSubitem &rec) {
  if (!(rec.Duration > 0) || !(rec.GpsStart > 0) || !(rec.GpsStart < rec.GpsEnd)) return;
  if (rec.TelemetryPath == rec.Path) {
    // Fixes the camera embedded in the recording lie within it: it starts
    // with the first (a fix a second, stamped when the second began), or,
    // when the receiver found its first fix late, ends with the last.
    const double d = rec.Duration / kMsPerDay;
    rec.Start = rec.GpsEnd - rec.GpsStart >= d - 2 / kSecPerDay ? rec.GpsStart : rec.GpsEnd - d;
    rec.End = rec.Start + d;
    return;
  }
  const double d = rec.End - rec.Start;
  const double g = rec.GpsEnd - rec.GpsStart;
  const bool nearlyEqual =
      std::fabs(d - g) < kSixSeconds || (d + g != 0 && std::fabs(d / (d + g) - 0.5) < 0.01);
  if (nearlyEqual) {
    rec.Start = rec.GpsStart;
    rec.End = rec.GpsEnd;
  } else if (rec.GpsStart < rec.End && !(rec.GpsEnd < rec.Start)) {
    // The spans overlap: trust the file times.
  } else {
    rec.End = rec.GpsEnd;
    rec.Start = rec.GpsEnd - d;
  }
}

int64_t RecordingBytes(const TFileItemSubitem &rec) {
  int64_t bytes = rec.Size >= 0 ? rec.Size : 0;
  bool known = rec.Size >= 0;
  for (const TChannelFile &ch : rec.Channels)
    if (ch.Size >= 0) bytes = SaturatedAdd(bytes, ch.Size), known = true;
  return known ? bytes : -1;
}

// The cameras of a row in the order met: "F+R" (a trip whose later
// recordings gained a camera shows it too).
static std::string RowChannelsText(const std::vector<TFileItemSubitem> &items) {
  std::vector<std::string> labels;
  auto add = [&labels](const std::string &label) {
    if (std::find(labels.begin(), labels.end(), label) == labels.end()) labels.push_back(label);
  };
  bool several = false;
  for (const auto &r : items) {
    if (r.Channels.empty()) continue;
    several = true;
    add(r.Channel.empty() ? "?" : r.Channel);
    for (const TChannelFile &ch : r.Channels) add(ch.Channel.empty() ? "?" : ch.Channel);
  }
  std::string text;
  if (!several) return text;
  for (const auto &l : labels) text += (text.empty() ? "" : "+") + l;
  return text;
}

static std::string JoinPaths(const std::vector<std::string> &parts) {
  std::string out;
  for (const auto &p : parts) {
    if (!out.empty()) out += ", ";
    out += p;
  }
  return out;
}

void RecomputeRow(TFileItem &row, const std::string &unit, TDateTime now) {
  auto &items = row.Items;
  const auto byStart = [](const TFileItemSubitem &a, const TFileItemSubitem &b) {
    return a.Start < b.Start;
  };
  // Grouping appends recordings mostly in order; moving whole records is
  // what costs, so sort only when needed.
  if (!std::is_sorted(items.begin(), items.end(), byStart))
    std::stable_sort(items.begin(), items.end(), byStart);
  if (items.empty()) {
    row = TFileItem{};
    return;
  }
  TFileItemSubitem s;
  // Size, lock and damage of a row count every camera's file.
  size_t files = 0, locked = 0;
  for (const auto &r : items) {
    ++files;
    locked += r.Locked ? 1 : 0;
    for (const TChannelFile &ch : r.Channels) ++files, locked += ch.Locked ? 1 : 0;
  }
  const uint8_t lockState = locked == 0 ? 0 : (locked == files ? 1 : 2);
  if (items.size() == 1) {
    s = items[0];
    s.Size = RecordingBytes(items[0]);
    s.Locked = lockState;
    for (const TChannelFile &ch : items[0].Channels) s.Damaged = s.Damaged || ch.Damaged;
  } else {
    s.DurationSource = kDurContainer;
    s.AvgSpeed = -1;
    std::vector<std::string> names, paths, telemetry;
    int64_t size = 0, duration = 0;
    bool sizeKnown = false, durationKnown = false;
    long double timeSum = 0;
    for (const auto &r : items) {
      names.push_back(r.DisplayName);
      s.Kind = CombinedKind(s.Kind, r.Kind);
      paths.push_back(r.Path);
      // Unknown values (-1) are left out of the sums instead of shaving a
      // byte or a millisecond off the total.
      if (const int64_t bytes = RecordingBytes(r); bytes >= 0)
        size = SaturatedAdd(size, bytes), sizeKnown = true;
      if (r.Duration >= 0) duration = SaturatedAdd(duration, r.Duration), durationKnown = true;
      s.DurationSource = std::min(s.DurationSource, r.DurationSource);
      if (s.Start == 0 || s.Start > r.Start) s.Start = r.Start;
      s.End = std::max(s.End, r.End);
      s.Damaged = s.Damaged || r.Damaged;
      for (const TChannelFile &ch : r.Channels) s.Damaged = s.Damaged || ch.Damaged;
      s.PictureWidth = std::max(s.PictureWidth, r.PictureWidth);
      s.PictureHeight = std::max(s.PictureHeight, r.PictureHeight);
      if (!r.TelemetryPath.empty()) {
        telemetry.push_back(r.TelemetryPath);
        if (r.HasTrack) {
          s.TrackLength += r.TrackLength;
          if (r.AvgSpeed > 0) timeSum += r.TrackLength / r.AvgSpeed;
          s.HasTrack = 1;
        }
        if (s.GpsStart == 0 || s.GpsStart > r.GpsStart) s.GpsStart = r.GpsStart;
        s.GpsEnd = std::max(s.GpsEnd, r.GpsEnd);
        s.GpsCount = SaturatedAdd(s.GpsCount, r.GpsCount);
        s.GsensorCount = SaturatedAdd(s.GsensorCount, r.GsensorCount);
        for (size_t k = 0; k < s.EventCounts.size(); ++k)
          s.EventCounts[k] = SaturatedAdd(s.EventCounts[k], r.EventCounts[k]);
      }
    }
    s.DisplayName = GroupName(names);
    s.Path = JoinPaths(paths);
    s.TelemetryPath = JoinPaths(telemetry);
    s.Size = sizeKnown ? size : -1;
    s.Duration = durationKnown ? duration : -1;
    s.Locked = lockState;
    s.AvgSpeed = timeSum > 0 ? s.TrackLength / timeSum : -1;
  }
  if (!(s.Start > 0) && s.End > 0 && s.Duration > 0) s.Start = s.End - s.Duration / kMsPerDay;
  double span = s.End - s.Start;
  if (!(span > 0)) span = 1;
  for (auto &r : items) {
    r.RelStart = (r.Start - s.Start) / span;
    r.RelEnd = (r.End - s.Start) / span;
    r.RelGpsStart = r.GpsStart > 0 ? (r.GpsStart - s.Start) / span : 0;
    r.RelGpsEnd = r.GpsEnd > 0 ? (r.GpsEnd - s.Start) / span : 0;
  }
  if (items.size() == 1) {
    s.RelStart = items[0].RelStart;
    s.RelEnd = items[0].RelEnd;
    s.RelGpsStart = items[0].RelGpsStart;
    s.RelGpsEnd = items[0].RelGpsEnd;
  }
  row.Summary = s;
  row.DateText = DateColumnText(s.Start, now);
  row.SizeText = SizeColumnText(s.Size);
  row.TrackText = TrackColumnText(s.TrackLength, unit);
  row.SpeedText = SpeedColumnText(s.AvgSpeed);
  row.DurationText = DurationColumnText(s.Duration, s.DurationSource);
  row.PictureText = PictureColumnText(s.PictureWidth, s.PictureHeight);
  row.KindText = CatalogueText(RecordingKindKey(s.Kind));
  row.ChannelsText = RowChannelsText(items);
}

double RowGap(const TFileItem &a, const TFileItem &b) {
  const double sa = a.Summary.Start, ea = a.Summary.End;
  const double sb = b.Summary.Start, eb = b.Summary.End;
  if (&a == &b || !(sa < ea)) return 1;
  // An event or a parking clip is a trip of its own, whatever lies beside it.
  if (a.Summary.Kind != b.Summary.Kind) return 1;
  if (!(sb < eb) || !(sa > 0) || !(sb > 0)) return 1;
  if (sb >= sa - kTolerance && eb <= ea + kTolerance) return 1;
  if (sa >= sb - kTolerance && ea <= eb + kTolerance) return 1;
  if (sb <= ea && ea <= eb) return (ea - sb) / (eb - sb) * kOverlapScale;
  if (sa <= eb && ea >= eb) return (eb - sa) / (eb - sb) * kOverlapScale;
  const double m = ea > 0 ? std::min(std::fabs(ea - sb), 1.0) : 1.0;
  return eb > 0 ? std::min(std::fabs(eb - sa), m) : m;
}

double LogOverlap(const TFileItemSubitem &rec, const TGPSLogFileItem &log) {
  if (!(rec.Start > 0) || !(rec.Start < rec.End)) return 0;
  if (!(log.Start > 0) || !(log.Start < log.End)) return 0;
  return std::min(rec.End, log.End) - std::max(rec.Start, log.Start);
}

std::string EventsColumnText(const TFileItemSubitem &summary, int eventLevel) {
  if (summary.GsensorCount < 2) return {};
  return std::to_string(summary.EventCounts[static_cast<size_t>(std::clamp(eventLevel, 0, 2))]);
}

bool RowLess(const TFileItem &a, const TFileItem &b, int column, bool ascending, int eventLevel) {
  const TFileItem &x = ascending ? a : b;
  const TFileItem &y = ascending ? b : a;
  const TFileItemSubitem &p = x.Summary, &q = y.Summary;
  switch (column) {
    case kColName:
      return p.DisplayName < q.DisplayName;
    case kColDuration:
      return p.Duration < q.Duration;
    case kColDate:
      return p.Start < q.Start;
    case kColTrack:
      return p.TrackLength < q.TrackLength;
    case kColSpeed:
      return p.AvgSpeed < q.AvgSpeed;
    case kColLocation:
      return p.Path < q.Path;
    case kColSize:
      return p.Size < q.Size;
    case kColPicture:
      return int64_t{p.PictureWidth} + p.PictureHeight < int64_t{q.PictureWidth} + q.PictureHeight;
    case kColKind:
      return p.Kind < q.Kind;
    case kColEvents: {
      const size_t k = static_cast<size_t>(std::clamp(eventLevel, 0, 2));
      return p.EventCounts[k] < q.EventCounts[k];
    }
    case kColChannels:
      return x.ChannelsText < y.ChannelsText;
    default:
      return false;
  }
}

TDateTime EstimateLogStart(TDateTime start, TDateTime end, int64_t size) {
  const double span = end - start;
  if (span < 0 || span > 2 || !std::isfinite(span))
    return end - static_cast<double>((size < 0 ? 0 : size) / 58 * 2) / kSecPerDay;
  return start;
}

}  // namespace tachora
