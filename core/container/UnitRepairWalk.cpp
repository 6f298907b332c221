// TMdatWalker: finds the samples in media data that has no tables.
//
// At each position the walker asks, in this order: does a picture sample
// (one access unit of length-prefixed NAL units) start here, does a camera
// block (an atom such as free or freeGPS) stand here, does a sound chunk
// start here, is this a run of zeros. A sound chunk is accepted only when
// what follows it is again recognisable (a picture sample, a block, another
// chunk, the end): PCM has no framing of its own, so that is what tells its
// size among those the reference uses. Anything else ends the walk.
#include <algorithm>
#include <cstring>

#include "container/UnitMOV.h"
#include "container/UnitRepair.h"
#include "container/UnitRepairBits.h"

namespace tachora {

namespace {
constexpr int64_t kWindowBytes = 8 << 20;
constexpr int64_t kPadding = 64;
// A zero run this long, or one that reaches the end, is a preallocated or
// wiped tail: the walk ends there.
constexpr int64_t kZeroTail = 1 << 20;
// Bounds that keep hostile data from making the walk slow.
constexpr int kMaxNalsPerSample = 600;

bool PrintableType(uint32_t t) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = uint8_t(t >> (24 - 8 * i));
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

// Atom types that cameras put between samples, known without a reference.
bool KnownBlockType(uint32_t t) {
  switch (t) {
    case FourCC("free"):
    case FourCC("skip"):
    case FourCC("wide"):
    case FourCC("uuid"):
    case FourCC("gps "):
    case FourCC("GPS "):
    case FourCC("udta"):
    case FourCC("mdat"):
      return true;
    default:
      return false;
  }
}
}  // namespace

TMdatWalker::TMdatWalker(const TRepairProfile &profile, const TMOVStream &stream, int64_t begin,
                         int64_t end)
    : fProfile(profile),
      fStream(stream),
      fPos(begin),
      fEnd(std::min(end, stream.Size())),
      fPpsIds(profile.ppsIds) {
  if (profile.sound == TRepairProfile::TSound::Aac) {
    fAac = new TAacFramer(profile.aacConfig, profile.channels, profile.sampleRate);
    if (!fAac->Ready()) {
      delete fAac;
      fAac = nullptr;
    }
  }
}

TMdatWalker::~TMdatWalker() {
  delete fAac;
}

bool TMdatWalker::Ensure(int64_t pos, int64_t n) {
  if (pos < 0 || n < 0 || pos + n > fEnd) return false;
  if (pos >= fWindowPos && pos + n <= fWindowPos + fWindowLen) return true;
  // Keep the current piece in the window when the look-ahead moves it on:
  // its bytes are still to be copied.
  const int64_t from = pos > fPos && pos + n - fPos <= kWindowBytes ? fPos : pos;
  const int64_t want = std::max(std::min(kWindowBytes, fEnd - from), pos + n - from);
  if (int64_t(fWindow.size()) < want + kPadding) fWindow.resize(size_t(want + kPadding));
  const int64_t len = std::min(want, fEnd - from);
  const size_t got = fStream.ReadAt(from, fWindow.data(), size_t(len));
  std::memset(fWindow.data() + got, 0, size_t(kPadding));
  fWindowPos = from;
  fWindowLen = int64_t(got);
  if (int64_t(got) < len) fEnd = from + int64_t(got);  // the file ended early
  return pos + n <= fWindowPos + fWindowLen;
}

const uint8_t *TMdatWalker::Bytes(int64_t pos, int64_t n) {
  if (!Ensure(pos, n)) return nullptr;
  return fWindow.data() + (pos - fWindowPos);
}

uint32_t TMdatWalker::ReadLength(int64_t pos) {
  const int ls = fProfile.nalLengthSize;
  const uint8_t *p = Bytes(pos, ls);
  if (!p) return 0;
  uint32_t v = 0;
  for (int i = 0; i < ls; ++i) v = v << 8 | p[i];
  return v;
}

int64_t TMdatWalker::VideoSample(int64_t pos, bool &key) {
  key = false;
  return fProfile.picture == TRepairProfile::TPicture::H264 ? H264Sample(pos, key)
                                                            : H265Sample(pos, key);
}

// One H.264 access unit from `pos`: its size, or 0 when none starts there.
// A new access unit begins with an access unit delimiter, parameter sets,
// SEI, or the first slice of a new picture (first_mb_in_slice 0, except the
// second field of a field pair).
int64_t TMdatWalker::H264Sample(int64_t pos, bool &key) {
  fPocLsb = -1;
  fReference = true;
  const int ls = fProfile.nalLengthSize;
  const int64_t maxSample = fProfile.maxVideoSample;
  int64_t q = pos;
  bool seenSlice = false;
  int sliceType = -1, sliceRef = -1;
  uint32_t frameNum = 0;
  bool field = false, bottom = false;
  for (int nals = 0; nals < kMaxNalsPerSample; ++nals) {
    const uint32_t len = ReadLength(q);
    if (len < 2 || q + ls + int64_t(len) > fEnd || q + ls + int64_t(len) - pos > maxSample) break;
    // A NAL unit ends with its stop bit: never with a zero byte (a frame cut
    // off and followed by zeros is not taken whole).
    const uint8_t *last = Bytes(q + ls + len - 1, 1);
    if (!last || *last == 0) break;
    const uint8_t *h = Bytes(q + ls, std::min<int64_t>(len, 32));
    if (!h) break;
    const uint8_t b = h[0];
    const int type = b & 0x1f, ref = (b >> 5) & 3;
    if (b & 0x80) break;
    bool startsUnit = false, slice = false;
    switch (type) {
      case 1:
      case 5: {
        if (type == 5 && ref == 0) return 0;
        TRbsp bits(h + 1, std::min<uint32_t>(len - 1, 31));
        const uint32_t firstMb = bits.Ue();
        const uint32_t st = bits.Ue();
        const uint32_t ppsId = bits.Ue();
        if (st > 9 || ppsId > 255) goto end;
        if (!fPpsIds.empty() && std::find(fPpsIds.begin(), fPpsIds.end(), ppsId) == fPpsIds.end())
          goto end;
        if (fProfile.separateColourPlane) bits.Bits(2);
        const uint32_t fn = bits.Bits(fProfile.log2MaxFrameNum);
        bool f = false, bt = false;
        if (!fProfile.frameMbsOnly) {
          f = bits.Bit();
          if (f) bt = bits.Bit();
        }
        int32_t pocLsb = -1;
        if (fProfile.pocType == 0) {
          if (type == 5) bits.Ue();  // idr_pic_id
          pocLsb = int32_t(bits.Bits(fProfile.log2MaxPocLsb));
        }
        if (!bits.Ok()) goto end;
        slice = true;
        if (firstMb == 0) {
          // A new picture, unless it is the other field of this frame.
          startsUnit = !(seenSlice && field && f && fn == frameNum && bt != bottom);
        } else if (!seenSlice || type != sliceType || ref != sliceRef) {
          goto end;
        }
        if (!seenSlice) {
          fPocLsb = pocLsb;
          fReference = ref != 0;
        }
        if (!seenSlice || startsUnit) {
          frameNum = fn;
          field = f;
          bottom = bt;
        }
        break;
      }
      case 6:
      case 9:
        if (ref != 0) goto end;
        startsUnit = true;
        break;
      case 7:
      case 8:
        if (ref == 0) goto end;
        startsUnit = true;
        break;
      case 13:
      case 14:
      case 15:
        startsUnit = true;
        break;
      case 10:
      case 11:
      case 12:
        if (ref != 0 || !seenSlice) goto end;
        break;
      case 19:
      case 20:
        if (!seenSlice) goto end;
        break;
      default:
        goto end;
    }
    if (startsUnit && seenSlice) break;
    if (type == 8 && len >= 2) {
      // An in-band picture parameter set: its slices are valid from now on.
      TRbsp bits(h + 1, std::min<uint32_t>(len - 1, 31));
      const uint32_t id = bits.Ue();
      if (bits.Ok() && id <= 255 && !fPpsIds.empty() &&
          std::find(fPpsIds.begin(), fPpsIds.end(), id) == fPpsIds.end())
        fPpsIds.push_back(id);
    }
    if (slice && !seenSlice) {
      seenSlice = true;
      sliceType = type;
      sliceRef = ref;
    }
    if (type == 5) key = true;
    q += ls + int64_t(len);
  }
end:
  if (!seenSlice) return 0;
  return q - pos;
}

// One H.265 access unit: a new one begins with a parameter set, an access
// unit delimiter, a prefix SEI or the first slice segment of a picture.
int64_t TMdatWalker::H265Sample(int64_t pos, bool &key) {
  const int ls = fProfile.nalLengthSize;
  const int64_t maxSample = fProfile.maxVideoSample;
  int64_t q = pos;
  bool seenSlice = false;
  for (int nals = 0; nals < kMaxNalsPerSample; ++nals) {
    const uint32_t len = ReadLength(q);
    if (len < 3 || q + ls + int64_t(len) > fEnd || q + ls + int64_t(len) - pos > maxSample) break;
    const uint8_t *last = Bytes(q + ls + len - 1, 1);
    if (!last || *last == 0) break;
    const uint8_t *h = Bytes(q + ls, 3);
    if (!h) break;
    if (h[0] & 0x80) break;
    const int type = (h[0] >> 1) & 0x3f;
    const int layer = ((h[0] & 1) << 5) | (h[1] >> 3);
    const int tid = h[1] & 7;
    if (layer != 0 || tid == 0) break;
    bool startsUnit = false;
    if (type <= 9 || (type >= 16 && type <= 21)) {
      const bool first = h[2] & 0x80;
      if (first)
        startsUnit = true;
      else if (!seenSlice)
        break;
      if (startsUnit && seenSlice) break;
      seenSlice = true;
      if (type >= 16) key = true;
    } else if ((type >= 32 && type <= 35) || type == 39 || (type >= 41 && type <= 44) ||
               (type >= 48 && type <= 55)) {
      if (seenSlice) break;
    } else if (type >= 36 && type <= 40) {
      if (!seenSlice) break;
    } else {
      break;
    }
    q += ls + int64_t(len);
  }
  if (!seenSlice) return 0;
  return q - pos;
}

int64_t TMdatWalker::BlockAt(int64_t pos) {
  const uint8_t *p = Bytes(pos, 8);
  if (!p) return 0;
  int64_t size = int64_t(p[0]) << 24 | int64_t(p[1]) << 16 | int64_t(p[2]) << 8 | p[3];
  const uint32_t type = uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
  if (!KnownBlockType(type) && std::find(fProfile.blockTypes.begin(), fProfile.blockTypes.end(),
                                         type) == fProfile.blockTypes.end())
    return 0;
  if (!PrintableType(type)) return 0;
  if (size == 1) {
    const uint8_t *l = Bytes(pos, 16);
    if (!l) return 0;
    uint64_t large = 0;
    for (int i = 8; i < 16; ++i) large = large << 8 | l[i];
    if (large < 16 || large > uint64_t(fEnd - pos)) return 0;
    return int64_t(large);
  }
  if (type == FourCC("mdat") && size == 0) return 8;  // a nested header: its payload follows
  if (size < 8 || size > fEnd - pos) return 0;
  return type == FourCC("mdat") ? 8 : size;
}

// Length of the zero run at pos, looked at up to `limit` bytes.
int64_t TMdatWalker::ZerosAt(int64_t pos, int64_t limit) {
  int64_t q = pos;
  const int64_t stop = std::min(fEnd, pos + limit);
  while (q < stop) {
    const int64_t n = std::min<int64_t>(stop - q, 1 << 16);
    const uint8_t *p = Bytes(q, n);
    if (!p) break;
    int64_t i = 0;
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w) break;
      i += 8;
    }
    while (i < n && p[i] == 0) ++i;
    q += i;
    if (i < n) break;
  }
  return q - pos;
}

// 16-bit PCM moves smoothly: most neighbouring values differ by far less
// than the full range, which noise and compressed data do not.
bool TMdatWalker::LooksLikePcm(int64_t pos, int64_t n) {
  const uint32_t frame = std::max<uint32_t>(fProfile.pcmFrameBytes, 1);
  const uint32_t width =
      std::max<uint32_t>(fProfile.pcmFrameBytes / std::max(fProfile.channels, 1), 1);
  if (width != 2) return n % frame == 0;
  n = std::min<int64_t>(n, 4096) / frame * frame;
  const uint8_t *p = Bytes(pos, n);
  if (!p || n < 4 * int64_t(frame)) return n > 0 && p;
  int smooth = 0, total = 0;
  for (int64_t i = frame; i + 2 <= n; i += frame) {
    auto value = [&](int64_t at) {
      return fProfile.pcmBigEndian ? int16_t(p[at] << 8 | p[at + 1])
                                   : int16_t(p[at + 1] << 8 | p[at]);
    };
    const int d = std::abs(int(value(i)) - int(value(i - frame)));
    smooth += d < 8192;
    ++total;
  }
  return smooth * 10 >= total * 9;
}

// Whether something recognisable starts at pos (depth: sound chunks that
// may come in a row before it).
bool TMdatWalker::Acceptable(int64_t pos, int depth) {
  if (pos == fEnd) return true;
  bool key;
  if (VideoSample(pos, key) > 0) return true;
  if (BlockAt(pos) > 0) return true;
  // A zero-filled tail, when the piece before it ends where the zeros begin.
  const uint8_t *before = Bytes(pos - 2, 2);
  if (before && (before[0] || before[1])) {
    const int64_t zeros = ZerosAt(pos, kZeroTail);
    if (zeros >= kZeroTail || pos + zeros == fEnd) return true;
  }
  if (depth > 0) {
    if (fProfile.sound == TRepairProfile::TSound::Pcm) {
      for (uint32_t s : fProfile.pcmChunkBytes)
        if (pos + s <= fEnd && Acceptable(pos + s, depth - 1)) return true;
    } else if (fAac) {
      const int64_t n = std::min<int64_t>(fEnd - pos, fProfile.aacMaxFrame * 2 + 64);
      const uint8_t *p = Bytes(pos, n);
      if (p && fAac->FrameSize(p, uint32_t(n)) > 0) return true;
    }
  }
  return false;
}

int64_t TMdatWalker::SoundChunk(int64_t pos) {
  if (fProfile.sound == TRepairProfile::TSound::Pcm) {
    for (uint32_t s : fProfile.pcmChunkBytes)
      if (pos + s <= fEnd && Acceptable(pos + s, 1)) return s;
    uint32_t largest = 0;
    for (uint32_t s : fProfile.pcmChunkBytes) largest = std::max(largest, s);
    // A chunk of another size (the recording's last ones are often short):
    // whole sound frames up to where a picture starts that is itself
    // followed by something recognisable.
    const uint32_t step = std::max<uint32_t>(fProfile.pcmFrameBytes, 1);
    for (int64_t n = step; n < int64_t(largest) && pos + n < fEnd; n += step) {
      bool key;
      const int64_t v = VideoSample(pos + n, key);
      if (v > 0 && Acceptable(pos + n + v, 1) && LooksLikePcm(pos, n)) return n;
    }
    // The last chunk, cut off: whole sound frames up to the end of the data.
    const int64_t rest = fEnd - pos;
    const uint32_t unit = std::max(fProfile.pcmSampleSize, fProfile.pcmFrameBytes);
    if (unit > 0 && rest < int64_t(largest)) {
      const int64_t n = rest / unit * unit;
      if (n > 0 && LooksLikePcm(pos, n)) return n;
    }
    return 0;
  }
  if (fAac) {
    const int64_t n = std::min<int64_t>(fEnd - pos, fProfile.aacMaxFrame * 2 + 64);
    const uint8_t *p = Bytes(pos, n);
    if (!p) return 0;
    const uint32_t size = fAac->FrameSize(p, uint32_t(n));
    if (size > 0 && (pos + size == fEnd || Acceptable(pos + size, 1))) return size;
  }
  return 0;
}

bool TMdatWalker::Next(TRepairItem &item) {
  if (fPos >= fEnd) return false;
  item = TRepairItem{};
  item.pos = fPos;
  bool key = false;
  int64_t n = VideoSample(fPos, key);
  if (n > 0) {
    item.kind = TRepairItem::TKind::Video;
    item.key = key;
    item.pocLsb = fPocLsb;
    item.reference = fReference;
  } else if ((n = BlockAt(fPos)) > 0) {
    item.kind = TRepairItem::TKind::Block;
  } else if (int64_t z = ZerosAt(fPos, kZeroTail); z >= kZeroTail || fPos + z == fEnd) {
    return false;  // a zero-filled tail
  } else if ((n = SoundChunk(fPos)) > 0) {
    item.kind = TRepairItem::TKind::Sound;
  } else {
    n = ZerosAt(fPos, kZeroTail);
    if (n == 0 || n >= kZeroTail || fPos + n == fEnd) return false;
    item.kind = TRepairItem::TKind::Zeros;
  }
  item.size = n;
  fPos += n;
  return true;
}

}  // namespace tachora
