// TMOVWriter: a new movie from samples of recordings. Layout of the output:
// the file-type atom, one media-data atom per CopySamples call (more when
// the limit is passed), then the movie atom modelled on the first
// recording's.
//
// Video keeps one sample per chunk. Runs of samples of any other track that
// lie next to each other in the source, and that the interleaving takes in
// a row anyway, become one chunk of many samples: for PCM audio (one table
// entry per 2-byte sample) this keeps the new movie atom a small fraction
// of the size it would have with a chunk per sample. Sample order, times
// and sizes are the same either way.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <queue>

#include "container/UnitMOV.h"

namespace tachora {

namespace {
constexpr int64_t kMaxChunkBytes = 1024 * 1024;

void PutU32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

void PutU64(uint8_t *p, uint64_t v) {
  PutU32(p, uint32_t(v >> 32));
  PutU32(p + 4, uint32_t(v));
}

uint32_t GetU32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
}  // namespace

struct TMOVWriter::TPlan {
  const TMOVTrack *src = nullptr;
  uint32_t first = 0, last = 0, next = 0;
  bool active = false;
  uint32_t base = 0;
  uint32_t count = 0;
  long double time = 0;  // output time of the next sample, seconds
  int out = -1;
};

TMOVWriter::TMOVWriter(const std::string &fileName, int64_t mediaDataLimit)
    : fLimit(mediaDataLimit > 0 ? mediaDataLimit : kMediaDataLimit) {
  std::string error;
  fStream = TMOVStream::CreateWrite(fileName, &error);
  if (!fStream) throw TMOVError(error);
  static const uint8_t kFileType[24] = {0,   0,   0,   0x18, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ',
                                        0,   0,   0,   0,    'q', 't', ' ', ' ', 0,   0,   0,   0};
  fStream->Write(kFileType, sizeof kFileType);
}

TMOVWriter::~TMOVWriter() {
  try {
    Close();
  } catch (...) {
  }
}

void TMOVWriter::Close() {
  if (!fStream) return;
  fStream->Flush();
  fStream.reset();
}

uint32_t TMOVWriter::SampleAt(const TMOVTrack &track, long double fraction) {
  const uint32_t n = track.SampleCount();
  if (n == 0) return 0;
  int64_t duration = track.duration;
  if (duration <= 0) {
    // No usable header duration: the sample table's own length.
    TMOVSample last = track.Sample(n - 1);
    duration = last.time + last.duration;
  }
  const int64_t t = std::llround(fraction * static_cast<long double>(duration));
  if (t <= track.SampleTime(0)) return 0;
  if (t >= track.SampleTime(n - 1)) return n - 1;
  uint32_t lo = 0, hi = n - 1;  // time(lo) <= t < time(hi)
  while (hi - lo > 1) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (track.SampleTime(mid) <= t)
      lo = mid;
    else
      hi = mid;
  }
  return lo;
}

TMOVTrack *TMOVWriter::FindOutput(uint32_t trackId) {
  for (TMOVTrack &t : fTracks)
    if (t.trackId == trackId) return &t;
  return nullptr;
}

void TMOVWriter::StartMediaData() {
  fMediaStart = fStream->Position();
  static const uint8_t kHeader[8] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
  fStream->Write(kHeader, 8);
  fMediaBytes = 0;
}

void TMOVWriter::EndMediaData() {
  if (fMediaStart < 0) return;
  const int64_t end = fStream->Position();
  const int64_t size = end - fMediaStart;
  if (size > int64_t(std::numeric_limits<uint32_t>::max()))
    throw TMOVError("media-data atom too large");
  uint8_t b[4];
  PutU32(b, static_cast<uint32_t>(size));
  fStream->WriteAt(fMediaStart, b, 4);
  fStream->Seek(end);
  fMediaStart = -1;
}

bool TMOVWriter::CopySamples(const TMOVReader &source, bool copyVideo, bool copyAudio,
                             const TMOVProgress &progress, long double endFraction,
                             long double startFraction) {
  if (!fStream) throw TMOVError("writer is closed");
  const bool mayAddTracks = fCopies++ == 0;
  long double s = std::clamp<long double>(startFraction, 0, 1);
  long double e = std::clamp<long double>(endFraction, 0, 1);
  const std::vector<TMOVTrack> &tracks = source.Tracks();

  // Start at the key frame at or before the start, so that the first
  // frames decode. (A start after the last key frame is moved back too: the
  // frames after it cannot be decoded without it.)
  const TMOVTrack *video = source.VideoTrack();
  if (video && video->SampleCount() > 0 && video->KeySamples().size() >= 2) {
    const uint32_t k = SampleAt(*video, s);
    const auto &keys = video->KeySamples();
    auto it = std::upper_bound(keys.begin(), keys.end(), k);
    if (it != keys.begin() && *(it - 1) < k) {
      int64_t duration = video->duration;
      if (duration <= 0) {
        TMOVSample last = video->Sample(video->SampleCount() - 1);
        duration = last.time + last.duration;
      }
      if (duration > 0)
        s = static_cast<long double>(video->SampleTime(*(it - 1))) / duration;
    }
  }

  std::vector<TPlan> plans(tracks.size());
  for (size_t j = 0; j < tracks.size(); ++j) {
    const TMOVTrack &t = tracks[j];
    TPlan &p = plans[j];
    p.src = &t;
    if (t.SampleCount() == 0) continue;
    p.first = SampleAt(t, s);
    p.last = SampleAt(t, e);
    p.next = p.first;
    p.count = p.last >= p.first ? p.last - p.first + 1 : 0;
    TMOVTrack *out = FindOutput(t.trackId);
    if (!out && mayAddTracks &&
        ((t.kind == kKindVideo && copyVideo) || (t.kind == kKindAudio && copyAudio))) {
      TMOVTrack n;
      n.trackId = t.trackId;
      n.timeScale = t.timeScale;
      n.kind = t.kind;
      n.codec = t.codec;
      n.width = t.width;
      n.height = t.height;
      fTracks.push_back(std::move(n));
      fOut.emplace_back();
      out = &fTracks.back();
    }
    if (!out || p.count == 0) continue;
    p.out = static_cast<int>(out - fTracks.data());
    p.active = true;
    p.base = fOut[p.out].samples;
    p.time = out->timeScale > 0 ? static_cast<long double>(out->duration) / out->timeScale : 0;
  }

  StartMediaData();
  bool cancelled = false;
  int progressTrack = -1;
  for (size_t j = 0; j < plans.size(); ++j)
    if (plans[j].active) {
      progressTrack = static_cast<int>(j);
      break;
    }
  int64_t lastProgress = -16;
  // Picks in order of output time, ties to the lower track index.
  using TEntry = std::pair<long double, int>;
  std::priority_queue<TEntry, std::vector<TEntry>, std::greater<TEntry>> queue;
  for (size_t j = 0; j < plans.size(); ++j)
    if (plans[j].active) queue.emplace(plans[j].time, static_cast<int>(j));
  // A valid source never holds more sample bytes than the file; overlapping
  // samples in a damaged one must not turn into an endless output.
  int64_t budget = source.Stream()->Size();
  while (!queue.empty()) {
    const int pick = queue.top().second;
    queue.pop();
    TPlan &p = plans[pick];
    if (pick == progressTrack && progress && int64_t(p.next - p.first) >= lastProgress + 16) {
      lastProgress = p.next - p.first;
      if (!progress(static_cast<double>(p.next - p.first) / std::max<uint32_t>(p.count, 1),
                    static_cast<double>(p.time))) {
        cancelled = true;
        break;
      }
    }
    const TMOVTrack &src = *p.src;
    uint32_t n = 1;
    int64_t bytes = src.SampleSize(p.next);
    if (src.kind != kKindVideo) {
      // Take the samples that the interleaving would pick next anyway and
      // that follow each other in the source: one chunk.
      const long double limit =
          queue.empty() ? std::numeric_limits<long double>::infinity() : queue.top().first;
      const int limitIndex = queue.empty() ? -1 : queue.top().second;
      const TMOVTrack &out = fTracks[p.out];
      const bool rescale = src.timeScale > 0 && out.timeScale > 0 && src.timeScale != out.timeScale;
      auto step = [&](uint32_t duration) -> long double {
        if (out.timeScale <= 0) return 0;
        const long double d =
            rescale ? std::llround(static_cast<long double>(duration) / src.timeScale * out.timeScale)
                    : duration;
        return d / out.timeScale;
      };
      long double time = p.time + step(src.SampleDuration(p.next));
      int64_t end = src.SampleOffset(p.next) + bytes;
      while (p.next + n <= p.last) {
        if (time > limit || (time == limit && limitIndex < pick)) break;
        const uint32_t k = p.next + n;
        const uint32_t size = src.SampleSize(k);
        if (bytes + size > kMaxChunkBytes || src.SampleOffset(k) != end) break;
        bytes += size;
        end += size;
        time += step(src.SampleDuration(k));
        ++n;
      }
    }
    if (bytes > budget) break;
    budget -= std::max<int64_t>(bytes, 1);
    AppendSamples(p, source, n);
    if (p.next <= p.last) queue.emplace(p.time, pick);
  }
  EndMediaData();
  fStream->Flush();

  for (TMOVTrack &t : fTracks)
    t.durationMs = t.timeScale >= 1 ? t.duration * 1000 / t.timeScale : 0;
  const TMOVTrack *longest = nullptr;
  for (const TMOVTrack &t : fTracks)
    if (!longest || t.durationMs > longest->durationMs) longest = &t;
  if (longest) {
    fTimeScale = longest->timeScale;
    fDuration = longest->duration;
    fDurationMs = longest->durationMs;
  }
  return !cancelled;
}

void TMOVWriter::AppendSamples(TPlan &p, const TMOVReader &source, uint32_t n) {
  const TMOVTrack &src = *p.src;
  TMOVTrack &out = fTracks[p.out];
  TOutState &state = fOut[p.out];
  int64_t bytes = 0;
  for (uint32_t i = 0; i < n; ++i) bytes += src.SampleSize(p.next + i);
  if (fMediaBytes > 0 && fMediaBytes + bytes > fLimit) {
    EndMediaData();
    StartMediaData();
  }
  out.chunkOffsets.push_back(fStream->Position());
  const uint32_t chunk = static_cast<uint32_t>(out.chunkOffsets.size() - 1);
  if (out.sampleToChunk.empty() || out.sampleToChunk.back().samplesPerChunk != n)
    out.sampleToChunk.push_back({chunk, n});

  const bool rescale = src.timeScale > 0 && out.timeScale > 0 && src.timeScale != out.timeScale;
  for (uint32_t i = 0; i < n; ++i) {
    const TMOVSample smp = src.Sample(p.next + i);
    const uint32_t o = state.samples;
    if (o == 0 && out.sampleSizes.empty() && src.constantSize) {
      out.constantSize = true;
      out.sampleSizes.push_back(smp.size);
    } else if (!(out.constantSize && src.constantSize && out.sampleSizes[0] == smp.size)) {
      if (out.constantSize) {
        const uint32_t z = out.sampleSizes[0];
        out.sampleSizes.assign(o, z);
        out.constantSize = false;
      }
      out.sampleSizes.push_back(smp.size);
    }
    uint32_t d = smp.duration;
    if (rescale)
      d = static_cast<uint32_t>(std::llround(static_cast<long double>(d) / src.timeScale * out.timeScale));
    if (out.timeToSample.empty() || out.timeToSample.back().duration != d)
      out.timeToSample.push_back({0, d});
    ++out.timeToSample.back().count;
    out.duration += d;
    if (out.timeScale > 0) p.time += static_cast<long double>(d) / out.timeScale;
    if (smp.key) out.syncSamples.push_back(o);
    if (smp.compositionOffset != 0 || state.hasComposition) {
      if (!state.hasComposition) {
        state.hasComposition = true;
        if (o > 0) out.compositionOffsets.push_back({o, 0});
      }
      const uint32_t c = static_cast<uint32_t>(smp.compositionOffset);
      if (out.compositionOffsets.empty() || out.compositionOffsets.back().duration != c)
        out.compositionOffsets.push_back({0, c});
      ++out.compositionOffsets.back().count;
    }
    ++state.samples;
  }
  fStream->CopyFrom(*source.Stream(), src.SampleOffset(p.next), bytes);
  fMediaBytes += bytes;
  fMediaBytesTotal += bytes;
  p.next += n;
}

// ---- the movie atom -------------------------------------------------------

void TMOVWriter::OpenAtom(uint32_t type) {
  fOpenAtoms.emplace_back(fStream->Position(), type);
  fStream->WriteU32(0);
  fStream->WriteU32(type);
}

void TMOVWriter::CloseAtom() {
  const auto [start, type] = fOpenAtoms.back();
  fOpenAtoms.pop_back();
  const int64_t end = fStream->Position();
  const int64_t size = end - start;
  if (size > int64_t(std::numeric_limits<uint32_t>::max())) throw TMOVError("atom too large");
  uint8_t b[4];
  PutU32(b, static_cast<uint32_t>(size));
  fStream->WriteAt(start, b, 4);
  fStream->Seek(end);
}

void TMOVWriter::WriteTableAtom(uint32_t type) {
  static const TMOVTrack kEmpty;
  const TMOVTrack &t = fCurrentTrack ? *fCurrentTrack : kEmpty;
  const uint32_t samples = fCurrentTrack ? fOut[fCurrentTrack - fTracks.data()].samples : 0;
  TMOVStream &w = *fStream;
  if (type == FourCC("stco") || type == FourCC("co64")) {
    const bool wide = !t.chunkOffsets.empty() && w.Position() > fLimit;
    OpenAtom(wide ? FourCC("co64") : FourCC("stco"));
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(t.chunkOffsets.size()));
    for (int64_t o : t.chunkOffsets) {
      if (wide)
        w.WriteU64(static_cast<uint64_t>(o));
      else
        w.WriteU32(static_cast<uint32_t>(o));
    }
  } else if (type == FourCC("stsc")) {
    OpenAtom(type);
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(t.sampleToChunk.size()));
    for (const TMOVChunkRun &r : t.sampleToChunk) {
      w.WriteU32(r.firstChunk + 1);
      w.WriteU32(r.samplesPerChunk);
      w.WriteU32(1);
    }
  } else if (type == FourCC("stss")) {
    OpenAtom(type);
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(t.syncSamples.size()));
    for (uint32_t i : t.syncSamples) w.WriteU32(i + 1);
  } else if (type == FourCC("stsz")) {
    OpenAtom(type);
    WriteZero32();
    if (t.constantSize && !t.sampleSizes.empty()) {
      w.WriteU32(t.sampleSizes[0]);
      w.WriteU32(samples);
    } else {
      w.WriteU32(0);
      w.WriteU32(static_cast<uint32_t>(t.sampleSizes.size()));
      for (uint32_t z : t.sampleSizes) w.WriteU32(z);
    }
  } else {  // stts, ctts
    const auto &runs = type == FourCC("stts") ? t.timeToSample : t.compositionOffsets;
    OpenAtom(type);
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(runs.size()));
    for (const TMOVTimeRun &r : runs) {
      w.WriteU32(r.count);
      w.WriteU32(r.duration);
    }
  }
  CloseAtom();
}

void TMOVWriter::WriteMovie(const TMOVReader &templ) {
  if (!fStream) throw TMOVError("writer is closed");
  if (!templ.HasMovie() || !templ.Stream()) throw TMOVError("no movie to model the new one on");
  fStream->Flush();
  // The movie atom itself is written here: its children are copied up to
  // the end of the last one the reader could walk, which may lie before the
  // end the atom's header claims in a damaged file.
  TMOVStream &in = *templ.Stream();
  in.Seek(templ.MovieAtomOffset());
  const int64_t header = in.ReadU32() == 1 ? 16 : 8;
  in.Seek(templ.MovieAtomOffset() + header);
  fCurrentTrack = nullptr;
  fOpenAtoms.clear();
  OpenAtom(FourCC("moov"));
  CopyAtoms(templ, templ.MovieAtomOffset() + templ.MovieAtomSize());
  fOpenAtoms.resize(1);
  CloseAtom();
  fStream->Flush();
  if (fStream->Size() != fStream->Position()) fStream->SetSize(fStream->Position());
}

void TMOVWriter::CopyAtoms(const TMOVReader &templ, int64_t end) {
  TMOVStream &in = *templ.Stream();
  if (fOpenAtoms.size() > 16) return;
  try {
    int64_t p = in.Position();
    while (end - p >= 8) {
      in.Seek(p);
      int64_t size = in.ReadU32();
      const uint32_t type = in.ReadU32();
      int64_t header = 8;
      if (size == 1) {
        if (end - p < 16) break;
        const uint64_t large = in.ReadU64();
        if (large > uint64_t(end - p)) break;
        size = static_cast<int64_t>(large);
        header = 16;
      }
      if (size < header || size > end - p) break;
      const int64_t next = p + size;
      const int64_t payload = size - header;
      switch (type) {
        case FourCC("trak"):
        case FourCC("mdia"):
        case FourCC("minf"):
        case FourCC("stbl"): {
          if (type == FourCC("trak")) {
            if (fOpenAtoms.empty() || fOpenAtoms.back().second != FourCC("moov")) break;
            fCurrentTrack = nullptr;
          }
          const int64_t outStart = fStream->Position();
          OpenAtom(type);
          const size_t depth = fOpenAtoms.size();
          fCompositionWritten = fCompositionWritten && type != FourCC("stbl");
          CopyAtoms(templ, next);
          while (fOpenAtoms.size() > depth) fOpenAtoms.pop_back();  // a level that failed
          if (type == FourCC("trak") && !fCurrentTrack) {
            // Not a track of the new movie: no trak atom for it.
            fOpenAtoms.pop_back();
            fStream->Seek(outStart);
            break;
          }
          if (type == FourCC("stbl") && fCurrentTrack && !fCompositionWritten &&
              fOut[fCurrentTrack - fTracks.data()].hasComposition) {
            WriteTableAtom(FourCC("ctts"));
            fCompositionWritten = true;
          }
          CloseAtom();
          if (type == FourCC("trak")) fCurrentTrack = nullptr;
          break;
        }
        case FourCC("stco"):
        case FourCC("co64"):
        case FourCC("stsc"):
        case FourCC("stss"):
        case FourCC("stsz"):
        case FourCC("stts"):
          WriteTableAtom(type);
          break;
        case FourCC("ctts"):
          if (fCurrentTrack && fOut[fCurrentTrack - fTracks.data()].hasComposition &&
              !fCompositionWritten) {
            WriteTableAtom(type);
            fCompositionWritten = true;
          }
          break;
        case FourCC("tkhd"):
        case FourCC("mdhd"):
        case FourCC("mvhd"):
        case FourCC("tapt"):
        case FourCC("hdlr"):
        case FourCC("vmhd"):
        case FourCC("smhd"):
        case FourCC("stsd"):
        case FourCC("dinf"): {
          fBuffer.resize(static_cast<size_t>(payload));
          in.Read(fBuffer.data(), fBuffer.size());
          uint8_t *b = fBuffer.data();
          const size_t len = fBuffer.size();
          if (type == FourCC("tkhd")) {
            if (len < 4) break;
            const bool v1 = b[0] == 1;
            const size_t idAt = v1 ? 20 : 12;
            if (len < idAt + 4) break;
            fCurrentTrack = FindOutput(GetU32(b + idAt));
            if (!fCurrentTrack) {
              // The whole trak goes: stop walking its children.
              return;
            }
            const TMOVTrack &t = *fCurrentTrack;
            int64_t d = t.duration;
            if (fTimeScale > 0 && t.timeScale > 0)
              d = std::llround(static_cast<long double>(t.duration) * fTimeScale / t.timeScale);
            if (!v1 && len >= 24)
              PutU32(b + 20, static_cast<uint32_t>(d));
            else if (v1 && len >= 36)
              PutU64(b + 28, static_cast<uint64_t>(d));
          } else if (type == FourCC("mdhd") && fCurrentTrack) {
            const TMOVTrack &t = *fCurrentTrack;
            if (len >= 20 && GetU32(b) == 0) {
              PutU32(b + 12, static_cast<uint32_t>(t.timeScale));
              PutU32(b + 16, static_cast<uint32_t>(t.duration));
            } else if (len >= 32 && GetU32(b) == 0x01000000) {
              PutU32(b + 20, static_cast<uint32_t>(t.timeScale));
              PutU64(b + 24, static_cast<uint64_t>(t.duration));
            }
          } else if (type == FourCC("mvhd") && fTimeScale > 0 && fDuration > 0) {
            if (len >= 20 && b[0] == 0) {
              PutU32(b + 12, static_cast<uint32_t>(fTimeScale));
              PutU32(b + 16, static_cast<uint32_t>(fDuration));
            } else if (len >= 32 && b[0] == 1) {
              PutU32(b + 20, static_cast<uint32_t>(fTimeScale));
              PutU64(b + 24, static_cast<uint64_t>(fDuration));
            }
          }
          OpenAtom(type);
          fStream->Write(b, len);
          CloseAtom();
          break;
        }
        default:
          break;  // edit lists, user data and the rest are left out
      }
      p = next;
    }
  } catch (const TMOVError &) {
    // A damaged template ends this level; what was written stays.
  }
}

}  // namespace tachora
