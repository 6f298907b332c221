// libFuzzer target: catalogue rows and recorder GPS logs with any times,
// durations and names (unknown, inverted, not-a-number, near the limits)
// through automatic grouping, log matching, merging, splitting, sorting and
// the row texts. Nothing may crash or hang, no recording may be lost or
// listed twice, and a row's recordings stay in order of start.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "app/UnitLang.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileItems.h"
#include "catalogue/UnitFileManager.h"

namespace tachora {

// The catalogue's friend: puts hand-made rows and logs into it, as a search
// would have found them.
class TFileManagerTestAccess {
 public:
  static void AddRow(TFileManager &fm, TFileItemSubitem rec) {
    TFileItem row;
    row.Items.push_back(std::move(rec));
    std::lock_guard lock(fm.fMutex);
    fm.fPaths.emplace(ToLowerAscii(row.Items[0].Path),
                      std::pair<size_t, size_t>{fm.fRows.size(), 0});
    RecomputeRow(row, fm.fUnit, NowDateTime());
    row.Id = fm.fNextId++;
    fm.fRows.push_back(std::move(row));
  }
  static void AddLog(TFileManager &fm, const TGPSLogFileItem &log) {
    std::lock_guard lock(fm.fMutex);
    if (fm.fLogPaths.insert(log.Path).second) fm.fLogFiles.push_back(log);
  }
};

}  // namespace tachora

using namespace tachora;

namespace {

constexpr double kDay0 = 45413;  // 2024-05-01

// A date-time as a recorder or a damaged file may give it: mostly near one
// day, sometimes unknown, huge or not a number.
double AnyTime(FuzzedDataProvider &in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return 0;
    case 1:
      return in.ConsumeFloatingPoint<double>();
    case 2:
      return std::numeric_limits<double>::quiet_NaN();
    case 3:
      return -std::numeric_limits<double>::infinity();
    default:
      return kDay0 + in.ConsumeIntegralInRange<int>(-100000, 100000) / 86400.0;
  }
}

TFileItemSubitem AnyRecording(FuzzedDataProvider &in, int index) {
  TFileItemSubitem r;
  r.Path = "/nonexistent/DCIM/" + in.ConsumeRandomLengthString(12) + "_" + std::to_string(index) +
           ".MOV";
  r.DisplayName = RecordingDisplayName(r.Path);
  r.Start = AnyTime(in);
  r.End = in.ConsumeBool() ? r.Start + in.ConsumeIntegralInRange<int>(-600, 3600) / 86400.0
                           : AnyTime(in);
  r.Duration = in.ConsumeBool() ? in.ConsumeIntegral<int64_t>()
                                : in.ConsumeIntegralInRange<int64_t>(-1, 3600000);
  r.DurationSource = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  r.Size = in.ConsumeIntegral<int64_t>();
  r.Locked = in.ConsumeIntegralInRange<uint8_t>(0, 1);
  if (in.ConsumeBool()) {
    r.HasTrack = 1;
    r.TrackLength = in.ConsumeFloatingPoint<double>();
    r.AvgSpeed = in.ConsumeFloatingPoint<double>();
    r.GpsStart = AnyTime(in);
    r.GpsEnd = AnyTime(in);
    r.GpsCount = in.ConsumeIntegral<int32_t>();
  }
  AlignTimes(r);
  return r;
}

size_t RecordingCount(const TFileManager &fm, bool ordered) {
  size_t n = 0;
  for (const TFileItem &row : fm.Items()) {
    n += row.Items.size();
    if (!ordered) continue;
    for (size_t i = 1; i < row.Items.size(); ++i)
      if (row.Items[i].Start < row.Items[i - 1].Start) __builtin_trap();
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::once_flag languages;
  std::call_once(languages, [] { InitLanguages(1033); });
  FuzzedDataProvider in(data, size);
  TFileManager fm(false, nullptr);
  const int recordings = in.ConsumeIntegralInRange<int>(0, 40);
  for (int i = 0; i < recordings; ++i) TFileManagerTestAccess::AddRow(fm, AnyRecording(in, i));
  const int logs = in.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < logs; ++i) {
    TGPSLogFileItem log;
    log.Path = "/nonexistent/GPS/track" + std::to_string(i) + ".log";
    log.Start = AnyTime(in);
    log.End = in.ConsumeBool()
                  ? EstimateLogStart(log.Start, AnyTime(in), in.ConsumeIntegral<int64_t>())
                  : AnyTime(in);
    TFileManagerTestAccess::AddLog(fm, log);
  }
  const size_t total = RecordingCount(fm, false);
  if (total != static_cast<size_t>(recordings)) __builtin_trap();

  while (in.remaining_bytes() > 0) {
    const int rows = fm.RowCount();
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        fm.AutoGroup();
        break;
      case 1:
        fm.MatchLogFiles();
        break;
      case 2: {
        std::vector<int> picked;
        const int n = in.ConsumeIntegralInRange<int>(0, 6);
        for (int k = 0; k < n; ++k) picked.push_back(in.ConsumeIntegralInRange<int>(-1, rows));
        fm.MergeItems(picked, in.ConsumeBool());
        break;
      }
      case 3:
        fm.SplitItem(in.ConsumeIntegralInRange<int>(-1, rows));
        break;
      case 4:
        fm.UngroupAll();
        break;
      case 5:
        fm.SortBy(in.ConsumeIntegralInRange<int>(0, kColCount - 1));
        break;
      case 6:
        fm.ShiftItem(in.ConsumeIntegralInRange<int>(-1, rows), AnyTime(in) - kDay0);
        break;
      default: {
        const TFileItem row = fm.GetItem(in.ConsumeIntegralInRange<int>(0, rows));
        const TCutTrip trip = MakeCutTrip(row, {});
        if (trip.recordings.size() != row.Items.size()) __builtin_trap();
        TripDateTime(row, in.ConsumeFloatingPoint<long double>());
        const TFileItem other = fm.GetItem(in.ConsumeIntegralInRange<int>(0, rows));
        RowGap(row, other);
        for (const TGPSLogFileItem &log : fm.GetLogFileItems())
          for (const TFileItemSubitem &rec : row.Items) LogOverlap(rec, log);
        fm.FillList();
        break;
      }
    }
    if (RecordingCount(fm, true) != total) __builtin_trap();
  }
  return 0;
}
