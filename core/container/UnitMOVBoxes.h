// Plain box access for the readers of what cameras put beside the movie:
// the top-level boxes of a file, the children of one box, the entries of a
// `gps ` index inside moov, the samples of the tracks with a given sample
// description format, and a search for a byte pattern over a stretch of the
// file in large sequential reads. The container layer only finds the bytes;
// what they mean is up to the caller.
//
// Hostile input: every count is bounded by the bytes that hold it, every
// box by its parent, and the search never holds more than one read buffer.
// Functions throw nothing; a file that cannot be read gives what was found.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "container/UnitMOVStream.h"

namespace tachora {

class TMOVReader;

struct TBox {
  uint32_t type = 0;
  int64_t offset = 0;  // of the header
  int64_t size = 0;    // header included
  int64_t headerSize = 8;
  int64_t PayloadOffset() const { return offset + headerSize; }
  int64_t PayloadSize() const { return size - headerSize; }
  int64_t End() const { return offset + size; }
};

// The top-level boxes in file order, at most `limit`. The walk stops at the
// first header that cannot stand (what follows is a trailer or damage); a
// size of 0 runs to the end of the file. `trailer`, when given, receives
// the offset where the walk stopped (the file size when it reached the end).
std::vector<TBox> TopLevelBoxes(TMOVStream &stream, size_t limit = 65536,
                                int64_t *trailer = nullptr);
// The child boxes inside a box's payload from `skip` bytes on.
std::vector<TBox> ChildBoxes(TMOVStream &stream, const TBox &parent, int64_t skip = 0,
                             size_t limit = 4096);
// The first box of a type among `boxes`; nullptr when none.
const TBox *FindBox(const std::vector<TBox> &boxes, uint32_t type);

// One entry of a `gps ` index: the absolute offset and size of a block.
struct TBlockRef {
  int64_t offset = 0;
  uint32_t size = 0;
};
// The entries of the `gps ` box among moov's children (version/flags,
// count, then pairs of 32-bit offset and size), the count cut to what the
// box holds. False when moov has no such box.
bool ReadGpsIndex(TMOVStream &stream, const TBox &moov, std::vector<TBlockRef> &entries);

// The samples of a track, with their times.
struct TSampleRef {
  int64_t offset = 0;
  uint32_t size = 0;
  int64_t time = 0;  // decode time from the track start, media units
  uint32_t duration = 0;
};
struct TTrackSamples {
  std::string format;  // the sample description format, as stored ("gpmd", "tx3g", ...)
  int32_t timeScale = 0;
  double creationTime = 0;  // the track's creation time (TDateTime, UTC), 0 = none
  std::vector<TSampleRef> samples;
};
// The tracks whose sample description format is one of `formats` (any
// case), in file order, with at most `maxSamples` samples each.
std::vector<TTrackSamples> TracksWithFormats(const TMOVReader &movie,
                                             const std::vector<std::string> &formats,
                                             size_t maxSamples = 1 << 20);

// Calls `found` with the absolute offset of every occurrence of `pattern`
// inside [from, to), reading `chunk` bytes at a time (occurrences across
// reads are found too); `found` returns false to stop. The number of
// bytes read is returned.
int64_t ScanForPattern(const TMOVStream &stream, int64_t from, int64_t to, std::string_view pattern,
                       const std::function<bool(int64_t)> &found, size_t chunk = 4 << 20);

}  // namespace tachora
