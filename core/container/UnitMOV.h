// QuickTime (MOV) container: the reader that walks a recording's atom tree
// and rebuilds its per-sample tables, and the writer that makes a new movie
// from samples copied out of such recordings (UnitMOVWriter.cpp).
//
// ISO files (".mp4", file type "isom" and the like) are the same atoms and
// are read alike. Edit lists are read as far as recordings use them (a
// delay, then where the media starts) and written anew for a cut.
//
// Numbers: times in a track's media units (its time scale = units per
// second) unless a name says milliseconds; file offsets and sizes in bytes
// (signed 64-bit); date-times are TDateTime (0 = none). Numbers in the file
// are big-endian.
//
// Sample tables are kept compact because PCM audio stores every 2-byte
// sample as one table entry (2.88 million per minute at 48 kHz): a track
// keeps the tables as read plus a few run lists built from them; a
// sample's offset, time, size and key flag are computed on demand
// (TMOVTrack::Sample). Only tracks with variable sample sizes keep one
// 64-bit offset per sample.
//
// Hostile input: atom sizes are unsigned 32-bit, or 64-bit after a size
// field of 1 (recordings above 4 GiB); a top-level atom of size 0 runs to
// the end of the file; an atom passing its parent ends that level. Table
// counts are cut to what their atom holds before anything is allocated,
// and samples that would lie past the end of a table or of the file end
// their track (a recording cut short keeps what it holds).
//
// Ownership: a file object owns its stream. Objects are not shared between
// threads; different objects may be used on different threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/UnitUtils.h"
#include "container/UnitMOVStream.h"

namespace tachora {

// Four-character atom type as a 32-bit value, first character highest.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

enum TMOVTrackKind : uint8_t { kKindOther = 0, kKindVideo = 1, kKindAudio = 2 };

struct TMOVChunkRun {       // one sample-to-chunk entry
  uint32_t firstChunk = 0;  // 0-based
  uint32_t samplesPerChunk = 0;
};

struct TMOVTimeRun {  // one time-to-sample (or composition-offset) entry
  uint32_t count = 0;
  uint32_t duration = 0;  // composition offsets: a signed 32-bit value
};

struct TMOVSample {
  int64_t offset = 0;
  int64_t time = 0;  // decode time from the track start, media units
  uint32_t size = 0;
  uint32_t duration = 0;
  bool key = false;
  int32_t compositionOffset = 0;  // presentation time - decode time
};

struct TMOVTrack {
  uint32_t trackId = 0;
  int64_t durationMs = 0;
  int64_t duration = 0;  // media units
  int32_t timeScale = 0;
  int32_t width = 0, height = 0;
  std::string codec;  // four characters, upper case, zero bytes kept
  uint8_t kind = kKindOther;
  TDateTime creationTime = 0;
  // Sound format from the first sample description (0 when unknown):
  // channels, bits per sample, samples per second.
  uint32_t channels = 0;
  uint32_t sampleBits = 0;
  double sampleRate = 0;
  // The edit list: the presentation starts after `editDelay` units of the
  // movie's time scale with the media at `editMediaTime` (AAC priming,
  // B-frame delay); both 0 without an edit list.
  int64_t editDelay = 0;
  int64_t editMediaTime = 0;

  // The sample tables as stored in the file.
  std::vector<int64_t> chunkOffsets;
  std::vector<TMOVChunkRun> sampleToChunk;
  std::vector<uint32_t> syncSamples;  // 0-based
  std::vector<uint32_t> sampleSizes;  // a single entry when constantSize
  bool constantSize = false;
  std::vector<TMOVTimeRun> timeToSample;
  std::vector<TMOVTimeRun> compositionOffsets;

  // ---- the built per-sample view (empty with headers only) ----
  uint32_t SampleCount() const { return fSampleCount; }
  TMOVSample Sample(uint32_t k) const;  // k < SampleCount()
  int64_t SampleTime(uint32_t k) const;
  int64_t SampleOffset(uint32_t k) const;
  uint32_t SampleSize(uint32_t k) const { return constantSize ? sampleSizes[0] : sampleSizes[k]; }
  uint32_t SampleDuration(uint32_t k) const { return fTimes[TimeRunOf(k)].duration; }
  // End (exclusive) of the time-to-sample stretch holding sample k.
  uint32_t TimeRunEnd(uint32_t k) const;
  // End (exclusive) of the samples from k on that share k's chunk and
  // time-to-sample stretch: they lie back to back and last equally long.
  uint32_t StretchEnd(uint32_t k) const;
  bool HasCompositionOffsets() const { return !fComps.empty(); }
  bool IsKey(uint32_t k) const;
  // Sorted, distinct sync-sample indices below SampleCount().
  const std::vector<uint32_t> &KeySamples() const { return fKeys; }
  // Number of chunks that hold built samples.
  size_t BuiltChunkCount() const { return fChunks.size(); }
  // Rebuilds the per-sample view from the tables; samples that would lie
  // beyond fileSize, or beyond the end of any table, end the track.
  void BuildSamples(int64_t fileSize);

 private:
  struct TChunk {
    uint32_t firstSample;
    int64_t offset;
  };
  struct TTimeRun {
    uint32_t firstSample;
    uint32_t duration;
    int64_t startTime;
  };
  struct TCompRun {
    uint32_t firstSample;
    int32_t offset;
  };
  uint32_t fSampleCount = 0;
  std::vector<TChunk> fChunks;
  std::vector<int64_t> fOffsets;  // per sample, variable sizes only
  std::vector<TTimeRun> fTimes;
  std::vector<TCompRun> fComps;
  std::vector<uint32_t> fKeys;
  size_t ChunkOf(uint32_t k) const;
  size_t TimeRunOf(uint32_t k) const;
};

// The header of one atom: its type, its whole size and the size of the
// header itself (8, or 16 with a 64-bit size).
struct TAtomHeader {
  uint32_t type = 0;
  int64_t size = 0;
  int64_t headerSize = 8;
};
// Reads the header of the atom at `pos` of a level that ends at `end` and
// leaves the stream at its payload: the one rule for atom sizes, shared by
// the reader and the writer. False when no atom can stand there: fewer than
// 8 bytes left, a size below its header or past `end`, or a size of 0 (the
// atom runs to the end of the file) unless `mayRunToEnd`. Throws TMOVError
// when the bytes cannot be read.
bool ReadAtomHeader(TMOVStream &stream, int64_t pos, int64_t end, bool mayRunToEnd,
                    TAtomHeader &header);

// Seconds since 1904-01-01 (QuickTime dates) to a TDateTime; 0, 1 and
// 0xFFFFFFFF mean "no date".
TDateTime MacDateToDateTime(uint64_t seconds);
// Kind of a sample description format (upper case): video, audio or other.
TMOVTrackKind KindOfCodec(const std::string &codec);

class TMOVBaseFile {
 public:
  virtual ~TMOVBaseFile() = default;
  const std::vector<TMOVTrack> &Tracks() const { return fTracks; }
  int32_t TimeScale() const { return fTimeScale; }
  int64_t Duration() const { return fDuration; }
  int64_t DurationMs() const { return fDurationMs; }
  TDateTime CreationTime() const { return fCreationTime; }
  TMOVStream *Stream() const { return fStream.get(); }

 protected:
  std::unique_ptr<TMOVStream> fStream;
  std::vector<TMOVTrack> fTracks;
  TMOVTrack *fCurrentTrack = nullptr;
  int32_t fTimeScale = 0;
  int64_t fDuration = 0;
  int64_t fDurationMs = 0;
  TDateTime fCreationTime = 0;
};

class TMOVReader : public TMOVBaseFile {
 public:
  // Never throws: a file that cannot be read gives an object without movie.
  TMOVReader(const std::string &fileName, bool headersOnly);
  // Reads from memory the caller keeps alive (fuzzing, tests).
  TMOVReader(const uint8_t *data, size_t size, bool headersOnly);

  bool HasMovie() const { return fMovieAtomSize > 0; }
  const TMOVTrack *VideoTrack() const;
  void VideoSize(int32_t &width, int32_t &height) const;
  int64_t MovieAtomOffset() const { return fMovieAtomOffset; }
  int64_t MovieAtomSize() const { return fMovieAtomSize; }
  // Why the file has no movie, for messages ("" when it has one).
  const std::string &Error() const { return fError; }

 private:
  using THandler = void (TMOVReader::*)(int64_t end);
  struct TAtomHandler {
    uint32_t type;
    THandler handler;
  };
  void Open(bool headersOnly);
  void AddAtomHandler(uint32_t type, THandler handler);
  const TAtomHandler *FindAtomHandler(uint32_t type) const;
  void WalkAtoms(int64_t end);
  void BuildSampleTables();
  void SkipBytes(int64_t n) { fStream->Skip(n); }
  uint8_t ReadVersion();
  uint32_t ReadCount(int64_t end, int64_t entrySize);

  void OnContainer(int64_t end);
  void OnMoov(int64_t end);
  void OnMvhd(int64_t end);
  void OnTrak(int64_t end);
  void OnTkhd(int64_t end);
  void OnEnof(int64_t end);
  void OnMdhd(int64_t end);
  void OnStsd(int64_t end);
  void OnStco(int64_t end);
  void OnCo64(int64_t end);
  void OnStsc(int64_t end);
  void OnStss(int64_t end);
  void OnStsz(int64_t end);
  void OnStts(int64_t end);
  void OnCtts(int64_t end);
  void OnElst(int64_t end);

  std::vector<TAtomHandler> fHandlers;
  bool fInsideMovie = false;
  int64_t fMovieAtomOffset = 0;
  int64_t fMovieAtomSize = 0;
  int64_t fAtomStart = 0;  // header position of the atom being handled
  int fDepth = 0;
  std::string fError;
};

// Progress of a copy: (fraction done of the current recording, output time
// in seconds) -> true to go on, false to cancel.
using TMOVProgress = std::function<bool(double fraction, double outputSeconds)>;

// Which kinds of track a copy takes.
struct TMOVCopyTracks {
  bool video = true;
  bool audio = true;
};

// One subtitle of a text track: shown for durationMs from where the one
// before ends.
struct TMOVTextSample {
  std::string text;  // UTF-8
  uint32_t durationMs = 0;
};

class TMOVWriter : public TMOVBaseFile {
 public:
  // Above this many bytes of samples a media-data atom is closed and a new
  // one begun, and chunk offsets are written as 64-bit values.
  static constexpr int64_t kMediaDataLimit = 1899999999;

  // Creates (or truncates) the file and writes the file-type atom; throws
  // TMOVError when the file cannot be created.
  explicit TMOVWriter(const std::string &fileName, int64_t mediaDataLimit = kMediaDataLimit);
  // Writes to an empty file the caller owns (see TMOVStream::WrapWrite).
  explicit TMOVWriter(int fd, int64_t mediaDataLimit = kMediaDataLimit);
  ~TMOVWriter() override;

  // Copies the samples of `source` between start and end (fractions of the
  // recording, 0..1; the start moves back to a key frame); false when the
  // callback cancelled. Throws TMOVWriteError when the output cannot be
  // written and TMOVError when the source cannot be read completely.
  // Tracks first met after the first call are dropped: the movie atom is
  // modelled on the first recording and would have no track for them.
  bool CopySamples(const TMOVReader &source, long double startFraction, long double endFraction,
                   TMOVCopyTracks tracks = {}, const TMOVProgress &progress = {});
  // Gives the movie a subtitle track (3GPP timed text, "tx3g") of these
  // samples from its start, switched off so that players show it only when
  // asked; samples beyond the movie's end are cut. Before WriteMovie.
  void SetSubtitles(std::vector<TMOVTextSample> samples) { fSubtitles = std::move(samples); }
  // Writes the movie atom modelled on the template's; throws TMOVError.
  void WriteMovie(const TMOVReader &templ);
  // Adds a track whose samples the caller wrote to the stream itself (a
  // recording rebuilt from its media data, UnitRepair): `track` carries the
  // ID of the template's track, time scale, kind, duration and the tables
  // with offsets in this file; `firstShown`: the composition offset of its
  // first shown picture (media units), hidden by an edit. Call before
  // WriteMovie.
  void AddRebuiltTrack(TMOVTrack track, int64_t firstShown = 0);
  // Flushes and closes the file (also done by the destructor).
  void Close();

  int64_t MediaBytes() const { return fMediaBytesTotal; }
  // Source tracks left out because their format (kind, codec, picture
  // size; for sound also channels, sample size and rate) differs from the
  // output track with their ID: the movie atom describes the first
  // recording's samples, and others would not decode or would play at the
  // wrong speed. By the kind of the output track.
  int LeftOutTracks(TMOVTrackKind kind) const { return fLeftOut[kind]; }
  // Source tracks left out because the output track with their ID ended
  // well before the picture (an earlier recording's sound was left out or
  // missing): appended, they would play early.
  int LeftOutAfterGap(TMOVTrackKind kind) const { return fLeftOutAfterGap[kind]; }
  // Number of tracks the new movie has so far.
  size_t TrackCount() const { return fTracks.size(); }
  // Ranges handed to the kernel to copy so far (benchmarks).
  int64_t CopyCalls() const { return fStream ? fStream->CopyCalls() : 0; }
  // Sample index of a track at a fraction of its duration.
  static uint32_t SampleAt(const TMOVTrack &track, long double fraction);

 private:
  struct TOutState {
    bool hasComposition = false;
    uint32_t samples = 0;
    // Source presentation time (seconds, the first recording's time line)
    // of output media time 0, and the composition offset of the earliest
    // shown picture among the first samples (media units).
    long double startAt = 0;
    int64_t firstShown = 0;
    // The edit written for the track: an empty stretch (movie units), then
    // the media from `editMedia`.
    int64_t editEmpty = 0;
    int64_t editMedia = 0;
    // Takes no more samples (see AlignTrackEnds).
    bool closed = false;
  };
  struct TPlan;
  // firstSource: the source offset of the first range the atom will hold
  // (-1: none, nothing to align).
  void StartMediaData(int64_t firstSource = -1);
  void EndMediaData();
  void OpenAtom(uint32_t type);
  void CloseAtom();
  void WriteZero32() { fStream->WriteU32(0); }
  void CopyAtoms(const TMOVReader &templ, int64_t end);
  void WriteTableAtom(uint32_t type);
  static long double KeyFrameStart(const TMOVReader &source, long double start);
  std::vector<TPlan> PlanTracks(const TMOVReader &source, long double start, long double end,
                                TMOVCopyTracks tracks, bool mayAddTracks);
  TMOVTrack *AddOutputTrack(const TMOVReader &source, const TMOVTrack &track, uint32_t first,
                            uint32_t last);
  bool CopyInSourceOrder(const TMOVReader &source, std::vector<TPlan> &plans,
                         const TMOVProgress &progress);
  void SetMovieDuration();
  // Returns the gap left before the run (see TMOVStream::CopyAligned).
  int64_t AppendSamples(TPlan &plan, const TMOVReader &source, uint32_t n, int64_t bytes);
  uint32_t PlanRun(const TPlan &plan, int64_t before, int64_t &bytes) const;
  long double OutputDuration(const TPlan &plan, uint32_t duration) const;
  TMOVTrack *FindOutput(uint32_t trackId);
  void AlignTrackEnds();
  void PlanEdits();
  int64_t EditDuration(const TMOVTrack &t) const;
  void WriteEdits(const TMOVTrack &t);
  void WriteFileType(const TMOVReader &templ);
  void WriteSubtitleSamples();
  void WriteSubtitleTrack();
  static bool SameFormat(const TMOVTrack &out, const TMOVTrack &in);

  int64_t fLimit;
  std::vector<TOutState> fOut;
  std::vector<uint8_t> fBuffer;
  int64_t fMediaStart = -1;  // header position of the open media-data atom
  int64_t fMediaBytes = 0;
  int64_t fMediaBytesTotal = 0;
  int fCopies = 0;
  int fLeftOut[3] = {0, 0, 0};
  int fLeftOutAfterGap[3] = {0, 0, 0};
  std::vector<std::pair<int64_t, uint32_t>> fOpenAtoms;  // position, type
  bool fCompositionWritten = false;
  std::vector<TMOVTextSample> fSubtitles;
  int64_t fSubtitleOffset = -1;          // file offset of the first subtitle sample
  std::vector<uint32_t> fSubtitleSizes;  // of the samples written, in order
};

}  // namespace tachora
