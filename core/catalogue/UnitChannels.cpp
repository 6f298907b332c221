#include "catalogue/UnitChannels.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

namespace tachora {
namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Name endings (before the extension, compared without case) that mark a
// camera. Longer markers come first so "_NF" is not read as "F".
struct TSuffixRule {
  const char *Suffix;
  const char *Channel;
  int Order;
  bool AfterDigit;  // the marker must follow a digit ("0001F"), not a letter
};
constexpr std::array kSuffixRules{
    TSuffixRule{"_nf", "F", 0, false}, TSuffixRule{"_ef", "F", 0, false},
    TSuffixRule{"_pf", "F", 0, false}, TSuffixRule{"_nr", "R", 1, false},
    TSuffixRule{"_er", "R", 1, false}, TSuffixRule{"_pr", "R", 1, false},
    TSuffixRule{"_ni", "I", 2, false}, TSuffixRule{"_ei", "I", 2, false},
    TSuffixRule{"_pi", "I", 2, false}, TSuffixRule{"_f", "F", 0, false},
    TSuffixRule{"_r", "R", 1, false},  TSuffixRule{"_i", "I", 2, false},
    TSuffixRule{"f", "F", 0, true},    TSuffixRule{"r", "R", 1, true},
    TSuffixRule{"i", "I", 2, true},    TSuffixRule{"a", "A", 0, true},
    TSuffixRule{"b", "B", 1, true},
};

// Folders (compared without case) that hold one camera's files.
struct TFolderRule {
  const char *Folder;
  const char *Channel;
  int Order;
};
constexpr std::array kFolderRules{
    TFolderRule{"front", "F", 0},  TFolderRule{"rear", "R", 1},     TFolderRule{"back", "R", 1},
    TFolderRule{"inside", "I", 2}, TFolderRule{"interior", "I", 2}, TFolderRule{"cabin", "I", 2},
};

}  // namespace

std::optional<TChannelMarker> ChannelOfPath(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  const std::string lname = Lower(name);

  // A camera's folder: the moment is the parent folder plus the name.
  const size_t dslash = dir.find_last_of('/');
  const std::string folder = Lower(dslash == std::string::npos ? dir : dir.substr(dslash + 1));
  const std::string parent = dslash == std::string::npos ? std::string() : dir.substr(0, dslash);
  for (const TFolderRule &rule : kFolderRules) {
    if (folder == rule.Folder) {
      const std::string place = Lower(parent);
      return TChannelMarker{place + "/*/" + lname, rule.Channel, rule.Order, place,
                            dslash == std::string::npos ? dir : dir.substr(dslash + 1)};
    }
  }

  for (const TSuffixRule &rule : kSuffixRules) {
    const std::string_view suffix(rule.Suffix);
    if (lname.size() <= suffix.size() || !lname.ends_with(suffix)) continue;
    const char before = lname[lname.size() - suffix.size() - 1];
    if (rule.AfterDigit && !std::isdigit(static_cast<unsigned char>(before))) continue;
    // A stamp must come before the marker: at least six digits in the name.
    const std::string stem = lname.substr(0, lname.size() - suffix.size());
    if (std::count_if(stem.begin(), stem.end(),
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) < 6) {
      continue;
    }
    return TChannelMarker{Lower(dir) + "/" + stem, rule.Channel, rule.Order, Lower(dir), {}};
  }
  return std::nullopt;
}

std::vector<std::vector<std::string>> GroupChannels(const std::vector<std::string> &paths) {
  struct TMember {
    size_t Index;
    std::optional<TChannelMarker> Marker;
  };
  std::vector<TMember> members;
  members.reserve(paths.size());
  std::map<std::string, std::vector<size_t>> byMoment;  // moment -> member indexes
  for (size_t i = 0; i < paths.size(); ++i) {
    members.push_back({i, ChannelOfPath(paths[i])});
    if (members.back().Marker) byMoment[members.back().Marker->Moment].push_back(i);
  }
  std::vector<std::vector<std::string>> groups;
  std::vector<bool> taken(paths.size(), false);
  for (size_t i = 0; i < paths.size(); ++i) {
    if (taken[i]) continue;
    const auto &marker = members[i].Marker;
    if (!marker) {
      groups.push_back({paths[i]});
      taken[i] = true;
      continue;
    }
    std::vector<size_t> moment = byMoment[marker->Moment];
    // One file per channel label: a second "R" of the same moment is its own row.
    std::vector<size_t> chosen;
    for (size_t j : moment) {
      if (taken[j]) continue;
      const bool dup = std::any_of(chosen.begin(), chosen.end(), [&](size_t k) {
        return members[k].Marker->Channel == members[j].Marker->Channel;
      });
      if (!dup) chosen.push_back(j);
    }
    std::stable_sort(chosen.begin(), chosen.end(), [&](size_t a, size_t b) {
      const auto &ma = *members[a].Marker, &mb = *members[b].Marker;
      if (ma.Order != mb.Order) return ma.Order < mb.Order;
      return paths[a] < paths[b];
    });
    // `i` is the earliest member not yet taken, so it is always chosen: the
    // group sits where its first member appears.
    std::vector<std::string> group;
    for (size_t j : chosen) {
      group.push_back(paths[j]);
      taken[j] = true;
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

std::vector<std::vector<size_t>> GroupChannelsByTime(const std::vector<std::string> &paths,
                                                     const std::vector<double> &starts) {
  std::vector<std::optional<TChannelMarker>> markers;
  markers.reserve(paths.size());
  for (const auto &p : paths) markers.push_back(ChannelOfPath(p));
  std::vector<size_t> order;  // marked paths of known start, by start
  for (size_t i = 0; i < paths.size(); ++i)
    if (markers[i] && i < starts.size() && starts[i] > 0) order.push_back(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return starts[a] < starts[b]; });
  std::vector<bool> taken(paths.size(), false);
  std::vector<std::vector<size_t>> groups;
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    if (taken[i]) continue;
    // The earliest file left opens the group; of each other channel the
    // first file after it within the slack joins (the nearest one).
    std::vector<size_t> group{i};
    taken[i] = true;
    for (size_t n = k + 1; n < order.size() && starts[order[n]] - starts[i] <= kChannelStartSlack;
         ++n) {
      const size_t j = order[n];
      if (taken[j] || markers[j]->Place != markers[i]->Place) continue;
      const bool dup = std::any_of(group.begin(), group.end(), [&](size_t g) {
        return markers[g]->Channel == markers[j]->Channel;
      });
      if (dup) continue;
      group.push_back(j);
      taken[j] = true;
    }
    std::stable_sort(group.begin(), group.end(), [&](size_t a, size_t b) {
      if (markers[a]->Order != markers[b]->Order) return markers[a]->Order < markers[b]->Order;
      return paths[a] < paths[b];
    });
    groups.push_back(std::move(group));
  }
  for (size_t i = 0; i < paths.size(); ++i)
    if (!taken[i]) groups.push_back({i});
  return groups;
}

std::string ChannelsText(const TFileItemSubitem &rec) {
  if (rec.Channels.empty()) return {};
  std::string text = rec.Channel.empty() ? std::string("?") : rec.Channel;
  for (const TChannelFile &ch : rec.Channels)
    text += "+" + (ch.Channel.empty() ? std::string("?") : ch.Channel);
  return text;
}

}  // namespace tachora
