// The player engine over libmpv: one recording at a time, drawn by one of
// three renderers, driven by the trip time line through TPlayerEngine.
// This and the mpv version helper are the only code that includes mpv
// headers.
//
// Renderers (the menu's three choices):
//   kSimple   mpv draws into a native child window (the `wid` option); the
//             program cannot draw over or transform the picture.
//   kSoftware mpv's software render API (`rgb0`) into an image that the
//             program paints (flips, the non-linear stretch); works without
//             any display, so the tests use it.
//   kOpenGL   mpv's OpenGL render API inside an OpenGL window, with hardware
//             decoding where the system has it (`hwdec=auto-safe`).
// Snapshots (`screenshot-raw`) come at the video's own size with all three.
//
// Needs mpv 0.35 (client API 2.0): loadfile's reply names the playlist
// entry, which tells the current file's events from a replaced file's.
//
// Asynchrony: mpv loads files, seeks and steps on its own threads. Every
// command is sent asynchronously; the properties the time line reads
// (position, duration, end reached, picture size) are observed and cached,
// so no call here waits for mpv. mpv's wake-up and render-update callbacks
// only post a queued call to this object's thread (the UI thread). Until a
// file is loaded Duration() is 0 and CurrentPosition() fails; a seek asked
// meanwhile is applied when the file has loaded.
//
// Units: TPlayerEngine's 100-ns ticks; volume on the linear 0-10000 scale
// (see MpvVolume); rates as factors.
//
// Rendering happens on the UI thread too (Qt paints there); every call this
// class makes to mpv from that thread is asynchronous or safe for a render
// thread, so mpv's core never waits for a paint that waits for mpv.
// kOpenGL draws only once its surface has made the render context: mpv
// disables the picture of a file loaded before that, so show the surface
// before the first Play.
//
// Ownership: the surfaces (UnitVideoSurface.h) hold a pointer to the graph
// and create the render context on it; the graph frees the render context
// before it destroys the mpv handle (with the surface's OpenGL context
// current for kOpenGL).
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <string>
#include <vector>

#include "playback/UnitPlayerEngine.h"

struct mpv_handle;
struct mpv_render_context;
struct mpv_event;
struct mpv_node;

namespace tachora {

enum class TRenderer { kSimple = 0, kSoftware = 1, kOpenGL = 2 };

// Why a recording did not (or no longer) play. The language key of each is
// OpenErrorKey(); the message the user reads is "Mes_CannotOpen_Video",
// "\r\n", the file name, "\r\n" and that text.
enum class TOpenError {
  kSplitterNotFound,  // no demuxer accepts the file
  kCodecNotFound,     // one track has no decoder; the other tracks play
  kFileLost,          // missing, or vanished while playing (a card pulled out)
};
const char *OpenErrorKey(TOpenError error);

// Surfaces that draw through the render API implement this so that the graph
// can free the render context in the right GL context.
class TRenderHost {
 public:
  virtual ~TRenderHost() = default;
  // Around freeing the render context (the OpenGL surface makes its context
  // current and releases it again).
  virtual void BeginRenderContextChange() {}
  virtual void EndRenderContextChange() {}
  // The graph is active with the render API: the surface may create its
  // render context now (kOpenGL) or draw (kSoftware).
  virtual void RenderContextWanted() {}
};

// The user's message for an opening error: "Cannot open video file", the
// file name and the error's text, in the current language.
QString OpenErrorMessage(const QString &path, TOpenError error);

class TFilterGraph : public QObject, public TPlayerEngine {
  Q_OBJECT

 public:
  explicit TFilterGraph(QObject *parent = nullptr);
  ~TFilterGraph() override;

  // The renderer to use from the next Activate(). kSimple needs the native
  // window to draw into (SetWindow) before that.
  void SetRenderer(TRenderer renderer) { m_renderer = renderer; }
  TRenderer Renderer() const { return m_renderer; }
  void SetWindow(quint64 wid) { m_wid = wid; }
  // Extra mpv options applied at the next Activate() (tests: "ao", "null").
  void SetOption(const std::string &name, const std::string &value);

  // ---- TPlayerEngine -----------------------------------------------------
  void Activate() override;
  void Deactivate() override;
  bool Active() const override { return m_mpv != nullptr; }
  void Open(const std::string &path) override;
  bool HasSeeking() const override { return m_mpv && !m_path.empty(); }
  void Play() override;
  void Pause() override;
  void Stop() override;
  TEngineState State() const override { return m_state; }
  int64_t Duration() const override { return m_duration; }
  bool CurrentPosition(int64_t &ticks) const override;
  bool AtEnd() const override { return m_eof; }
  void SeekTo(int64_t ticks) override;
  void SetRate(double rate) override;
  void FrameStep(int direction) override;

  // ---- more of the player --------------------------------------------------
  double Rate() const { return m_rate; }
  // Linear 0-10000 (clamped). 10000 is full volume, 0 silence.
  void SetVolume(int volume);
  int Volume() const { return m_volume; }
  // The linear scale keeps the loudness curve of the program's first
  // platform: attenuation = ln(v + 1) * 1085.73 - 10000 hundredths of a dB
  // (0 dB at 10000, -7.52 dB at 5000), turned into mpv's volume, whose
  // amplitude is (volume / 100)^3: mpv = 100 * 10^(dB / 60). 0 is silent.
  static double MpvVolume(int linear);

  bool Busy() const override { return m_mpv && !m_path.empty() && (!m_fileLoaded || Seeking()); }
  // Frames a second of the loaded recording (0 until known).
  double FrameRate() const { return m_fps; }
  // Picture size with the aspect ratio applied (0 x 0 until known).
  QSize VideoSize() const { return m_videoSize; }
  const std::string &Path() const { return m_path; }
  // A recording is loaded (its duration and tracks are known).
  bool FileLoaded() const { return m_fileLoaded; }
  // A seek was sent and mpv has not yet shown its frame; meanwhile the
  // position is the one asked for.
  bool Seeking() const { return m_seeking || m_pendingSeek >= 0; }

  // mpv keeps the picture's aspect ratio inside its target (kOpenGL and
  // kSimple; the software surface places the picture itself).
  void SetKeepAspect(bool keep);

  // Asks for the current frame at the video's own size; SnapshotReady
  // follows (a null image when mpv has none).
  void RequestSnapshot();

  // ---- render API (used by the surfaces) -----------------------------------
  void SetRenderHost(TRenderHost *host) { m_host = host; }
  // kSoftware: draws the current frame into a new image of `size` (the
  // picture keeps its aspect ratio inside; black around it). Null without a
  // render context.
  QImage RenderSoftware(QSize size);
  // kOpenGL: called by the surface with its context current. `x11Display`
  // (the X connection's Display*, or null) lets hardware decoding hand its
  // frames to OpenGL without copying them back.
  bool CreateGlContext(void *(*getProcAddress)(void *ctx, const char *name), void *ctx,
                       void *x11Display = nullptr);
  bool RenderGl(int fbo, int width, int height, bool flipY);
  // Frees the render context; the OpenGL surface calls it with its context
  // current when it goes away first.
  void FreeRenderContext();
  bool HasRenderContext() const { return m_render != nullptr; }

 signals:
  // One per problem: a file may give kCodecNotFound for each track.
  void OpenError(const QString &path, tachora::TOpenError error);
  void FileReady();  // the recording has loaded (duration, size known)
  void VideoSizeChanged();
  void FrameReady();  // a new frame to draw (render API surfaces)
  void SnapshotReady(const QImage &image);
  void Stopped();  // the engine stopped by itself (lost file)

 private:
  Q_INVOKABLE void HandleEvents();
  Q_INVOKABLE void HandleRenderUpdate();
  void HandleEvent(const mpv_event &event);
  void HandlePropertyChange(const mpv_event &event);
  void HandleEndFile(const mpv_event &event);
  void HandleFileLoaded();
  void HandleCommandReply(const mpv_event &event);
  void SeekDone();
  void ReportMissingDecoders(const mpv_node &tracks);
  void CollectDecoders(const mpv_node &list);
  bool IsCurrent() const { return m_currentEntry > 0 && m_lastStartedId == m_currentEntry; }
  void CheckFileStillThere();
  void LoseFile();
  void Command(const std::vector<std::string> &args, uint64_t replyId = 0);
  void SetFlag(const char *name, bool value);
  void SetDouble(const char *name, double value);
  void ResetFileState();
  static void Wakeup(void *self);
  static void RenderUpdate(void *self);

  TRenderer m_renderer = TRenderer::kSoftware;
  quint64 m_wid = 0;
  std::vector<std::pair<std::string, std::string>> m_options;
  mpv_handle *m_mpv = nullptr;
  mpv_render_context *m_render = nullptr;
  TRenderHost *m_host = nullptr;
  std::atomic<bool> m_eventsPosted{false}, m_renderPosted{false};

  std::string m_path;
  TEngineState m_state = TEngineState::kNotCreated;
  bool m_fileLoaded = false, m_eof = false, m_seeking = false;
  int64_t m_duration = 0, m_position = 0;
  double m_fps = 0;
  int64_t m_pendingSeek = -1;
  QSize m_videoSize;
  double m_rate = 1;
  int m_volume = 10000;
  // mpv's playlist entry of the file opened last (from the loadfile reply),
  // and of the last file that started and loaded: events of a file replaced
  // meanwhile are ignored.
  uint64_t m_loadSerial = 0;
  int64_t m_currentEntry = -1, m_lastStartedId = -1, m_lastLoadedId = -1;
  std::vector<std::string> m_decoders;  // codecs mpv can decode, sorted
  bool m_decodersKnown = false;
  QTimer m_fileCheck;  // notices a recording that vanished while playing
  QElapsedTimer m_seekClock;
  int m_seeksUnanswered = 0;  // seek commands mpv has not replied to yet
  int m_pendingSteps = 0;     // frame steps asked during a seek (+ forward)
};

}  // namespace tachora

Q_DECLARE_METATYPE(tachora::TOpenError)
