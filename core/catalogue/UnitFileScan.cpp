// TFileManager's search thread: the search roots, the folder walk, the
// preview pass and the closing grouping.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include "catalogue/UnitFileManager.h"

namespace tachora {

namespace {

constexpr int kMaxDepth = 3;  // a root and three levels below it

bool InsideFolder(const std::string &path, const std::string &folder) {
  if (folder.empty()) return false;
  const std::string f = IncludeTrailingSlash(folder);
  return IncludeTrailingSlash(path).rfind(f, 0) == 0;
}

}  // namespace

const char *const kRecordingExtensions[2] = {".mov", ".mp4"};

bool IsRecordingName(const std::string &name) {
  for (const char *ext : kRecordingExtensions)
    if (name.size() > 4 && EndsWithNoCase(name, ext)) return true;
  return false;
}

std::string FindRecordingFor(const std::string &telemetryPath) {
  const std::string dir = ExtractFileDir(telemetryPath);
  for (const char *ext : kRecordingExtensions) {
    std::string p = FindFileNoCase(dir.empty() ? "." : dir, BaseNameNoExt(telemetryPath) + ext);
    if (!p.empty()) return p;
  }
  return {};
}

std::vector<std::string> CollectSearchRoots(const std::string &current, const std::string &program,
                                            const std::string &currentMount,
                                            const std::vector<std::string> &drives,
                                            const std::string &desktop, const std::string &home) {
  std::vector<std::string> roots;
  auto add = [&](const std::string &root) {
    if (root.empty() || InsideFolder(root, desktop)) return;
    for (const auto &r : roots)
      if (EqualsNoCase(r, root)) return;
    roots.push_back(root);
  };
  // Started from a desktop menu the current folder is the home folder (or
  // "/"): searching it would list personal videos as recordings.
  const std::string here = IncludeTrailingSlash(current);
  if (here != "/" && (home.empty() || here != IncludeTrailingSlash(home))) add(here);
  add(IncludeTrailingSlash(program));
  if (current.rfind("//", 0) != 0 && !currentMount.empty())
    add(IncludeTrailingSlash(currentMount) + "DCIM/");
  for (const auto &d : drives) add(IncludeTrailingSlash(d));
  return roots;
}

void TFileManager::Execute() {
  SetStatus(CatalogueText("Initializing"));
  for (int waited = 0; waited < fOptions.InitialDelayMs && !fTerminated.load(); waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  // Search: every root lists its recordings at once.
  SetStatus(CatalogueText("Searching"));
  std::vector<std::string> roots;
  for (const auto &r : fOptions.Roots) roots.push_back(IncludeTrailingSlash(r));
  if (roots.empty()) {
    const std::string cwd = CurrentFolder();
    roots = CollectSearchRoots(cwd, ProgramFolder(), MountPointOf(cwd), RemovableUsbDrives(),
                               DesktopFolder(), HomeFolder());
  }
  for (const auto &root : roots) {
    if (StopRequested()) break;
    SetStatus(CatalogueText("Searching") + " - " + root);
    Notify();
    std::set<std::pair<uint64_t, uint64_t>> visited;
    ScanFolder(root, 0, visited, nullptr);
    Sort();
  }

  Preview(static_cast<size_t>(RowCount()), true);

  SetStatus(CatalogueText("Grouping_Title"));
  Notify();
  PairChannels();
  MatchLogFiles();
  AutoGroup();

  {
    // Clearing the status and honouring a clear request in one step, so a
    // Clear arriving in between is never lost.
    std::lock_guard lock(fMutex);
    fStatus.clear();
    if (fClearRequested.load()) {
      ClearRowsLocked();
      fClearRequested = false;
    }
    fSearchRunning = false;
  }
  Notify();
}

int TFileManager::ScanFolder(const std::string &folder, int depth,
                             std::set<std::pair<uint64_t, uint64_t>> &visited,
                             std::vector<std::pair<std::string, size_t>> *added) {
  const std::string dir = IncludeTrailingSlash(folder);
  SetStatus(CatalogueText("Searching") + " - " + dir);
  if (StopRequested() || depth > kMaxDepth) return 0;
  // A folder reached twice (symbolic-link loops, bind mounts) is walked once.
  TFileStat self;
  if (!StatFile(dir, self) || !self.IsDir) return 0;
  if (!visited.insert({self.Dev, self.Ino}).second) return 0;

  DIR *dp = opendir(dir.c_str());
  if (!dp) return 0;
  const bool logFolder = [&] {
    const std::string lower = ToLowerAscii(dir);
    return lower.find("log") != std::string::npos || lower.find("gps") != std::string::npos;
  }();
  // Entries in name order, not the file system's (hash order on ext4): what
  // a search finds first (a .dat of a recording's name met in two folders,
  // equal GPS log overlaps) must not depend on how a folder was written.
  std::vector<std::pair<std::string, unsigned char>> entries;
  while (dirent *e = readdir(dp)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") entries.emplace_back(name, e->d_type);
  }
  std::sort(entries.begin(), entries.end());
  int here = 0, below = 0;
  for (const auto &[name, type] : entries) {
    if (StopRequested()) break;
    const std::string path = dir + name;
    bool isDir = type == DT_DIR;
    bool isFile = type == DT_REG;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      TFileStat st;
      if (!StatFile(path, st)) continue;  // vanished or a dangling link
      isDir = st.IsDir;
      isFile = st.IsFile;
    }
    if (isDir) {
      below += ScanFolder(path, depth + 1, visited, added);
      continue;
    }
    if (!isFile || name.size() < 4) continue;
    const std::string ext = ToLowerAscii(name.substr(name.size() - 4));
    if (ext == ".dat") {
      std::lock_guard lock(fMutex);
      if (fDatPaths.insert(path).second) {
        fDatFiles.push_back(path);
        fDatByName.emplace(ToLowerAscii(BaseNameNoExt(path)), fDatFiles.size() - 1);
      }
    } else if (ext == ".log") {
      if (!logFolder) continue;
      TFileStat st;
      StatFile(path, st);
      TGPSLogFileItem log{path, st.Created, st.Modified};
      log.Start = EstimateLogStart(log.Start, log.End, st.Size);
      std::lock_guard lock(fMutex);
      if (fLogPaths.insert(path).second) fLogFiles.push_back(log);
    } else if (IsRecordingName(name)) {
      {
        std::lock_guard lock(fMutex);
        if (fPaths.count(path) || fChannelOf.count(path)) continue;
      }
      TFileStat st;
      if (!StatFileAt(dirfd(dp), name, st) || !st.IsFile) continue;  // vanished meanwhile
      if (const int row = AddRecording(path, &st); row >= 0) {
        ++here;
        if (added) added->emplace_back(path, static_cast<size_t>(row));
      }
    }
  }
  closedir(dp);
  if (here > 0) Notify();
  return here + below;
}

void TFileManager::Preview(size_t rowCount, bool progress) {
  if (progress) {
    SetStatus(CatalogueText("Preview") + " GPS," + CatalogueText("Video"));
    Notify();
  }
  if (fOptions.LowPriorityPreview) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  // The rows are followed by a recording of each, not by number: the user
  // may group, ungroup or remove rows while the preview runs.
  std::vector<std::string> order;
  {
    std::lock_guard lock(fMutex);
    for (size_t i = 0; i < rowCount && i < fRows.size(); ++i)
      for (const auto &rec : fRows[i].Items) order.push_back(rec.Path);
  }
  std::unordered_set<std::string> done;
  TNoCaseDirCache cache;  // each folder of the card is listed once
  std::string shown;
  for (size_t i = 0; i < order.size() && !StopRequested(); ++i) {
    if (done.count(order[i])) continue;
    // Usually the row has kept its number; it is searched only when it has not.
    if (!WorkOutRowOf(order[i], true, true, cache, &done, i)) continue;  // removed meanwhile
    if (!progress) continue;
    const std::string status =
        CatalogueText("Preview") + " " +
        std::to_string(RoundHalfAway((static_cast<long double>(i) + 1) / order.size() * 100)) + "%";
    // A list refresh reads every row: once per percent, not once per row,
    // so that a card of 10,000 recordings is not copied 10,000 times.
    if (status == shown) continue;
    shown = status;
    SetStatus(status);
    Notify();
  }
}

bool TFileManager::AddFolder(const std::string &folder) {
  std::set<std::pair<uint64_t, uint64_t>> visited;
  std::vector<std::pair<std::string, size_t>> added;
  ScanFolder(AbsolutePath(folder), 0, visited, &added);
  // Rows are found by their recordings: the list may be sorted or grouped
  // while the new rows are worked out. The number each got when it was
  // added is only a hint.
  TNoCaseDirCache cache;
  std::unordered_set<std::string> done;
  for (const auto &[p, row] : added) {
    if (fTerminated.load()) break;
    if (done.count(p)) continue;
    WorkOutRowOf(p, true, true, cache, &done, row);
  }
  PairChannels();
  {
    // The status belongs to a search thread while one runs; otherwise a
    // "Clear File List" that came during this scan is honoured now.
    std::lock_guard lock(fMutex);
    if (!fSearchRunning.load()) {
      fStatus.clear();
      if (fClearRequested.load()) {
        ClearRowsLocked();
        fClearRequested = false;
      }
    }
  }
  Notify();
  return !added.empty();
}

}  // namespace tachora
