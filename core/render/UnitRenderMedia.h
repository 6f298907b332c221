// The FFmpeg side of a render, inside the render library only: a decoded
// picture source that answers "the frame showing at time t" (and passes the
// file's sound on as it demuxes), the scaler into a region of the output
// picture, and the H.264 + AAC MP4 writer on a descriptor.
//
// Times are seconds of the file's own time line (0 = its start). Every
// object belongs to one thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;
struct AVAudioFifo;
struct AVIOContext;
struct AVStream;
}

namespace tachora {

struct TYuvPlanes;

// The sound of a file as it is demuxed: decoded frames with their time.
using TSoundSink = std::function<void(const AVFrame *frame, double time)>;

class TPictureSource {
 public:
  TPictureSource() = default;
  ~TPictureSource();
  TPictureSource(const TPictureSource &) = delete;
  TPictureSource &operator=(const TPictureSource &) = delete;

  // Opens the file's first picture track (and, with `sound`, its first sound
  // track). False with `error` when the file has no decodable picture.
  // `reduced`: the picture is shown much smaller than its size (an
  // inset), so the decoder skips its deblocking filter, which is about a
  // quarter of H.264 decoding and invisible at that scale.
  bool Open(const std::string &path, bool sound, std::string &error, bool reduced = false);
  bool HasSound() const { return audioDec_ != nullptr; }
  int SampleRate() const;
  int SoundChannels() const;
  int Width() const;
  int Height() const;
  double FrameRate() const;  // frames a second, 0 when the file does not say
  double Duration() const;   // seconds, < 0 when unknown
  // Positions the source before `t` (the nearest key frame at or before).
  void Seek(double t);
  // The frame showing at `t`: the last one starting at or before it (the
  // first frame for a `t` just before it); null before the picture starts
  // or once it has ended.
  const AVFrame *FrameAt(double t);
  bool Ended() const { return ended_; }
  // Reads on until the sound reaches `t` or the file ends (the pictures read
  // meanwhile are dropped).
  void DrainSoundUntil(double t);
  void SetSoundSink(TSoundSink sink) { sink_ = std::move(sink); }
  int DecodeErrors() const { return errors_; }

 private:
  bool ReadFrame(AVFrame *into);  // the next picture; false at the end
  void DecodeSound(const AVPacket *pkt);
  double TimeOf(int64_t pts, int stream) const;

  AVFormatContext *fmt_ = nullptr;
  AVCodecContext *videoDec_ = nullptr, *audioDec_ = nullptr;
  AVFrame *cur_ = nullptr, *next_ = nullptr, *sound_ = nullptr;
  AVPacket *pkt_ = nullptr;
  int video_ = -1, audio_ = -1;
  bool haveCur_ = false, haveNext_ = false, ended_ = false, inputDone_ = false;
  double curTime_ = 0, nextTime_ = 0, frameDuration_ = 1.0 / 30, start_ = 0;
  double soundTime_ = -1;  // end of the sound decoded so far
  int errors_ = 0;
  TSoundSink sink_;
};

// Scales pictures of any format into a rectangle of a YUV 4:2:0 picture.
class TScaler {
 public:
  TScaler() = default;
  ~TScaler();
  TScaler(const TScaler &) = delete;
  TScaler &operator=(const TScaler &) = delete;
  // x, y, w and h even.
  bool Draw(const AVFrame *src, TYuvPlanes &dst, int x, int y, int w, int h);

 private:
  SwsContext *ctx_ = nullptr;
};

struct TWriterSetup {
  int Width = 0, Height = 0;
  int FrameRateNum = 30, FrameRateDen = 1;
  std::vector<std::string> Encoders;  // H.264 encoders to try in turn
  std::string Preset;                 // libx264's
  bool Sound = false;
  int SampleRate = 48000, Channels = 2;
};

// H.264 + AAC in MP4, written through a descriptor that the caller owns
// (seekable: the movie header goes last). The pictures are encoded on a
// thread of the writer's own, a few frames behind the caller, so that
// drawing the next frame and encoding the last one overlap; the sound is
// encoded on the caller's thread, and the two meet under a lock at the
// muxer.
class TMovieWriter {
 public:
  TMovieWriter() = default;
  ~TMovieWriter();
  TMovieWriter(const TMovieWriter &) = delete;
  TMovieWriter &operator=(const TMovieWriter &) = delete;

  // False with `error` when no encoder opens or the header cannot be written.
  bool Open(int fd, const TWriterSetup &setup, std::string &error);
  const std::string &Encoder() const { return encoder_; }
  // The picture to draw the next frame into (valid until WriteFrame).
  bool NextPicture(TYuvPlanes &pic);
  bool WriteFrame();
  // Sound of one source in any format, placed at output sample `at`
  // (earlier samples than those written are dropped, a hole is filled
  // with silence); at most `limit` samples (output count) in total.
  bool AddSound(const AVFrame *frame, int64_t at, int64_t limit);
  // Silence up to output sample `upTo`.
  bool PadSound(int64_t upTo);
  int64_t SoundSamples() const { return soundQueued_; }
  int SampleRate() const { return sampleRate_; }
  // Flushes the encoders and writes the movie header. False with `error`.
  bool Finish(std::string &error);
  // The system's or the library's message for the first failed write
  // (complete once Finish has returned or WriteFrame has failed).
  std::string WriteError() const {
    std::lock_guard lock(muxLock_);
    return writeError_.empty() ? std::string("the encoder failed") : writeError_;
  }

 private:
  bool OpenVideo(const TWriterSetup &setup, std::string &error);
  bool OpenSound(const TWriterSetup &setup, std::string &error);
  bool EncodeSound(bool flush);
  bool Drain(AVCodecContext *enc, AVStream *st, AVPacket *pkt);
  void EncodeLoop();
  void StopEncoder();
  void ResetResampler(const AVFrame *frame);

  int fd_ = -1;
  AVFormatContext *oc_ = nullptr;
  AVIOContext *io_ = nullptr;
  AVCodecContext *venc_ = nullptr, *aenc_ = nullptr;
  AVStream *vst_ = nullptr, *ast_ = nullptr;
  AVFrame *picture_ = nullptr, *soundFrame_ = nullptr;
  AVPacket *pkt_ = nullptr, *videoPkt_ = nullptr;
  int width_ = 0, height_ = 0;
  static constexpr size_t kQueuedFrames = 3;
  std::thread videoThread_;
  std::mutex queueLock_;
  std::condition_variable queueChanged_;
  std::deque<AVFrame *> queue_;  // null: the end
  std::atomic<bool> videoFailed_{false}, writeFailed_{false};
  mutable std::mutex muxLock_;  // the muxer and the file
  SwrContext *swr_ = nullptr;
  int swrRate_ = 0, swrFormat_ = -1, swrChannels_ = 0;
  AVAudioFifo *fifo_ = nullptr;
  int sampleRate_ = 0;
  int64_t frames_ = 0, soundQueued_ = 0, soundPts_ = 0;
  std::string encoder_;
  std::string writeError_;
  friend int WriterWrite(void *opaque, uint8_t *buf, int size);
  friend int64_t WriterSeek(void *opaque, int64_t offset, int whence);
};

}  // namespace tachora
