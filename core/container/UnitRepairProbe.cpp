// Where the media data of a recording without sample tables lies.
#include <cstring>

#include "container/UnitMOV.h"
#include "container/UnitRepair.h"

namespace tachora {

namespace {
uint32_t GetU32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
}  // namespace

bool FindMediaData(TMOVStream &in, TMediaDataRange &out) {
  const int64_t size = in.Size();
  int64_t pos = 0;
  bool found = false;
  for (int atoms = 0; atoms < 1000 && size - pos >= 8; ++atoms) {
    uint8_t h[16];
    if (in.ReadAt(pos, h, 16) < 8) break;
    int64_t atomSize = GetU32(h);
    const uint32_t type = GetU32(h + 4);
    int64_t header = 8;
    if (atomSize == 1) {
      if (size - pos < 16) break;
      atomSize = int64_t(uint64_t(GetU32(h + 8)) << 32 | GetU32(h + 12));
      header = 16;
    }
    if (type == FourCC("moov")) out.hasMovie = true;
    if (type == FourCC("mdat") && !found) {
      found = true;
      out.begin = pos + header;
      out.end = size;
      // A size that ends inside the file counts when another atom (or the
      // end of the file) follows it: a camera's stale size does not.
      if (atomSize >= header && atomSize <= size - pos) {
        const int64_t next = pos + atomSize;
        TAtomHeader after;
        if (next == size || ReadAtomHeader(in, next, size, true, after)) out.end = next;
      }
      if (out.end == size) break;  // the rest of the file is media data
      pos = out.end;
      continue;
    }
    if (atomSize < header || atomSize > size - pos) break;
    pos += atomSize;
  }
  return found;
}

bool IsDamagedRecording(const std::string &path) {
  auto in = TMOVStream::OpenRead(path);
  if (!in) return false;
  try {
    TMediaDataRange d;
    return FindMediaData(*in, d) && !d.hasMovie && d.end > d.begin;
  } catch (const TMOVError &) {
    return false;
  }
}

}  // namespace tachora
