// What the playback tick hands to the panels that follow the video: the
// trip position and the telemetry state at it. The controller calls its
// listeners in a fixed order (seek bar, graphs, instruments, details, map),
// once per tick of the timer and once directly after seeks, drags, steps
// and layout changes.
//
// Units: positions are trip fractions (0 = trip start, 1 = trip end).
// Threads: UI thread only; a listener must not block (a tick has a few
// milliseconds). The state and the pointers in it live for the call only.
#pragma once

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

struct TFileItem;

// Where a listener sits in the tick's order; equal ranks keep the order in
// which they were added.
enum class TTickRank : int { kSeekBar = 0, kGraphs = 1, kInstruments = 2, kDetails = 3, kMap = 4 };

struct TTickState {
  long double Position = 0;  // trip position, [0, 1]
  bool FromSender = false;   // a control caused the tick (not the timer)
  bool Playing = false;      // the Play button is down
  bool FullScreen = false;
  // The recording at the position (-1 without a trip), the position as a
  // fraction of its telemetry's span, and the telemetry state there (all
  // zero, HasSample false, when the position lies outside every telemetry).
  int Recording = -1;
  long double TelemetryFraction = 0;
  const TFileItem *Row = nullptr;
  const TMovingInfo *Track = nullptr;
  TMovingState State;
  bool HasSample = false;  // State.Gps has a time
  // False while a window over the panels is active (About, details, ...):
  // then only the seek bar, graphs and details are called, in full screen.
  bool UpdatePanels = true;
};

class ITickListener {
 public:
  virtual ~ITickListener() = default;
  virtual void PlaybackTick(const TTickState &state) = 0;
  // Playback stopped and the trip was forgotten: clear cursors and markers.
  virtual void PlaybackReset() {}
};

}  // namespace tachora
