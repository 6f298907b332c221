#include "playback/UnitFilterGraph.h"

#include <fcntl.h>
#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QMetaObject>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/UnitLang.h"

namespace tachora {

namespace {

// Reply ids of asynchronous requests; loadfile replies carry the open's
// serial above kReplyLoad.
enum : uint64_t {
  kReplySeek = 1,
  kReplyDecoders,
  kReplyTracks,
  kReplySnapshot,
  kReplyLoad = 1000,
};

// Observed properties.
enum : uint64_t { kPropTimePos = 1, kPropDuration, kPropEof, kPropWidth, kPropHeight, kPropFps };

const mpv_node *MapGet(const mpv_node &map, const char *key) {
  if (map.format != MPV_FORMAT_NODE_MAP) return nullptr;
  for (int i = 0; i < map.u.list->num; ++i)
    if (std::strcmp(map.u.list->keys[i], key) == 0) return &map.u.list->values[i];
  return nullptr;
}

std::string MapString(const mpv_node &map, const char *key) {
  const mpv_node *n = MapGet(map, key);
  return n && n->format == MPV_FORMAT_STRING ? n->u.string : std::string();
}

int64_t MapInt(const mpv_node &map, const char *key) {
  const mpv_node *n = MapGet(map, key);
  return n && n->format == MPV_FORMAT_INT64 ? n->u.int64 : -1;
}

int64_t Ticks(double seconds) {
  return std::llround(seconds * kTicksPerSecond);
}

std::string SecondsText(int64_t ticks) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7f", static_cast<double>(ticks) / kTicksPerSecond);
  return buf;
}

bool FileExists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file that is there but gives read errors (a card pulled out while its
// mount stays) counts as lost too.
bool FileReadable(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char byte;
  const bool ok = ::read(fd, &byte, 1) >= 0;
  ::close(fd);
  return ok;
}

void FreeAligned(void *data) {
  std::free(data);
}

}  // namespace

const char *OpenErrorKey(TOpenError error) {
  switch (error) {
    case TOpenError::kSplitterNotFound:
      return "Mes_CannotOpen_Splitter";
    case TOpenError::kCodecNotFound:
      return "Mes_CannotOpen_Codec";
    case TOpenError::kFileLost:
      return "Mes_CannotOpen_Lost";
  }
  return "Mes_CannotOpen_Splitter";
}

QString OpenErrorMessage(const QString &path, TOpenError error) {
  return QString::fromStdString(LangText("Mes_CannotOpen_Video")) + "\r\n" + path + "\r\n" +
         QString::fromStdString(LangText(OpenErrorKey(error)));
}

TFilterGraph::TFilterGraph(QObject *parent) : QObject(parent) {
  qRegisterMetaType<tachora::TOpenError>();
  m_fileCheck.setInterval(1000);
  connect(&m_fileCheck, &QTimer::timeout, this, &TFilterGraph::CheckFileStillThere);
}

TFilterGraph::~TFilterGraph() {
  Deactivate();
}

double TFilterGraph::MpvVolume(int linear) {
  linear = std::clamp(linear, 0, 10000);
  if (linear == 0) return 0;
  const double centiBel = std::round(std::log(linear + 1.0) * 1085.73) - 10000;
  return std::min(100.0, 100 * std::pow(10.0, centiBel / 100 / 60));
}

void TFilterGraph::SetOption(const std::string &name, const std::string &value) {
  m_options.emplace_back(name, value);
}

// ---- life of the mpv handle ----------------------------------------------------

void TFilterGraph::Activate() {
  if (m_mpv) return;
  // mpv parses numbers with the C library and refuses to start otherwise.
  std::setlocale(LC_NUMERIC, "C");
  m_mpv = mpv_create();
  if (!m_mpv) return;
  const std::pair<const char *, std::string> options[] = {
      {"config", "no"},
      {"terminal", "no"},
      {"input-default-bindings", "no"},
      {"input-vo-keyboard", "no"},
      {"input-cursor", "no"},
      {"osc", "no"},
      {"load-scripts", "no"},
      {"ytdl", "no"},
      {"sub-auto", "no"},
      {"audio-display", "no"},
      {"idle", "yes"},
      // Hold the last frame at the end, without pausing: the time line moves
      // on to the next recording, and a seek back plays on.
      {"keep-open", "yes"},
      {"keep-open-pause", "no"},
      {"hr-seek", "yes"},
      {"vo", m_renderer == TRenderer::kSimple ? "gpu,x11" : "libmpv"},
      {"hwdec", m_renderer == TRenderer::kOpenGL ? "auto-safe" : "no"},
      {"volume", std::to_string(MpvVolume(m_volume))},
      {"speed", std::to_string(m_rate)},
  };
  for (const auto &[name, value] : options) mpv_set_option_string(m_mpv, name, value.c_str());
  if (m_renderer == TRenderer::kSimple && m_wid)
    mpv_set_option_string(m_mpv, "wid", std::to_string(m_wid).c_str());
  // mpv drawing into our X window: its OpenGL context is named, not probed.
  // Probing the kinds in turn has been seen to break the process's X
  // connection when a later player starts (about one start in six under
  // Xvfb, the program then ends); the named one has not. Where it fails mpv
  // falls back to its plain X11 output.
  if (m_renderer == TRenderer::kSimple && QGuiApplication::platformName() == "xcb")
    mpv_set_option_string(m_mpv, "gpu-context", "x11egl");
  for (const auto &[name, value] : m_options)
    mpv_set_option_string(m_mpv, name.c_str(), value.c_str());
  if (mpv_initialize(m_mpv) < 0) {
    mpv_terminate_destroy(m_mpv);
    m_mpv = nullptr;
    return;
  }
  mpv_observe_property(m_mpv, kPropTimePos, "time-pos", MPV_FORMAT_DOUBLE);
  mpv_observe_property(m_mpv, kPropDuration, "duration", MPV_FORMAT_DOUBLE);
  mpv_observe_property(m_mpv, kPropEof, "eof-reached", MPV_FORMAT_FLAG);
  mpv_observe_property(m_mpv, kPropWidth, "dwidth", MPV_FORMAT_INT64);
  mpv_observe_property(m_mpv, kPropHeight, "dheight", MPV_FORMAT_INT64);
  mpv_observe_property(m_mpv, kPropFps, "container-fps", MPV_FORMAT_DOUBLE);
  mpv_get_property_async(m_mpv, kReplyDecoders, "decoder-list", MPV_FORMAT_NODE);
  mpv_set_wakeup_callback(m_mpv, &TFilterGraph::Wakeup, this);
  m_state = TEngineState::kStopped;
  if (m_renderer == TRenderer::kSoftware) {
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&m_render, m_mpv, params) >= 0)
      mpv_render_context_set_update_callback(m_render, &TFilterGraph::RenderUpdate, this);
    else
      m_render = nullptr;
  }
  if (m_host && m_renderer != TRenderer::kSimple) m_host->RenderContextWanted();
}

void TFilterGraph::Deactivate() {
  m_fileCheck.stop();
  if (!m_mpv) return;
  FreeRenderContext();
  mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
  mpv_terminate_destroy(m_mpv);
  m_mpv = nullptr;
  ResetFileState();
  m_path.clear();
  m_currentEntry = m_lastStartedId = m_lastLoadedId = -1;
  m_decoders.clear();
  m_decodersKnown = false;
  m_seeksUnanswered = 0;
  m_state = TEngineState::kNotCreated;
}

void TFilterGraph::FreeRenderContext() {
  if (!m_render) return;
  if (m_host) m_host->BeginRenderContextChange();
  mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
  mpv_render_context_free(m_render);
  m_render = nullptr;
  if (m_host) m_host->EndRenderContextChange();
}

void TFilterGraph::ResetFileState() {
  m_fileLoaded = m_eof = m_seeking = false;
  m_pendingSteps = 0;
  m_duration = m_position = 0;
  m_fps = 0;
  m_pendingSeek = -1;
  if (!m_videoSize.isEmpty()) {
    m_videoSize = QSize();
    emit VideoSizeChanged();
  }
}

// ---- commands ----------------------------------------------------------------

void TFilterGraph::Command(const std::vector<std::string> &args, uint64_t replyId) {
  if (!m_mpv) return;
  std::vector<const char *> argv;
  for (const auto &a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  mpv_command_async(m_mpv, replyId, argv.data());
}

void TFilterGraph::SetFlag(const char *name, bool value) {
  if (!m_mpv) return;
  int flag = value ? 1 : 0;
  mpv_set_property_async(m_mpv, 0, name, MPV_FORMAT_FLAG, &flag);
}

void TFilterGraph::SetDouble(const char *name, double value) {
  if (!m_mpv) return;
  mpv_set_property_async(m_mpv, 0, name, MPV_FORMAT_DOUBLE, &value);
}

void TFilterGraph::Open(const std::string &path) {
  if (!m_mpv) return;
  ResetFileState();
  m_path = path;
  m_currentEntry = -1;
  ++m_loadSerial;
  Command({"loadfile", path, "replace"}, kReplyLoad + m_loadSerial);
  m_fileCheck.start();
}

void TFilterGraph::Play() {
  if (!m_mpv) return;
  m_state = TEngineState::kPlaying;
  SetFlag("pause", false);
}

void TFilterGraph::Pause() {
  if (!m_mpv) return;
  m_state = TEngineState::kPaused;
  SetFlag("pause", true);
}

void TFilterGraph::Stop() {
  m_fileCheck.stop();
  if (!m_mpv) return;
  if (!m_path.empty()) Command({"stop"});
  ResetFileState();
  m_path.clear();
  m_currentEntry = -1;
  m_state = TEngineState::kStopped;
}

bool TFilterGraph::CurrentPosition(int64_t &ticks) const {
  if (!HasSeeking() || !m_fileLoaded) return false;
  ticks = m_position;
  return true;
}

void TFilterGraph::SeekTo(int64_t ticks) {
  if (!HasSeeking()) return;
  ticks = std::max<int64_t>(0, ticks);
  m_position = ticks;
  m_eof = false;
  if (!m_fileLoaded) {
    m_pendingSeek = ticks;
    return;
  }
  // Until mpv reports the seek done, the position is the one asked for.
  m_seeking = true;
  ++m_seeksUnanswered;
  m_seekClock.start();
  Command({"seek", SecondsText(ticks), "absolute+exact"}, kReplySeek);
}

void TFilterGraph::SetRate(double rate) {
  if (!(rate > 0)) return;
  m_rate = rate;
  SetDouble("speed", rate);
}

void TFilterGraph::FrameStep(int direction) {
  if (!HasSeeking() || direction == 0) return;
  // A step asked while the file loads or a seek runs counts from where the
  // seek lands.
  if (!m_fileLoaded || m_seeking) {
    m_pendingSteps += direction > 0 ? 1 : -1;
    return;
  }
  Command({direction > 0 ? "frame-step" : "frame-back-step"});
}

void TFilterGraph::SeekDone() {
  m_seeking = false;
  const int steps = m_pendingSteps;
  m_pendingSteps = 0;
  for (int i = 0; i < std::abs(steps); ++i) FrameStep(steps);
}

void TFilterGraph::SetVolume(int volume) {
  m_volume = std::clamp(volume, 0, 10000);
  SetDouble("volume", MpvVolume(m_volume));
}

void TFilterGraph::SetKeepAspect(bool keep) {
  SetFlag("keepaspect", keep);
}

void TFilterGraph::RequestSnapshot() {
  if (!m_mpv || !m_fileLoaded) {
    emit SnapshotReady(QImage());
    return;
  }
  const char *args[] = {"screenshot-raw", "video", nullptr};
  mpv_node cmd;
  mpv_node_list list;
  mpv_node items[2];
  items[0].format = items[1].format = MPV_FORMAT_STRING;
  items[0].u.string = const_cast<char *>(args[0]);
  items[1].u.string = const_cast<char *>(args[1]);
  list.num = 2;
  list.values = items;
  list.keys = nullptr;
  cmd.format = MPV_FORMAT_NODE_ARRAY;
  cmd.u.list = &list;
  if (mpv_command_node_async(m_mpv, kReplySnapshot, &cmd) < 0) emit SnapshotReady(QImage());
}

// ---- events ------------------------------------------------------------------

void TFilterGraph::Wakeup(void *self) {
  auto *graph = static_cast<TFilterGraph *>(self);
  if (!graph->m_eventsPosted.exchange(true))
    QMetaObject::invokeMethod(graph, "HandleEvents", Qt::QueuedConnection);
}

void TFilterGraph::RenderUpdate(void *self) {
  auto *graph = static_cast<TFilterGraph *>(self);
  if (!graph->m_renderPosted.exchange(true))
    QMetaObject::invokeMethod(graph, "HandleRenderUpdate", Qt::QueuedConnection);
}

void TFilterGraph::HandleRenderUpdate() {
  m_renderPosted = false;
  if (!m_render) return;
  // With OpenGL every mpv_render_* call needs the surface's context current;
  // without advanced control the update call is optional, so the surface
  // simply repaints.
  if (m_renderer == TRenderer::kOpenGL ||
      (mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME))
    emit FrameReady();
}

void TFilterGraph::HandleEvents() {
  m_eventsPosted = false;
  while (m_mpv) {
    const mpv_event *event = mpv_wait_event(m_mpv, 0);
    if (event->event_id == MPV_EVENT_NONE) break;
    HandleEvent(*event);
  }
}

void TFilterGraph::HandleEvent(const mpv_event &event) {
  switch (event.event_id) {
    case MPV_EVENT_START_FILE:
      m_lastStartedId = static_cast<mpv_event_start_file *>(event.data)->playlist_entry_id;
      break;
    case MPV_EVENT_FILE_LOADED:
      m_lastLoadedId = m_lastStartedId;
      if (IsCurrent()) HandleFileLoaded();
      break;
    case MPV_EVENT_END_FILE:
      HandleEndFile(event);
      break;
    case MPV_EVENT_PLAYBACK_RESTART:
      // Only the restart after the last seek sent counts (not the one that
      // starts a freshly loaded file).
      if (IsCurrent() && m_seeksUnanswered == 0) SeekDone();
      break;
    case MPV_EVENT_PROPERTY_CHANGE:
      HandlePropertyChange(event);
      break;
    case MPV_EVENT_COMMAND_REPLY:
    case MPV_EVENT_GET_PROPERTY_REPLY:
      HandleCommandReply(event);
      break;
    default:
      break;
  }
}

void TFilterGraph::HandleCommandReply(const mpv_event &event) {
  const uint64_t id = event.reply_userdata;
  if (id > kReplyLoad) {
    if (id - kReplyLoad != m_loadSerial || m_path.empty()) return;
    const auto *reply = static_cast<mpv_event_command *>(event.data);
    const int64_t entry = event.error >= 0 ? MapInt(reply->result, "playlist_entry_id") : -1;
    m_currentEntry = entry;
    if (entry > 0 && m_lastLoadedId == entry && m_lastStartedId == entry) HandleFileLoaded();
    return;
  }
  switch (id) {
    case kReplySeek:
      if (m_seeksUnanswered > 0) --m_seeksUnanswered;
      if (event.error < 0) SeekDone();
      break;
    case kReplyDecoders:
      if (event.error >= 0)
        CollectDecoders(
            *static_cast<mpv_node *>(static_cast<mpv_event_property *>(event.data)->data));
      break;
    case kReplyTracks:
      if (event.error >= 0 && IsCurrent())
        ReportMissingDecoders(
            *static_cast<mpv_node *>(static_cast<mpv_event_property *>(event.data)->data));
      break;
    case kReplySnapshot: {
      QImage image;
      if (event.error >= 0) {
        const mpv_node &r = static_cast<mpv_event_command *>(event.data)->result;
        const int64_t w = MapInt(r, "w"), h = MapInt(r, "h"), stride = MapInt(r, "stride");
        const mpv_node *data = MapGet(r, "data");
        if (w > 0 && h > 0 && stride >= w * 4 && MapString(r, "format") == "bgr0" && data &&
            data->format == MPV_FORMAT_BYTE_ARRAY &&
            static_cast<int64_t>(data->u.ba->size) >= stride * h) {
          // bgr0 in memory is Format_RGB32 on little-endian machines.
          image = QImage(static_cast<const uchar *>(data->u.ba->data), static_cast<int>(w),
                         static_cast<int>(h), static_cast<qsizetype>(stride), QImage::Format_RGB32)
                      .copy();
        }
      }
      emit SnapshotReady(image);
      break;
    }
    default:
      break;
  }
}

void TFilterGraph::HandlePropertyChange(const mpv_event &event) {
  if (!IsCurrent()) return;
  const auto *prop = static_cast<mpv_event_property *>(event.data);
  const bool has = prop->format != MPV_FORMAT_NONE && prop->data;
  switch (event.reply_userdata) {
    case kPropTimePos:
      // A seek that mpv never reports done must not freeze the position.
      if (m_seeking && m_seekClock.elapsed() > 2000) SeekDone();
      if (has && !m_seeking)
        m_position = std::max<int64_t>(0, Ticks(*static_cast<double *>(prop->data)));
      break;
    case kPropDuration:
      m_duration = has ? std::max<int64_t>(0, Ticks(*static_cast<double *>(prop->data))) : 0;
      break;
    case kPropFps:
      m_fps = has ? std::max(0.0, *static_cast<double *>(prop->data)) : 0;
      break;
    case kPropEof:
      m_eof = has && *static_cast<int *>(prop->data) != 0;
      break;
    case kPropWidth:
    case kPropHeight: {
      const int v = has ? static_cast<int>(*static_cast<int64_t *>(prop->data)) : 0;
      QSize size = m_videoSize;
      if (event.reply_userdata == kPropWidth)
        size.setWidth(v);
      else
        size.setHeight(v);
      if (size != m_videoSize) {
        m_videoSize = size;
        emit VideoSizeChanged();
      }
      break;
    }
    default:
      break;
  }
}

void TFilterGraph::HandleFileLoaded() {
  if (m_fileLoaded) return;
  m_fileLoaded = true;
  if (m_pendingSeek >= 0) {
    const int64_t target = m_pendingSeek;
    m_pendingSeek = -1;
    SeekTo(target);
  }
  mpv_get_property_async(m_mpv, kReplyTracks, "track-list", MPV_FORMAT_NODE);
  emit FileReady();
}

void TFilterGraph::HandleEndFile(const mpv_event &event) {
  const auto *end = static_cast<mpv_event_end_file *>(event.data);
  if (end->playlist_entry_id != m_currentEntry || m_path.empty()) return;
  if (end->reason != MPV_END_FILE_REASON_ERROR) return;
  TOpenError error = TOpenError::kSplitterNotFound;
  if (end->error == MPV_ERROR_NOTHING_TO_PLAY)
    error = TOpenError::kCodecNotFound;  // no track has a decoder
  else if (end->error != MPV_ERROR_UNKNOWN_FORMAT && (!FileExists(m_path) || !FileReadable(m_path)))
    error = TOpenError::kFileLost;
  const QString path = QString::fromStdString(m_path);
  ResetFileState();
  m_path.clear();
  m_currentEntry = -1;
  m_fileCheck.stop();
  m_state = TEngineState::kStopped;
  emit OpenError(path, error);
  emit Stopped();
}

void TFilterGraph::CollectDecoders(const mpv_node &list) {
  m_decoders.clear();
  if (list.format == MPV_FORMAT_NODE_ARRAY)
    for (int i = 0; i < list.u.list->num; ++i) {
      const std::string codec = MapString(list.u.list->values[i], "codec");
      if (!codec.empty()) m_decoders.push_back(codec);
    }
  std::sort(m_decoders.begin(), m_decoders.end());
  m_decodersKnown = !m_decoders.empty();
}

void TFilterGraph::ReportMissingDecoders(const mpv_node &tracks) {
  if (!m_decodersKnown || tracks.format != MPV_FORMAT_NODE_ARRAY) return;
  const QString path = QString::fromStdString(m_path);
  for (int i = 0; i < tracks.u.list->num; ++i) {
    const mpv_node &t = tracks.u.list->values[i];
    const std::string type = MapString(t, "type");
    if (type != "video" && type != "audio") continue;
    if (MapGet(t, "external") && MapGet(t, "external")->u.flag) continue;
    const std::string codec = MapString(t, "codec");
    if (codec.empty() || !std::binary_search(m_decoders.begin(), m_decoders.end(), codec))
      emit OpenError(path, TOpenError::kCodecNotFound);
  }
}

void TFilterGraph::CheckFileStillThere() {
  if (m_path.empty()) {
    m_fileCheck.stop();
    return;
  }
  if (!FileExists(m_path)) LoseFile();
}

void TFilterGraph::LoseFile() {
  const QString path = QString::fromStdString(m_path);
  Stop();
  emit OpenError(path, TOpenError::kFileLost);
  emit Stopped();
}

// ---- render API ----------------------------------------------------------------

QImage TFilterGraph::RenderSoftware(QSize size) {
  if (!m_render || m_renderer != TRenderer::kSoftware || size.isEmpty()) return QImage();
  // mpv wants the pointer and the stride on 64-byte boundaries.
  const size_t stride = (static_cast<size_t>(size.width()) * 4 + 63) & ~size_t{63};
  void *data = std::aligned_alloc(64, stride * static_cast<size_t>(size.height()));
  if (!data) return QImage();
  int sz[2] = {size.width(), size.height()};
  size_t strideParam = stride;
  mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, sz},
                               {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char *>("rgb0")},
                               {MPV_RENDER_PARAM_SW_STRIDE, &strideParam},
                               {MPV_RENDER_PARAM_SW_POINTER, data},
                               {MPV_RENDER_PARAM_INVALID, nullptr}};
  if (mpv_render_context_render(m_render, params) < 0) {
    std::free(data);
    return QImage();
  }
  return QImage(static_cast<uchar *>(data), size.width(), size.height(),
                static_cast<qsizetype>(stride), QImage::Format_RGBX8888, &FreeAligned, data);
}

bool TFilterGraph::CreateGlContext(void *(*getProcAddress)(void *ctx, const char *name), void *ctx,
                                   void *x11Display) {
  if (!m_mpv || m_render || m_renderer != TRenderer::kOpenGL) return m_render != nullptr;
  mpv_opengl_init_params gl{getProcAddress, ctx};
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
      {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
      {x11Display ? MPV_RENDER_PARAM_X11_DISPLAY : MPV_RENDER_PARAM_INVALID, x11Display},
      {MPV_RENDER_PARAM_INVALID, nullptr}};
  if (mpv_render_context_create(&m_render, m_mpv, params) < 0) {
    m_render = nullptr;
    return false;
  }
  mpv_render_context_set_update_callback(m_render, &TFilterGraph::RenderUpdate, this);
  return true;
}

bool TFilterGraph::RenderGl(int fbo, int width, int height, bool flipY) {
  if (!m_render || m_renderer != TRenderer::kOpenGL) return false;
  mpv_opengl_fbo target{fbo, width, height, 0};
  int flip = flipY ? 1 : 0;
  mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &target},
                               {MPV_RENDER_PARAM_FLIP_Y, &flip},
                               {MPV_RENDER_PARAM_INVALID, nullptr}};
  return mpv_render_context_render(m_render, params) >= 0;
}

}  // namespace tachora
