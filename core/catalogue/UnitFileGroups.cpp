// TFileManager's trips: automatic grouping by the gap between rows, merging
// and splitting rows, and attaching recorder GPS logs by time overlap.
#include <algorithm>

#include "catalogue/UnitFileManager.h"

namespace tachora {

namespace {
constexpr double kJoinGap = 1.0 / 240.0;  // 6 minutes
}

void TFileManager::RemoveRowLocked(size_t row) {
  if (row >= fRows.size()) return;
  for (const auto &rec : fRows[row].Items) fPaths.erase(ToLowerAscii(rec.Path));
  // The last row takes the freed place; the order is restored by the next sort.
  if (row + 1 != fRows.size()) fRows[row] = std::move(fRows.back());
  fRows.pop_back();
}

void TFileManager::MergeLocked(const std::vector<int> &rows, bool recompute) {
  if (rows.size() < 2) return;
  const int count = static_cast<int>(fRows.size());
  int target = rows[0];
  if (target < 0 || target >= count) return;
  // Each row only once, and never the target itself: a row given twice must
  // not have its recordings appended twice.
  std::vector<int> others;
  for (size_t i = 1; i < rows.size(); ++i) {
    const int r = rows[i];
    if (r == target || r < 0 || r >= count) continue;
    if (std::find(others.begin(), others.end(), r) != others.end()) continue;
    others.push_back(r);
  }
  if (others.empty()) return;
  auto &dst = fRows[static_cast<size_t>(target)].Items;
  for (int r : others)
    for (const auto &rec : fRows[static_cast<size_t>(r)].Items) dst.push_back(rec);
  // Remove from the highest number down, so that the numbers still to go
  // stay valid; the moved last row may be the target itself.
  std::sort(others.begin(), others.end(), std::greater<int>());
  for (int r : others) {
    const int last = static_cast<int>(fRows.size()) - 1;
    fRows[static_cast<size_t>(r)].Items.clear();  // its recordings now live in the target
    if (r != last) fRows[static_cast<size_t>(r)] = std::move(fRows.back());
    fRows.pop_back();
    if (target == last && r != last) target = r;
  }
  if (recompute) RecomputeLocked(target);
}

void TFileManager::MergeItems(const std::vector<int> &rows, bool resort) {
  {
    std::lock_guard lock(fMutex);
    MergeLocked(rows);
    if (!resort) return;
    SortLocked();
  }
  Notify();
}

void TFileManager::AutoGroup() {
  {
    std::lock_guard lock(fMutex);
    // A merged row is recomputed in full once at the end; meanwhile only the
    // values the gap rule reads (start, end, duration) are kept up to date,
    // so a card of 2,000 recordings in one trip is not summarised 2,000 times.
    // Rows are only ever joined when both starts are known (> 0).
    std::vector<size_t> grown;
    size_t i = 0;
    while (i + 1 < fRows.size()) {
      double best = 1;
      int partner = -1;
      for (size_t j = i + 1; j < fRows.size(); ++j) {
        const double gap = RowGap(fRows[i], fRows[j]);
        if (gap < best) {
          best = gap;
          partner = static_cast<int>(j);
        }
      }
      const double quarter = static_cast<double>(fRows[i].Summary.Duration) / 4.0 / kMsPerDay;
      if (partner >= 0 && (best < kJoinGap || best < quarter)) {
        const TFileItemSubitem other = fRows[static_cast<size_t>(partner)].Summary;
        MergeLocked({static_cast<int>(i), partner}, false);
        TFileItemSubitem &s = fRows[i].Summary;
        s.Start = std::min(s.Start, other.Start);
        s.End = std::max(s.End, other.End);
        if (other.Duration >= 0)
          s.Duration = SaturatedAdd(std::max<int64_t>(s.Duration, 0), other.Duration);
        if (grown.empty() || grown.back() != i) grown.push_back(i);
        // Row i grew: compare it again with every row after it.
      } else {
        ++i;
      }
    }
    // Rows before i never move (removals take the last row), so the numbers hold.
    for (size_t g : grown) RecomputeLocked(static_cast<int>(g));
    SortLocked();
  }
  Notify();
}

void TFileManager::SplitLocked(int row) {
  if (row < 0 || row >= static_cast<int>(fRows.size())) return;
  if (fRows[static_cast<size_t>(row)].Items.size() <= 1) return;
  std::vector<TFileItemSubitem> rest(fRows[static_cast<size_t>(row)].Items.begin() + 1,
                                     fRows[static_cast<size_t>(row)].Items.end());
  fRows[static_cast<size_t>(row)].Items.resize(1);
  RecomputeLocked(row);
  for (auto &rec : rest) {
    TFileItem r;
    r.Id = fNextId++;
    r.Items.push_back(std::move(rec));
    fRows.push_back(std::move(r));
    RecomputeLocked(static_cast<int>(fRows.size()) - 1);
  }
}

void TFileManager::SplitItem(int row) {
  {
    std::lock_guard lock(fMutex);
    if (row < 0 || row >= static_cast<int>(fRows.size()) ||
        fRows[static_cast<size_t>(row)].Items.size() <= 1)
      return;
    SplitLocked(row);
    SortLocked();
  }
  Notify();
}

void TFileManager::UngroupAll() {
  {
    std::lock_guard lock(fMutex);
    for (int r = static_cast<int>(fRows.size()) - 1; r >= 0; --r) SplitLocked(r);
    SortLocked();
  }
  Notify();
}

void TFileManager::MatchLogFiles() {
  std::vector<std::string> marked;  // a recording of each marked row
  {
    std::lock_guard lock(fMutex);
    if (fLogFiles.empty()) return;
    for (size_t r = 0; r < fRows.size(); ++r) {
      bool mark = false;
      for (auto &rec : fRows[r].Items) {
        if (!rec.GpsLog.Path.empty()) continue;
        double best = 0;
        const TGPSLogFileItem *chosen = nullptr;
        for (const auto &log : fLogFiles) {
          if (EqualsNoCase(log.Path, rec.TelemetryPath)) continue;
          const double overlap = LogOverlap(rec, log);
          if (overlap > best) {
            best = overlap;
            chosen = &log;
          }
        }
        if (!chosen) continue;
        if (!rec.TelemetryPath.empty()) {
          rec.GpsLog = *chosen;
        } else {
          rec.TelemetryPath = chosen->Path;
          mark = true;
        }
      }
      if (mark) marked.push_back(fRows[r].Items[0].Path);
    }
  }
  // By recording, not row number: the rows may be sorted or grouped meanwhile.
  TNoCaseDirCache cache;
  std::unordered_set<std::string> done;
  for (const auto &path : marked) {
    if (fTerminated.load()) break;
    if (!done.count(path)) WorkOutRowOf(path, false, true, cache, &done);
  }
}

}  // namespace tachora
