// The player's part of the main window: the playback loop on the UI thread.
// It loads the trip of a prepared row (Open, double click, Enter, files
// opened from the command line, the dialog or a drop) into the trip time
// line, drives the engine (TFilterGraph) through it, and binds the playback
// commands: Play/Pause, Stop and its reset, the speed buttons, jumps, frame
// steps, A-B selection and Loop A-B, the time line's zoom and the seek bar,
// the renderer choice, the video zoom and full screen (TVideoView). A timer
// ticks while Play is down, at the "Panels Refresh" interval; every tick
// calls the tick listeners in their rank order (UnitTickListener.h).
//
// It is also the IPlayerAccess of the cutting dialog and the captures.
//
// Errors of opening are shown as the engine reports them, one message
// each; a recording that vanishes while playing stops the player.
//
// UI thread only; the widgets belong to the window, the engine, the surface
// and the full-screen window to this object.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "playback/UnitChannelSync.h"
#include "playback/UnitFilterGraph.h"
#include "playback/UnitPlayerAccess.h"
#include "playback/UnitTickListener.h"
#include "playback/UnitTripTimeline.h"

class QAction;

namespace tachora {

class TChannelView;
class TCommands;
class TMainMenu;
class TMyImage;
class TPowerManagement;
class TSeekBitmap;
class TVideoView;

// The renderer menu's items, in TRenderer order.
extern const char *const kRendererItemNames[3];

class TPlaybackController : public QObject,
                            public ITranslatable,
                            public IPlayerAccess,
                            private TTimelineListener {
  Q_OBJECT
 public:
  // Tick intervals of "Panels Refresh": Slow, Normal, Fast.
  static constexpr int kTickSlowMs = 1000, kTickNormalMs = 300, kTickFastMs = 100;
  // How long a snapshot from mpv may take before the shown picture is used.
  static constexpr int kSnapshotWaitMs = 3000;

  TPlaybackController(QObject *parent, const TPlaybackPanel &panel, TCommands &commands);
  ~TPlaybackController() override;

  void Translate() override;

  // The row the list handed over last; null before the first and after Stop.
  std::shared_ptr<const TRowTelemetry> Row() const { return row_; }

  // Listeners are called in rank order; the seek bar is the first.
  void AddTickListener(ITickListener *listener, TTickRank rank);
  void RemoveTickListener(ITickListener *listener);

  // ---- IPlayerAccess -------------------------------------------------------
  std::shared_ptr<const TRowTelemetry> Trip() const override { return row_; }
  bool IsActive() const override;
  long double Position() override;
  long double SelectionA() const override { return timeline_.A(); }
  long double SelectionB() const override { return timeline_.B(); }
  QImage Snapshot() override;
  void RequestSnapshot(std::function<void(const QImage &)> done) override;
  QWidget *VideoWidget() const override;
  void LeaveFullScreen() override { SetFullScreen(false); }
  void Pause() override;
  void Stop() override;

  // ---- the loop ------------------------------------------------------------
  void SetPlay(bool down);
  void TogglePlay();
  bool Playing() const { return timeline_.PlayDown(); }
  void Seek(long double position);
  void SetSpeedTag(int tag);
  double Rate() const { return timeline_.Rate(); }
  void Jump(bool forward, bool fromWheel = false);
  // Next/Previous Event: 3 seconds before the next (previous) G-force event.
  void JumpToEvent(bool forward);
  // The trip's events again, at the sensitivity now checked.
  void RefreshEvents();
  void NextFrame();
  void BackFrames();
  void SetA();
  void SetB();
  void SetLoop(bool on);
  bool Loop() const;
  void TimeZoom(bool zoomIn, long double factor = 2);
  // One tick: from a sender (a control) or a plain redraw.
  void Tick(bool fromSender);
  int TickInterval() const { return timer_.interval(); }
  bool TimerRunning() const { return timer_.isActive(); }
  int TickCount() const { return ticks_; }
  // Whether the tick leaves the panels alone while `activeWindow` is active:
  // the full-screen window, About, the update window, the details, the GPS
  // log converter and the grouping dialog (found by their object names).
  static bool CoversPanels(const QWidget *activeWindow);

  // ---- renderer, zoom, full screen -------------------------------------------
  void SwitchRenderer(TRenderer renderer);
  TRenderer Renderer() const { return graph_->Renderer(); }
  void SetFullScreen(bool on);
  bool FullScreen() const;
  // Stops playback and releases the engine (the window closes).
  void Shutdown();

  TFilterGraph *Graph() const { return graph_; }
  TTripTimeline &Timeline() { return timeline_; }
  TSeekBitmap *SeekBar() const { return seek_; }
  TVideoView *Video() const { return video_; }
  // The other cameras of the trip (pictures, layout, followers).
  TChannelView *Channels() const { return channels_; }

  // Messages go through this (tests collect them); the default shows a
  // warning box that does not block the loop (it is window-modal).
  std::function<void(const QString &text)> Warn;

 public slots:
  // A prepared row to play (the list's OpenRequested).
  void OpenRow(std::shared_ptr<const tachora::TRowTelemetry> row);
  // A clicked row (the list's ShowRequested): loaded paused on its first
  // frame, with its track on the map; nothing changes when it is the trip
  // open already.
  void ShowRow(std::shared_ptr<const tachora::TRowTelemetry> row);

 signals:
  void RowOpened();
  void Stopped();
  // The engine learned a recording's duration that its container lacked.
  void DurationLearned(const QString &path, qint64 ms);
  void CloseRequested();

 private:
  // TTimelineListener
  void TimelineRefresh() override { Tick(true); }
  void TimelineRecordingLoaded(int index, bool playing) override;
  void TimelineDurationLearned(int index, int64_t ms) override;
  void TimelineViewChanged() override;

  void BindCommands();
  void BindZoomCommands();
  void BindCameraCommands();
  // Stops and releases the main player and the other cameras' players.
  void ReleaseEngines();
  void WireSeekBar();
  void UpdateControls();
  void UpdateCaption();
  void UpdateZoomMenu();
  void SyncScrollBar();
  void ApplyTickInterval();
  void ProbeRenderer();
  TRenderer CheckedRenderer() const;
  QAction *Item(const char *name) const;
  void SyncSelection();
  // Loads the trip of `row` in place of the open one, playing or paused.
  void LoadRow(std::shared_ptr<const TRowTelemetry> row, bool play);
  bool IsOpen(const TRowTelemetry &row) const;
  void ReopenWhenSurfaceReady(long double position, int triesLeft);
  // mpv drawing into native windows: stopped before such a window is
  // destroyed, reopened at the same place once the new one exists.
  void WatchNativeSurface();
  void NativeWindowGoing();
  void NativeWindowBack();
  void OnOpenError(const QString &path, TOpenError error);
  bool eventFilter(QObject *watched, QEvent *event) override;

  TPlaybackPanel panel_;
  TCommands &commands_;
  TMainMenu *menu_;
  TFilterGraph *graph_;
  // The engine the time line drives: the main player, repeated to the
  // other cameras' players.
  TChannelSync engine_;
  TTripTimeline timeline_;
  TPowerManagement *power_;
  TMyImage *seekImage_ = nullptr;
  TSeekBitmap *seek_ = nullptr;
  std::unique_ptr<ITickListener> seekListener_;
  TVideoView *video_ = nullptr;
  TChannelView *channels_ = nullptr;
  std::vector<std::pair<TTickRank, ITickListener *>> listeners_;
  std::shared_ptr<const TRowTelemetry> row_;
  QTimer timer_;
  QElapsedTimer clock_;
  int ticks_ = 0;
  bool syncingView_ = false;
  bool lastSample_ = false;  // the last tick showed a telemetry sample
  bool shutDown_ = false;
  std::optional<long double> nativeReopen_;  // the place to reopen at
};

}  // namespace tachora
