// TFileManager: construction, reading the rows, sorting, adding recordings
// and working out their details (telemetry look-up, container probe, time
// alignment). The search thread lives in UnitFileScan.cpp, grouping in
// UnitFileGroups.cpp, the file operations in UnitFileOps.cpp.
#include "catalogue/UnitFileManager.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "catalogue/UnitCatalogueProbe.h"
#include "catalogue/UnitRecordingKind.h"
#include "telemetry/UnitEmbeddedTelemetry.h"
#include "telemetry/UnitRecordingTelemetry.h"

namespace tachora {

namespace {

// A recording as its directory entry (or the file itself) describes it.
TFileItemSubitem NewRecording(const std::string &path, const TFileStat *entry) {
  TFileItemSubitem rec;
  rec.Path = path;
  rec.DisplayName = RecordingDisplayName(path);
  rec.Kind = RecordingKind(path);
  TFileStat st;
  if (entry && entry->Exists)
    st = *entry;
  else
    StatFile(path, st);
  if (st.Exists) {
    rec.Locked = st.ReadOnly ? 1 : 0;
    rec.Start = st.Created;
    rec.End = st.Modified;
    rec.Size = st.Size;
  }
  // Times that cannot belong to one recording (end not after start, or a
  // span over four hours) leave the start unknown.
  if (!(rec.End > rec.Start) || rec.End - rec.Start > 1.0 / 6.0) rec.Start = 0;
  if (rec.Start > 0) {
    rec.Duration = RoundHalfAway(static_cast<long double>(rec.End - rec.Start) * kMsPerDay);
    rec.DurationSource = kDurEstimated;
  }
  return rec;
}

void ResetTelemetryStats(TFileItemSubitem &rec) {
  rec.HasTrack = 0;
  rec.TrackLength = 0;
  rec.AvgSpeed = 0;
  rec.GpsCount = rec.GsensorCount = 0;
  rec.EventCounts = {};
  rec.GpsStart = rec.GpsEnd = 0;
  rec.RelGpsStart = rec.RelGpsEnd = 0;
}

// The statistics of the recording's telemetry file (or those `given`,
// already read); false when it gives fewer than two points and two samples.
bool TakeTelemetryStats(TFileItemSubitem &rec, const TTelemetryStats *given = nullptr) {
  // A track named otherwise than the recording (a GPS log matched by time,
  // a track attached to a whole trip) covers other recordings too: each
  // takes its own time range of it, so that a trip counts the log once.
  const bool shared = rec.TelemetryPath != rec.Path &&
                      !EqualsNoCase(BaseNameNoExt(rec.TelemetryPath), BaseNameNoExt(rec.Path));
  TTelemetryStats st = given ? *given : TTelemetryStats{};
  const bool read = given    ? true
                    : shared ? LoadTelemetryStats(rec.TelemetryPath, rec.Start, rec.End, st)
                             : LoadTelemetryStats(rec.TelemetryPath, st);
  if (!read || (st.GpsCount < 2 && st.GsensorCount < 2)) return false;
  rec.TrackLength = st.TrackLength;
  rec.HasTrack = st.TrackLength > 0 ? 1 : 0;
  rec.GpsStart = st.First;
  rec.GpsEnd = st.Last;
  rec.AvgSpeed = st.AvgSpeed;
  rec.GpsCount = st.GpsCount;
  rec.GsensorCount = st.GsensorCount;
  rec.EventCounts = st.EventCounts;
  return true;
}

// When the recording began, from the best source at hand given its
// duration `d` (days): the GPS fixes the camera embedded in it (UTC; see
// AlignTimes), the date and time in its file
// name (the camera's clock), the movie header's creation time (UTC), and
// last its file's modification time as its end.
void PlaceRecording(TFileItemSubitem &rec, double d, TDateTime created) {
  const TDateTime stamp = NameStampTime(rec.Path);
  if (rec.TelemetryPath == rec.Path && rec.GpsStart > 0) {
    rec.Start = rec.End - d;
    AlignTimes(rec);  // by the fixes
  } else if (stamp > 0) {
    rec.Start = stamp;
    rec.End = stamp + d;
  } else if (created > 0) {
    rec.Start = UtcToLocal(created);
    rec.End = rec.Start + d;
  } else {
    rec.Start = rec.End - d;
  }
}

void ProbeContainer(TFileItemSubitem &rec) {
  TMovieHeader h;
  const bool read = ReadMovieHeader(rec.Path, h);
  rec.Damaged = h.Damaged ? 1 : 0;
  if (read && h.HasMovie && h.DurationMs > 0) {
    rec.Duration = h.DurationMs;
    rec.DurationSource = kDurContainer;
    rec.PictureWidth = h.Width;
    rec.PictureHeight = h.Height;
  }
  if (rec.DurationSource != kDurContainer) rec.DurationSource = kDurNoHeader;
  if (rec.Duration > 0) {
    const double d = rec.Duration / kMsPerDay;
    PlaceRecording(rec, d, h.CreationTime);
    if (!(rec.GpsStart > 0) && rec.GpsEnd > 0) rec.GpsStart = rec.GpsEnd - d;
  }
}

}  // namespace

TFileManager::TFileManager(bool autoStart, TNotify notify)
    : TFileManager(TFileManagerOptions{autoStart, {}, 200, true}, std::move(notify)) {}

TFileManager::TFileManager(const TFileManagerOptions &options, TNotify notify)
    : fOptions(options), fNotify(std::move(notify)), fUnit(CatalogueText("Kmeters")) {
  fDatFiles.reserve(1000);
  fLogFiles.reserve(1000);
  if (fOptions.AutoStart) {
    fSearchRunning = true;  // before anything can call AddFolder or Clear
    fThread = std::thread([this] { Execute(); });
  }
}

TFileManager::~TFileManager() {
  Terminate();
  WaitFor();
}

void TFileManager::Terminate() {
  fTerminated = true;
}

void TFileManager::WaitFor() {
  if (fThread.joinable() && fThread.get_id() != std::this_thread::get_id()) fThread.join();
}

void TFileManager::Notify() {
  if (fTerminated.load() || !fNotify) return;
  fNotify();
}

void TFileManager::SetStatus(const std::string &status) {
  std::lock_guard lock(fMutex);
  fStatus = status;
}

std::string TFileManager::Status() const {
  std::lock_guard lock(fMutex);
  return fStatus;
}

// ---- reading --------------------------------------------------------------

int TFileManager::GetItemCount() const {
  std::lock_guard lock(fMutex);
  if (fRows.empty()) return fStatus.empty() ? 0 : 1;
  return static_cast<int>(fRows.size());
}

int TFileManager::RowCount() const {
  std::lock_guard lock(fMutex);
  return static_cast<int>(fRows.size());
}

TFileItem TFileManager::GetItem(int row) const {
  std::lock_guard lock(fMutex);
  if (row < 0 || row >= static_cast<int>(fRows.size())) return {};
  return fRows[static_cast<size_t>(row)];
}

std::vector<TFileItem> TFileManager::Items() const {
  std::lock_guard lock(fMutex);
  return fRows;
}

TListItem TFileManager::FillListItem(int index) const {
  std::lock_guard lock(fMutex);
  return FillListItemLocked(index);
}

std::vector<TListItem> TFileManager::FillList() const {
  std::lock_guard lock(fMutex);
  const int count = fRows.empty() ? (fStatus.empty() ? 0 : 1) : static_cast<int>(fRows.size());
  std::vector<TListItem> out;
  out.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) out.push_back(FillListItemLocked(i));
  return out;
}

namespace {

// The Track column in miles, cut like the kilometres.
std::string ImperialTrackText(long double metres) {
  return TrackColumnText(DisplayDistance(metres, TUnits::Imperial) * 1000,
                         UnitText(DistanceUnitKey(TUnits::Imperial)));
}

}  // namespace

TListItem TFileManager::FillListItemLocked(int index) const {
  TListItem li;
  if (index == 0 && !fStatus.empty()) {
    if (!fRows.empty()) li.Caption = fRows[0].Summary.DisplayName;
    li.SubItems = {". . . " + fStatus + " . . ."};
    li.SubImages = {-1};
    li.IsStatus = true;
    return li;
  }
  if (index < 0 || index >= static_cast<int>(fRows.size())) return li;
  const TFileItem &r = fRows[static_cast<size_t>(index)];
  li.Id = r.Id;
  li.Caption = r.Summary.DisplayName;
  const TUnits units = fUnits;
  const bool metric = units == TUnits::Metric;
  li.SubItems = {r.DurationText,
                 r.DateText,
                 metric ? r.TrackText : ImperialTrackText(r.Summary.TrackLength),
                 metric ? r.SpeedText : SpeedColumnText(DisplaySpeed(r.Summary.AvgSpeed, units)),
                 r.Summary.Path,
                 r.SizeText,
                 r.PictureText,
                 r.KindText,
                 EventsColumnText(r.Summary, fEventLevel),
                 r.ChannelsText};
  li.SubImages.assign(li.SubItems.size(), -1);
  if (r.Summary.Locked == 2)
    li.Image = 2;
  else if (r.Summary.Locked == 1)
    li.Image = 0;
  if (r.Summary.HasTrack) li.SubImages[2] = 4;
  if (r.Summary.DurationSource == kDurNoHeader) li.SubImages[0] = 3;
  if (r.Summary.Damaged) li.SubImages[0] = 5;  // the list's damaged picture
  if (r.Summary.Kind == kKindEvent) li.SubImages[7] = 6;
  if (r.Summary.Kind == kKindParking) li.SubImages[7] = 7;
  li.Kind = r.Summary.Kind;
  return li;
}

int TFileManager::FindRecordingLocked(const std::string &path, int *sub) const {
  if (sub) *sub = -1;
  auto it = fPaths.find(path);
  if (it == fPaths.end()) {
    // Another spelling of letter case: the same file only on a file system
    // that ignores case (both names lead to one file).
    const auto [from, to] = fFolded.equal_range(ToLowerAscii(path));
    for (auto f = from; f != to && it == fPaths.end(); ++f)
      if (SameFileName(f->second, path)) it = fPaths.find(f->second);
    if (it == fPaths.end()) return -1;
  }
  const std::string &listed = it->first;
  auto at = [&](const std::pair<size_t, size_t> &where) {
    return where.first < fRows.size() && where.second < fRows[where.first].Items.size() &&
           fRows[where.first].Items[where.second].Path == listed;
  };
  if (!at(it->second)) {
    // Rows were sorted, grouped or removed since: note where every
    // recording is now, once for all the look-ups that follow.
    for (size_t r = 0; r < fRows.size(); ++r)
      for (size_t k = 0; k < fRows[r].Items.size(); ++k) {
        const auto known = fPaths.find(fRows[r].Items[k].Path);
        if (known != fPaths.end()) known->second = {r, k};
      }
    if (!at(it->second)) return -1;
  }
  if (sub) *sub = static_cast<int>(it->second.second);
  return static_cast<int>(it->second.first);
}

void TFileManager::RememberPathLocked(const std::string &path, size_t row, size_t sub) {
  if (fPaths.insert_or_assign(path, std::pair<size_t, size_t>{row, sub}).second)
    fFolded.emplace(ToLowerAscii(path), path);
}

void TFileManager::ForgetPathLocked(const std::string &path) {
  if (fPaths.erase(path) == 0) return;
  const auto [from, to] = fFolded.equal_range(ToLowerAscii(path));
  for (auto f = from; f != to; ++f)
    if (f->second == path) {
      fFolded.erase(f);
      break;
    }
}

int TFileManager::FindRecording(const std::string &path, int *sub) const {
  std::lock_guard lock(fMutex);
  return FindRecordingLocked(path, sub);
}

TArrayString TFileManager::GetLogFiles() const {
  std::lock_guard lock(fMutex);
  TArrayString out;
  for (const auto &l : fLogFiles) out.push_back(l.Path);
  return out;
}

std::vector<TGPSLogFileItem> TFileManager::GetLogFileItems() const {
  std::lock_guard lock(fMutex);
  return fLogFiles;
}

// ---- sorting --------------------------------------------------------------

void TFileManager::SortLocked() {
  const int column = fSortColumn;
  const bool ascending = fAscending;
  const int level = fEventLevel;
  SortRows(fRows, [column, ascending, level](const TFileItem &a, const TFileItem &b) {
    return RowLess(a, b, column, ascending, level);
  });
}

void TFileManager::Sort() {
  std::lock_guard lock(fMutex);
  SortLocked();
}

void TFileManager::SortBy(int column) {
  {
    std::lock_guard lock(fMutex);
    if (column == fSortColumn) {
      fAscending = !fAscending;
    } else {
      fSortColumn = std::clamp(column, 0, kColCount - 1);
      fAscending = true;
    }
    SortLocked();
  }
  Notify();
}

void TFileManager::SetAscending(bool ascending) {
  {
    std::lock_guard lock(fMutex);
    if (fAscending == ascending) return;
    fAscending = ascending;
    SortLocked();
  }
  Notify();
}

int TFileManager::SortColumn() const {
  std::lock_guard lock(fMutex);
  return fSortColumn;
}

bool TFileManager::Ascending() const {
  std::lock_guard lock(fMutex);
  return fAscending;
}

// ---- adding ---------------------------------------------------------------

void TFileManager::Retranslate() {
  std::lock_guard lock(fMutex);
  fUnit = CatalogueText("Kmeters");
  const TDateTime now = NowDateTime();
  for (TFileItem &row : fRows) RecomputeRow(row, fUnit, now);
}

void TFileManager::RecomputeLocked(int row) {
  if (row < 0 || row >= static_cast<int>(fRows.size())) return;
  RecomputeRow(fRows[static_cast<size_t>(row)], fUnit, NowDateTime());
}

int TFileManager::AddRecording(const std::string &path, const TFileStat *entry) {
  {
    std::lock_guard lock(fMutex);
    const int known = FindListedLocked(path);
    if (known >= 0) return known;
  }
  TFileItem row;
  row.Items.push_back(NewRecording(path, entry));
  std::lock_guard lock(fMutex);
  const int known = FindListedLocked(path);
  if (known >= 0) return known;
  RememberPathLocked(path, fRows.size(), 0);
  RecomputeRow(row, fUnit, NowDateTime());
  row.Id = fNextId++;
  fRows.push_back(std::move(row));
  return static_cast<int>(fRows.size()) - 1;
}

int TFileManager::RowOfId(uint64_t id) const {
  std::lock_guard lock(fMutex);
  for (size_t i = 0; i < fRows.size(); ++i)
    if (id != 0 && fRows[i].Id == id) return static_cast<int>(i);
  return -1;
}

bool TFileManager::GetItemById(uint64_t id, TFileItem &out) const {
  std::lock_guard lock(fMutex);
  for (const TFileItem &row : fRows)
    if (id != 0 && row.Id == id) {
      out = row;
      return true;
    }
  return false;
}

TFileItem TFileManager::OpenRecording(const std::string &path) {
  const std::string abs = AbsolutePath(path);
  {
    std::lock_guard lock(fMutex);
    const int r = FindListedLocked(abs);
    if (r >= 0) return fRows[static_cast<size_t>(r)];
  }
  if (!FileExists(abs)) return {};
  const int r = AddRecording(abs);
  if (r < 0) return {};
  WorkOutRows({r}, true, true);
  Notify();
  std::lock_guard lock(fMutex);
  const int now = FindRecordingLocked(abs, nullptr);
  return now >= 0 ? fRows[static_cast<size_t>(now)] : TFileItem{};
}

// ---- working out details ------------------------------------------------

std::string TFileManager::FindDatByName(const std::string &baseLower) const {
  std::lock_guard lock(fMutex);
  const auto it = fDatByName.find(baseLower);
  return it == fDatByName.end() ? std::string() : fDatFiles[it->second];
}

void TFileManager::LookupTelemetry(TFileItemSubitem &rec, TNoCaseDirCache &cache) {
  if (rec.TelemetryPath.empty()) rec.TelemetryPath = FindTelemetryFor(rec.Path, &cache);
  if (rec.TelemetryPath.empty())
    rec.TelemetryPath = FindDatByName(ToLowerAscii(BaseNameNoExt(rec.Path)));
  if (!rec.TelemetryPath.empty() && !FileExists(rec.TelemetryPath)) rec.TelemetryPath.clear();
  if (!rec.TelemetryPath.empty() && !TakeTelemetryStats(rec)) rec.TelemetryPath.clear();
  // Without a telemetry file the recording's own embedded telemetry serves.
  rec.UnreadableTelemetry.clear();
  if (rec.TelemetryPath.empty()) {
    TEmbeddedReport report;
    TTelemetryStats st;
    bool read = false;
    const TEmbeddedPresence found = LoadEmbeddedTelemetryStats(rec.Path, st, read, &report);
    if (found == TEmbeddedPresence::Readable) {
      rec.TelemetryPath = rec.Path;
      if (!read || !TakeTelemetryStats(rec, &st)) rec.TelemetryPath.clear();
    } else if (found == TEmbeddedPresence::Unreadable) {
      rec.UnreadableTelemetry = report.Format.empty() ? "-" : report.Format;
    }
  }
  // Statistics of a file that is gone must not stay behind.
  if (rec.TelemetryPath.empty()) ResetTelemetryStats(rec);
  if (rec.HasTrack && rec.GpsStart > 0 && rec.DurationSource != kDurContainer) {
    rec.Duration = RoundHalfAway(static_cast<long double>(rec.GpsEnd - rec.GpsStart) * kMsPerDay);
    rec.DurationSource = kDurEstimated;
  }
}

void TFileManager::WorkOutRecording(TFileItemSubitem &rec, bool withProbe, TNoCaseDirCache &cache) {
  LookupTelemetry(rec, cache);
  if (withProbe && !StopRequested()) ProbeContainer(rec);
}

void TFileManager::WorkOutRows(const std::vector<int> &rows, bool withProbe, bool withAlign,
                               TNoCaseDirCache *cache) {
  TWork work;
  {
    std::lock_guard lock(fMutex);
    for (int r : rows)
      if (r >= 0 && r < static_cast<int>(fRows.size()))
        for (const auto &rec : fRows[static_cast<size_t>(r)].Items) work.Recs.push_back(rec);
  }
  work.Before = work.Recs;
  work.Row = rows.empty() ? -1 : rows[0];
  TNoCaseDirCache local;
  ComputeWork(work, withProbe, withAlign, cache ? *cache : local);
  StoreWork(work, TStoreRule::Computed);
}

bool TFileManager::TakeRowOf(const std::string &path, TWork &work, size_t hint) {
  std::lock_guard lock(fMutex);
  int row = -1;
  if (hint < fRows.size())
    for (const auto &rec : fRows[hint].Items)
      if (rec.Path == path) row = static_cast<int>(hint);
  if (row < 0) row = FindRecordingLocked(path, nullptr);
  if (row < 0) return false;
  work.Recs = fRows[static_cast<size_t>(row)].Items;
  work.Before = work.Recs;
  work.Row = row;
  return true;
}

bool TFileManager::WorkOutRowOf(const std::string &path, bool withProbe, bool withAlign,
                                TNoCaseDirCache &cache, std::unordered_set<std::string> *done,
                                size_t hint) {
  TWork work;
  if (!TakeRowOf(path, work, hint)) return false;
  if (done)
    for (const auto &rec : work.Recs) done->insert(rec.Path);
  ComputeWork(work, withProbe, withAlign, cache);
  StoreWork(work, TStoreRule::Computed);
  return true;
}

void TFileManager::ComputeWork(TWork &work, bool withProbe, bool withAlign,
                               TNoCaseDirCache &cache) {
  for (auto &rec : work.Recs) {
    if (fTerminated.load()) break;
    WorkOutRecording(rec, withProbe, cache);
    if (withAlign) AlignTimes(rec);
  }
}

namespace {

// The values of a recording in the groups that are worked out together.
bool SameTelemetry(const TFileItemSubitem &a, const TFileItemSubitem &b) {
  return a.TelemetryPath == b.TelemetryPath && a.HasTrack == b.HasTrack &&
         a.TrackLength == b.TrackLength && a.AvgSpeed == b.AvgSpeed && a.GpsCount == b.GpsCount &&
         a.GsensorCount == b.GsensorCount && a.GpsStart == b.GpsStart && a.GpsEnd == b.GpsEnd &&
         a.GpsLog.Path == b.GpsLog.Path && a.GpsLog.Start == b.GpsLog.Start &&
         a.GpsLog.End == b.GpsLog.End && a.UnreadableTelemetry == b.UnreadableTelemetry;
}

void CopyTelemetry(TFileItemSubitem &to, const TFileItemSubitem &from) {
  to.TelemetryPath = from.TelemetryPath;
  to.HasTrack = from.HasTrack;
  to.TrackLength = from.TrackLength;
  to.AvgSpeed = from.AvgSpeed;
  to.GpsCount = from.GpsCount;
  to.GsensorCount = from.GsensorCount;
  to.EventCounts = from.EventCounts;
  to.GpsStart = from.GpsStart;
  to.GpsEnd = from.GpsEnd;
  to.GpsLog = from.GpsLog;
  to.UnreadableTelemetry = from.UnreadableTelemetry;
}

bool SameContainer(const TFileItemSubitem &a, const TFileItemSubitem &b) {
  return a.Duration == b.Duration && a.DurationSource == b.DurationSource &&
         a.PictureWidth == b.PictureWidth && a.PictureHeight == b.PictureHeight &&
         a.Damaged == b.Damaged;
}

void CopyContainer(TFileItemSubitem &to, const TFileItemSubitem &from) {
  to.Duration = from.Duration;
  to.DurationSource = from.DurationSource;
  to.PictureWidth = from.PictureWidth;
  to.PictureHeight = from.PictureHeight;
  to.Damaged = from.Damaged;
}

bool SameTimes(const TFileItemSubitem &a, const TFileItemSubitem &b) {
  return a.Start == b.Start && a.End == b.End;
}

// Writes into `dst` what the work changed from `before` to `rec`. A value
// changed in the catalogue meanwhile stays (the work's copy of it is stale);
// the work's times, derived from telemetry and container, are then stale as
// well. A user's command (override) sets its telemetry whatever happened
// meanwhile, and moves the times by the shift it worked out.
void MergeWorked(TFileItemSubitem &dst, const TFileItemSubitem &before, const TFileItemSubitem &rec,
                 bool override) {
  const bool telemetryMine = SameTelemetry(dst, before);
  const bool containerMine = SameContainer(dst, before);
  const bool timesMine = SameTimes(dst, before);
  if (!SameTelemetry(rec, before) && (override || telemetryMine)) CopyTelemetry(dst, rec);
  if (!SameContainer(rec, before) && containerMine) CopyContainer(dst, rec);
  if (SameTimes(rec, before)) return;
  if (override) {
    dst.Start += rec.Start - before.Start;
    dst.End += rec.End - before.End;
  } else if (telemetryMine && containerMine && timesMine) {
    dst.Start = rec.Start;
    dst.End = rec.End;
  }
}

}  // namespace

void TFileManager::StoreWork(const TWork &work, TStoreRule rule) {
  std::lock_guard lock(fMutex);
  std::set<int> touched;
  const int hint = work.Row;
  for (size_t k = 0; k < work.Recs.size() && k < work.Before.size(); ++k) {
    const TFileItemSubitem &rec = work.Recs[k];
    int sub = -1;
    int r = -1;
    // Rows seldom move while their details are worked out: try the row the
    // recording came from before searching them all.
    if (hint >= 0 && hint < static_cast<int>(fRows.size())) {
      const auto &items = fRows[static_cast<size_t>(hint)].Items;
      for (size_t i = 0; i < items.size() && r < 0; ++i)
        if (items[i].Path == rec.Path) r = hint, sub = static_cast<int>(i);
    }
    if (r < 0) r = FindRecordingLocked(rec.Path, &sub);
    if (r < 0) continue;  // removed meanwhile
    TFileItemSubitem &dst = fRows[static_cast<size_t>(r)].Items[static_cast<size_t>(sub)];
    MergeWorked(dst, work.Before[k], rec, rule == TStoreRule::Override);
    touched.insert(r);
  }
  for (int r : touched) RecomputeLocked(r);
}

}  // namespace tachora
