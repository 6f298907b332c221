// Cameras of one moment: recorders with a front and a rear (and sometimes an
// interior) camera write one file per camera, named so they pair:
// "20240612_093000_F.MP4" / "20240612_093000_R.MP4", "_NF"/"_NR",
// "_EF"/"_ER", "_PF"/"_PR", a bare letter after the number
// ("2024_0612_093000_0001F.MP4", "...000123B.MP4") or Front/, Rear/ and
// Inside/ folders holding files of the same name. The markers live in one
// table in UnitChannels.cpp.
//
// Pure functions on names; no file is touched, any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue/UnitFileItems.h"

namespace tachora {

struct TChannelMarker {
  // The moment's key: the path with the channel marker taken out (and the
  // extension dropped), folded to lower case. Files of one moment share it.
  std::string Moment;
  std::string Channel;  // label: "F", "R", "I", "A", "B"
  int Order = 0;        // 0 for the front camera; the main file is the lowest
  // Where the moment's files lie, folded to lower case: the file's folder,
  // or the folder above a camera's folder (Front/ and Rear/ are one place).
  std::string Place;
  // The folder of a camera's files ("Rear") when the marker is the folder;
  // empty for a marker in the name.
  std::string Folder;
};

// The channel a path's name or folder marks; nullopt for a name without a
// marker. A marker alone pairs nothing: only files that share a Moment
// are channels of one recording.
std::optional<TChannelMarker> ChannelOfPath(const std::string &path);

// Groups paths into moments: each group's first path is its main file
// (lowest channel order, then name), the rest follow in channel order.
// Paths without a marker, or alone at their moment, stay groups of one.
// Groups come in the order of their first member in `paths`.
std::vector<std::vector<std::string>> GroupChannels(const std::vector<std::string> &paths);

// Pairs paths by their start times where the names alone do not: files
// of different channels at one Place whose starts lie within
// kChannelStartSlack of each other. `starts` (TDateTime days, 0 = unknown)
// is parallel to `paths`; returns groups like GroupChannels, main first.
// Unmarked paths and unknown starts stay groups of one.
constexpr double kChannelStartSlack = 2.0 / 86400.0;  // 2 s
std::vector<std::vector<size_t>> GroupChannelsByTime(const std::vector<std::string> &paths,
                                                     const std::vector<double> &starts);

// The Channels column: "F+R", "F+R+I"; empty for a one-camera recording.
std::string ChannelsText(const TFileItemSubitem &rec);

}  // namespace tachora
