#include "container/UnitMOVBoxes.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/UnitUtils.h"
#include "container/UnitMOV.h"

namespace tachora {

namespace {

std::vector<TBox> WalkLevel(TMOVStream &stream, int64_t from, int64_t end, bool topLevel,
                            size_t limit, int64_t *stop) {
  std::vector<TBox> boxes;
  int64_t p = from;
  try {
    TAtomHeader h;
    while (p < end && boxes.size() < limit && ReadAtomHeader(stream, p, end, topLevel, h)) {
      boxes.push_back({h.type, p, h.size, h.headerSize});
      p += h.size;
    }
  } catch (const TMOVError &) {
    // A header that cannot be read ends the level.
  }
  if (stop) *stop = p;
  return boxes;
}

}  // namespace

std::vector<TBox> TopLevelBoxes(TMOVStream &stream, size_t limit, int64_t *trailer) {
  // The top level is a few headers far apart (the file type, the media
  // data, the movie): each is read through a small window of its own, not
  // through the stream's read cache, which would copy 64 KB at each.
  constexpr size_t kWindow = 4096;
  uint8_t window[kWindow];
  int64_t windowPos = 0;
  size_t windowLen = 0;
  std::vector<TBox> boxes;
  const int64_t end = stream.Size();
  int64_t p = 0;
  try {
    while (p < end && boxes.size() < limit) {
      const int64_t windowEnd = windowPos + static_cast<int64_t>(windowLen);
      // A header reaches 16 bytes at most, unless the file ends first.
      if (p < windowPos || std::min(p + 16, end) > windowEnd) {
        windowPos = p;
        windowLen = stream.ReadAt(p, window, kWindow);
      }
      const size_t at = static_cast<size_t>(p - windowPos);
      const auto header = TMOVStream::FromMemory(window + at, windowLen - at);
      TAtomHeader h;
      if (!ReadAtomHeader(*header, 0, end - p, true, h)) break;
      boxes.push_back({h.type, p, h.size, h.headerSize});
      p += h.size;
    }
  } catch (const TMOVError &) {
    // A header that cannot be read ends the walk.
  }
  if (trailer) *trailer = p;
  return boxes;
}

std::vector<TBox> ChildBoxes(TMOVStream &stream, const TBox &parent, int64_t skip, size_t limit) {
  if (skip < 0 || skip > parent.PayloadSize()) return {};
  return WalkLevel(stream, parent.PayloadOffset() + skip, parent.End(), false, limit, nullptr);
}

const TBox *FindBox(const std::vector<TBox> &boxes, uint32_t type) {
  for (const TBox &b : boxes)
    if (b.type == type) return &b;
  return nullptr;
}

bool ReadGpsIndex(TMOVStream &stream, const TBox &moov, std::vector<TBlockRef> &entries) {
  entries.clear();
  const std::vector<TBox> children = ChildBoxes(stream, moov);
  const TBox *gps = FindBox(children, FourCC("gps "));
  if (!gps) return false;
  if (gps->PayloadSize() < 8) return true;
  try {
    stream.Seek(gps->PayloadOffset() + 4);
    const int64_t most = (gps->PayloadSize() - 8) / 8;
    const int64_t count = std::min<int64_t>(stream.ReadU32(), most);
    entries.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
      TBlockRef e;
      e.offset = stream.ReadU32();
      e.size = stream.ReadU32();
      entries.push_back(e);
    }
  } catch (const TMOVError &) {
    // The entries read so far stand.
  }
  return true;
}

std::vector<TTrackSamples> TracksWithFormats(const TMOVReader &movie,
                                             const std::vector<std::string> &formats,
                                             size_t maxSamples) {
  std::vector<TTrackSamples> out;
  for (const TMOVTrack &t : movie.Tracks()) {
    const auto match = std::find_if(formats.begin(), formats.end(), [&](const std::string &f) {
      return ToUpperAscii(f) == t.codec;
    });
    if (match == formats.end()) continue;
    TTrackSamples ts;
    ts.format = *match;
    ts.timeScale = t.timeScale;
    ts.creationTime = t.creationTime;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(t.SampleCount(), maxSamples));
    ts.samples.reserve(n);
    for (uint32_t k = 0; k < n; ++k) {
      const TMOVSample s = t.Sample(k);
      ts.samples.push_back({s.offset, s.size, s.time, s.duration});
    }
    out.push_back(std::move(ts));
  }
  return out;
}

int64_t ScanForPattern(const TMOVStream &stream, int64_t from, int64_t to, std::string_view pattern,
                       const std::function<bool(int64_t)> &found, size_t chunk) {
  const size_t m = pattern.size();
  to = std::min(to, stream.Size());
  if (m == 0 || from < 0 || to - from < static_cast<int64_t>(m)) return 0;
  chunk = std::max(chunk, m * 2);
  std::unique_ptr<char[]> buf(new char[chunk]);
  int64_t read = 0;
  int64_t pos = from;  // file offset of buf[0]
  size_t have = 0;     // bytes kept from the last read (a possible partial match)
  while (pos + static_cast<int64_t>(have) < to) {
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(chunk - have, to - pos - static_cast<int64_t>(have)));
    size_t got = 0;
    try {
      got = stream.ReadAt(pos + static_cast<int64_t>(have), buf.get() + have, want);
    } catch (const TMOVError &) {
      got = 0;
    }
    if (got == 0) break;
    read += static_cast<int64_t>(got);
    const size_t n = have + got;
    const char *p = buf.get();
    const char *end = p + n;
    while (const void *hit = memmem(p, static_cast<size_t>(end - p), pattern.data(), m)) {
      const char *h = static_cast<const char *>(hit);
      if (!found(pos + (h - buf.get()))) return read;
      p = h + 1;
    }
    // Keep the last m-1 bytes: a match may begin there.
    const size_t keep = std::min(n, m - 1);
    std::memmove(buf.get(), buf.get() + n - keep, keep);
    pos += static_cast<int64_t>(n - keep);
    have = keep;
  }
  return read;
}

}  // namespace tachora
