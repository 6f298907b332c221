// The cameras of one moment played together: the recording's main file in
// the main engine, each other camera (channel) in an engine of its own, a
// follower. TChannelSync is the engine the trip time line drives: every
// command goes to the main engine and is repeated to the followers (the
// channel file of the same recording is opened when the main one is, at
// the joints between recordings too), and Follow() keeps the followers on
// the main engine's clock while they play.
//
// Keeping in step: the main engine's position leads. A paused follower more
// than half a frame away is moved to the main position (after frame steps,
// seeks and pauses). A playing follower more than a frame away is nudged by
// playing it a little faster or slower until it is within half a frame; a
// seek would stall its picture while it decodes from the previous key frame
// and come out behind again, while a few per cent of speed for a second is
// not seen. Only a follower further off than kSeekSeconds (one that started
// before the main player showed its first frame, a stall) is moved by a
// seek, and then not again before kSeekHoldSeconds of playing, so that a
// machine too slow to seek in time never seeks in a loop.
// Units: TPlayerEngine's 100-ns ticks; rates as factors. A follower is
// expected to start at the main file's start (the cameras of one moment
// start together); a follower that is shorter holds its end.
//
// Ownership: the main engine and the followers belong to the caller and
// must outlive this object (or be taken away with SetFollowers({})).
// Threads: one thread calls everything.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalogue/UnitFileItems.h"
#include "playback/UnitPlayerEngine.h"

namespace tachora {

// What Follow() does to one playing follower.
struct TDriftStep {
  enum TKind { kNone, kSpeed, kSeek } Kind = kNone;
  // kSpeed: the follower's rate is the main rate times this (1 ends a nudge).
  double SpeedFactor = 1;
};

// The decision for a playing follower whose position is `followerTicks`
// while the main engine is at `mainTicks`; `frameTicks` is one frame of the
// main recording, `nudging` whether a speed nudge is on, `maySeek` whether
// a far drift may be taken back by a seek (else by the largest nudge).
TDriftStep DecideDrift(int64_t mainTicks, int64_t followerTicks, int64_t frameTicks, bool nudging,
                       bool maySeek = true);

class TChannelSync : public TPlayerEngine {
 public:
  // Drift beyond which a playing follower is moved by a seek, and the media
  // time it plays before another such seek.
  static constexpr double kSeekSeconds = 0.25;
  static constexpr double kSeekHoldSeconds = 2.0;
  // The largest speed nudge (fraction of the rate).
  static constexpr double kMaxNudge = 0.25;

  explicit TChannelSync(TPlayerEngine &main);

  // One engine per channel slot (see Slots()); null entries are allowed.
  void SetFollowers(std::vector<TPlayerEngine *> followers);
  // The trip's channels: the slots are the labels of the other cameras of
  // every recording, in channel order; each recording's files by slot.
  void SetTrip(const TFileItem &row);
  void ClearTrip();
  const std::vector<std::string> &Slots() const { return m_slots; }
  // The main files' label ("F"), empty for one-camera recordings.
  const std::string &MainLabel() const { return m_mainLabel; }
  // The file of `slot` for the recording open in the main engine (empty:
  // this recording has no such camera).
  std::string FollowerPath(int slot) const;
  // A follower's recording has ended while the main one plays on.
  bool FollowerPastEnd(int slot) const;
  // A follower that is not shown may be switched off: it is released, and
  // set to the main engine's file, position, rate and state when switched
  // on again.
  void SetFollowerEnabled(int slot, bool enabled);
  bool FollowerEnabled(int slot) const;
  // One frame of the main recording (ticks; 1/25 s until set).
  void SetFrameTicks(int64_t ticks);
  int64_t FrameTicks() const { return m_frameTicks; }

  // Keeps the followers in step; call it often (every 100 ms or so).
  void Follow();

  // ---- TPlayerEngine: the main engine's, repeated to the followers ---------
  void Activate() override;
  void Deactivate() override;
  bool Active() const override { return m_main.Active(); }
  void Open(const std::string &path) override;
  bool HasSeeking() const override { return m_main.HasSeeking(); }
  void Play() override;
  void Pause() override;
  void Stop() override;
  TEngineState State() const override { return m_main.State(); }
  int64_t Duration() const override { return m_main.Duration(); }
  bool CurrentPosition(int64_t &ticks) const override { return m_main.CurrentPosition(ticks); }
  bool AtEnd() const override { return m_main.AtEnd(); }
  void SeekTo(int64_t ticks) override;
  void SetRate(double rate) override;
  bool ReportsScaledPosition() const override { return m_main.ReportsScaledPosition(); }
  void FrameStep(int direction) override;
  void RefreshPicture() override { m_main.RefreshPicture(); }
  bool Busy() const override { return m_main.Busy(); }

 private:
  struct TFollower {
    TPlayerEngine *Engine = nullptr;
    bool Enabled = true;
    bool Nudging = false;
    int64_t PausedTarget = -1;  // the last seek made to line up a paused follower
    int64_t DriftSeek = -1;     // where the last seek against drift went
  };
  bool Usable(int slot) const;
  // Brings one follower to the main engine's file, rate, position and state.
  void CatchUp(int slot);
  void FollowOne(TFollower &f, int64_t mainTicks);

  TPlayerEngine &m_main;
  std::vector<TFollower> m_followers;
  std::vector<std::string> m_slots;
  std::string m_mainLabel;
  std::map<std::string, std::vector<std::string>> m_files;  // main path -> file by slot
  std::string m_mainPath;
  double m_rate = 1;
  int64_t m_frameTicks = kTicksPerSecond / 25;
};

}  // namespace tachora
