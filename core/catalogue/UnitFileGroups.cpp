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
  for (const auto &rec : fRows[row].Items) {
    ForgetPathLocked(rec.Path);
    for (const auto &ch : rec.Channels) fChannelOf.erase(ch.Path);
  }
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
    // Event and parking clips never share a trip with another kind.
    if (fRows[static_cast<size_t>(r)].Summary.Kind !=
        fRows[static_cast<size_t>(target)].Summary.Kind)
      continue;
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

namespace {

// Rows in order of start, unknown starts last, equal starts by path: the
// order automatic grouping walks, whatever order the folders were listed in.
bool StartOrder(const TFileItem &a, const TFileItem &b) {
  const bool ka = a.Summary.Start > 0, kb = b.Summary.Start > 0;
  if (ka != kb) return ka;
  if (ka && a.Summary.Start != b.Summary.Start) return a.Summary.Start < b.Summary.Start;
  const std::string &pa = a.Items.empty() ? a.Summary.Path : a.Items.front().Path;
  const std::string &pb = b.Items.empty() ? b.Summary.Path : b.Items.front().Path;
  if (pa != pb) return pa < pb;
  return a.Id < b.Id;
}

}  // namespace

void TFileManager::AutoGroupLocked() {
  SortRows(fRows, StartOrder);
  const size_t n = fRows.size();
  // The rows still standing alone after each row, as a list in start order:
  // a joined row leaves it at once, so a trip of thousands of recordings
  // is walked once, not once per recording.
  std::vector<size_t> next(n);
  for (size_t k = 0; k < n; ++k) next[k] = k + 1;
  std::vector<bool> joined(n, false);
  std::vector<size_t> grown;
  for (size_t i = 0; i < n; ++i) {
    if (joined[i]) continue;
    TFileItemSubitem &s = fRows[i].Summary;
    bool grew = false;
    while (s.Start > 0 && s.Start < s.End) {
      const double quarter = static_cast<double>(s.Duration) / 4.0 / kMsPerDay;
      const double limit = std::max(kJoinGap, quarter);
      double best = 1;
      size_t partner = n, partnerPrev = n;
      for (size_t prev = i, j = next[i]; j < n; prev = j, j = next[j]) {
        const double start = fRows[j].Summary.Start;
        if (!(start > 0)) break;  // only unknown starts follow
        // A row starting after row i's end is at least that far from it,
        // and every later row farther still.
        if (start - s.End >= std::min(best, limit)) break;
        const double gap = RowGap(fRows[i], fRows[j]);
        if (gap < best) {
          best = gap;
          partner = j;
          partnerPrev = prev;
        }
      }
      if (partner == n || !(best < limit)) break;
      // Only the values the gap rule reads (start, end, duration) are kept
      // up to date here; the row is recomputed in full once at the end.
      TFileItem &other = fRows[partner];
      s.Start = std::min(s.Start, other.Summary.Start);
      s.End = std::max(s.End, other.Summary.End);
      if (other.Summary.Duration >= 0)
        s.Duration = SaturatedAdd(std::max<int64_t>(s.Duration, 0), other.Summary.Duration);
      auto &items = fRows[i].Items;
      for (auto &rec : other.Items) items.push_back(std::move(rec));
      other.Items.clear();
      joined[partner] = true;
      next[partnerPrev] = next[partner];
      grew = true;
    }
    if (grew) grown.push_back(i);
  }
  const TDateTime now = NowDateTime();
  for (size_t g : grown) RecomputeRow(fRows[g], fUnit, now);
  size_t kept = 0;
  for (size_t k = 0; k < n; ++k)
    if (!joined[k]) {
      if (kept != k) fRows[kept] = std::move(fRows[k]);
      ++kept;
    }
  fRows.resize(kept);
}

void TFileManager::AutoGroup() {
  {
    std::lock_guard lock(fMutex);
    AutoGroupLocked();
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
