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
//
// libavcodec is loaded on first use (dlopen), not linked: with its codec
// libraries it takes some 20 ms of every start of a program that links the
// core (tachora-cli cut of a recording in the page cache takes ~100 ms in
// all), and only a repair needs it. Without it no frame decodes, so a
// repair finds no sound frames and no key frame it can check.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
}
#include <dlfcn.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <type_traits>

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

// The functions used, from the library of the version the core was built
// against (its major version names its ABI).
struct TAvApi {
  decltype(&avcodec_find_decoder) find_decoder;
  decltype(&avcodec_alloc_context3) alloc_context3;
  decltype(&avcodec_open2) open2;
  decltype(&avcodec_free_context) free_context;
  decltype(&avcodec_flush_buffers) flush_buffers;
  decltype(&avcodec_send_packet) send_packet;
  decltype(&avcodec_receive_frame) receive_frame;
  decltype(&av_packet_alloc) packet_alloc;
  decltype(&av_packet_free) packet_free;
  decltype(&av_frame_alloc) frame_alloc;
  decltype(&av_frame_free) frame_free;
  decltype(&av_frame_unref) frame_unref;
  decltype(&av_mallocz) mallocz;
  decltype(&av_log_set_level) log_set_level;
  decltype(&av_log_set_callback) log_set_callback;
  decltype(&av_log_default_callback) log_default_callback;
};

// nullptr when the library or one of its functions is missing.
const TAvApi *Av() {
  static const TAvApi *api = []() -> const TAvApi * {
    // Its dependencies (libavutil) come with it and are searched by dlsym.
    void *lib =
        ::dlopen("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return nullptr;
    static TAvApi a;
    bool ok = true;
    auto get = [&](auto &fn, const char *name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
      ok = ok && fn;
    };
    get(a.find_decoder, "avcodec_find_decoder");
    get(a.alloc_context3, "avcodec_alloc_context3");
    get(a.open2, "avcodec_open2");
    get(a.free_context, "avcodec_free_context");
    get(a.flush_buffers, "avcodec_flush_buffers");
    get(a.send_packet, "avcodec_send_packet");
    get(a.receive_frame, "avcodec_receive_frame");
    get(a.packet_alloc, "av_packet_alloc");
    get(a.packet_free, "av_packet_free");
    get(a.frame_alloc, "av_frame_alloc");
    get(a.frame_free, "av_frame_free");
    get(a.frame_unref, "av_frame_unref");
    get(a.mallocz, "av_mallocz");
    get(a.log_set_level, "av_log_set_level");
    get(a.log_set_callback, "av_log_set_callback");
    get(a.log_default_callback, "av_log_default_callback");
    return ok ? &a : nullptr;  // the library stays loaded for the process
  }();
  return api;
}
}  // namespace

TAacFramer::TAacFramer(const std::vector<uint8_t> &config, int channels, int sampleRate)
    : fChannels(channels), fRate(sampleRate) {
  const TAvApi *av = Av();
  if (!av) return;
  const AVCodec *codec = av->find_decoder(AV_CODEC_ID_AAC);
  if (!codec || config.empty()) return;
  AVCodecContext *c = av->alloc_context3(codec);
  if (!c) return;
  c->extradata = static_cast<uint8_t *>(av->mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (c->extradata) {
    std::memcpy(c->extradata, config.data(), config.size());
    c->extradata_size = int(config.size());
  }
  // Trial decodes fail by design: the decoder must not report them.
  av->log_set_level(AV_LOG_QUIET);
  if (!c->extradata || av->open2(c, codec, nullptr) < 0) {
    av->free_context(&c);
    return;
  }
  fContext = c;
  fPacket = av->packet_alloc();
  fFrame = av->frame_alloc();
}

TAacFramer::~TAacFramer() {
  const TAvApi *av = Av();
  if (!av || !fContext) return;
  auto *c = static_cast<AVCodecContext *>(fContext);
  auto *p = static_cast<AVPacket *>(fPacket);
  auto *f = static_cast<AVFrame *>(fFrame);
  av->packet_free(&p);
  av->frame_free(&f);
  av->free_context(&c);
}

bool TAacFramer::Decodes(const uint8_t *data, uint32_t n) {
  const TAvApi *av = Av();  // present: there is a context
  auto *c = static_cast<AVCodecContext *>(fContext);
  auto *pkt = static_cast<AVPacket *>(fPacket);
  auto *frame = static_cast<AVFrame *>(fFrame);
  fBuf.assign(data, data + n);
  fBuf.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  av->flush_buffers(c);
  pkt->data = fBuf.data();
  pkt->size = int(n);
  if (av->send_packet(c, pkt) < 0) return false;
  const int r = av->receive_frame(c, frame);
  if (r < 0) return false;
  const bool ok = frame->ch_layout.nb_channels == fChannels &&
                  (fRate <= 0 || frame->sample_rate == fRate) && frame->nb_samples > 0;
  av->frame_unref(frame);
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
  const TAvApi *av = Av();
  if (!av) return false;
  const AVCodec *codec = av->find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
  if (!codec || profile.pictureConfig.empty() || n == 0 || n > (512u << 20)) return false;
  AVCodecContext *c = av->alloc_context3(codec);
  AVPacket *pkt = av->packet_alloc();
  AVFrame *frame = av->frame_alloc();
  bool ok = false;
  const size_t configSize = profile.pictureConfig.size();
  std::vector<uint8_t> buf(data, data + n);
  buf.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  if (c && pkt && frame) {
    c->extradata = static_cast<uint8_t *>(av->mallocz(configSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (c->extradata) {
      std::memcpy(c->extradata, profile.pictureConfig.data(), configSize);
      c->extradata_size = int(configSize);
    }
    c->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    c->thread_count = 1;
    av->log_set_level(AV_LOG_QUIET);
    if (c->extradata && av->open2(c, codec, nullptr) >= 0) {
      pkt->data = buf.data();
      pkt->size = int(n);
      std::lock_guard<std::mutex> lock(gLogMutex);
      gCheckedContext = c;
      gLoggedErrors = 0;
      av->log_set_callback(CountErrors);
      if (av->send_packet(c, pkt) >= 0 && av->send_packet(c, nullptr) >= 0 &&
          av->receive_frame(c, frame) >= 0)
        ok = (profile.width <= 0 || frame->width == profile.width) &&
             (profile.height <= 0 || frame->height == profile.height) &&
             !(frame->decode_error_flags) && gLoggedErrors == 0;
      av->log_set_callback(av->log_default_callback);
      gCheckedContext = nullptr;
    }
  }
  av->frame_free(&frame);
  av->packet_free(&pkt);
  av->free_context(&c);
  return ok;
}

}  // namespace tachora
