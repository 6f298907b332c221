// TFileManager's file operations: removing rows, deleting recordings from
// the disk, locking, attaching and fitting tracks, shifting rows in time,
// durations from the player, and clearing the list.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "catalogue/UnitCatalogueProbe.h"
#include "catalogue/UnitFileManager.h"
#include "telemetry/UnitGEvents.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

namespace {

// The telemetry file that belongs to the recording alone: its sidecar, its
// INFO folder's .DAT or a .dat of the same name. A recorder GPS log attached
// by time carries another name and covers other recordings as well. A .dat
// of the same name found elsewhere is another recording's when it lies in an
// INFO folder or beside a video of that name (a copy of a card's video
// without its telemetry finds the card's file by name).
bool OwnTelemetry(const TFileItemSubitem &rec) {
  if (rec.TelemetryPath.empty()) return false;
  // Telemetry embedded in the recording is no file of its own.
  if (rec.TelemetryPath == rec.Path) return false;
  if (SameFileName(rec.TelemetryPath, rec.GpsLog.Path)) return false;
  if (!EqualsNoCase(BaseNameNoExt(rec.TelemetryPath), BaseNameNoExt(rec.Path))) return false;
  const std::string dir = ExtractFileDir(rec.TelemetryPath);
  const std::string videoDir = ExtractFileDir(rec.Path);
  if (dir == videoDir) return true;
  if (EqualsNoCase(ExtractFileName(dir), "INFO"))
    return ExtractFileDir(dir) == ExtractFileDir(videoDir);
  return FindRecordingFor(rec.TelemetryPath).empty();
}

// Every telemetry value of a recording, before another track is attached.
void ResetTelemetry(TFileItemSubitem &rec) {
  rec.GpsLog = {};
  rec.RelGpsStart = rec.RelGpsEnd = 0;
  rec.HasTrack = 0;
  rec.TrackLength = 0;
  rec.AvgSpeed = 0;
  rec.GpsCount = rec.GsensorCount = 0;
  rec.EventCounts = {};
  rec.GpsStart = rec.GpsEnd = 0;
}

}  // namespace

void TFileManager::ClearRowsLocked() {
  fRows.clear();
  fPaths.clear();
  fFolded.clear();
  fChannelOf.clear();
}

void TFileManager::Clear() {
  fClearRequested = true;
  {
    std::lock_guard lock(fMutex);
    // During a search the thread empties the list when it ends.
    if (!fStatus.empty()) return;
    ClearRowsLocked();
    fClearRequested = false;
  }
  Notify();
}

void TFileManager::RemoveItem(const TFileItem &row) {
  {
    std::lock_guard lock(fMutex);
    for (size_t r = 0; r < fRows.size(); ++r)
      if (fRows[r].Summary.Path == row.Summary.Path) {
        RemoveRowLocked(r);
        break;
      }
    SortLocked();
  }
  Notify();
}

std::vector<std::string> TFileManager::FilesToDelete(const TFileItem &row) const {
  // A telemetry file that another listed recording still uses is kept.
  std::unordered_set<std::string> inUse;
  {
    std::unordered_set<std::string> mine;
    for (const auto &rec : row.Items) mine.insert(rec.Path);
    std::lock_guard lock(fMutex);
    for (const auto &r : fRows)
      for (const auto &rec : r.Items) {
        if (mine.count(rec.Path)) continue;
        if (!rec.TelemetryPath.empty()) inUse.insert(ToLowerAscii(rec.TelemetryPath));
        if (!rec.GpsLog.Path.empty()) inUse.insert(ToLowerAscii(rec.GpsLog.Path));
      }
  }
  std::vector<std::string> out;
  for (const auto &rec : row.Items) {
    if (rec.Path.empty()) continue;
    out.push_back(rec.Path);
    for (const auto &ch : rec.Channels)
      if (!ch.Path.empty()) out.push_back(ch.Path);
    if (OwnTelemetry(rec) && !inUse.count(ToLowerAscii(rec.TelemetryPath)) &&
        std::find(out.begin(), out.end(), rec.TelemetryPath) == out.end())
      out.push_back(rec.TelemetryPath);
  }
  return out;
}

std::vector<TDeleteFailure> TFileManager::DeleteItemFiles(const TFileItem &row,
                                                          const std::vector<std::string> *asked) {
  std::vector<std::string> files = FilesToDelete(row);
  if (asked)
    files.erase(std::remove_if(files.begin(), files.end(),
                               [asked](const std::string &f) {
                                 return std::find(asked->begin(), asked->end(), f) == asked->end();
                               }),
                files.end());
  auto listed = [&files](const std::string &path) {
    return std::find(files.begin(), files.end(), path) != files.end();
  };
  std::vector<TDeleteFailure> failures;
  auto remove = [&failures](const std::string &path) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    failures.push_back({path, std::strerror(errno)});
    return false;
  };
  std::unordered_set<std::string> gone, goneChannels;
  for (const auto &rec : row.Items) {
    // The other cameras' files go first: the recording stays listed, with
    // its main file and track, while any of them could not be deleted.
    bool channelLeft = false;
    for (const auto &ch : rec.Channels) {
      if (!listed(ch.Path)) {
        channelLeft = true;
      } else if (remove(ch.Path)) {
        goneChannels.insert(ch.Path);
      } else {
        channelLeft = true;
      }
    }
    if (channelLeft) continue;
    // A video that stays keeps its track.
    if (rec.Path.empty() || !listed(rec.Path) || !remove(rec.Path)) continue;
    gone.insert(rec.Path);
    if (rec.TelemetryPath != rec.Path && listed(rec.TelemetryPath)) remove(rec.TelemetryPath);
  }
  {
    std::lock_guard lock(fMutex);
    for (size_t r = 0; r < fRows.size(); ++r) {
      if (row.Id != 0 ? fRows[r].Id != row.Id : fRows[r].Summary.Path != row.Summary.Path) continue;
      auto &items = fRows[r].Items;
      for (const auto &path : gone) ForgetPathLocked(path);
      for (auto &rec : items) {
        auto &chans = rec.Channels;
        chans.erase(std::remove_if(chans.begin(), chans.end(),
                                   [&goneChannels](const TChannelFile &ch) {
                                     return goneChannels.count(ch.Path) != 0;
                                   }),
                    chans.end());
        if (chans.empty()) rec.Channel.clear();
      }
      for (const auto &path : goneChannels) fChannelOf.erase(path);
      items.erase(std::remove_if(
                      items.begin(), items.end(),
                      [&gone](const TFileItemSubitem &rec) { return gone.count(rec.Path) != 0; }),
                  items.end());
      if (items.empty())
        RemoveRowLocked(r);
      else
        RecomputeLocked(static_cast<int>(r));
      break;
    }
    SortLocked();
  }
  Notify();
  return failures;
}

void TFileManager::SetLocked(int row, bool locked) {
  uint64_t id = 0;
  {
    std::lock_guard lock(fMutex);
    if (row < 0 || row >= static_cast<int>(fRows.size())) return;
    id = fRows[static_cast<size_t>(row)].Id;
  }
  SetLockedById(id, locked);
}

void TFileManager::AttachTrack(int row, const std::string &telemetryPath) {
  TWork work;
  {
    std::lock_guard lock(fMutex);
    if (row < 0 || row >= static_cast<int>(fRows.size())) return;
    work.Recs = fRows[static_cast<size_t>(row)].Items;
    work.Before = work.Recs;
    work.Row = row;
  }
  if (work.Recs.empty()) return;
  ComputeAttach(work, telemetryPath);
  // The user's choice wins over what a preview stored meanwhile; values the
  // attach does not set (a container probe that landed) stay.
  StoreWork(work, TStoreRule::Override);
  Notify();
}

void TFileManager::ComputeAttach(TWork &work, const std::string &telemetryPath) {
  TNoCaseDirCache cache;
  for (auto &rec : work.Recs) {
    ResetTelemetry(rec);
    rec.TelemetryPath = telemetryPath;
    LookupTelemetry(rec, cache);
  }
  TFileItem copy;
  copy.Items = work.Recs;
  std::string unit;
  {
    std::lock_guard lock(fMutex);
    unit = fUnit;
  }
  RecomputeRow(copy, unit, NowDateTime());
  TTelemetryStats st;
  if (LoadTelemetryStats(telemetryPath, st) && st.First > 0 && st.Last >= st.First) {
    const double rs = copy.Summary.Start, re = copy.Summary.End;
    const double d = re - rs, g = st.Last - st.First;
    const bool similar =
        std::fabs(d - g) < 6.0 / kSecPerDay || (d + g != 0 && std::fabs(d / (d + g) - 0.5) < 0.01);
    const bool shift =
        (similar && std::fabs(st.Last - re) > (d + g) / 20) || st.First > re || st.Last < rs;
    if (shift) {
      const double offset = st.Last - re;
      for (auto &rec : work.Recs) {
        rec.Start += offset;
        rec.End += offset;
        // Each recording's figures are those of its time range on the track.
        ResetTelemetry(rec);
        rec.TelemetryPath = telemetryPath;
        LookupTelemetry(rec, cache);
      }
    }
  }
}

void TFileManager::FitTrack(const std::string &recordingPath, TMovingInfo &track) {
  std::lock_guard lock(fMutex);
  int sub = -1;
  const int r = FindRecordingLocked(recordingPath, &sub);
  if (r < 0) return;
  TFileItemSubitem &rec = fRows[static_cast<size_t>(r)].Items[static_cast<size_t>(sub)];
  const bool inside = !(track.StartTime < rec.Start) && !(track.EndTime > rec.End);
  // A track that was already fitted while loading (a trip's telemetry is
  // trimmed to each recording) still has to bring its statistics here, or
  // the row would keep the span of the untrimmed file.
  if (inside && track.StartTime == rec.GpsStart && track.EndTime == rec.GpsEnd) {
    RecomputeLocked(r);
    return;
  }
  if (!inside) track.FitTo(rec.Start, rec.End);
  rec.TrackLength = track.TrackLength();
  rec.HasTrack = rec.TrackLength > 0 ? 1 : 0;
  rec.GpsStart = track.StartTime;
  rec.GpsEnd = track.EndTime;
  rec.AvgSpeed = track.AverageSpeed();
  rec.GpsCount = track.GpsPointCount();
  rec.GsensorCount = track.GsensorPointCount();
  const TGEventCounts events = CountGEvents(track.GsensorPoints);
  std::copy(std::begin(events.Count), std::end(events.Count), rec.EventCounts.begin());
  RecomputeLocked(r);
}

void TFileManager::ShiftItem(int row, double offsetDays) {
  if (offsetDays == 0 || !std::isfinite(offsetDays)) return;
  {
    std::lock_guard lock(fMutex);
    if (row < 0 || row >= static_cast<int>(fRows.size())) return;
    for (auto &rec : fRows[static_cast<size_t>(row)].Items) {
      rec.Start += offsetDays;
      rec.End += offsetDays;
    }
    RecomputeLocked(row);
  }
  Notify();
}

void TFileManager::SetDuration(const std::string &recordingPath, int64_t ms) {
  {
    std::lock_guard lock(fMutex);
    int sub = -1;
    const int r = FindRecordingLocked(recordingPath, &sub);
    if (r < 0 || ms <= 0) return;
    TFileItemSubitem &rec = fRows[static_cast<size_t>(r)].Items[static_cast<size_t>(sub)];
    rec.Duration = ms;
    rec.Start = rec.End - ms / kMsPerDay;
    rec.DurationSource = kDurContainer;
    AlignTimes(rec);
    RecomputeLocked(r);
  }
  Notify();
}

}  // namespace tachora
