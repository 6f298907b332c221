// The recording catalogue: the rows of the main window's file list, filled by
// a background search of folders and drives, previewed (telemetry and
// container header of every recording), grouped into trips, sorted, and
// changed by the file operations (remove, delete from disk, lock).
//
// Units as in UnitFileItems.h: date-times TDateTime days (local), durations
// milliseconds, sizes bytes, lengths metres, speeds km/h.
//
// Threads: TFileManager owns its search thread (started by the constructor
// when auto-start is on). The rows are guarded by one mutex; every reader
// gets copies (GetItem, FillListItem, Items), so any thread may call any
// public function at any time. Expensive work (telemetry files, container
// headers) runs without the lock.
//
// The change notification is a callback given at construction. It carries
// nothing: it only says "the rows changed", and a reader takes copies. The
// search thread calls it, and operations called from other threads (sorting,
// grouping, deletion) call it on the calling thread. It is never called with
// the rows' lock held, so it may read the catalogue. It is not called once
// Terminate was asked for. It must return at once: a GUI sets a flag and
// posts one queued call to its UI thread while none is pending (coalescing
// a burst of changes into one refresh), and never waits for that thread
// (no blocking queued call), so the search never stalls on the window.
//
// Shutdown: the destructor asks the thread to stop and joins it; the search
// thread notices the flag between files and rows.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/UnitDisplayUnits.h"
#include "catalogue/UnitFileItems.h"
#include "catalogue/UnitPlatform.h"

namespace tachora {

class TMovingInfo;

// One item of the virtual list, as FillListItem gives it. SubItems follow the
// list's column order after Name: duration, date, track, speed, location,
// size, picture, kind, events, channels; a status line has exactly one sub-item. Image numbers
// index the list's image list (0 locked, 2 partly locked, 3 duration not from
// the container, 4 has a track, 5 event, 6 parking); -1 is none.
struct TListItem {
  std::string Caption;
  std::vector<std::string> SubItems;
  int Image = -1;
  std::vector<int> SubImages;  // parallel to SubItems
  bool IsStatus = false;
  uint64_t Id = 0;   // the row's TFileItem::Id; 0 for the status line
  uint8_t Kind = 0;  // the row's TRecordingKind
};

struct TFileManagerOptions {
  bool AutoStart = true;
  // Search roots; empty means the usual places (current folder, program
  // folder, the DCIM folder of the current drive, removable USB drives).
  std::vector<std::string> Roots;
  int InitialDelayMs = 200;  // pause after "Initializing"
  bool LowPriorityPreview = true;
};

// The search roots in their order: the current folder (unless it is the
// home folder or "/", what a program started from a desktop menu gets), the
// program's folder, the DCIM folder on the current folder's mount (not for
// network paths beginning with "//"), then the removable drives; each once
// (any letter case) and none inside the desktop folder.
std::vector<std::string> CollectSearchRoots(const std::string &current, const std::string &program,
                                            const std::string &currentMount,
                                            const std::vector<std::string> &drives,
                                            const std::string &desktop,
                                            const std::string &home = {});

// Extensions of the recordings a search catalogues, lower case: recorders
// write QuickTime ".mov" files, newer ones ".mp4" (the same atoms).
extern const char *const kRecordingExtensions[2];
// Whether a file name ends in one of them, in any letter case.
bool IsRecordingName(const std::string &name);
// The recording a telemetry file stands for: the video of the same name
// beside it (".mov", then ".mp4", any letter case); empty when none.
std::string FindRecordingFor(const std::string &telemetryPath);

// A file that "Delete from disk" could not remove, with the system's reason.
struct TDeleteFailure {
  std::string Path;
  std::string Error;
};

class TFileManager {
 public:
  using TNotify = std::function<void()>;

  TFileManager(bool autoStart, TNotify notify);
  TFileManager(const TFileManagerOptions &options, TNotify notify);
  ~TFileManager();
  TFileManager(const TFileManager &) = delete;
  TFileManager &operator=(const TFileManager &) = delete;

  // ---- reading (copies) ------------------------------------------------
  // Number of list items: the rows, or 1 when there is none but a status.
  int GetItemCount() const;
  int RowCount() const;
  TFileItem GetItem(int row) const;  // an empty row when out of range
  // The row with the stable id (TFileItem::Id): its current number or -1,
  // and a copy of it (false, `out` untouched, when it is gone). Commands
  // given by a view act on ids: row numbers change with every sort.
  int RowOfId(uint64_t id) const;
  bool GetItemById(uint64_t id, TFileItem &out) const;
  std::vector<TFileItem> Items() const;
  TListItem FillListItem(int index) const;
  // Every list item at once, taken under one lock: a view refreshed from it
  // never shows a row twice or misses one while a search re-sorts.
  std::vector<TListItem> FillList() const;
  // Row number holding the path or -1; `sub` receives the recording's index
  // inside the row. Another spelling of letter case finds the recording only
  // where it names the same file (a FAT card), never a second file on a
  // file system that tells clip.mov from CLIP.MOV.
  int FindRecording(const std::string &path, int *sub = nullptr) const;
  std::string Status() const;
  bool Searching() const { return !Status().empty(); }
  // Paths of all GPS log files met during searches, in the order met.
  TArrayString GetLogFiles() const;
  std::vector<TGPSLogFileItem> GetLogFileItems() const;

  // ---- sorting -----------------------------------------------------------
  void SortBy(int column);  // same column flips the direction
  void SetAscending(bool ascending);
  // The sensitivity (0 ... 2, 0.3 / 0.5 / 0.8 g) the Events column counts at.
  void SetEventLevel(int level) { fEventLevel = level < 0 ? 0 : (level > 2 ? 2 : level); }
  int EventLevel() const { return fEventLevel; }
  // The units of the Track and Speed columns (the values stay metric).
  void SetUnits(TUnits units) { fUnits = units; }
  int SortColumn() const;
  bool Ascending() const;
  void Sort();  // sorts by the current column without notifying

  // ---- adding ------------------------------------------------------------
  // Appends a row with one new recording (no details, no sort, no notify);
  // returns its row number, or the existing row when already catalogued.
  int AddRecording(const std::string &path, const TFileStat *entry = nullptr);
  // The row holding `path`, adding and previewing it when it is new; an
  // empty row when the file does not exist.
  TFileItem OpenRecording(const std::string &path);
  // Scans a folder like a search root (depth limit included) and previews
  // the new rows. True when rows were added.
  bool AddFolder(const std::string &folder);

  // ---- grouping ----------------------------------------------------------
  void AutoGroup();
  void MergeItems(const std::vector<int> &rows, bool resort);
  void SplitItem(int row);
  void UngroupAll();
  void MatchLogFiles();
  // Joins the files of one moment written by different cameras (front,
  // rear, interior) into one recording: the rows of single recordings whose
  // names pair (the same stamp with channel markers), or whose markers
  // differ and whose starts lie within 2 s at one place. The front (else
  // the first) file stays the recording; the others become its Channels,
  // with their own size, lock, duration and picture. Runs after the details
  // are worked out (the starts are needed) and before AutoGroup. Notifies
  // when rows were joined.
  void PairChannels();

  // ---- changes -----------------------------------------------------------
  void RemoveItem(const TFileItem &row);
  // Deletes the row's video files and their own telemetry files, and takes
  // the deleted recordings out of the list: a recording whose video could
  // not be deleted (a write-protected card, no permission) stays listed, its
  // telemetry untouched. Kept: a GPS log attached by time (it covers other
  // recordings too), and a telemetry file that another video owns or that
  // another listed recording uses. Returns the files that could not be
  // deleted, with the reason. With `asked` (the files the user was shown,
  // FilesToDelete at the time of the question) nothing else is deleted.
  std::vector<TDeleteFailure> DeleteItemFiles(const TFileItem &row,
                                              const std::vector<std::string> *asked = nullptr);
  // The files DeleteItemFiles would delete for the row now, in its order
  // (video 1, its telemetry, video 2, ...): what the question lists.
  std::vector<std::string> FilesToDelete(const TFileItem &row) const;
  void SetLocked(int row, bool locked);
  void AttachTrack(int row, const std::string &telemetryPath);
  void FitTrack(const std::string &recordingPath, TMovingInfo &track);
  void ShiftItem(int row, double offsetDays);
  void SetDuration(const std::string &recordingPath, int64_t ms);
  // The same for the row with the stable id, found and changed under one
  // lock, so a search re-sorting meanwhile cannot redirect them to another
  // row (a view's commands use these). Nothing happens when the row is gone.
  void SetLockedById(uint64_t id, bool locked);
  void SplitItemById(uint64_t id);
  void ShiftItemById(uint64_t id, double offsetDays);
  // Empties the list; during a search the list is emptied when it ends.
  void Clear();
  // Rebuilds every row's texts in the current language ("today", the
  // distance unit). No notification: the caller refreshes its list.
  void Retranslate();

  // ---- thread ------------------------------------------------------------
  void Terminate();
  bool Terminated() const { return fTerminated.load(); }
  // Blocks until the search thread has ended (returns at once without one).
  void WaitFor();

 private:
  friend class TFileManagerTestAccess;

  void Execute();
  void Notify();
  bool StopRequested() const { return fTerminated.load() || fClearRequested.load(); }
  void SetStatus(const std::string &status);
  // Scans one folder; returns the number of recordings added below it,
  // listed with the row each got in `added` when given.
  int ScanFolder(const std::string &folder, int depth,
                 std::set<std::pair<uint64_t, uint64_t>> &visited,
                 std::vector<std::pair<std::string, size_t>> *added);
  void Preview(size_t rowCount, bool progress);
  // A row's recordings taken out of the catalogue for slow work (telemetry
  // files, container headers), with a copy of them as they were taken.
  // Storing compares the two, so only what the work changed is written:
  // a change the user made meanwhile (attach track, move video position, a
  // duration from the player) is never overwritten by a stale copy.
  struct TWork {
    std::vector<TFileItemSubitem> Recs, Before;
    int Row = -1;  // where the row was when taken (a hint for storing)
  };
  // How StoreWork treats a value that changed in the catalogue meanwhile:
  // the background preview keeps it (Computed); a user's command, which
  // must win, replaces it (Override).
  enum class TStoreRule { Computed, Override };

  // Telemetry look-up, container probe and time alignment of the recordings
  // of the given rows, then stored back by path.
  void WorkOutRows(const std::vector<int> &rows, bool withProbe, bool withAlign,
                   TNoCaseDirCache *cache = nullptr);
  // The same for the row that holds `path` at the moment it is read (row
  // numbers change whenever the list is sorted or grouped). Adds the paths
  // of that row's recordings to `done`; false when the path is not listed.
  // `hint` is the row the recording probably is in (tried first).
  bool WorkOutRowOf(const std::string &path, bool withProbe, bool withAlign, TNoCaseDirCache &cache,
                    std::unordered_set<std::string> *done = nullptr, size_t hint = SIZE_MAX);
  bool TakeRowOf(const std::string &path, TWork &work, size_t hint = SIZE_MAX);
  void ComputeWork(TWork &work, bool withProbe, bool withAlign, TNoCaseDirCache &cache);
  void StoreWork(const TWork &work, TStoreRule rule);
  // The attach-track steps on a taken row: the new telemetry, and the shift
  // of the row onto the track when it lies elsewhere.
  void ComputeAttach(TWork &work, const std::string &telemetryPath);
  void WorkOutRecording(TFileItemSubitem &rec, bool withProbe, TNoCaseDirCache &cache);
  void LookupTelemetry(TFileItemSubitem &rec, TNoCaseDirCache &cache);
  std::string FindDatByName(const std::string &baseLower) const;

  // The following expect fMutex held.
  TListItem FillListItemLocked(int index) const;
  int RowOfIdLocked(uint64_t id) const;
  void RecomputeLocked(int row);
  void SortLocked();
  void RemoveRowLocked(size_t row);
  // Adds or drops a recording's path in the look-up maps.
  void RememberPathLocked(const std::string &path, size_t row, size_t sub);
  void ForgetPathLocked(const std::string &path);
  void MergeLocked(const std::vector<int> &rows, bool recompute = true);
  void SplitLocked(int row);
  // Joins rows into trips by the gap rule, walking them in order of start.
  void AutoGroupLocked();
  int FindRecordingLocked(const std::string &path, int *sub) const;
  // The row holding `path` as a recording or as another camera's file of
  // one; -1 when neither.
  int FindListedLocked(const std::string &path) const;
  bool PairChannelsLocked();
  void ClearRowsLocked();

  TFileManagerOptions fOptions;
  TNotify fNotify;
  std::string fUnit;  // distance unit text; guarded by fMutex

  mutable std::mutex fMutex;
  std::vector<TFileItem> fRows;
  uint64_t fNextId = 1;  // the next row's TFileItem::Id
  // The paths of all recordings, each with where it was last seen (row,
  // index in the row): a hint, checked on use and rebuilt when stale, so
  // that finding a recording does not compare it with every path. Beside
  // them the lower-case path -> the paths listed under it, for a spelling
  // that differs in letter case only.
  mutable std::unordered_map<std::string, std::pair<size_t, size_t>> fPaths;
  std::unordered_multimap<std::string, std::string> fFolded;
  // Another camera's file -> the recording (main file) it belongs to.
  std::unordered_map<std::string, std::string> fChannelOf;
  int fSortColumn = 0;
  bool fAscending = true;
  std::atomic<int> fEventLevel{1};
  std::atomic<TUnits> fUnits{TUnits::Metric};
  TArrayString fDatFiles;
  std::unordered_set<std::string> fDatPaths;
  std::unordered_map<std::string, size_t> fDatByName;  // lower-case base name -> first index
  std::vector<TGPSLogFileItem> fLogFiles;
  std::unordered_set<std::string> fLogPaths;
  std::string fStatus;

  std::atomic<bool> fTerminated{false};
  std::atomic<bool> fClearRequested{false};
  std::atomic<bool> fSearchRunning{false};  // Execute between its first and last step
  std::thread fThread;
};

}  // namespace tachora
