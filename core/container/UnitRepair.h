// Repair of recordings whose movie atom was never written: a recorder that
// loses power before it closes a file leaves the file-type atom and a
// media-data atom (its size still 0, or wrong) but no sample tables, and
// players refuse it. The repair learns the formats and the layout from a
// healthy recording of the same camera (the reference), walks the broken
// media data from its first byte, finds where each picture and sound sample
// lies, and writes a new file with a movie atom modelled on the reference's.
//
// Picture: H.264 (avc1) and H.265 (hvc1/hev1) in length-prefixed NAL units;
// a sample is one access unit. Sound: PCM (sowt, twos, lpcm, raw) in chunks
// of the sizes the reference uses, or AAC (mp4a) frames delimited by trial
// decoding (UnitRepairAAC.cpp, libavcodec). Blocks the camera puts between
// the samples (free, freeGPS and the like) are stepped over and kept in the
// new media data, so telemetry found by scanning it stays. A zero-filled or
// unrecognisable tail ends the walk: what came before is kept.
//
// The broken file is read once, front to back, and never changed; the new
// file is written through TAtomicFile, so a refused, failed or cancelled
// repair leaves nothing behind. Memory: a window of the media data plus the
// new sample tables.
//
// Results and errors are values: the caller turns them into texts.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "container/UnitMOVStream.h"

namespace tachora {

class TMOVReader;
struct TMOVTrack;

enum class TRepairError {
  None,
  BrokenUnreadable,      // detail: the system's message
  NotDamaged,            // the recording has its movie atom
  NoMediaData,           // no media-data atom in the broken file
  ReferenceUnreadable,   // the reference has no readable movie (it is broken itself)
  ReferenceUnsupported,  // detail: the reference's picture or sound format
  PictureDiffers,        // detail: "broken / reference" (codec or picture size)
  DataDoesNotMatch,      // nothing in the media data fits the reference's formats
  WriteFailed,           // detail: the system's message
  Cancelled,
};

struct TRepairResult {
  TRepairError error = TRepairError::None;
  std::string detail;
  uint32_t videoFrames = 0;
  uint32_t keyFrames = 0;
  double videoSeconds = 0;
  double soundSeconds = 0;
  uint32_t soundChunks = 0;
  int64_t bytesTaken = 0;    // sample bytes placed in the new file
  int64_t bytesSkipped = 0;  // media-data bytes not taken (camera blocks, zeros, tail)
  int64_t cameraBlocks = 0;  // camera blocks stepped over
  bool Ok() const { return error == TRepairError::None; }
};

// What the walker needs to know of the reference recording.
struct TRepairProfile {
  enum class TPicture { H264, H265 } picture = TPicture::H264;
  int nalLengthSize = 4;
  // H.264 sequence parameters (from the reference's avcC).
  int log2MaxFrameNum = 4;
  bool frameMbsOnly = true;
  bool separateColourPlane = false;
  int pocType = 0;
  int log2MaxPocLsb = 4;
  int width = 0, height = 0;           // from the sequence parameters (0 unknown)
  std::vector<uint32_t> ppsIds;        // picture parameter set IDs (empty: any)
  std::vector<uint8_t> pictureConfig;  // the avcC or hvcC payload
  uint32_t maxVideoSample = 0;

  enum class TSound { None, Pcm, Aac } sound = TSound::None;
  uint32_t pcmSampleSize = 0;  // bytes of one table sample (constant)
  uint32_t pcmFrameBytes = 0;  // bytes of one sound frame (all channels)
  bool pcmBigEndian = false;
  std::vector<uint32_t> pcmChunkBytes;  // chunk sizes of the reference, most common first
  uint32_t aacMaxFrame = 0;
  int channels = 0;
  int sampleRate = 0;
  std::vector<uint8_t> aacConfig;  // AudioSpecificConfig

  // Types of the atoms found between the reference's samples.
  std::vector<uint32_t> blockTypes;
};

// One piece of the broken media data as the walker found it.
struct TRepairItem {
  enum class TKind { Video, Sound, Block, Zeros } kind = TKind::Video;
  int64_t pos = 0;
  int64_t size = 0;
  bool key = false;
  // H.264 pictures: pic_order_cnt_lsb of the first slice (-1 unknown), and
  // whether the picture is a reference.
  int32_t pocLsb = -1;
  bool reference = true;
};

// Delimits raw AAC frames by decoding them (UnitRepairAAC.cpp).
class TAacFramer {
 public:
  TAacFramer(const std::vector<uint8_t> &config, int channels, int sampleRate);
  ~TAacFramer();
  TAacFramer(const TAacFramer &) = delete;
  TAacFramer &operator=(const TAacFramer &) = delete;
  bool Ready() const { return fContext != nullptr; }
  // Size of the AAC frame at the start of `data` (n bytes, followed by at
  // least 64 readable padding bytes), or 0 when none decodes there with the
  // reference's channels and rate.
  uint32_t FrameSize(const uint8_t *data, uint32_t n);

 private:
  bool Decodes(const uint8_t *data, uint32_t n);
  void *fContext = nullptr;  // AVCodecContext
  void *fPacket = nullptr;
  void *fFrame = nullptr;
  int fChannels, fRate;
  std::vector<uint8_t> fBuf;
};

// Whether a key frame (length-prefixed NAL units) decodes without any error
// with the reference's parameter sets into a picture of its size: data of
// another picture size or encoder setting does not (UnitRepairAAC.cpp).
bool KeyFrameDecodes(const TRepairProfile &profile, const uint8_t *data, size_t n);

// Walks media data [begin, end) of a stream, a piece at a time.
class TMdatWalker {
 public:
  TMdatWalker(const TRepairProfile &profile, const TMOVStream &stream, int64_t begin, int64_t end);
  ~TMdatWalker();
  // The next piece; false at the end of what can be recognised.
  bool Next(TRepairItem &item);
  int64_t Position() const { return fPos; }
  int64_t End() const { return fEnd; }
  // Bytes [pos, pos + n) of the window (the last item's bytes are in it).
  const uint8_t *Bytes(int64_t pos, int64_t n);

 private:
  bool Ensure(int64_t pos, int64_t n);
  uint32_t ReadLength(int64_t pos);
  int64_t VideoSample(int64_t pos, bool &key);
  int64_t H264Sample(int64_t pos, bool &key);
  int64_t H265Sample(int64_t pos, bool &key);
  int64_t BlockAt(int64_t pos);
  int64_t ZerosAt(int64_t pos, int64_t limit);
  int64_t SoundChunk(int64_t pos);
  bool Acceptable(int64_t pos, int depth);
  bool LooksLikePcm(int64_t pos, int64_t n);

  const TRepairProfile &fProfile;
  const TMOVStream &fStream;
  int64_t fPos, fEnd;
  std::vector<uint8_t> fWindow;
  int64_t fWindowPos = 0;
  int64_t fWindowLen = 0;
  std::vector<uint32_t> fPpsIds;
  TAacFramer *fAac = nullptr;
  int32_t fPocLsb = -1;
  bool fReference = true;
};

// Learns the profile from a reference; TRepairError::None on success.
TRepairError LearnRepairProfile(const TMOVReader &reference, TRepairProfile &profile,
                                std::string &detail);

// The media data of a file: its first mdat atom's payload, up to the end
// its size gives when that is believable (another atom or the end of the
// file follows), else to the end of the file. Throws TMOVError.
struct TMediaDataRange {
  int64_t begin = 0, end = 0;
  bool hasMovie = false;  // a moov atom stands at the top level
};
bool FindMediaData(TMOVStream &in, TMediaDataRange &out);

// True when the file has a media-data atom but no movie atom: a recording
// cut off before its sample tables were written.
bool IsDamagedRecording(const std::string &path);

// The healthy recording in the same folder that suits `broken` best as a
// reference: the same picture codec and size and sound format as far as the
// broken media data shows them, nearest in modification time. Empty when
// there is none.
std::string ChooseRepairReference(const std::string &broken);

// Where the repaired copy of `broken` goes by default: NAME_repaired.MOV
// beside it (the extension kept as it is).
std::string RepairedFileName(const std::string &broken);

// The error in English words (command line); the window uses language keys.
std::string RepairErrorText(const TRepairResult &result);

// fraction done (0..1) of the media data.
using TRepairProgress = std::function<void(double fraction)>;

// Repairs `broken` into the new file `out` (replaced only on success) with
// `reference` as model. `cancel`, when given, is polled while walking.
TRepairResult RepairRecording(const std::string &broken, const std::string &reference,
                              const std::string &out, const TRepairProgress &progress = {},
                              const std::atomic<bool> *cancel = nullptr);

}  // namespace tachora
