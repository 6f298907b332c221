// Catalogue records and the pure rules on them: a recording
// (TFileItemSubitem), a row (TFileItem, one recording or a trip of several),
// a recorder GPS log met by a search (TGPSLogFileItem); display names, the
// row summary and its text columns, time alignment, the gap between two rows
// and the row order.
//
// Units: date-times are TDateTime days (local time, 0 = unknown), durations
// milliseconds (-1 = unknown), sizes bytes (-1 = unknown), track lengths
// metres, speeds km/h (-1 = cannot be computed). Relative positions are
// fractions of the row's span (0 ... 1).
//
// Records are plain values: callers always get full copies. The functions
// here touch no file and keep no state, so any thread may call them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/UnitUtils.h"

namespace tachora {

struct TGPSLogFileItem {
  std::string Path;
  TDateTime Start = 0, End = 0;
};

// Where a recording's duration came from.
enum : uint8_t {
  kDurUnknown = 0,
  kDurEstimated = 1,  // from file times or telemetry times
  kDurNoHeader = 2,   // container examined without a usable duration
  kDurContainer = 3,  // container header or the player
};

// Another camera's file of the same moment (rear, interior) beside the
// recording's main file.
struct TChannelFile {
  std::string Path;
  std::string Channel;  // label: "F", "R", "I", "A", "B"
  int64_t Size = -1;
  uint8_t Locked = 0;
  int64_t Duration = -1;  // ms
  int32_t PictureWidth = 0, PictureHeight = 0;
  uint8_t Damaged = 0;  // media data without sample tables, as the main file's
};

struct TFileItemSubitem {
  std::string Path;  // the main file: the front camera's, else the first channel's
  std::string DisplayName;
  uint8_t Locked = 0;  // 1 locked; in a row summary 0 none, 1 all, 2 some
  int64_t Size = -1;
  int64_t Duration = -1;
  uint8_t DurationSource = kDurUnknown;
  int32_t PictureWidth = 0, PictureHeight = 0;
  TDateTime Start = 0, End = 0;
  long double RelStart = 0, RelEnd = 0;
  std::string TelemetryPath;
  uint8_t HasTrack = 0;
  long double TrackLength = 0;  // metres
  long double AvgSpeed = 0;     // km/h
  int32_t GpsCount = 0, GsensorCount = 0;
  TDateTime GpsStart = 0, GpsEnd = 0;
  long double RelGpsStart = 0, RelGpsEnd = 0;
  TGPSLogFileItem GpsLog;  // matching recorder GPS log; empty path when none
  // Telemetry the recording embeds in a layout we cannot read (encrypted,
  // unknown): the layout's name, "-" when it has none; empty otherwise.
  std::string UnreadableTelemetry;
  // Media data without sample tables (cut off by power loss); in a row
  // summary: any of its recordings.
  uint8_t Damaged = 0;
  uint8_t Kind = 0;  // TRecordingKind; a row summary's is CombinedKind of all
  // G-force events in the telemetry at each sensitivity (0.3, 0.5, 0.8 g).
  std::array<int32_t, 3> EventCounts{};
  // Channel label of the main file ("F"); empty for a one-camera recording.
  std::string Channel;
  // The other cameras of this moment, in channel order; the main file's
  // values above (size, lock, telemetry) stay the main file's own.
  std::vector<TChannelFile> Channels;
};

struct TFileItem {
  // Stable within one catalogue: kept by sorting, refreshing and grouping
  // into this row; a row split off gets a new one. 0 for a row that no
  // catalogue holds.
  uint64_t Id = 0;
  std::string DateText, SizeText, TrackText, SpeedText, DurationText, PictureText, KindText;
  std::string ChannelsText;             // the cameras of the row: "F+R"; empty for one camera
  std::vector<TFileItemSubitem> Items;  // ascending start
  // The row's own values; Path is the "File Location" text (joined paths),
  // DisplayName the "Name", TelemetryPath the joined telemetry paths.
  TFileItemSubitem Summary;
};

// Column numbers in the list's design order (also the sort columns).
enum TFileColumn {
  kColName = 0,
  kColDuration,
  kColDate,
  kColTrack,
  kColSpeed,
  kColLocation,
  kColSize,
  kColPicture,
  kColKind,
  kColEvents,
  kColChannels,
  kColCount
};

// Catalogue texts from the language table, with the English text when the
// table lacks the key (so a list never shows "Kmeters").
std::string CatalogueText(const char *key);

// "FI000123.MOV" -> "FILE0123.00", "Fragment of FILE0001.MOV" -> "FILE0001 fragment".
std::string RecordingDisplayName(const std::string &path);

// Trailing number of a display name ("FILE0012" -> 12, "X1,5" -> 1.5); -1 without one.
long double TrailingNumber(const std::string &name);
// Display names joined by ", " with runs of consecutive numbers shortened:
// FILE0001, FILE0002, FILE0003, FILE0010 -> "FILE0001-3, FILE0010".
std::string GroupName(const std::vector<std::string> &names);

// Bytes of the recording's files, every camera's together; -1 when none is known.
int64_t RecordingBytes(const TFileItemSubitem &rec);

// Text columns.
std::string SizeColumnText(int64_t bytes);  // "1`234"; empty when unknown
std::string TrackColumnText(long double metres, const std::string &unit);
std::string SpeedColumnText(long double kmh);
std::string DurationColumnText(int64_t ms, uint8_t source);  // "~3:07", "?"
std::string PictureColumnText(int width, int height);
// "today 14:05", "yesterday 09:00", "2024-05-01 07:30"; `now` decides the day.
std::string DateColumnText(TDateTime start, TDateTime now);

// A recording whose video span and GPS span nearly agree takes the GPS
// times; one that lies apart from its track is moved to end with it. A
// recording whose telemetry is embedded in it keeps its duration and starts
// with its first fix (or ends with its last when the first came late).
void AlignTimes(TFileItemSubitem &rec);

// a + b, held at the type's limits instead of overflowing: a hostile movie
// header may claim a duration near the 64-bit limit.
template <typename T>
T SaturatedAdd(T a, T b) {
  T sum;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min();
}
// Sorts the row's recordings by start, builds the summary, the relative
// positions and the text columns. `unit` is the distance unit text.
void RecomputeRow(TFileItem &row, const std::string &unit, TDateTime now);

// Gap in days between two rows for automatic grouping (1 day = never join).
double RowGap(const TFileItem &a, const TFileItem &b);
// Overlap in days of a recording with a GPS log (0 when either is unknown).
double LogOverlap(const TFileItemSubitem &rec, const TGPSLogFileItem &log);

// Strict "a before b" for the sort column; `ascending` false reverses.
// `eventLevel` is the sensitivity (0 ... 2) the Events column counts at.
bool RowLess(const TFileItem &a, const TFileItem &b, int column, bool ascending,
             int eventLevel = 1);
// The Events column: the count at the sensitivity; empty without G-sensor data.
std::string EventsColumnText(const TFileItemSubitem &summary, int eventLevel);

// Sorts rows by `less`, moving each row once: a row is a large record, and
// moving it at every step of a sort costs more than the comparisons on a
// card of thousands of rows. Rows that compare equal keep no defined order.
template <typename TLess>
void SortRows(std::vector<TFileItem> &rows, TLess less) {
  std::vector<TFileItem *> order(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) order[i] = &rows[i];
  std::sort(order.begin(), order.end(),
            [&](const TFileItem *a, const TFileItem *b) { return less(*a, *b); });
  std::vector<TFileItem> sorted;
  sorted.reserve(rows.size());
  for (TFileItem *row : order) sorted.push_back(std::move(*row));
  rows = std::move(sorted);
}

// Estimated start of a recorder log whose file times are unusable: one
// 58-byte line every 2 seconds before its end.
TDateTime EstimateLogStart(TDateTime start, TDateTime end, int64_t size);

}  // namespace tachora
