// TFileManager's cameras of one moment: rows of a front and a rear file
// become one recording with the rear as its channel.
#include <algorithm>
#include <map>

#include "catalogue/UnitChannels.h"
#include "catalogue/UnitFileManager.h"

namespace tachora {

int TFileManager::FindListedLocked(const std::string &path) const {
  const int row = FindRecordingLocked(path, nullptr);
  if (row >= 0) return row;
  const auto it = fChannelOf.find(path);
  if (it == fChannelOf.end()) return -1;
  int sub = -1;
  const int owner = FindRecordingLocked(it->second, &sub);
  if (owner < 0) return -1;
  const auto &chans = fRows[static_cast<size_t>(owner)].Items[static_cast<size_t>(sub)].Channels;
  const bool still = std::any_of(chans.begin(), chans.end(),
                                 [&path](const TChannelFile &ch) { return ch.Path == path; });
  return still ? owner : -1;
}

void TFileManager::PairChannels() {
  bool changed = false;
  {
    std::lock_guard lock(fMutex);
    changed = PairChannelsLocked();
    if (changed) SortLocked();
  }
  if (changed) Notify();
}

bool TFileManager::PairChannelsLocked() {
  // Rows of one recording without cameras yet whose name or folder marks one.
  std::vector<size_t> rows;
  std::vector<std::string> paths;
  for (size_t r = 0; r < fRows.size(); ++r) {
    const auto &items = fRows[r].Items;
    if (items.size() != 1 || !items[0].Channels.empty()) continue;
    if (!ChannelOfPath(items[0].Path)) continue;
    rows.push_back(r);
    paths.push_back(items[0].Path);
  }
  if (rows.size() < 2) return false;

  // First the names that pair; what is left alone pairs by start time.
  std::map<std::string, size_t> indexOf;
  for (size_t i = 0; i < paths.size(); ++i) indexOf.emplace(paths[i], i);
  std::vector<std::vector<size_t>> groups;
  std::vector<size_t> single;
  for (const auto &g : GroupChannels(paths)) {
    if (g.size() > 1) {
      std::vector<size_t> members;
      for (const auto &p : g) members.push_back(indexOf[p]);
      groups.push_back(std::move(members));
    } else {
      single.push_back(indexOf[g[0]]);
    }
  }
  std::vector<std::string> singlePaths;
  std::vector<double> starts;
  for (size_t i : single) {
    singlePaths.push_back(paths[i]);
    starts.push_back(fRows[rows[i]].Items[0].Start);
  }
  for (const auto &g : GroupChannelsByTime(singlePaths, starts)) {
    if (g.size() < 2) continue;
    std::vector<size_t> members;
    for (size_t k : g) members.push_back(single[k]);
    groups.push_back(std::move(members));
  }
  if (groups.empty()) return false;

  std::vector<bool> gone(fRows.size(), false);
  for (const auto &g : groups) {
    TFileItemSubitem &main = fRows[rows[g[0]]].Items[0];
    main.Channel = ChannelOfPath(main.Path)->Channel;
    for (size_t k = 1; k < g.size(); ++k) {
      const size_t r = rows[g[k]];
      const TFileItemSubitem &other = fRows[r].Items[0];
      TChannelFile ch;
      ch.Path = other.Path;
      ch.Channel = ChannelOfPath(other.Path)->Channel;
      ch.Size = other.Size;
      ch.Locked = other.Locked;
      ch.Duration = other.Duration;
      ch.PictureWidth = other.PictureWidth;
      ch.PictureHeight = other.PictureHeight;
      ch.Damaged = other.Damaged;
      fChannelOf[other.Path] = main.Path;
      main.Channels.push_back(std::move(ch));
      gone[r] = true;
    }
  }
  // The joined rows leave; the rest close up in their order.
  size_t kept = 0;
  for (size_t r = 0; r < fRows.size(); ++r) {
    if (gone[r]) {
      ForgetPathLocked(fRows[r].Items[0].Path);
      continue;
    }
    if (kept != r) fRows[kept] = std::move(fRows[r]);
    ++kept;
  }
  fRows.resize(kept);
  const TDateTime now = NowDateTime();
  for (auto &row : fRows)
    if (row.Items.size() == 1 && !row.Items[0].Channels.empty()) RecomputeRow(row, fUnit, now);
  return true;
}

}  // namespace tachora
