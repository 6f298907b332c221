// RepairRecording and its helpers: what the reference teaches, where the
// broken media data lies, and the new file (see UnitRepair.h).
#include "container/UnitRepair.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "app/UnitFileIO.h"
#include "container/UnitMOV.h"
#include "container/UnitRepairBits.h"

namespace tachora {

namespace {
namespace fs = std::filesystem;

// Gaps up to this size between recovered samples (camera blocks, stray
// zeros) are kept in the new media data; longer ones are left out.
constexpr int64_t kKeepGap = 1 << 20;
constexpr int64_t kProgressStep = 16 << 20;

uint32_t GetU32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// An H.264 sequence parameter set (the NAL unit with its header byte).
bool ParseH264Sps(const uint8_t *p, size_t n, TRepairProfile &out) {
  if (n < 4 || (p[0] & 0x1f) != 7) return false;
  TRbsp b(p + 1, n - 1);
  const uint32_t profile = b.Bits(8);
  b.Bits(16);  // constraint flags, level
  b.Ue();      // seq_parameter_set_id
  uint32_t chroma = 1;
  bool separate = false;
  static const uint32_t kHigh[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  if (std::find(std::begin(kHigh), std::end(kHigh), profile) != std::end(kHigh)) {
    chroma = b.Ue();
    if (chroma == 3) separate = b.Bit();
    b.Ue();
    b.Ue();
    b.Bit();
    if (b.Bit()) {  // scaling matrices
      for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i) {
        if (!b.Bit()) continue;
        int last = 8, next = 8;
        for (int j = 0; j < (i < 6 ? 16 : 64); ++j) {
          if (next != 0) next = (last + b.Se() + 256) % 256;
          last = next == 0 ? last : next;
        }
      }
    }
  }
  const uint32_t log2MaxFrameNum = b.Ue() + 4;
  const uint32_t pocType = b.Ue();
  uint32_t log2MaxPocLsb = 4;
  if (pocType == 0) {
    log2MaxPocLsb = b.Ue() + 4;
  } else if (pocType == 1) {
    b.Bit();
    b.Se();
    b.Se();
    const uint32_t cycle = b.Ue();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle; ++i) b.Se();
  }
  b.Ue();  // max_num_ref_frames
  b.Bit();
  const uint32_t wMbs = b.Ue() + 1, hMaps = b.Ue() + 1;
  const bool frameMbsOnly = b.Bit();
  if (!frameMbsOnly) b.Bit();
  b.Bit();
  uint32_t cl = 0, cr = 0, ct = 0, cb = 0;
  if (b.Bit()) {
    cl = b.Ue();
    cr = b.Ue();
    ct = b.Ue();
    cb = b.Ue();
  }
  if (!b.Ok() || log2MaxFrameNum > 16 || wMbs > 1024 || hMaps > 1024) return false;
  const int cropX = chroma == 0 || chroma == 3 ? 1 : 2;
  const int cropY = (chroma == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
  out.log2MaxFrameNum = int(log2MaxFrameNum);
  out.frameMbsOnly = frameMbsOnly;
  out.separateColourPlane = separate;
  out.pocType = int(pocType);
  out.log2MaxPocLsb = int(std::min<uint32_t>(log2MaxPocLsb, 16));
  out.width = int(wMbs * 16) - cropX * int(cl + cr);
  out.height = int(hMaps * 16 * (frameMbsOnly ? 1 : 2)) - cropY * int(ct + cb);
  return true;
}

// The payload of the stsd atom of the reference's track `index`.
std::vector<uint8_t> SampleDescription(const TMOVReader &ref, size_t index) {
  TMOVStream &in = *ref.Stream();
  std::vector<uint8_t> out;
  size_t trak = 0;
  std::function<bool(int64_t, int64_t, int)> walk = [&](int64_t pos, int64_t end, int depth) {
    TAtomHeader h;
    while (depth < 8 && ReadAtomHeader(in, pos, end, false, h)) {
      const int64_t next = pos + h.size, payload = pos + h.headerSize;
      if (h.type == FourCC("trak") && depth == 0) {
        if (trak++ == index) return walk(payload, next, depth + 1);
      } else if (depth > 0 && (h.type == FourCC("mdia") || h.type == FourCC("minf") ||
                               h.type == FourCC("stbl"))) {
        if (walk(payload, next, depth + 1)) return true;
      } else if (depth > 0 && h.type == FourCC("stsd")) {
        out.resize(size_t(std::min<int64_t>(h.size - h.headerSize, 1 << 20)));
        in.Seek(payload);
        in.Read(out.data(), out.size());
        return true;
      }
      pos = next;
    }
    return false;
  };
  TAtomHeader movie;
  if (ReadAtomHeader(in, ref.MovieAtomOffset(), in.Size(), true, movie))
    walk(ref.MovieAtomOffset() + movie.headerSize, ref.MovieAtomOffset() + ref.MovieAtomSize(), 0);
  return out;
}

// The first child atom of `type` inside the first sample entry, searched by
// its type bytes (its place depends on the entry's version).
std::vector<uint8_t> EntryChild(const std::vector<uint8_t> &stsd, const char (&type)[5]) {
  for (size_t i = 16 + 4; i + 4 <= stsd.size(); ++i) {
    if (std::memcmp(stsd.data() + i, type, 4) != 0) continue;
    const uint32_t size = GetU32(stsd.data() + i - 4);
    if (size < 8 || i - 4 + size > stsd.size()) continue;
    return std::vector<uint8_t>(stsd.begin() + long(i) + 4, stsd.begin() + long(i - 4 + size));
  }
  return {};
}

// The AudioSpecificConfig inside an esds payload.
std::vector<uint8_t> AacConfig(const std::vector<uint8_t> &esds) {
  size_t i = 4;
  auto length = [&](size_t &at) {
    uint32_t n = 0;
    for (int k = 0; k < 4 && at < esds.size(); ++k) {
      const uint8_t c = esds[at++];
      n = n << 7 | (c & 0x7f);
      if (!(c & 0x80)) break;
    }
    return n;
  };
  while (i + 2 <= esds.size()) {
    const uint8_t tag = esds[i++];
    const uint32_t n = length(i);
    if (tag == 0x03) {
      if (i + 3 > esds.size()) break;
      const uint8_t flags = esds[i + 2];
      i += 3;
      if (flags & 0x80) i += 2;
      if (flags & 0x40 && i < esds.size()) i += 1 + esds[i];
      if (flags & 0x20) i += 2;
    } else if (tag == 0x04) {
      i += 13;
    } else if (tag == 0x05) {
      if (i + n > esds.size()) break;
      return std::vector<uint8_t>(esds.begin() + long(i), esds.begin() + long(i + n));
    } else {
      i += n;
    }
  }
  return {};
}

std::string FormatText(const TMOVTrack &t) {
  std::string s;
  for (char c : t.codec) s += c ? c : '?';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (t.kind == kKindVideo) s += " " + std::to_string(t.width) + "x" + std::to_string(t.height);
  if (t.kind == kKindAudio)
    s += " " + std::to_string(int(t.sampleRate > 0 ? t.sampleRate : t.timeScale)) + " Hz " +
         std::to_string(t.channels) + " ch";
  return s;
}

const TMOVTrack *SoundTrack(const TMOVReader &r) {
  for (const TMOVTrack &t : r.Tracks())
    if (t.kind == kKindAudio && t.SampleCount() > 0) return &t;
  return nullptr;
}

// Adds samples to a track's tables, a chunk per run of adjacent samples.
struct TTableBuilder {
  TMOVTrack track;
  int64_t chunkEnd = -1;
  uint32_t inChunk = 0;
  uint32_t samples = 0;
  void Add(int64_t offset, int64_t bytes, uint32_t count, uint32_t size, bool constant) {
    if (offset != chunkEnd || inChunk + count > (1u << 20)) {
      Close();
      track.chunkOffsets.push_back(offset);
    }
    inChunk += count;
    chunkEnd = offset + bytes;
    if (constant) {
      track.constantSize = true;
      track.sampleSizes.assign(1, size);
    } else {
      track.sampleSizes.push_back(size);
    }
    samples += count;
  }
  void Close() {
    if (inChunk == 0) return;
    const uint32_t chunk = uint32_t(track.chunkOffsets.size() - 1);
    if (track.sampleToChunk.empty() || track.sampleToChunk.back().samplesPerChunk != inChunk)
      track.sampleToChunk.push_back({chunk, inChunk});
    inChunk = 0;
  }
};

TMOVTrack OutputTrack(const TMOVTrack &ref) {
  TMOVTrack t;
  t.trackId = ref.trackId;
  t.timeScale = ref.timeScale;
  t.kind = ref.kind;
  t.codec = ref.codec;
  t.width = ref.width;
  t.height = ref.height;
  t.channels = ref.channels;
  t.sampleBits = ref.sampleBits;
  t.sampleRate = ref.sampleRate;
  return t;
}

uint32_t CommonDuration(const TMOVTrack &t) {
  std::map<uint32_t, uint64_t> counts;
  for (const TMOVTimeRun &r : t.timeToSample) counts[r.duration] += r.count;
  uint32_t best = 0;
  uint64_t most = 0;
  for (auto [d, n] : counts)
    if (n > most && d > 0) {
      best = d;
      most = n;
    }
  return best;
}
}  // namespace

TRepairError LearnRepairProfile(const TMOVReader &ref, TRepairProfile &p, std::string &detail) {
  p = TRepairProfile{};
  if (!ref.HasMovie()) return TRepairError::ReferenceUnreadable;
  const TMOVTrack *video = ref.VideoTrack();
  if (!video || video->SampleCount() == 0) {
    detail = "no picture";
    return TRepairError::ReferenceUnsupported;
  }
  const size_t videoIndex = size_t(video - ref.Tracks().data());
  const std::vector<uint8_t> stsd = SampleDescription(ref, videoIndex);
  if (video->codec == "AVC1") {
    const std::vector<uint8_t> avcC = EntryChild(stsd, "avcC");
    if (avcC.size() < 7) {
      detail = "AVC1 without avcC";
      return TRepairError::ReferenceUnsupported;
    }
    p.picture = TRepairProfile::TPicture::H264;
    p.pictureConfig = avcC;
    p.nalLengthSize = (avcC[4] & 3) + 1;
    size_t i = 5;
    for (int list = 0; list < 2 && i < avcC.size(); ++list) {
      const int count = list == 0 ? avcC[i] & 0x1f : avcC[i];
      ++i;
      for (int k = 0; k < count && i + 2 <= avcC.size(); ++k) {
        const size_t n = size_t(avcC[i]) << 8 | avcC[i + 1];
        i += 2;
        if (i + n > avcC.size()) break;
        if (list == 0 && k == 0) ParseH264Sps(avcC.data() + i, n, p);
        if (list == 1 && n >= 2) {
          TRbsp b(avcC.data() + i + 1, n - 1);
          const uint32_t id = b.Ue();
          if (b.Ok()) p.ppsIds.push_back(id);
        }
        i += n;
      }
    }
    if (video->HasCompositionOffsets() && p.pocType == 1) {
      detail = "H.264 with B-frames and picture order type 1";
      return TRepairError::ReferenceUnsupported;
    }
  } else if (video->codec == "HVC1" || video->codec == "HEV1") {
    const std::vector<uint8_t> hvcC = EntryChild(stsd, "hvcC");
    if (hvcC.size() < 23) {
      detail = "HEVC without hvcC";
      return TRepairError::ReferenceUnsupported;
    }
    // The order in which H.265 pictures are shown is not worked out: with
    // B-frames they would play out of order.
    if (video->HasCompositionOffsets()) {
      detail = "H.265 with B-frames";
      return TRepairError::ReferenceUnsupported;
    }
    p.picture = TRepairProfile::TPicture::H265;
    p.pictureConfig = hvcC;
    p.nalLengthSize = (hvcC[21] & 3) + 1;
  } else {
    detail = FormatText(*video);
    return TRepairError::ReferenceUnsupported;
  }
  if (p.nalLengthSize == 3) {
    detail = "NAL length size 3";
    return TRepairError::ReferenceUnsupported;
  }
  if (p.width == 0) {
    p.width = video->width;
    p.height = video->height;
  }
  uint32_t largest = 0;
  for (uint32_t k = 0; k < video->SampleCount(); ++k)
    largest = std::max(largest, video->SampleSize(k));
  p.maxVideoSample =
      uint32_t(std::min<uint64_t>(std::max<uint64_t>(uint64_t(largest) * 4, 1 << 20), 256u << 20));

  const TMOVTrack *sound = SoundTrack(ref);
  if (sound) {
    p.channels = int(sound->channels);
    p.sampleRate = int(sound->sampleRate > 0 ? sound->sampleRate : sound->timeScale);
    const std::string &c = sound->codec;
    if (c == "SOWT" || c == "TWOS" || c == "LPCM" || c == "RAW " || c == "NONE") {
      if (!sound->constantSize || sound->sampleSizes.empty() || sound->sampleSizes[0] == 0 ||
          sound->channels == 0 || sound->channels > 8) {
        detail = FormatText(*sound);
        return TRepairError::ReferenceUnsupported;
      }
      p.sound = TRepairProfile::TSound::Pcm;
      p.pcmSampleSize = sound->sampleSizes[0];
      const uint32_t bits = sound->sampleBits > 0 ? sound->sampleBits : 16;
      p.pcmFrameBytes = sound->channels * ((bits + 7) / 8);
      // lpcm says its byte order in flags the reader does not keep: taken as
      // little-endian (it only matters for the smoothness check of a last,
      // cut-off chunk).
      p.pcmBigEndian = c == "TWOS";
      // Chunk sizes in bytes, most common first.
      std::map<uint64_t, uint64_t> counts;
      const auto &runs = sound->sampleToChunk;
      for (size_t r = 0; r < runs.size(); ++r) {
        const uint64_t first = runs[r].firstChunk;
        const uint64_t last =
            r + 1 < runs.size() ? runs[r + 1].firstChunk : sound->chunkOffsets.size();
        if (last > first)
          counts[uint64_t(runs[r].samplesPerChunk) * p.pcmSampleSize] += last - first;
      }
      std::vector<std::pair<uint64_t, uint64_t>> bySize(counts.begin(), counts.end());
      std::stable_sort(bySize.begin(), bySize.end(),
                       [](auto &a, auto &b) { return a.second > b.second; });
      for (auto [bytes, n] : bySize)
        if (bytes > 0 && bytes < (64u << 20) && p.pcmChunkBytes.size() < 8)
          p.pcmChunkBytes.push_back(uint32_t(bytes));
      if (p.pcmChunkBytes.empty()) {
        detail = FormatText(*sound);
        return TRepairError::ReferenceUnsupported;
      }
    } else if (c == "MP4A") {
      const std::vector<uint8_t> sstsd =
          SampleDescription(ref, size_t(sound - ref.Tracks().data()));
      p.aacConfig = AacConfig(EntryChild(sstsd, "esds"));
      if (p.aacConfig.empty()) {
        detail = "MP4A without esds";
        return TRepairError::ReferenceUnsupported;
      }
      p.sound = TRepairProfile::TSound::Aac;
      for (uint32_t k = 0; k < sound->SampleCount(); ++k)
        p.aacMaxFrame = std::max(p.aacMaxFrame, sound->SampleSize(k));
      p.aacMaxFrame = std::min<uint32_t>(p.aacMaxFrame, 6144);
    } else {
      detail = FormatText(*sound);
      return TRepairError::ReferenceUnsupported;
    }
  }

  // Blocks the camera puts between samples: the atoms in the gaps of the
  // reference's media data.
  std::vector<std::pair<int64_t, int64_t>> extents;
  for (const TMOVTrack &t : ref.Tracks()) {
    if (t.SampleCount() == 0) continue;
    for (uint32_t k = 0; k < t.SampleCount();) {
      const uint32_t e = std::min(t.StretchEnd(k), t.SampleCount());
      const int64_t at = t.SampleOffset(k);
      int64_t bytes = 0;
      for (uint32_t j = k; j < e; ++j) bytes += t.SampleSize(j);
      extents.emplace_back(at, at + bytes);
      k = std::max(e, k + 1);
      if (extents.size() > 200000) break;
    }
  }
  std::sort(extents.begin(), extents.end());
  for (size_t i = 0; i + 1 < extents.size() && p.blockTypes.size() < 8; ++i) {
    const int64_t gap = extents[i + 1].first - extents[i].second;
    if (gap < 8) continue;
    uint8_t h[8];
    if (ref.Stream()->ReadAt(extents[i].second, h, 8) != 8) continue;
    const uint32_t type = GetU32(h + 4);
    bool printable = true;
    for (int k = 4; k < 8; ++k) printable = printable && h[k] >= 0x20 && h[k] < 0x7f;
    if (printable && GetU32(h) >= 8 && GetU32(h) <= uint64_t(gap) &&
        std::find(p.blockTypes.begin(), p.blockTypes.end(), type) == p.blockTypes.end())
      p.blockTypes.push_back(type);
  }
  return TRepairError::None;
}

std::string RepairedFileName(const std::string &broken) {
  const fs::path p(broken);
  std::string ext = p.extension().string();
  if (ext.empty()) ext = ".MOV";
  return (p.parent_path() / (p.stem().string() + "_repaired" + ext)).string();
}

namespace {
// Walks the first bytes of the media data: how far the walk gets and how
// many pictures it finds there.
int64_t ProbeWalk(const TRepairProfile &profile, TMOVStream &in, const TMediaDataRange &d,
                  int64_t limit, uint32_t &frames, int &width, int &height,
                  int *keyDecodes = nullptr) {
  frames = 0;
  width = height = 0;
  if (keyDecodes) *keyDecodes = -1;  // no key frame seen
  TMdatWalker walker(profile, in, d.begin, std::min(d.end, d.begin + limit));
  TRepairItem item;
  try {
    while (walker.Next(item)) {
      if (item.kind != TRepairItem::TKind::Video) continue;
      if (item.key && keyDecodes && *keyDecodes < 0) {
        const uint8_t *b = walker.Bytes(item.pos, item.size);
        *keyDecodes = b && KeyFrameDecodes(profile, b, size_t(item.size)) ? 1 : 0;
      }
      if (frames++ == 0 && profile.picture == TRepairProfile::TPicture::H264) {
        // An in-band sequence parameter set tells the picture size.
        const int ls = profile.nalLengthSize;
        for (int64_t q = item.pos; q + ls < item.pos + item.size;) {
          const uint8_t *b = walker.Bytes(q, ls + 1);
          if (!b) break;
          uint32_t len = 0;
          for (int i = 0; i < ls; ++i) len = len << 8 | b[i];
          if ((b[ls] & 0x1f) == 7 && len < 4096) {
            TRepairProfile sps;
            if (const uint8_t *s = walker.Bytes(q + ls, len); s && ParseH264Sps(s, len, sps)) {
              width = sps.width;
              height = sps.height;
            }
          }
          q += ls + int64_t(len);
        }
      }
    }
  } catch (const TMOVError &) {
  }
  return walker.Position() - d.begin;
}
}  // namespace

std::string ChooseRepairReference(const std::string &broken) {
  std::error_code ec;
  const fs::path path(broken);
  auto in = TMOVStream::OpenRead(broken);
  TMediaDataRange d;
  try {
    if (!in || !FindMediaData(*in, d)) return "";
  } catch (const TMOVError &) {
    return "";
  }
  const auto brokenTime = fs::last_write_time(path, ec);
  std::vector<std::pair<long long, fs::path>> candidates;
  for (const auto &e : fs::directory_iterator(path.parent_path().empty() ? "." : path.parent_path(),
                                              fs::directory_options::skip_permission_denied, ec)) {
    if (!e.is_regular_file(ec) || fs::equivalent(e.path(), path, ec)) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext != ".mov" && ext != ".mp4") continue;
    const auto t = e.last_write_time(ec);
    const long long distance =
        std::llabs(std::chrono::duration_cast<std::chrono::seconds>(t - brokenTime).count());
    candidates.emplace_back(distance, e.path());
  }
  std::sort(candidates.begin(), candidates.end());
  const int64_t probe = 4 << 20;
  const int64_t expect = std::min(probe, d.end - d.begin);
  for (size_t i = 0; i < candidates.size() && i < 24; ++i) {
    TMOVReader ref(candidates[i].second.string(), false);
    if (!ref.HasMovie()) continue;
    TRepairProfile profile;
    std::string detail;
    if (LearnRepairProfile(ref, profile, detail) != TRepairError::None) continue;
    uint32_t frames;
    int w, h, keyDecodes;
    // It fits when its formats carry the walk through the first megabytes
    // and its parameter sets decode the first key frame.
    const int64_t reached = ProbeWalk(profile, *in, d, probe, frames, w, h, &keyDecodes);
    if (frames == 0 || reached < expect * 9 / 10 || keyDecodes == 0) continue;
    if (w > 0 && profile.width > 0 && (w != profile.width || h != profile.height)) continue;
    return candidates[i].second.string();
  }
  return "";
}

std::string RepairErrorText(const TRepairResult &r) {
  switch (r.error) {
    case TRepairError::None:
      return {};
    case TRepairError::BrokenUnreadable:
      return "The recording cannot be read: " + r.detail;
    case TRepairError::NotDamaged:
      return "The recording is not damaged: it has its sample tables";
    case TRepairError::NoMediaData:
      return "The file holds no media data (mdat): there is nothing to repair";
    case TRepairError::ReferenceUnreadable:
      return "The reference recording has no readable sample tables: it is damaged itself or no "
             "MOV/MP4 file";
    case TRepairError::ReferenceUnsupported:
      return "The reference's format cannot be repaired (" + r.detail +
             "): picture must be H.264 or H.265, sound PCM or AAC";
    case TRepairError::PictureDiffers:
      return "The picture size differs from the reference's (recording / reference: " + r.detail +
             "): choose a reference from the same camera and mode";
    case TRepairError::DataDoesNotMatch:
      return "The media data does not match the reference's formats (" + r.detail +
             "): choose a reference from the same camera and mode";
    case TRepairError::WriteFailed:
      return "Cannot write the repaired file: " + r.detail;
    case TRepairError::Cancelled:
      return "Cancelled: no file was written";
  }
  return {};
}

TRepairResult RepairRecording(const std::string &broken, const std::string &reference,
                              const std::string &out, const TRepairProgress &progress,
                              const std::atomic<bool> *cancel) {
  TRepairResult result;
  auto fail = [&](TRepairError e, std::string detail = {}) {
    result.error = e;
    result.detail = std::move(detail);
    return result;
  };
  std::string error;
  auto in = TMOVStream::OpenRead(broken, &error);
  if (!in) return fail(TRepairError::BrokenUnreadable, error);
  TMediaDataRange d;
  try {
    if (!FindMediaData(*in, d)) return fail(TRepairError::NoMediaData);
  } catch (const TMOVError &e) {
    return fail(TRepairError::BrokenUnreadable, e.what());
  }
  if (d.hasMovie) {
    TMOVReader check(broken, true);
    if (check.HasMovie()) return fail(TRepairError::NotDamaged);
  }
  if (d.end <= d.begin) return fail(TRepairError::NoMediaData);

  TMOVReader ref(reference, false);
  if (!ref.HasMovie()) return fail(TRepairError::ReferenceUnreadable, ref.Error());
  TRepairProfile profile;
  std::string detail;
  if (TRepairError e = LearnRepairProfile(ref, profile, detail); e != TRepairError::None)
    return fail(e, detail);
  const TMOVTrack *refVideo = ref.VideoTrack();
  const TMOVTrack *refSound = SoundTrack(ref);
  std::string formats = FormatText(*refVideo);
  if (refSound) formats += ", " + FormatText(*refSound);

  {
    uint32_t frames;
    int w, h, keyDecodes;
    ProbeWalk(profile, *in, d, 4 << 20, frames, w, h, &keyDecodes);
    if (w > 0 && profile.width > 0 && (w != profile.width || h != profile.height))
      return fail(TRepairError::PictureDiffers, std::to_string(w) + "x" + std::to_string(h) +
                                                    " / " + std::to_string(profile.width) + "x" +
                                                    std::to_string(profile.height));
    if (frames == 0) return fail(TRepairError::DataDoesNotMatch, formats);
    // Pictures of another size or encoder setting split into frames alike
    // but do not decode with the reference's parameter sets.
    if (keyDecodes == 0) return fail(TRepairError::DataDoesNotMatch, formats);
  }

  TAtomicFile file(out);
  if (!file.Open(&error)) return fail(TRepairError::WriteFailed, error);
  try {
    TMOVWriter writer(file.Fd());
    TMOVStream &o = *writer.Stream();
    // Room for a 64-bit header: a free atom and a 32-bit mdat header, or
    // one 16-byte header when the media data passes 4 GiB.
    const int64_t headerPos = o.Position();
    static const uint8_t kHeader[16] = {0, 0, 0, 8, 'f', 'r', 'e', 'e',
                                        0, 0, 0, 0, 'm', 'd', 'a', 't'};
    o.Write(kHeader, sizeof kHeader);

    TTableBuilder video, sound;
    video.track = OutputTrack(*refVideo);
    if (refSound) sound.track = OutputTrack(*refSound);
    const uint32_t frameDuration = std::max<uint32_t>(CommonDuration(*refVideo), 1);
    const uint32_t soundDuration = refSound ? std::max<uint32_t>(CommonDuration(*refSound), 1) : 1;
    uint64_t soundUnits = 0;
    // Pictures in another order than decoded (B-frames): their order comes
    // from the picture order counts.
    const bool reorder = refVideo->HasCompositionOffsets() &&
                         profile.picture == TRepairProfile::TPicture::H264 && profile.pocType == 0;
    std::vector<int32_t> pocs;
    int32_t prevLsb = 0, prevMsb = 0;
    const int32_t maxLsb = 1 << profile.log2MaxPocLsb;

    TMdatWalker walker(profile, *in, d.begin, d.end);
    int64_t emitted = -1;  // source position written up to
    int64_t outAtSrc = 0;  // output offset minus source offset in the current run
    int64_t nextProgress = d.begin + kProgressStep;
    TRepairItem item;
    while (walker.Next(item)) {
      if (cancel && cancel->load(std::memory_order_relaxed)) return fail(TRepairError::Cancelled);
      if (progress && item.pos >= nextProgress) {
        progress(double(item.pos - d.begin) / double(d.end - d.begin));
        nextProgress = item.pos + kProgressStep;
      }
      if (item.kind == TRepairItem::TKind::Block || item.kind == TRepairItem::TKind::Zeros) {
        result.bytesSkipped += item.size;
        result.cameraBlocks += item.kind == TRepairItem::TKind::Block;
        continue;
      }
      // Write the piece, with the small gap before it (camera blocks stay).
      int64_t from = item.pos;
      if (emitted >= 0 && item.pos - emitted <= kKeepGap) from = emitted;
      if (from == item.pos) outAtSrc = o.Position() - item.pos;
      const uint8_t *bytes = walker.Bytes(from, item.pos + item.size - from);
      if (!bytes) break;
      o.Write(bytes, size_t(item.pos + item.size - from));
      emitted = item.pos + item.size;
      const int64_t at = item.pos + outAtSrc;
      result.bytesTaken += item.size;
      if (item.kind == TRepairItem::TKind::Video) {
        if (item.key) video.track.syncSamples.push_back(video.samples);
        if (reorder) {
          if (item.key) prevLsb = prevMsb = 0;
          const int32_t lsb = std::max(item.pocLsb, 0);
          int32_t msb = prevMsb;
          if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
            msb += maxLsb;
          else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
            msb -= maxLsb;
          pocs.push_back(msb + lsb);
          if (item.reference) {
            prevLsb = lsb;
            prevMsb = msb;
          }
        }
        video.Add(at, item.size, 1, uint32_t(item.size), false);
        ++result.videoFrames;
        result.keyFrames += item.key;
      } else if (profile.sound == TRepairProfile::TSound::Pcm) {
        const uint32_t count = uint32_t(item.size / profile.pcmSampleSize);
        sound.Add(at, item.size, count, profile.pcmSampleSize, true);
        soundUnits += uint64_t(count) * soundDuration;
        ++result.soundChunks;
      } else {
        sound.Add(at, item.size, 1, uint32_t(item.size), false);
        soundUnits += soundDuration;
        ++result.soundChunks;
      }
    }
    result.bytesSkipped += (d.end - d.begin) - result.bytesTaken - result.bytesSkipped;
    if (result.videoFrames == 0) return fail(TRepairError::DataDoesNotMatch, formats);
    // Close the media data.
    const int64_t end = o.Position();
    const int64_t mdatSize = end - (headerPos + 8);
    uint8_t h[16];
    if (mdatSize <= int64_t(UINT32_MAX)) {
      h[0] = uint8_t(mdatSize >> 24), h[1] = uint8_t(mdatSize >> 16);
      h[2] = uint8_t(mdatSize >> 8), h[3] = uint8_t(mdatSize);
      o.WriteAt(headerPos + 8, h, 4);
    } else {
      const uint64_t large = uint64_t(end - headerPos);
      const uint8_t head[8] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
      std::memcpy(h, head, 8);
      for (int i = 0; i < 8; ++i) h[8 + i] = uint8_t(large >> (56 - 8 * i));
      o.WriteAt(headerPos, h, 16);
    }
    o.Seek(end);

    video.Close();
    video.track.timeToSample.push_back({video.samples, frameDuration});
    int64_t firstShown = 0;
    if (reorder && !pocs.empty()) {
      // Within each group from a key frame, the k-th smallest count is shown
      // k-th; offsets are made non-negative by the largest delay.
      std::vector<int64_t> slot(pocs.size());
      const auto &keys = video.track.syncSamples;
      for (size_t g = 0; g <= keys.size(); ++g) {
        const size_t a = g == 0 ? 0 : keys[g - 1];
        const size_t b = g < keys.size() ? keys[g] : pocs.size();
        if (a >= b) continue;
        std::vector<size_t> order(b - a);
        for (size_t i = 0; i < order.size(); ++i) order[i] = a + i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t x, size_t y) { return pocs[x] < pocs[y]; });
        for (size_t r = 0; r < order.size(); ++r) slot[order[r]] = int64_t(a + r);
      }
      int64_t delay = 0;
      for (size_t i = 0; i < slot.size(); ++i) delay = std::max(delay, int64_t(i) - slot[i]);
      auto &runs = video.track.compositionOffsets;
      for (size_t i = 0; i < slot.size(); ++i) {
        const uint32_t c = uint32_t((slot[i] - int64_t(i) + delay) * frameDuration);
        if (runs.empty() || runs.back().duration != c) runs.push_back({0, c});
        ++runs.back().count;
      }
      firstShown = delay * frameDuration;
    }
    writer.AddRebuiltTrack(std::move(video.track), firstShown);
    if (sound.samples > 0) {
      sound.Close();
      const uint32_t count = sound.samples;
      sound.track.timeToSample.push_back({count, soundDuration});
      writer.AddRebuiltTrack(std::move(sound.track));
    }
    result.videoSeconds = double(result.videoFrames) * frameDuration / refVideo->timeScale;
    if (refSound && refSound->timeScale > 0)
      result.soundSeconds = double(soundUnits) / refSound->timeScale;
    writer.WriteMovie(ref);
    writer.Close();
  } catch (const TMOVWriteError &e) {
    return fail(TRepairError::WriteFailed, e.what());
  } catch (const TMOVError &e) {
    return fail(TRepairError::BrokenUnreadable, e.what());
  }
  if (cancel && cancel->load()) return fail(TRepairError::Cancelled);
  if (!file.Commit(TAtomicFile::TSync::Data, &error)) return fail(TRepairError::WriteFailed, error);
  if (progress) progress(1.0);
  return result;
}

}  // namespace tachora
