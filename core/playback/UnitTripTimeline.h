// The trip time line: one catalogue row (a recording or a trip of several)
// played as one continuous line from 0 (start of its first recording) to 1
// (end of its last), gaps between recordings included. It turns the engine's
// position in the loaded recording into a trip position and back, opens the
// recording that holds a position, moves on to the next recording when one
// ends, and keeps the A-B selection, the loop, the play rate, the jump rule
// and the visible part (view) of the line.
//
// Units: trip positions are long double fractions of the row's span; the
// row's times are TDateTime days; engine times are 100-ns ticks; the clock
// given to Jump() is seconds of any monotonic clock.
//
// Ownership: the time line keeps its own copy of the row and uses the engine
// and the listener it was given; both must outlive it. Threads: one thread
// (the UI thread) calls everything; nothing here blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/UnitFileItems.h"
#include "playback/UnitPlayerEngine.h"

namespace tachora {

// What the time line tells its owner. Every method has an empty default.
class TTimelineListener {
 public:
  virtual ~TTimelineListener() = default;
  // A seek asked for an immediate refresh (the controller's tick "from a
  // sender": panels, seek bar, graphs).
  virtual void TimelineRefresh() {}
  // A seek happened: the map follows the vehicle again.
  virtual void TimelineSeeked() {}
  // A recording was (re)loaded; `playing` is the Play button's new state.
  virtual void TimelineRecordingLoaded(int index, bool playing) {
    (void)index;
    (void)playing;
  }
  // The engine gave the duration of a recording the container could not:
  // store it in the catalogue and redo the layout.
  virtual void TimelineDurationLearned(int index, int64_t ms) {
    (void)index;
    (void)ms;
  }
  // The view moved to keep the position in sight: redo the layout.
  virtual void TimelineViewChanged() {}
};

// A trip position as a fraction of one recording's span (or its
// telemetry's); Inside says whether it lies in [0, 1].
struct TSpanFraction {
  long double Value = 0;
  bool Inside = false;
};

// The visible part of the time line (the seek bar's and the graphs' view).
struct TTimeView {
  long double Start = 0, End = 1;
  long double Width() const { return End - Start; }
  bool operator==(const TTimeView &) const = default;
};

// Steps 1-3 of normalising a view: ends in order, at least half a second
// wide (for a trip of `tripDays`), inside [0, 1].
TTimeView NormaliseView(TTimeView view, double tripDays);

// Play speed buttons: tags -3, -1, 0, 1, 3 give 1/4, 1/2, 1, 2, 4.
double RateOfTag(int tag);

struct TJumpOptions {
  bool Forward = true;
  // A telemetry sample is shown and full screen is off: a second jump within
  // 1.2 s is held back. Otherwise jumps 0.1 s apart both move.
  bool HoldBack = true;
  // Mouse-wheel jumps are never held back.
  bool FromWheel = false;
};

class TTripTimeline {
 public:
  static constexpr double kJumpSeconds = 8.312;
  static constexpr double kJumpHoldSeconds = 1.2;    // after a jump with a sample shown
  static constexpr double kJumpRepeatSeconds = 0.1;  // after any other (a held key)

  TTripTimeline(TPlayerEngine &engine, TTimelineListener &listener);

  // ---- the trip --------------------------------------------------------
  // Takes a copy of the row; the engine is not touched (it stays inactive
  // until Play) and the position is 0.
  void LoadTrip(const TFileItem &row);
  bool Loaded() const { return m_loaded; }
  const TFileItem &Row() const { return m_row; }
  int Count() const { return static_cast<int>(m_row.Items.size()); }
  // The row's start is before its end: position <-> time operations work.
  bool HasTimeLine() const;
  int CurrentIndex() const { return m_current; }

  // ---- positions -------------------------------------------------------
  // The trip position now; also stored as LastReported().
  long double Position();
  long double LastReported() const { return m_lastReported; }
  long double LastSeek() const { return m_lastSeek; }
  // Moves to a trip position (ignored outside [0, 1] or without a trip). A
  // position in a gap snaps forward to the next recording's start.
  void Seek(long double position, bool refresh = false, bool forceLoad = false);
  // The first recording holding x (see the .cpp for the rule at seams).
  int RecordingAt(long double x) const;

  // ---- controls --------------------------------------------------------
  // Play button pressed (down = true) or raised. The first press activates
  // the engine and loads the recording at the last position.
  void SetPlay(bool down);
  bool PlayDown() const { return m_playDown; }
  // Stop button: stops the engine and forgets the trip and its state.
  void Stop();
  // The engine was replaced (a renderer switch): opens the recording at
  // `position` again, playing or paused as the Play button was.
  void ReopenAt(long double position);
  void SetRate(double rate);
  double Rate() const { return m_rate; }
  void NextFrame();
  void BackFrames();
  // Jump back or forward by about 8 s of the current recording. `now` is a
  // monotonic clock in seconds. Returns whether it moved.
  bool Jump(const TJumpOptions &options, double now);

  // ---- selection and loop ----------------------------------------------
  void SetA();
  void SetB();
  long double A() const { return m_a; }
  long double B() const { return m_b; }
  bool HasSelection() const { return m_a < m_b; }
  // Returns false (and leaves the loop off) when there is no selection to
  // loop: the caller tells the user to set A and B first.
  bool SetLoop(bool on);
  bool Loop() const { return m_loop; }

  // ---- the seek bar's drag ---------------------------------------------
  void Drag(long double position);
  bool Dragging() const { return m_dragging; }

  // ---- view ------------------------------------------------------------
  const TTimeView &View() const { return m_view; }
  void SetView(TTimeView view);

  // The playback tick's decisions: reads the position; from a sender while
  // playing, loops back to A past B, else keeps the position in view.
  // Returns the position (negative without a trip).
  long double Tick(bool fromSender);

  // ---- conversions -----------------------------------------------------
  // Trip position of fraction f of recording i (of its telemetry), and
  // back (0 and outside for an empty span).
  long double FromRecording(int i, long double f) const;
  TSpanFraction ToRecording(int i, long double x) const;
  long double FromTelemetry(int i, long double f) const;
  TSpanFraction ToTelemetry(int i, long double x) const;
  // Milliseconds from the trip start (0 without a trip), the date-time at x.
  int64_t MsFromStart(long double x) const;
  TDateTime DateTimeAt(long double x) const;
  // "[2] FILE0002.MOV" for a trip of several, "FILE0002.MOV" for one.
  std::string Caption(long double x) const;

 private:
  void LoadRecording(int i, bool force);
  void KeepInView(long double p);
  void LearnDuration();
  int64_t DurationTicks(int i) const;
  bool EngineRunning() const;
  void ResetState();

  TPlayerEngine &m_engine;
  TTimelineListener &m_listener;
  TFileItem m_row;
  bool m_loaded = false;
  int m_current = -1;
  long double m_lastSeek = 0, m_lastReported = 0;
  bool m_dragging = false;
  long double m_dragPosition = 0;
  TTimeView m_view;
  long double m_a = 0, m_b = 0;
  bool m_loop = false;
  bool m_stepRefresh = false;
  std::optional<double> m_jumpTime;  // of the last jump, with the hold it set
  double m_jumpHold = 0;
  double m_rate = 1;
  bool m_playDown = false;
};

}  // namespace tachora
