// The player engine as the trip time line sees it: one recording at a time,
// opened, played, paused, stopped, positioned and stepped. The desktop
// program implements it over libmpv (TFilterGraph); tests implement it with a
// fake that needs no media library.
//
// Units: positions and durations are 100-ns ticks from the start of the
// loaded recording (10 000 000 a second); a rate is a factor of normal speed.
//
// Threads: the time line calls every method on one thread (the UI thread in
// the program). An engine may open files asynchronously: until the file is
// loaded, Duration() is 0 and CurrentPosition() fails, and a SeekTo() is kept
// and applied once the file is loaded.
#pragma once

#include <cstdint>
#include <string>

namespace tachora {

constexpr int64_t kTicksPerSecond = 10000000;

// The engine's state as the playback loop uses it.
enum class TEngineState : int {
  kNotCreated = 0,
  kStopped = 1,
  kPaused = 2,
  kPlaying = 3,
};

class TPlayerEngine {
 public:
  virtual ~TPlayerEngine() = default;

  // Makes the engine ready to open recordings (the first Play of a trip) and
  // releases it again (Stop, a renderer switch, the end of the program).
  virtual void Activate() = 0;
  virtual void Deactivate() = 0;
  virtual bool Active() const = 0;

  // Replaces the loaded recording. Failures (no demuxer, a track without a
  // decoder, a missing file) are reported by the engine to its owner, not
  // here; the time line carries on as with a recording that did not play.
  virtual void Open(const std::string &path) = 0;
  // A recording is loaded or loading: positions can be read and set.
  virtual bool HasSeeking() const = 0;

  virtual void Play() = 0;
  virtual void Pause() = 0;
  // Unloads the recording; the engine stays active.
  virtual void Stop() = 0;
  // The state last asked for (the end of a recording does not change it).
  virtual TEngineState State() const = 0;

  // 0 when not known (yet).
  virtual int64_t Duration() const = 0;
  // False when the position cannot be read.
  virtual bool CurrentPosition(int64_t &ticks) const = 0;
  // The recording has played to its end (and holds its last frame).
  virtual bool AtEnd() const = 0;
  virtual void SeekTo(int64_t ticks) = 0;

  virtual void SetRate(double rate) = 0;
  // True for an engine whose position, after a seek, runs `rate` times as
  // fast as the media while a rate other than 1 is set; the time line then
  // scales it back. Engines that report the media's own position say false.
  virtual bool ReportsScaledPosition() const { return false; }

  // One frame forward (+1) or back (-1); only while paused.
  virtual void FrameStep(int direction) = 0;
  // Makes a paused engine show the frame at its position after a seek that
  // followed a frame step (some engines keep the stepped frame otherwise).
  virtual void RefreshPicture() {}
  // A load or a seek is under way: the position read is the one asked for,
  // not yet the picture shown.
  virtual bool Busy() const { return false; }
};

}  // namespace tachora
