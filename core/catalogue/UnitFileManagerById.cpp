// TFileManager's changes addressed by a row's stable id: the row is found
// under the same lock that changes it.
#include <cmath>
#include <set>

#include "catalogue/UnitFileManager.h"

namespace tachora {

int TFileManager::RowOfIdLocked(uint64_t id) const {
  for (size_t i = 0; i < fRows.size(); ++i)
    if (id != 0 && fRows[i].Id == id) return static_cast<int>(i);
  return -1;
}

void TFileManager::SetLockedById(uint64_t id, bool locked) {
  TFileItem row;
  if (!GetItemById(id, row)) return;
  // The list shows what the file system holds afterwards: on read-only
  // media the old state stays and so does its display. The recordings are
  // found again by path (the row may have been regrouped meanwhile).
  std::vector<std::pair<std::string, uint8_t>> states;
  auto lockFile = [&](const std::string &path) {
    SetFileLocked(path, locked);
    TFileStat st;
    states.emplace_back(path, StatFile(path, st) ? (st.ReadOnly ? 1 : 0) : (locked ? 1 : 0));
  };
  // Every camera's file of the recording with it.
  for (const auto &rec : row.Items) {
    lockFile(rec.Path);
    for (const auto &ch : rec.Channels) lockFile(ch.Path);
  }
  {
    std::lock_guard lock(fMutex);
    std::set<int> touched;
    for (const auto &[p, state] : states) {
      int sub = -1;
      const int r = FindRecordingLocked(p, &sub);
      if (r >= 0) {
        fRows[static_cast<size_t>(r)].Items[static_cast<size_t>(sub)].Locked = state;
        touched.insert(r);
        continue;
      }
      const int owner = FindListedLocked(p);
      if (owner < 0) continue;
      for (auto &rec : fRows[static_cast<size_t>(owner)].Items)
        for (auto &ch : rec.Channels)
          if (ch.Path == p) ch.Locked = state;
      touched.insert(owner);
    }
    for (int r : touched) RecomputeLocked(r);
  }
  Notify();
}

void TFileManager::SplitItemById(uint64_t id) {
  {
    std::lock_guard lock(fMutex);
    const int row = RowOfIdLocked(id);
    if (row < 0 || fRows[static_cast<size_t>(row)].Items.size() <= 1) return;
    SplitLocked(row);
    SortLocked();
  }
  Notify();
}

void TFileManager::ShiftItemById(uint64_t id, double offsetDays) {
  if (offsetDays == 0 || !std::isfinite(offsetDays)) return;
  {
    std::lock_guard lock(fMutex);
    const int row = RowOfIdLocked(id);
    if (row < 0) return;
    for (auto &rec : fRows[static_cast<size_t>(row)].Items) {
      rec.Start += offsetDays;
      rec.End += offsetDays;
    }
    RecomputeLocked(row);
  }
  Notify();
}

}  // namespace tachora
