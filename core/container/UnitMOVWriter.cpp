// TMOVWriter: a new movie from samples of recordings. Layout of the output:
// the file-type atom, one media-data atom per CopySamples call (more when
// the limit is passed), then the movie atom modelled on the first
// recording's.
//
// Every copied range lies at the offset within a file-system block that it
// has in its source (TMOVStream::CopyAligned): a free atom before each
// media-data atom and gaps of zeros inside it (between the ranges of a
// recording when tracks were left out, or where a damaged recording's
// samples jump) make room. The file system then shares the source's blocks
// where it can (XFS, Btrfs), and copies whole pages elsewhere.
//
// Within a recording's selected range the samples keep the order in which
// they lie in the source, so that the media data is the source's bytes
// with only the unselected tracks taken out, copied in a few large pieces.
// Runs of a track's samples that lie back to back in the source become one
// chunk of many samples (up to a size cap): for PCM audio (one table entry
// per 2-byte sample) this keeps the new movie atom a small fraction of the
// size it would have with a chunk per sample.
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

namespace {
const uint8_t kFileType[24] = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ',
                               0, 0, 0, 0,    'q', 't', ' ', ' ', 0,   0,   0,   0};
}

TMOVWriter::TMOVWriter(const std::string &fileName, int64_t mediaDataLimit)
    : fLimit(mediaDataLimit > 0 ? mediaDataLimit : kMediaDataLimit) {
  std::string error;
  fStream = TMOVStream::CreateWrite(fileName, &error);
  if (!fStream) throw TMOVError(error);
  fStream->Write(kFileType, sizeof kFileType);
}

TMOVWriter::TMOVWriter(int fd, int64_t mediaDataLimit)
    : fLimit(mediaDataLimit > 0 ? mediaDataLimit : kMediaDataLimit) {
  fStream = TMOVStream::WrapWrite(fd);
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

void TMOVWriter::StartMediaData(int64_t firstSource) {
  if (firstSource >= 0) {
    // A free atom puts the first sample at its source offset within a block.
    int64_t gap = fStream->AlignmentGap(firstSource - 8);
    if (gap > 0 && gap < 8) gap += fStream->BlockSize();
    if (gap > 0) {
      uint8_t header[8] = {0, 0, 0, 0, 'f', 'r', 'e', 'e'};
      PutU32(header, static_cast<uint32_t>(gap));
      fStream->Write(header, 8);
      const std::vector<uint8_t> zeros(static_cast<size_t>(gap - 8));
      fStream->Write(zeros.data(), zeros.size());
    }
  }
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
    throw TMOVWriteError("media-data atom too large");
  uint8_t b[4];
  PutU32(b, static_cast<uint32_t>(size));
  fStream->WriteAt(fMediaStart, b, 4);
  fStream->Seek(end);
  fMediaStart = -1;
}

bool TMOVWriter::SameFormat(const TMOVTrack &out, const TMOVTrack &in) {
  if (out.kind != in.kind || out.codec != in.codec) return false;
  if (out.kind == kKindVideo) return out.width == in.width && out.height == in.height;
  if (out.kind == kKindAudio) {
    // The time scale stands for the rate when the description has none.
    const double a = out.sampleRate > 0 ? out.sampleRate : out.timeScale;
    const double b = in.sampleRate > 0 ? in.sampleRate : in.timeScale;
    return out.channels == in.channels && out.sampleBits == in.sampleBits && a == b;
  }
  return out.width == in.width && out.height == in.height;
}

bool TMOVWriter::CopySamples(const TMOVReader &source, long double startFraction,
                             long double endFraction, TMOVCopyTracks tracks,
                             const TMOVProgress &progress) {
  if (!fStream) throw TMOVError("writer is closed");
  const bool mayAddTracks = fCopies++ == 0;
  if (!mayAddTracks) AlignTrackEnds();
  const long double start = KeyFrameStart(source, std::clamp<long double>(startFraction, 0, 1));
  const long double end = std::clamp<long double>(endFraction, 0, 1);
  std::vector<TPlan> plans = PlanTracks(source, start, end, tracks, mayAddTracks);
  const int64_t missingBefore = fStream->MissingBytes();
  const bool done = CopyInSourceOrder(source, plans, progress);
  SetMovieDuration();
  const int64_t missing = fStream->MissingBytes() - missingBefore;
  if (missing > 0 && done)
    throw TMOVSourceError("the recording could not be read completely (" + std::to_string(missing) +
                          " bytes missing)");
  return done;
}

long double TMOVWriter::KeyFrameStart(const TMOVReader &source, long double start) {
  // Start at the key frame at or before the start, so that the first
  // frames decode. (A start after the last key frame is moved back too: the
  // frames after it cannot be decoded without it.)
  const TMOVTrack *video = source.VideoTrack();
  if (!video || video->SampleCount() == 0 || video->KeySamples().size() < 2) return start;
  const uint32_t k = SampleAt(*video, start);
  const auto &keys = video->KeySamples();
  auto it = std::upper_bound(keys.begin(), keys.end(), k);
  if (it == keys.begin() || *(it - 1) >= k) return start;
  int64_t duration = video->duration;
  if (duration <= 0) {
    TMOVSample last = video->Sample(video->SampleCount() - 1);
    duration = last.time + last.duration;
  }
  return duration > 0 ? static_cast<long double>(video->SampleTime(*(it - 1))) / duration : start;
}

std::vector<TMOVWriter::TPlan> TMOVWriter::PlanTracks(const TMOVReader &source, long double start,
                                                      long double end, TMOVCopyTracks tracks,
                                                      bool mayAddTracks) {
  std::vector<TPlan> plans(source.Tracks().size());
  for (size_t j = 0; j < plans.size(); ++j) {
    const TMOVTrack &t = source.Tracks()[j];
    TPlan &p = plans[j];
    p.src = &t;
    if (t.SampleCount() == 0) continue;
    p.first = SampleAt(t, start);
    p.last = SampleAt(t, end);
    p.next = p.first;
    p.count = p.last >= p.first ? p.last - p.first + 1 : 0;
    TMOVTrack *out = FindOutput(t.trackId);
    if (out && fOut[out - fTracks.data()].closed) {
      ++fLeftOutAfterGap[out->kind < 3 ? out->kind : 0];
      continue;
    }
    if (out && !SameFormat(*out, t)) {
      // E.g. a recording made after the picture size or the sound settings
      // were changed: its samples cannot be decoded (or would play at the
      // wrong speed) with the first recording's description.
      ++fLeftOut[out->kind < 3 ? out->kind : 0];
      continue;
    }
    if (!out && mayAddTracks &&
        ((t.kind == kKindVideo && tracks.video) || (t.kind == kKindAudio && tracks.audio)))
      out = AddOutputTrack(source, t, p.first, p.last);
    if (!out || p.count == 0) continue;
    p.out = static_cast<int>(out - fTracks.data());
    p.active = true;
    p.base = fOut[p.out].samples;
    p.time = out->timeScale > 0 ? static_cast<long double>(out->duration) / out->timeScale : 0;
  }
  return plans;
}

TMOVTrack *TMOVWriter::AddOutputTrack(const TMOVReader &source, const TMOVTrack &t, uint32_t first,
                                      uint32_t last) {
  TMOVTrack n;
  n.trackId = t.trackId;
  n.timeScale = t.timeScale;
  n.kind = t.kind;
  n.codec = t.codec;
  n.width = t.width;
  n.height = t.height;
  n.channels = t.channels;
  n.sampleBits = t.sampleBits;
  n.sampleRate = t.sampleRate;
  fTracks.push_back(std::move(n));
  TOutState state;
  // Where the first copied sample lies on the source's presentation time
  // line, so that the edit lists can start all tracks together.
  if (t.timeScale > 0) {
    const long double scale = t.timeScale;
    const long double movieScale = source.TimeScale() > 0 ? source.TimeScale() : scale;
    state.startAt = t.editDelay / movieScale +
                    static_cast<long double>(t.SampleTime(first) - t.editMediaTime) / scale;
  }
  if (t.HasCompositionOffsets() && first <= last) {
    // The earliest shown picture of the first group of pictures.
    const int64_t t0 = t.SampleTime(first);
    int64_t shown = std::numeric_limits<int64_t>::max();
    for (uint32_t k = first; k <= last && k - first < 64; ++k) {
      if (k > first && t.IsKey(k)) break;
      const TMOVSample x = t.Sample(k);
      shown = std::min(shown, x.time - t0 + x.compositionOffset);
    }
    state.firstShown = shown;
  }
  fOut.push_back(state);
  return &fTracks.back();
}

bool TMOVWriter::CopyInSourceOrder(const TMOVReader &source, std::vector<TPlan> &plans,
                                   const TMOVProgress &progress) {
  int64_t firstSource = -1;
  for (const TPlan &p : plans)
    if (p.active) {
      const int64_t at = p.src->SampleOffset(p.next);
      if (firstSource < 0 || at < firstSource) firstSource = at;
    }
  StartMediaData(firstSource);
  try {
    int progressTrack = -1;
    for (size_t j = 0; j < plans.size() && progressTrack < 0; ++j)
      if (plans[j].active) progressTrack = static_cast<int>(j);
    int64_t lastProgress = -16;
    // The samples go out in the order in which they lie in the source (each
    // track's own order kept): the recorder interleaved them already, and
    // back-to-back source bytes stay back to back, so that they are copied
    // in one go. Picks the track whose next sample lies first.
    using TEntry = std::pair<int64_t, int>;
    std::priority_queue<TEntry, std::vector<TEntry>, std::greater<TEntry>> queue;
    for (size_t j = 0; j < plans.size(); ++j)
      if (plans[j].active)
        queue.emplace(plans[j].src->SampleOffset(plans[j].next), static_cast<int>(j));
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
          EndMediaData();
          fStream->Flush();
          return false;
        }
      }
      int64_t bytes = 0;
      const uint32_t n = PlanRun(
          p, queue.empty() ? std::numeric_limits<int64_t>::max() : queue.top().first, bytes);
      if (bytes > budget) break;
      // The gap left before a run counts too: a damaged file's samples
      // scattered byte by byte must not pad the output to many times its
      // size. (In a valid one each gap is shorter than the source bytes
      // skipped there, so the budget holds.)
      budget -= std::max<int64_t>(bytes + AppendSamples(p, source, n, bytes), 1);
      if (p.next <= p.last) queue.emplace(p.src->SampleOffset(p.next), pick);
    }
    EndMediaData();
    fStream->Flush();
  } catch (...) {
    // Close the media data so that what was written stays a valid file.
    try {
      EndMediaData();
    } catch (...) {
    }
    throw;
  }
  return true;
}

void TMOVWriter::SetMovieDuration() {
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
}

void TMOVWriter::AlignTrackEnds() {
  // The tracks of one recording rarely end together (AAC frames, a last
  // video frame): appended as they are, the next recording's sound would
  // drift from its picture by that difference at every joint. The last
  // frame so far is held (or cut) until the other tracks end, so that each
  // recording starts all its tracks together. Held as long as it takes: a
  // recording whose picture was left out shows the last frame before it
  // while its sound plays.
  TMOVTrack *video = nullptr;
  long double end = -1;
  for (size_t i = 0; i < fTracks.size(); ++i) {
    TMOVTrack &t = fTracks[i];
    if (t.timeScale <= 0 || t.timeToSample.empty()) continue;
    if (t.kind == kKindVideo && !video)
      video = &t;
    else if (!fOut[i].closed)
      end = std::max(end, static_cast<long double>(t.duration) / t.timeScale);
  }
  if (!video) return;
  if (end >= 0) {
    const int64_t target = std::llround(end * video->timeScale);
    const int64_t change = target - video->duration;
    const TMOVTimeRun last = video->timeToSample.back();
    const int64_t d = int64_t(last.duration) + change;
    // A last frame is cut by a fraction of its length at most: a picture
    // that runs on far beyond the sound keeps its frames.
    if (change != 0 && d > 0 && d <= int64_t(std::numeric_limits<uint32_t>::max()) &&
        (change > 0 || -change <= video->timeScale / 10)) {
      if (last.count > 1) {
        video->timeToSample.back().count = last.count - 1;
        video->timeToSample.push_back({1, static_cast<uint32_t>(d)});
      } else {
        video->timeToSample.back().duration = static_cast<uint32_t>(d);
      }
      video->duration = target;
    }
  }
  // Sound cannot be held like a picture: a sound track that ended well
  // before the picture (a recording's sound was left out, or it had none)
  // would play every later recording's sound early. It takes no more.
  const long double videoEnd = static_cast<long double>(video->duration) / video->timeScale;
  for (size_t i = 0; i < fTracks.size(); ++i) {
    const TMOVTrack &t = fTracks[i];
    if (&t == video || t.timeScale <= 0 || t.timeToSample.empty()) continue;
    if (videoEnd - static_cast<long double>(t.duration) / t.timeScale > 0.1L) fOut[i].closed = true;
  }
}

long double TMOVWriter::OutputDuration(const TPlan &p, uint32_t duration) const {
  const TMOVTrack &src = *p.src;
  const TMOVTrack &out = fTracks[p.out];
  // A damaged header's tiny source time scale can make a duration beyond
  // what a sample table holds: it is held at the limit.
  if (src.timeScale > 0 && out.timeScale > 0 && src.timeScale != out.timeScale)
    return std::min<long double>(
        std::round(static_cast<long double>(duration) / src.timeScale * out.timeScale),
        std::numeric_limits<uint32_t>::max());
  return duration;
}

uint32_t TMOVWriter::PlanRun(const TPlan &p, int64_t before, int64_t &bytes) const {
  // One chunk: the samples from the next one on that lie back to back in
  // the source, up to the first byte of another track's next sample and a
  // size cap. Stretches of samples that share a chunk and a time-to-sample
  // entry lie back to back, so PCM runs (one table entry per 2-byte
  // sample) are planned a stretch at a time, not a sample at a time.
  const TMOVTrack &src = *p.src;
  bytes = 0;
  uint32_t n = 0;
  uint32_t k = p.next;
  int64_t end = src.SampleOffset(k);
  while (k <= p.last) {
    if (src.SampleOffset(k) != end || (n > 0 && end >= before)) break;
    const uint32_t stretchEnd = std::min<uint64_t>(src.StretchEnd(k), uint64_t(p.last) + 1);
    const uint64_t m = stretchEnd - k;
    uint64_t taken = 0;
    if (src.constantSize) {
      const int64_t z = std::max<uint32_t>(src.sampleSizes[0], 1);
      int64_t room = std::max<int64_t>(0, kMaxChunkBytes - bytes);
      if (before > end) room = std::min(room, before - end);
      const uint64_t fit = static_cast<uint64_t>(room / z);
      taken = std::min(m, n == 0 ? std::max<uint64_t>(fit, 1) : fit);
      bytes += static_cast<int64_t>(taken) * src.sampleSizes[0];
      end += static_cast<int64_t>(taken) * src.sampleSizes[0];
    } else {
      while (taken < m) {
        const uint32_t z = src.sampleSizes[k + taken];
        if (n + taken > 0 && (bytes + z > kMaxChunkBytes || end >= before)) break;
        bytes += z;
        end += z;
        ++taken;
      }
    }
    if (taken == 0) break;
    n += static_cast<uint32_t>(taken);
    k += static_cast<uint32_t>(taken);
    if (k < stretchEnd) break;
  }
  return std::max<uint32_t>(n, 1);
}

int64_t TMOVWriter::AppendSamples(TPlan &p, const TMOVReader &source, uint32_t n, int64_t bytes) {
  const TMOVTrack &src = *p.src;
  const uint32_t first = p.next;
  TMOVTrack &out = fTracks[p.out];
  TOutState &state = fOut[p.out];
  const int64_t from = src.SampleOffset(first);
  if (fMediaBytes > 0 && fMediaBytes + bytes > fLimit) {
    EndMediaData();
    StartMediaData(from);
  }
  const int64_t before = fStream->Position();
  const int64_t at = fStream->CopyAligned(*source.Stream(), from, bytes);
  // The gap counts towards the atom's size limit too.
  fMediaBytes += at - before + bytes;
  fMediaBytesTotal += bytes;
  out.chunkOffsets.push_back(at);
  const uint32_t chunk = static_cast<uint32_t>(out.chunkOffsets.size() - 1);
  if (out.sampleToChunk.empty() || out.sampleToChunk.back().samplesPerChunk != n)
    out.sampleToChunk.push_back({chunk, n});

  const uint32_t stop = p.next + n;
  const uint32_t o = state.samples;
  // Sizes: one constant while every source has the same constant size.
  if (src.constantSize && (o == 0 ? out.sampleSizes.empty()
                                  : out.constantSize && out.sampleSizes[0] == src.sampleSizes[0])) {
    out.constantSize = true;
    out.sampleSizes.assign(1, src.sampleSizes[0]);
  } else {
    if (out.constantSize) {
      const uint32_t z = out.sampleSizes[0];
      out.sampleSizes.assign(o, z);
      out.constantSize = false;
    }
    for (uint32_t k = first; k < stop; ++k) out.sampleSizes.push_back(src.SampleSize(k));
  }
  // Durations, a time-to-sample stretch at a time.
  for (uint32_t k = first; k < stop;) {
    const uint32_t e = std::min(src.TimeRunEnd(k), stop);
    const uint32_t d = static_cast<uint32_t>(OutputDuration(p, src.SampleDuration(k)));
    if (out.timeToSample.empty() || out.timeToSample.back().duration != d)
      out.timeToSample.push_back({0, d});
    out.timeToSample.back().count += e - k;
    out.duration += int64_t(e - k) * d;
    if (out.timeScale > 0) p.time += static_cast<long double>(e - k) * d / out.timeScale;
    k = e;
  }
  const auto &keys = src.KeySamples();
  for (auto it = std::lower_bound(keys.begin(), keys.end(), first); it != keys.end() && *it < stop;
       ++it)
    out.syncSamples.push_back(o + (*it - first));
  if (src.HasCompositionOffsets() || state.hasComposition) {
    for (uint32_t k = first; k < stop; ++k) {
      const int32_t c = src.Sample(k).compositionOffset;
      if (c == 0 && !state.hasComposition) continue;
      const uint32_t at = o + (k - first);
      if (!state.hasComposition) {
        state.hasComposition = true;
        if (at > 0) out.compositionOffsets.push_back({at, 0});
      }
      if (out.compositionOffsets.empty() ||
          out.compositionOffsets.back().duration != static_cast<uint32_t>(c))
        out.compositionOffsets.push_back({0, static_cast<uint32_t>(c)});
      ++out.compositionOffsets.back().count;
    }
  }
  state.samples += n;
  p.next = stop;
  return at - before;
}

}  // namespace tachora
