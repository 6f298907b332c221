#include "render/UnitRenderMedia.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "render/UnitRenderOverlay.h"

namespace tachora {

namespace {

// Packets read without a picture coming out before a source counts as
// ended (a file of damaged frames, or sound alone for a long stretch).
constexpr int kMaxPacketsPerFrame = 4096;

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

AVCodecContext *OpenDecoder(AVStream *st) {
  const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext *ctx = avcodec_alloc_context3(codec);
  if (!ctx) return nullptr;
  ctx->thread_count = 0;
  if (avcodec_parameters_to_context(ctx, st->codecpar) < 0 ||
      avcodec_open2(ctx, codec, nullptr) < 0)
    avcodec_free_context(&ctx);
  return ctx;
}

}  // namespace

// ---- TPictureSource ------------------------------------------------------------

TPictureSource::~TPictureSource() {
  av_frame_free(&cur_);
  av_frame_free(&next_);
  av_frame_free(&sound_);
  av_packet_free(&pkt_);
  avcodec_free_context(&videoDec_);
  avcodec_free_context(&audioDec_);
  avformat_close_input(&fmt_);
}

bool TPictureSource::Open(const std::string &path, bool sound, std::string &error, bool reduced) {
  int rc = avformat_open_input(&fmt_, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    error = AvError(rc);
    return false;
  }
  rc = avformat_find_stream_info(fmt_, nullptr);
  if (rc < 0) {
    error = AvError(rc);
    return false;
  }
  video_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video_ < 0) {
    error = "no picture track";
    return false;
  }
  videoDec_ = OpenDecoder(fmt_->streams[video_]);
  if (!videoDec_ || videoDec_->width <= 0 || videoDec_->height <= 0) {
    error = "the picture cannot be decoded";
    return false;
  }
  if (reduced) videoDec_->skip_loop_filter = AVDISCARD_ALL;
  if (sound) {
    audio_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, video_, nullptr, 0);
    if (audio_ >= 0) audioDec_ = OpenDecoder(fmt_->streams[audio_]);
    if (!audioDec_ || audioDec_->sample_rate <= 0 || audioDec_->ch_layout.nb_channels <= 0) {
      avcodec_free_context(&audioDec_);
      audio_ = -1;
    }
  }
  for (unsigned i = 0; i < fmt_->nb_streams; ++i)
    if (static_cast<int>(i) != video_ && static_cast<int>(i) != audio_)
      fmt_->streams[i]->discard = AVDISCARD_ALL;
  if (fmt_->start_time != AV_NOPTS_VALUE) start_ = fmt_->start_time / double(AV_TIME_BASE);
  const double rate = FrameRate();
  if (rate > 0) frameDuration_ = 1 / rate;
  cur_ = av_frame_alloc();
  next_ = av_frame_alloc();
  sound_ = av_frame_alloc();
  pkt_ = av_packet_alloc();
  if (!cur_ || !next_ || !sound_ || !pkt_) {
    error = "out of memory";
    return false;
  }
  return true;
}

int TPictureSource::SampleRate() const {
  return audioDec_ ? audioDec_->sample_rate : 0;
}
int TPictureSource::SoundChannels() const {
  return audioDec_ ? audioDec_->ch_layout.nb_channels : 0;
}

int TPictureSource::Width() const {
  return videoDec_ ? videoDec_->width : 0;
}
int TPictureSource::Height() const {
  return videoDec_ ? videoDec_->height : 0;
}

double TPictureSource::FrameRate() const {
  if (!fmt_ || video_ < 0) return 0;
  const AVRational r = fmt_->streams[video_]->avg_frame_rate;
  const double v = r.den > 0 ? av_q2d(r) : 0;
  return v >= 1 && v <= 240 ? v : 0;
}

double TPictureSource::Duration() const {
  if (!fmt_) return -1;
  const AVStream *st = fmt_->streams[video_];
  if (st->duration > 0) return st->duration * av_q2d(st->time_base);
  if (fmt_->duration > 0) return fmt_->duration / double(AV_TIME_BASE);
  return -1;
}

double TPictureSource::TimeOf(int64_t pts, int stream) const {
  if (pts == AV_NOPTS_VALUE) return -1;
  return pts * av_q2d(fmt_->streams[stream]->time_base) - start_;
}

void TPictureSource::Seek(double t) {
  if (!fmt_ || t <= 0.1) return;
  const int64_t ts = static_cast<int64_t>((t + start_) * AV_TIME_BASE);
  if (avformat_seek_file(fmt_, -1, INT64_MIN, ts, ts, 0) < 0) return;
  avcodec_flush_buffers(videoDec_);
  if (audioDec_) avcodec_flush_buffers(audioDec_);
  haveCur_ = haveNext_ = ended_ = inputDone_ = false;
}

void TPictureSource::DecodeSound(const AVPacket *pkt) {
  if (avcodec_send_packet(audioDec_, pkt) < 0) {
    if (pkt) ++errors_;
    return;
  }
  while (avcodec_receive_frame(audioDec_, sound_) == 0) {
    double t = TimeOf(sound_->best_effort_timestamp, audio_);
    if (t < 0 && soundTime_ >= 0) t = soundTime_;
    if (t >= 0) {
      soundTime_ =
          t + sound_->nb_samples / double(sound_->sample_rate > 0 ? sound_->sample_rate : 1);
      if (sink_) sink_(sound_, t);
    }
    av_frame_unref(sound_);
  }
}

bool TPictureSource::ReadFrame(AVFrame *into) {
  for (int packets = 0; packets < kMaxPacketsPerFrame;) {
    const int got = avcodec_receive_frame(videoDec_, into);
    if (got == 0) return true;
    if (got == AVERROR_EOF) return false;
    if (got != AVERROR(EAGAIN)) {
      ++errors_;
      ++packets;
      continue;
    }
    if (inputDone_) return false;
    const int rc = av_read_frame(fmt_, pkt_);
    if (rc < 0) {
      inputDone_ = true;
      avcodec_send_packet(videoDec_, nullptr);
      if (audioDec_) DecodeSound(nullptr);
      continue;
    }
    ++packets;
    if (pkt_->stream_index == video_) {
      if (avcodec_send_packet(videoDec_, pkt_) < 0) ++errors_;
    } else if (pkt_->stream_index == audio_) {
      DecodeSound(pkt_);
    }
    av_packet_unref(pkt_);
  }
  return false;
}

const AVFrame *TPictureSource::FrameAt(double t) {
  if (!fmt_ || ended_) return nullptr;
  auto load = [&](AVFrame *f, double &time) {
    av_frame_unref(f);
    if (!ReadFrame(f)) return false;
    time = TimeOf(f->best_effort_timestamp, video_);
    if (time < 0) time = haveCur_ ? curTime_ + frameDuration_ : 0;
    return true;
  };
  if (!haveNext_ && !inputDone_) haveNext_ = load(next_, nextTime_);
  // Half a millisecond of slack: frame times are rounded in the file.
  while (haveNext_ && nextTime_ <= t + 0.0005) {
    std::swap(cur_, next_);
    curTime_ = nextTime_;
    haveCur_ = true;
    haveNext_ = load(next_, nextTime_);
  }
  if (!haveCur_) {
    // Before the first frame: it stands in for a moment (a track starting
    // a little late), not for long.
    if (haveNext_ && nextTime_ - t < 0.5) return next_;
    if (!haveNext_) ended_ = true;
    return nullptr;
  }
  if (!haveNext_ && t >= curTime_ + 2 * frameDuration_) {
    ended_ = true;
    return nullptr;
  }
  return cur_;
}

void TPictureSource::DrainSoundUntil(double t) {
  if (!audioDec_) return;
  // Bounded by the file: every turn reads a packet or ends.
  while (!inputDone_ && soundTime_ < t) {
    const int rc = av_read_frame(fmt_, pkt_);
    if (rc < 0) {
      inputDone_ = true;
      DecodeSound(nullptr);
      break;
    }
    if (pkt_->stream_index == audio_) DecodeSound(pkt_);
    av_packet_unref(pkt_);
  }
}

// ---- TScaler ---------------------------------------------------------------------

TScaler::~TScaler() {
  sws_freeContext(ctx_);
}

bool TScaler::Draw(const AVFrame *src, TYuvPlanes &dst, int x, int y, int w, int h) {
  if (!src || w <= 0 || h <= 0 || src->width <= 0 || src->height <= 0) return false;
  ctx_ =
      sws_getCachedContext(ctx_, src->width, src->height, static_cast<AVPixelFormat>(src->format),
                           w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!ctx_) return false;
  uint8_t *planes[4] = {dst.Y + static_cast<ptrdiff_t>(y) * dst.StrideY + x,
                        dst.U + static_cast<ptrdiff_t>(y / 2) * dst.StrideU + x / 2,
                        dst.V + static_cast<ptrdiff_t>(y / 2) * dst.StrideV + x / 2, nullptr};
  const int strides[4] = {dst.StrideY, dst.StrideU, dst.StrideV, 0};
  return sws_scale(ctx_, src->data, src->linesize, 0, src->height, planes, strides) > 0;
}

// ---- TMovieWriter ----------------------------------------------------------------

int WriterWrite(void *opaque, uint8_t *buf, int size) {
  auto *w = static_cast<TMovieWriter *>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(w->fd_, buf + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (w->writeError_.empty()) w->writeError_ = n < 0 ? std::strerror(errno) : "nothing written";
      w->writeFailed_ = true;
      return AVERROR(EIO);
    }
    done += static_cast<int>(n);
  }
  return size;
}

int64_t WriterSeek(void *opaque, int64_t offset, int whence) {
  auto *w = static_cast<TMovieWriter *>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st;
    return fstat(w->fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
  }
  const off_t r = ::lseek(w->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return r < 0 ? AVERROR(errno) : static_cast<int64_t>(r);
}

TMovieWriter::~TMovieWriter() {
  videoFailed_ = true;  // whatever is queued is dropped
  StopEncoder();
  av_packet_free(&videoPkt_);
  avcodec_free_context(&venc_);
  avcodec_free_context(&aenc_);
  av_frame_free(&picture_);
  av_frame_free(&soundFrame_);
  av_packet_free(&pkt_);
  swr_free(&swr_);
  if (fifo_) av_audio_fifo_free(fifo_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  avformat_free_context(oc_);
}

bool TMovieWriter::OpenVideo(const TWriterSetup &setup, std::string &error) {
  for (const std::string &name : setup.Encoders) {
    const AVCodec *codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) continue;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx) continue;
    ctx->width = setup.Width;
    ctx->height = setup.Height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{setup.FrameRateDen, setup.FrameRateNum};
    ctx->framerate = AVRational{setup.FrameRateNum, setup.FrameRateDen};
    ctx->gop_size = std::max(1, 2 * setup.FrameRateNum / std::max(1, setup.FrameRateDen));
    ctx->thread_count = 0;
    if (oc_->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *opts = nullptr;
    if (name == "libx264") {
      av_dict_set(&opts, "preset", setup.Preset.c_str(), 0);
      av_dict_set(&opts, "crf", "23", 0);
    } else {
      ctx->bit_rate = static_cast<int64_t>(setup.Width) * setup.Height * 4;
    }
    const int rc = avcodec_open2(ctx, codec, &opts);
    av_dict_free(&opts);
    if (rc < 0) {
      error = name + ": " + AvError(rc);
      avcodec_free_context(&ctx);
      continue;
    }
    venc_ = ctx;
    encoder_ = name;
    return true;
  }
  if (error.empty()) error = "no H.264 encoder";
  return false;
}

bool TMovieWriter::OpenSound(const TWriterSetup &setup, std::string &error) {
  const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) {
    error = "no AAC encoder";
    return false;
  }
  aenc_ = avcodec_alloc_context3(codec);
  if (!aenc_) return false;
  aenc_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  aenc_->sample_rate = setup.SampleRate;
  av_channel_layout_default(&aenc_->ch_layout, std::clamp(setup.Channels, 1, 2));
  aenc_->bit_rate = 64000 * aenc_->ch_layout.nb_channels;
  aenc_->time_base = AVRational{1, setup.SampleRate};
  if (oc_->oformat->flags & AVFMT_GLOBALHEADER) aenc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int rc = avcodec_open2(aenc_, codec, nullptr);
  if (rc < 0) {
    error = "AAC: " + AvError(rc);
    return false;
  }
  sampleRate_ = setup.SampleRate;
  fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, aenc_->ch_layout.nb_channels, 4096);
  soundFrame_ = av_frame_alloc();
  return fifo_ && soundFrame_;
}

bool TMovieWriter::Open(int fd, const TWriterSetup &setup, std::string &error) {
  fd_ = fd;
  if (avformat_alloc_output_context2(&oc_, nullptr, "mp4", nullptr) < 0 || !oc_) {
    error = "no MP4 writer";
    return false;
  }
  if (!OpenVideo(setup, error)) return false;
  if (setup.Sound && !OpenSound(setup, error)) return false;
  vst_ = avformat_new_stream(oc_, nullptr);
  if (!vst_ || avcodec_parameters_from_context(vst_->codecpar, venc_) < 0) return false;
  vst_->time_base = venc_->time_base;
  vst_->avg_frame_rate = venc_->framerate;
  if (aenc_) {
    ast_ = avformat_new_stream(oc_, nullptr);
    if (!ast_ || avcodec_parameters_from_context(ast_->codecpar, aenc_) < 0) return false;
    ast_->time_base = aenc_->time_base;
  }
  constexpr int kBuffer = 1 << 16;
  auto *buffer = static_cast<uint8_t *>(av_malloc(kBuffer));
  io_ = buffer ? avio_alloc_context(buffer, kBuffer, 1, this, nullptr, WriterWrite, WriterSeek)
               : nullptr;
  if (!io_) {
    av_free(buffer);
    error = "out of memory";
    return false;
  }
  oc_->pb = io_;
  oc_->flags |= AVFMT_FLAG_CUSTOM_IO;
  const int rc = avformat_write_header(oc_, nullptr);
  if (rc < 0) {
    error = writeError_.empty() ? AvError(rc) : writeError_;
    return false;
  }
  picture_ = av_frame_alloc();
  pkt_ = av_packet_alloc();
  videoPkt_ = av_packet_alloc();
  if (!picture_ || !pkt_ || !videoPkt_) return false;
  width_ = setup.Width;
  height_ = setup.Height;
  videoThread_ = std::thread([this] { EncodeLoop(); });
  return true;
}

void TMovieWriter::EncodeLoop() {
  for (;;) {
    AVFrame *frame = nullptr;
    {
      std::unique_lock lock(queueLock_);
      queueChanged_.wait(lock, [this] { return !queue_.empty(); });
      frame = queue_.front();
      queue_.pop_front();
    }
    queueChanged_.notify_all();
    if (!frame) return;  // the end
    if (!videoFailed_ && !(avcodec_send_frame(venc_, frame) >= 0 && Drain(venc_, vst_, videoPkt_)))
      videoFailed_ = true;
    av_frame_free(&frame);
  }
}

void TMovieWriter::StopEncoder() {
  if (!videoThread_.joinable()) return;
  {
    std::unique_lock lock(queueLock_);
    queue_.push_back(nullptr);
  }
  queueChanged_.notify_all();
  videoThread_.join();
  for (AVFrame *f : queue_) av_frame_free(&f);
  queue_.clear();
}

bool TMovieWriter::NextPicture(TYuvPlanes &pic) {
  // A fresh buffer for every frame: the encoder thread still works on the
  // ones queued before.
  av_frame_unref(picture_);
  picture_->format = AV_PIX_FMT_YUV420P;
  picture_->width = width_;
  picture_->height = height_;
  if (av_frame_get_buffer(picture_, 0) < 0) return false;
  pic.Y = picture_->data[0];
  pic.U = picture_->data[1];
  pic.V = picture_->data[2];
  pic.StrideY = picture_->linesize[0];
  pic.StrideU = picture_->linesize[1];
  pic.StrideV = picture_->linesize[2];
  pic.Width = picture_->width;
  pic.Height = picture_->height;
  return true;
}

bool TMovieWriter::Drain(AVCodecContext *enc, AVStream *st, AVPacket *pkt) {
  for (;;) {
    const int rc = avcodec_receive_packet(enc, pkt);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
    pkt->stream_index = st->index;
    std::lock_guard lock(muxLock_);
    if (av_interleaved_write_frame(oc_, pkt) < 0 || writeFailed_) return false;
  }
}

bool TMovieWriter::WriteFrame() {
  if (videoFailed_ || writeFailed_) return false;
  AVFrame *frame = av_frame_alloc();
  if (!frame) return false;
  picture_->pts = frames_++;
  av_frame_move_ref(frame, picture_);
  {
    // A few frames ahead at most: the picture side waits for the encoder.
    std::unique_lock lock(queueLock_);
    queueChanged_.wait(lock, [this] { return queue_.size() < kQueuedFrames; });
    queue_.push_back(frame);
  }
  queueChanged_.notify_all();
  return true;
}

void TMovieWriter::ResetResampler(const AVFrame *frame) {
  if (swr_ && swrRate_ == frame->sample_rate && swrFormat_ == frame->format &&
      swrChannels_ == frame->ch_layout.nb_channels)
    return;
  swr_free(&swr_);
  // (this version's prototype takes the input layout as non-const)
  swr_alloc_set_opts2(&swr_, &aenc_->ch_layout, AV_SAMPLE_FMT_FLTP, sampleRate_,
                      const_cast<AVChannelLayout *>(&frame->ch_layout),
                      static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
  if (swr_ && swr_init(swr_) < 0) swr_free(&swr_);
  swrRate_ = frame->sample_rate;
  swrFormat_ = frame->format;
  swrChannels_ = frame->ch_layout.nb_channels;
}

bool TMovieWriter::AddSound(const AVFrame *frame, int64_t at, int64_t limit) {
  if (!aenc_ || frame->nb_samples <= 0 || frame->sample_rate <= 0) return true;
  ResetResampler(frame);
  if (!swr_) return true;
  const int room = swr_get_out_samples(swr_, frame->nb_samples);
  if (room <= 0) return true;
  uint8_t **out = nullptr;
  if (av_samples_alloc_array_and_samples(&out, nullptr, aenc_->ch_layout.nb_channels, room,
                                         AV_SAMPLE_FMT_FLTP, 0) < 0)
    return false;
  int n = swr_convert(swr_, out, room, const_cast<const uint8_t **>(frame->extended_data),
                      frame->nb_samples);
  bool ok = true;
  if (n > 0) {
    // A hole of more than 20 ms is silence; a smaller difference is jitter
    // of the file's times and the sound is kept continuous.
    const int64_t slack = sampleRate_ / 50;
    if (at >= limit) n = 0;  // past the end of the part: nothing of it is kept
    if (n > 0 && at > soundQueued_ + slack) ok = PadSound(at);
    int skip = 0;
    if (at < soundQueued_ - slack) skip = static_cast<int>(std::min<int64_t>(n, soundQueued_ - at));
    int count = n - skip;
    if (soundQueued_ + count > limit)
      count = static_cast<int>(std::max<int64_t>(0, limit - soundQueued_));
    if (ok && count > 0) {
      void *planes[8] = {};
      for (int c = 0; c < aenc_->ch_layout.nb_channels && c < 8; ++c)
        planes[c] = out[c] + static_cast<ptrdiff_t>(skip) * sizeof(float);
      ok = av_audio_fifo_write(fifo_, planes, count) == count;
      soundQueued_ += count;
      ok = ok && EncodeSound(false);
    }
  }
  av_freep(&out[0]);
  av_freep(&out);
  return ok;
}

bool TMovieWriter::PadSound(int64_t upTo) {
  if (!aenc_) return true;
  float zeros[1024] = {};
  while (soundQueued_ < upTo) {
    const int n = static_cast<int>(std::min<int64_t>(1024, upTo - soundQueued_));
    void *planes[2] = {zeros, zeros};
    if (av_audio_fifo_write(fifo_, planes, n) != n) return false;
    soundQueued_ += n;
    if (!EncodeSound(false)) return false;
  }
  return true;
}

bool TMovieWriter::EncodeSound(bool flush) {
  const int size = aenc_->frame_size > 0 ? aenc_->frame_size : 1024;
  while (av_audio_fifo_size(fifo_) >= size || (flush && av_audio_fifo_size(fifo_) > 0)) {
    const int n = std::min(size, av_audio_fifo_size(fifo_));
    av_frame_unref(soundFrame_);
    soundFrame_->nb_samples = n;
    soundFrame_->format = AV_SAMPLE_FMT_FLTP;
    soundFrame_->sample_rate = sampleRate_;
    if (av_channel_layout_copy(&soundFrame_->ch_layout, &aenc_->ch_layout) < 0 ||
        av_frame_get_buffer(soundFrame_, 0) < 0)
      return false;
    if (av_audio_fifo_read(fifo_, reinterpret_cast<void **>(soundFrame_->data), n) != n)
      return false;
    soundFrame_->pts = soundPts_;
    soundPts_ += n;
    if (avcodec_send_frame(aenc_, soundFrame_) < 0 || !Drain(aenc_, ast_, pkt_)) return false;
  }
  return true;
}

bool TMovieWriter::Finish(std::string &error) {
  StopEncoder();
  bool ok =
      !videoFailed_ && avcodec_send_frame(venc_, nullptr) >= 0 && Drain(venc_, vst_, videoPkt_);
  if (ok && aenc_)
    ok = EncodeSound(true) && avcodec_send_frame(aenc_, nullptr) >= 0 && Drain(aenc_, ast_, pkt_);
  if (ok) ok = av_write_trailer(oc_) == 0;
  if (ok) avio_flush(io_);
  if (!ok || !writeError_.empty()) {
    error = writeError_.empty() ? "the movie could not be finished" : writeError_;
    return false;
  }
  return true;
}

}  // namespace tachora
