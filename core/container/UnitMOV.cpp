#include "container/UnitMOV.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tachora {

namespace {
// Deeper nesting than this is not a recording; it only guards the stack.
constexpr int kMaxDepth = 32;
constexpr uint32_t kMaxSamples = std::numeric_limits<uint32_t>::max() - 1;
// Recordings have two or three tracks; thousands of empty `trak` atoms in a
// small file must not turn into thousands of track records.
constexpr size_t kMaxTracks = 256;
}  // namespace

bool ReadAtomHeader(TMOVStream &stream, int64_t pos, int64_t end, bool mayRunToEnd,
                    TAtomHeader &header) {
  if (end - pos < 8) return false;
  stream.Seek(pos);
  int64_t size = stream.ReadU32();
  header.type = stream.ReadU32();
  header.headerSize = 8;
  if (size == 1) {
    // 64-bit size after the type: recordings above 4 GiB have them.
    if (end - pos < 16) return false;
    const uint64_t large = stream.ReadU64();
    if (large > uint64_t(end - pos)) return false;
    size = static_cast<int64_t>(large);
    header.headerSize = 16;
  } else if (size == 0) {
    if (!mayRunToEnd) return false;
    size = end - pos;
  }
  if (size < header.headerSize || size > end - pos) return false;
  header.size = size;
  return true;
}

TDateTime MacDateToDateTime(uint64_t seconds) {
  if (seconds == 0 || seconds == 1 || seconds == 0xFFFFFFFFull) return 0;
  return static_cast<double>(seconds) / kSecPerDay + kMacEpochDate;
}

TMOVTrackKind KindOfCodec(const std::string &codec) {
  static const char *const kVideo[] = {"PNG_", "TIFF", "JPEG", "MJPA", "MJPB", "3IV2", "3IV1",
                                       "AVC1", "SVQ1", "SVQ3", "MP4V", "MP42", "DIVX", "CVID",
                                       "VP31", "H263", "S263", "X263", "HVC1", "HEV1"};
  static const char *const kAudio[] = {
      "NONE",     "RAW ",     "TWOS",  "SOWT",  "ALAW", "ULAW", "MS\0\x02", "\x02\0SM",
      "MS\0\x11", "\x11\0SM", "MS\0U", "U\0SM", ".MP3", "IMA4", "OGGV",     "SAMR",
      "SAWB",     "QDM2",     "QDMC",  "MP4A",  "MAC3", "MAC6", ".MP1",     ".MP2",
      "LPCM",     "AGSM",     "QCLP",  "IN24",  "IN32", "FL32", "FL64"};
  if (codec.size() != 4) return kKindOther;
  for (const char *v : kVideo)
    if (std::memcmp(codec.data(), v, 4) == 0) return kKindVideo;
  for (const char *a : kAudio)
    if (std::memcmp(codec.data(), a, 4) == 0) return kKindAudio;
  return kKindOther;
}

// ---- TMOVTrack ------------------------------------------------------------

size_t TMOVTrack::ChunkOf(uint32_t k) const {
  auto it = std::upper_bound(fChunks.begin(), fChunks.end(), k,
                             [](uint32_t v, const TChunk &c) { return v < c.firstSample; });
  return static_cast<size_t>(it - fChunks.begin()) - 1;
}

size_t TMOVTrack::TimeRunOf(uint32_t k) const {
  auto it = std::upper_bound(fTimes.begin(), fTimes.end(), k,
                             [](uint32_t v, const TTimeRun &r) { return v < r.firstSample; });
  return static_cast<size_t>(it - fTimes.begin()) - 1;
}

uint32_t TMOVTrack::TimeRunEnd(uint32_t k) const {
  const size_t r = TimeRunOf(k);
  return r + 1 < fTimes.size() ? fTimes[r + 1].firstSample : fSampleCount;
}

uint32_t TMOVTrack::StretchEnd(uint32_t k) const {
  const size_t c = ChunkOf(k);
  const uint32_t chunkEnd = c + 1 < fChunks.size() ? fChunks[c + 1].firstSample : fSampleCount;
  return std::min(chunkEnd, TimeRunEnd(k));
}

int64_t TMOVTrack::SampleTime(uint32_t k) const {
  const TTimeRun &r = fTimes[TimeRunOf(k)];
  return r.startTime + int64_t(k - r.firstSample) * r.duration;
}

int64_t TMOVTrack::SampleOffset(uint32_t k) const {
  if (!constantSize) return fOffsets[k];
  const TChunk &c = fChunks[ChunkOf(k)];
  return c.offset + int64_t(k - c.firstSample) * sampleSizes[0];
}

bool TMOVTrack::IsKey(uint32_t k) const {
  return std::binary_search(fKeys.begin(), fKeys.end(), k);
}

TMOVSample TMOVTrack::Sample(uint32_t k) const {
  TMOVSample s;
  s.offset = SampleOffset(k);
  const TTimeRun &r = fTimes[TimeRunOf(k)];
  s.time = r.startTime + int64_t(k - r.firstSample) * r.duration;
  s.duration = r.duration;
  s.size = SampleSize(k);
  s.key = IsKey(k);
  if (!fComps.empty()) {
    auto it = std::upper_bound(fComps.begin(), fComps.end(), k,
                               [](uint32_t v, const TCompRun &c) { return v < c.firstSample; });
    if (it != fComps.begin()) s.compositionOffset = (it - 1)->offset;
  }
  return s;
}

void TMOVTrack::BuildSamples(int64_t fileSize) {
  fSampleCount = 0;
  fChunks.clear();
  fOffsets.clear();
  fTimes.clear();
  fComps.clear();
  fKeys.clear();
  if (chunkOffsets.empty() || timeToSample.empty() || sampleSizes.empty() || sampleToChunk.empty())
    return;

  // Decode times as runs; the sum of the counts is the sample count, cut
  // where times would no longer fit.
  uint64_t total = 0;
  int64_t t = 0;
  for (const TMOVTimeRun &e : timeToSample) {
    if (e.count == 0) continue;
    uint64_t n = std::min<uint64_t>(e.count, kMaxSamples - total);
    if (e.duration && n > uint64_t(std::numeric_limits<int64_t>::max() / 2 - t) / e.duration)
      n = uint64_t(std::numeric_limits<int64_t>::max() / 2 - t) / e.duration;
    if (n == 0) break;
    fTimes.push_back({static_cast<uint32_t>(total), e.duration, t});
    total += n;
    t += static_cast<int64_t>(n) * e.duration;
    if (n < e.count) break;
  }
  if (!constantSize) total = std::min<uint64_t>(total, sampleSizes.size());

  // Samples chunk by chunk. With a constant size only the chunks are kept;
  // otherwise every sample's offset.
  const int64_t z = constantSize ? sampleSizes[0] : 0;
  if (!constantSize) fOffsets.reserve(static_cast<size_t>(total));
  uint64_t k = 0;
  size_t entry = 0;
  for (size_t c = 0; c < chunkOffsets.size() && k < total; ++c) {
    while (entry + 1 < sampleToChunk.size() && c >= sampleToChunk[entry + 1].firstChunk) ++entry;
    uint64_t n = std::min<uint64_t>(sampleToChunk[entry].samplesPerChunk, total - k);
    if (n == 0) continue;
    int64_t offset = chunkOffsets[c];
    if (offset < 0 || offset > fileSize) break;
    bool complete = true;
    if (constantSize) {
      uint64_t fit = static_cast<uint64_t>((fileSize - offset) / z);
      if (fit < n) {
        n = fit;
        complete = false;
      }
      if (n == 0) break;
      fChunks.push_back({static_cast<uint32_t>(k), offset});
      k += n;
    } else {
      fChunks.push_back({static_cast<uint32_t>(k), offset});
      for (uint64_t j = 0; j < n; ++j) {
        uint32_t size = sampleSizes[k];
        if (offset + int64_t(size) > fileSize) {
          complete = false;
          break;
        }
        fOffsets.push_back(offset);
        offset += size;
        ++k;
      }
      if (fChunks.back().firstSample == k) fChunks.pop_back();
    }
    if (!complete) break;
  }
  fSampleCount = static_cast<uint32_t>(k);
  while (!fTimes.empty() && fTimes.back().firstSample >= fSampleCount) fTimes.pop_back();

  uint64_t first = 0;
  for (const TMOVTimeRun &e : compositionOffsets) {
    if (first >= fSampleCount) break;
    if (e.count == 0) continue;
    fComps.push_back({static_cast<uint32_t>(first), static_cast<int32_t>(e.duration)});
    first += e.count;
  }

  for (uint32_t i : syncSamples)
    if (i < fSampleCount) fKeys.push_back(i);
  if (!std::is_sorted(fKeys.begin(), fKeys.end())) std::sort(fKeys.begin(), fKeys.end());
  fKeys.erase(std::unique(fKeys.begin(), fKeys.end()), fKeys.end());
}

// ---- TMOVReader -----------------------------------------------------------

TMOVReader::TMOVReader(const std::string &fileName, bool headersOnly) {
  fStream = TMOVStream::OpenRead(fileName, &fError);
  Open(headersOnly);
}

TMOVReader::TMOVReader(const uint8_t *data, size_t size, bool headersOnly) {
  fStream = TMOVStream::FromMemory(data, size);
  Open(headersOnly);
}

const TMOVTrack *TMOVReader::VideoTrack() const {
  for (const TMOVTrack &t : fTracks)
    if (t.kind == kKindVideo) return &t;
  return nullptr;
}

void TMOVReader::VideoSize(int32_t &width, int32_t &height) const {
  const TMOVTrack *v = VideoTrack();
  width = v ? v->width : 0;
  height = v ? v->height : 0;
}

void TMOVReader::AddAtomHandler(uint32_t type, THandler handler) {
  fHandlers.push_back({type, handler});
}

const TMOVReader::TAtomHandler *TMOVReader::FindAtomHandler(uint32_t type) const {
  for (const TAtomHandler &h : fHandlers)
    if (h.type == type) return &h;
  return nullptr;
}

void TMOVReader::Open(bool headersOnly) {
  for (uint32_t type :
       {FourCC("stbl"), FourCC("minf"), FourCC("edts"), FourCC("mdia"), FourCC("udta"),
        FourCC("ilst"), FourCC("wave"), FourCC("free"), FourCC("tapt")})
    AddAtomHandler(type, &TMOVReader::OnContainer);
  AddAtomHandler(FourCC("moov"), &TMOVReader::OnMoov);
  AddAtomHandler(FourCC("mvhd"), &TMOVReader::OnMvhd);
  AddAtomHandler(FourCC("trak"), &TMOVReader::OnTrak);
  AddAtomHandler(FourCC("enof"), &TMOVReader::OnEnof);
  if (!headersOnly) {
    AddAtomHandler(FourCC("stco"), &TMOVReader::OnStco);
    AddAtomHandler(FourCC("co64"), &TMOVReader::OnCo64);
    AddAtomHandler(FourCC("stsc"), &TMOVReader::OnStsc);
    AddAtomHandler(FourCC("stss"), &TMOVReader::OnStss);
    AddAtomHandler(FourCC("stsz"), &TMOVReader::OnStsz);
    AddAtomHandler(FourCC("ctts"), &TMOVReader::OnCtts);
    AddAtomHandler(FourCC("elst"), &TMOVReader::OnElst);
  }
  // The time-to-sample table also with headers only: the duration comes from it
  // when the headers' durations cannot be believed.
  AddAtomHandler(FourCC("stts"), &TMOVReader::OnStts);
  AddAtomHandler(FourCC("stsd"), &TMOVReader::OnStsd);
  AddAtomHandler(FourCC("tkhd"), &TMOVReader::OnTkhd);
  AddAtomHandler(FourCC("mdhd"), &TMOVReader::OnMdhd);

  fCurrentTrack = nullptr;
  fInsideMovie = false;
  fMovieAtomOffset = fMovieAtomSize = 0;
  if (!fStream) return;
  try {
    uint8_t head[8];
    if (fStream->ReadAt(0, head, 8) != 8 || std::memcmp(head + 4, "ftyp", 4) != 0) {
      fError = "not a QuickTime file";
      return;
    }
    fStream->Seek(0);
    WalkAtoms(fStream->Size());
    BuildSampleTables();
  } catch (const std::exception &e) {
    fError = e.what();
  }
  fCurrentTrack = nullptr;
  if (!HasMovie() && fError.empty()) fError = "no movie atom";
  if (HasMovie()) fError.clear();
}

void TMOVReader::WalkAtoms(int64_t end) {
  if (fDepth >= kMaxDepth) return;
  ++fDepth;
  const int64_t fileSize = fStream->Size();
  try {
    int64_t p = fStream->Position();
    TAtomHeader atom;
    // Only a top-level atom may run to the end of the file.
    const bool mayRunToEnd = fDepth == 1 && end == fileSize;
    while (p < end && ReadAtomHeader(*fStream, p, end, mayRunToEnd, atom)) {
      const int64_t size = atom.size;
      const uint32_t type = atom.type;
      const TAtomHandler *h = FindAtomHandler(type);
      const int64_t atomStart = p;
      p += size;
      if (h) {
        fAtomStart = atomStart;
        try {
          (this->*h->handler)(p);
        } catch (const TMOVError &) {
          // A damaged atom loses only itself.
        }
      }
    }
    fStream->Seek(std::min(p, end));
  } catch (const std::exception &) {
    // A read error ends this level; what was read stays.
  }
  --fDepth;
}

uint8_t TMOVReader::ReadVersion() {
  return static_cast<uint8_t>(fStream->ReadU32() >> 24);
}

uint32_t TMOVReader::ReadCount(int64_t end, int64_t entrySize) {
  uint32_t n = fStream->ReadU32();
  // The entries must fit in the atom's payload before anything is allocated.
  int64_t room = (end - fStream->Position()) / entrySize;
  if (room < 0) room = 0;
  return static_cast<uint32_t>(std::min<int64_t>(n, room));
}

void TMOVReader::OnContainer(int64_t end) {
  WalkAtoms(end);
}

void TMOVReader::OnMoov(int64_t end) {
  if (fMovieAtomSize > 0 || fInsideMovie) return;  // only the first movie counts
  fInsideMovie = true;
  fMovieAtomOffset = fAtomStart;
  WalkAtoms(end);
  fMovieAtomSize = fStream->Position() - fMovieAtomOffset;
  fInsideMovie = false;
}

void TMOVReader::OnMvhd(int64_t) {
  uint8_t version = ReadVersion();
  uint64_t duration;
  if (version == 1) {
    // 64-bit times; the version-0 layout would read them as garbage.
    fCreationTime = MacDateToDateTime(fStream->ReadU64());
    SkipBytes(8);
    fTimeScale = static_cast<int32_t>(fStream->ReadU32());
    duration = fStream->ReadU64();
    fDuration = static_cast<int64_t>(duration);
  } else {
    fCreationTime = MacDateToDateTime(fStream->ReadU32());
    SkipBytes(4);
    fTimeScale = static_cast<int32_t>(fStream->ReadU32());
    fDuration = static_cast<int32_t>(fStream->ReadU32());
  }
  if (fTimeScale > 0 && fDuration > 0 && fDuration < std::numeric_limits<int64_t>::max() / 1000)
    fDurationMs = fDuration * 1000 / fTimeScale;
}

void TMOVReader::OnTrak(int64_t end) {
  if (!fInsideMovie || fTracks.size() >= kMaxTracks) return;
  fTracks.emplace_back();
  fCurrentTrack = &fTracks.back();
  WalkAtoms(end);
  fCurrentTrack = nullptr;
}

void TMOVReader::OnTkhd(int64_t) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  uint8_t version = ReadVersion();
  if (version == 1) {
    SkipBytes(16);
    t->trackId = fStream->ReadU32();
    SkipBytes(4);
    t->duration = static_cast<int64_t>(fStream->ReadU64());
  } else {
    t->creationTime = MacDateToDateTime(fStream->ReadU32());
    SkipBytes(4);
    t->trackId = fStream->ReadU32();
    SkipBytes(4);
    t->duration = static_cast<int32_t>(fStream->ReadU32());
  }
  if (t->width == 0 || t->height == 0) {
    SkipBytes(52);
    t->width = static_cast<int32_t>(fStream->ReadU32() >> 16);
    t->height = static_cast<int32_t>(fStream->ReadU32() >> 16);
  }
}

void TMOVReader::OnEnof(int64_t) {
  if (!fCurrentTrack) return;
  SkipBytes(4);
  int32_t w = static_cast<int32_t>(fStream->ReadU32() >> 16);
  int32_t h = static_cast<int32_t>(fStream->ReadU32() >> 16);
  if (w >= 1 && w <= 8999 && h >= 1 && h <= 5999) {
    fCurrentTrack->width = w;
    fCurrentTrack->height = h;
  }
}

void TMOVReader::OnMdhd(int64_t) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  uint8_t version = ReadVersion();
  int64_t scale = 1, duration = -1;
  if (version == 0) {
    SkipBytes(8);
    scale = static_cast<int32_t>(fStream->ReadU32());
    duration = static_cast<int32_t>(fStream->ReadU32());
  } else if (version == 1) {
    SkipBytes(16);
    scale = static_cast<int32_t>(fStream->ReadU32());
    duration = static_cast<int64_t>(fStream->ReadU64());
  }
  t->timeScale = static_cast<int32_t>(scale);
  if (duration > 0 && scale > 0 && duration < std::numeric_limits<int64_t>::max() / 1000) {
    t->durationMs = duration * 1000 / scale;
    t->duration = duration;
  }
}

void TMOVReader::OnStsd(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(8);
  SkipBytes(4);  // size of the first description
  char format[4];
  fStream->Read(format, 4);
  t->codec = ToUpperAscii(std::string_view(format, 4));
  t->kind = KindOfCodec(t->codec);
  if (t->kind != kKindAudio || end - fStream->Position() < 28) return;
  // The sound description: reserved (6), data reference (2), version,
  // revision, vendor; then channels, sample size and rate (16.16), or in
  // version 2 the rate as a double and 32-bit channels and sample size.
  SkipBytes(8);
  const uint16_t version = fStream->ReadU16();
  SkipBytes(6);
  if (version == 2) {
    if (end - fStream->Position() < 36) return;
    SkipBytes(16);
    const uint64_t bits = fStream->ReadU64();
    double rate = 0;
    std::memcpy(&rate, &bits, sizeof rate);
    const uint32_t channels = fStream->ReadU32();
    SkipBytes(4);
    const uint32_t sampleBits = fStream->ReadU32();
    if (!(rate >= 0 && rate < 1e9)) rate = 0;  // also NaN
    t->sampleRate = rate;
    t->channels = channels;
    t->sampleBits = sampleBits;
  } else {
    t->channels = fStream->ReadU16();
    t->sampleBits = fStream->ReadU16();
    SkipBytes(4);
    t->sampleRate = fStream->ReadU32() / 65536.0;
  }
}

void TMOVReader::OnElst(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  const uint8_t version = ReadVersion();
  const uint32_t n = ReadCount(end, version == 1 ? 20 : 12);
  // Leading empty edits delay the start; the first real one says where
  // the media starts. Later edits (rare in recordings) are not followed.
  int64_t delay = 0;
  for (uint32_t i = 0; i < n; ++i) {
    int64_t duration, media;
    if (version == 1) {
      duration = static_cast<int64_t>(fStream->ReadU64() & 0x3FFFFFFFFFFFFFFFull);
      media = static_cast<int64_t>(fStream->ReadU64());
    } else {
      duration = fStream->ReadU32();
      media = static_cast<int32_t>(fStream->ReadU32());
    }
    SkipBytes(4);  // rate
    if (media == -1) {
      delay += duration;
      if (delay > (int64_t(1) << 40)) break;  // hostile
      continue;
    }
    if (media < 0) break;
    t->editDelay = delay;
    t->editMediaTime = media;
    return;
  }
}

void TMOVReader::OnStco(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  uint32_t n = ReadCount(end, 4);
  t->chunkOffsets.clear();
  t->chunkOffsets.reserve(n);
  for (uint32_t i = 0; i < n; ++i) t->chunkOffsets.push_back(fStream->ReadU32());
}

void TMOVReader::OnCo64(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  uint32_t n = ReadCount(end, 8);
  t->chunkOffsets.clear();
  t->chunkOffsets.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t v = fStream->ReadU64();
    t->chunkOffsets.push_back(v > uint64_t(std::numeric_limits<int64_t>::max()) ? -1 : int64_t(v));
  }
}

void TMOVReader::OnStsc(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  uint32_t n = ReadCount(end, 12);
  t->sampleToChunk.clear();
  t->sampleToChunk.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    TMOVChunkRun r;
    r.firstChunk = fStream->ReadU32() - 1;
    r.samplesPerChunk = fStream->ReadU32();
    SkipBytes(4);
    t->sampleToChunk.push_back(r);
  }
}

void TMOVReader::OnStss(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  uint32_t n = ReadCount(end, 4);
  t->syncSamples.clear();
  t->syncSamples.reserve(n);
  for (uint32_t i = 0; i < n; ++i) t->syncSamples.push_back(fStream->ReadU32() - 1);
}

void TMOVReader::OnStsz(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  int32_t z = static_cast<int32_t>(fStream->ReadU32());
  t->sampleSizes.clear();
  if (z > 0) {
    t->sampleSizes.push_back(static_cast<uint32_t>(z));
    t->constantSize = true;
    return;
  }
  t->constantSize = false;
  uint32_t n = ReadCount(end, 4);
  t->sampleSizes.reserve(n);
  for (uint32_t i = 0; i < n; ++i) t->sampleSizes.push_back(fStream->ReadU32());
}

void TMOVReader::OnStts(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  uint32_t n = ReadCount(end, 8);
  t->timeToSample.clear();
  t->timeToSample.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    TMOVTimeRun r;
    r.count = fStream->ReadU32();
    r.duration = fStream->ReadU32();
    t->timeToSample.push_back(r);
  }
}

void TMOVReader::OnCtts(int64_t end) {
  TMOVTrack *t = fCurrentTrack;
  if (!t) return;
  SkipBytes(4);
  uint32_t n = ReadCount(end, 8);
  t->compositionOffsets.clear();
  t->compositionOffsets.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    TMOVTimeRun r;
    r.count = fStream->ReadU32();
    r.duration = fStream->ReadU32();
    t->compositionOffsets.push_back(r);
  }
}

namespace {

// The length of a track by its time-to-sample table (media units), -1
// without one. With built samples, only those that lie in the file count.
int64_t TableDuration(const TMOVTrack &t) {
  if (t.SampleCount() > 0) {
    const uint32_t last = t.SampleCount() - 1;
    return t.SampleTime(last) + t.SampleDuration(last);
  }
  if (t.timeToSample.empty()) return -1;
  int64_t units = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 4;
  for (const TMOVTimeRun &r : t.timeToSample) {
    if (r.duration != 0 && r.count > (kMax - units) / r.duration) return kMax;
    units += static_cast<int64_t>(r.count) * r.duration;
  }
  return units;
}

}  // namespace

void TMOVReader::BuildSampleTables() {
  const int64_t fileSize = fStream->Size();
  for (TMOVTrack &t : fTracks) {
    if (fCreationTime == 0)
      fCreationTime = t.creationTime;
    else if (t.creationTime > 0 && t.creationTime < fCreationTime)
      fCreationTime = t.creationTime;
    t.BuildSamples(fileSize);
  }
  // A header's duration that disagrees with the track's samples by more
  // than a second is damaged or hostile (a 4-second clip claiming 68
  // years): the sample tables, which the picture follows, win.
  int64_t tablesMs = -1;
  for (TMOVTrack &t : fTracks) {
    const int64_t units = TableDuration(t);
    if (units >= 0 && t.timeScale > 0 && units < std::numeric_limits<int64_t>::max() / 1000) {
      const int64_t ms = units * 1000 / t.timeScale;
      if (std::llabs(ms - t.durationMs) > 1000) {
        t.duration = units;
        t.durationMs = ms;
      }
      tablesMs = std::max(tablesMs, ms);
    }
    if (t.durationMs > fDurationMs) fDurationMs = t.durationMs;
  }
  if (tablesMs >= 0 && std::llabs(fDurationMs - tablesMs) > 1000) {
    fDurationMs = tablesMs;
    if (fTimeScale > 0)
      fDuration = static_cast<int64_t>(
          std::min(static_cast<long double>(tablesMs) * fTimeScale / 1000, 9e18L));
  }
}

}  // namespace tachora
