// TAacFramer: where a raw AAC frame ends. Raw frames in a recording carry
// no length; the decoder reads a frame up to its end element and fails when
// the bytes run out before it. So the frame's size is the shortest packet
// that decodes, found by bisection, and the frame counts only when it
// decodes to the reference's channels and rate.
//
// KeyFrameDecodes: the check that the reference's parameter sets decode
// the broken file's first key frame (the H.264/H.265 decoder).
//
// Both silence FFmpeg's log (its level is process-wide): trial decodes fail
// by design.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "container/UnitRepair.h"

namespace tachora {

namespace {
// The largest raw AAC frame: 6144 bits a channel, 8 channels.
constexpr uint32_t kMaxAacFrame = 6144;

// The H.264 decoder conceals damaged macroblocks and reports them only in
// its log, so the check counts the errors logged for its own context.
std::mutex gLogMutex;
const void *gCheckedContext = nullptr;
int gLoggedErrors = 0;
void CountErrors(void *avcl, int level, const char *, va_list) {
  if (avcl && avcl == gCheckedContext && level <= AV_LOG_ERROR) ++gLoggedErrors;
}
}  // namespace

TAacFramer::TAacFramer(const std::vector<uint8_t> &config, int channels, int sampleRate)
    : fChannels(channels), fRate(sampleRate) {
  const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
  if (!codec || config.empty()) return;
  AVCodecContext *c = avcodec_alloc_context3(codec);
  if (!c) return;
  c->extradata = static_cast<uint8_t *>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (c->extradata) {
    std::memcpy(c->extradata, config.data(), config.size());
    c->extradata_size = int(config.size());
  }
  // Trial decodes fail by design: the decoder must not report them.
  av_log_set_level(AV_LOG_QUIET);
  if (!c->extradata || avcodec_open2(c, codec, nullptr) < 0) {
    avcodec_free_context(&c);
    return;
  }
  fContext = c;
  fPacket = av_packet_alloc();
  fFrame = av_frame_alloc();
}

TAacFramer::~TAacFramer() {
  auto *c = static_cast<AVCodecContext *>(fContext);
  auto *p = static_cast<AVPacket *>(fPacket);
  auto *f = static_cast<AVFrame *>(fFrame);
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&c);
}

bool TAacFramer::Decodes(const uint8_t *data, uint32_t n) {
  auto *c = static_cast<AVCodecContext *>(fContext);
  auto *pkt = static_cast<AVPacket *>(fPacket);
  auto *frame = static_cast<AVFrame *>(fFrame);
  fBuf.assign(data, data + n);
  fBuf.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  avcodec_flush_buffers(c);
  pkt->data = fBuf.data();
  pkt->size = int(n);
  if (avcodec_send_packet(c, pkt) < 0) return false;
  const int r = avcodec_receive_frame(c, frame);
  if (r < 0) return false;
  const bool ok = frame->ch_layout.nb_channels == fChannels &&
                  (fRate <= 0 || frame->sample_rate == fRate) && frame->nb_samples > 0;
  av_frame_unref(frame);
  return ok;
}

uint32_t TAacFramer::FrameSize(const uint8_t *data, uint32_t n) {
  if (!fContext || n < 2) return 0;
  uint32_t hi = std::min(n, kMaxAacFrame);
  if (!Decodes(data, hi)) return 0;
  uint32_t lo = 1;  // does not decode (or is not tried: too short)
  while (hi - lo > 1) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (Decodes(data, mid))
      hi = mid;
    else
      lo = mid;
  }
  return hi;
}

bool KeyFrameDecodes(const TRepairProfile &profile, const uint8_t *data, size_t n) {
  const bool h264 = profile.picture == TRepairProfile::TPicture::H264;
  const AVCodec *codec = avcodec_find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
  if (!codec || profile.pictureConfig.empty() || n == 0 || n > (512u << 20)) return false;
  AVCodecContext *c = avcodec_alloc_context3(codec);
  AVPacket *pkt = av_packet_alloc();
  AVFrame *frame = av_frame_alloc();
  bool ok = false;
  const size_t configSize = profile.pictureConfig.size();
  std::vector<uint8_t> buf(data, data + n);
  buf.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  if (c && pkt && frame) {
    c->extradata = static_cast<uint8_t *>(av_mallocz(configSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (c->extradata) {
      std::memcpy(c->extradata, profile.pictureConfig.data(), configSize);
      c->extradata_size = int(configSize);
    }
    c->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    c->thread_count = 1;
    av_log_set_level(AV_LOG_QUIET);
    if (c->extradata && avcodec_open2(c, codec, nullptr) >= 0) {
      pkt->data = buf.data();
      pkt->size = int(n);
      std::lock_guard<std::mutex> lock(gLogMutex);
      gCheckedContext = c;
      gLoggedErrors = 0;
      av_log_set_callback(CountErrors);
      if (avcodec_send_packet(c, pkt) >= 0 && avcodec_send_packet(c, nullptr) >= 0 &&
          avcodec_receive_frame(c, frame) >= 0)
        ok = (profile.width <= 0 || frame->width == profile.width) &&
             (profile.height <= 0 || frame->height == profile.height) &&
             !(frame->decode_error_flags) && gLoggedErrors == 0;
      av_log_set_callback(av_log_default_callback);
      gCheckedContext = nullptr;
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  return ok;
}

}  // namespace tachora
