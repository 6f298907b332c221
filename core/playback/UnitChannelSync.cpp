#include "playback/UnitChannelSync.h"

#include <algorithm>
#include <cstdlib>

namespace tachora {

TDriftStep DecideDrift(int64_t mainTicks, int64_t followerTicks, int64_t frameTicks, bool nudging,
                       bool maySeek) {
  const int64_t drift = mainTicks - followerTicks;  // > 0: the follower is behind
  const int64_t size = std::llabs(drift);
  TDriftStep step;
  if (maySeek && size > static_cast<int64_t>(TChannelSync::kSeekSeconds * kTicksPerSecond)) {
    step.Kind = TDriftStep::kSeek;
    return step;
  }
  // Hysteresis: a nudge starts beyond one frame and ends within half a
  // frame, so the follower does not hunt around the main position.
  const bool far = size > frameTicks;
  const bool close = size * 2 <= frameTicks;
  if (close) {
    if (nudging) step.Kind = TDriftStep::kSpeed;  // back to the main rate
    return step;
  }
  if (!far && !nudging) return step;
  // A drift of d seconds is taken back in about one second of playing.
  const double seconds = static_cast<double>(drift) / kTicksPerSecond;
  step.Kind = TDriftStep::kSpeed;
  step.SpeedFactor = 1 + std::clamp(seconds, -TChannelSync::kMaxNudge, TChannelSync::kMaxNudge);
  return step;
}

TChannelSync::TChannelSync(TPlayerEngine &main) : m_main(main) {}

void TChannelSync::SetFollowers(std::vector<TPlayerEngine *> followers) {
  m_followers.clear();
  for (TPlayerEngine *e : followers) m_followers.push_back({e, true, false, -1, -1});
}

void TChannelSync::SetTrip(const TFileItem &row) {
  ClearTrip();
  for (const TFileItemSubitem &rec : row.Items) {
    if (m_mainLabel.empty()) m_mainLabel = rec.Channel;
    for (const TChannelFile &c : rec.Channels)
      if (std::find(m_slots.begin(), m_slots.end(), c.Channel) == m_slots.end())
        m_slots.push_back(c.Channel);
  }
  for (const TFileItemSubitem &rec : row.Items) {
    std::vector<std::string> files(m_slots.size());
    for (const TChannelFile &c : rec.Channels) {
      const auto at = std::find(m_slots.begin(), m_slots.end(), c.Channel);
      files[static_cast<size_t>(at - m_slots.begin())] = c.Path;
    }
    m_files[rec.Path] = std::move(files);
  }
}

void TChannelSync::ClearTrip() {
  m_slots.clear();
  m_files.clear();
  m_mainLabel.clear();
  m_mainPath.clear();
}

std::string TChannelSync::FollowerPath(int slot) const {
  const auto it = m_files.find(m_mainPath);
  if (slot < 0 || it == m_files.end() || slot >= static_cast<int>(it->second.size())) return {};
  return it->second[static_cast<size_t>(slot)];
}

bool TChannelSync::Usable(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(m_followers.size())) return false;
  const TFollower &f = m_followers[static_cast<size_t>(slot)];
  return f.Engine && f.Enabled;
}

bool TChannelSync::FollowerPastEnd(int slot) const {
  if (!Usable(slot)) return false;
  const TPlayerEngine &e = *m_followers[static_cast<size_t>(slot)].Engine;
  int64_t main = 0;
  const int64_t length = e.Duration();
  return e.HasSeeking() && length > 0 && e.AtEnd() && m_main.CurrentPosition(main) && main > length;
}

void TChannelSync::SetFollowerEnabled(int slot, bool enabled) {
  if (slot < 0 || slot >= static_cast<int>(m_followers.size())) return;
  TFollower &f = m_followers[static_cast<size_t>(slot)];
  if (f.Enabled == enabled) return;
  f.Enabled = enabled;
  if (!f.Engine) return;
  if (enabled)
    CatchUp(slot);
  else
    f.Engine->Deactivate();
}

bool TChannelSync::FollowerEnabled(int slot) const {
  return Usable(slot);
}

void TChannelSync::SetFrameTicks(int64_t ticks) {
  if (ticks > 0) m_frameTicks = ticks;
}

void TChannelSync::CatchUp(int slot) {
  TFollower &f = m_followers[static_cast<size_t>(slot)];
  TPlayerEngine &e = *f.Engine;
  if (!m_main.Active()) return;
  e.Activate();
  const std::string path = FollowerPath(slot);
  if (!m_main.HasSeeking() || path.empty()) {
    e.Stop();
    return;
  }
  e.Open(path);
  f.Nudging = false;
  e.SetRate(m_rate);
  int64_t at = 0;
  if (m_main.CurrentPosition(at)) e.SeekTo(at);
  if (m_main.State() == TEngineState::kPlaying)
    e.Play();
  else
    e.Pause();
}

// ---- commands, repeated ------------------------------------------------------

void TChannelSync::Activate() {
  m_main.Activate();
  for (TFollower &f : m_followers)
    if (f.Engine && f.Enabled) f.Engine->Activate();
}

void TChannelSync::Deactivate() {
  m_main.Deactivate();
  for (TFollower &f : m_followers)
    if (f.Engine) f.Engine->Deactivate();
}

void TChannelSync::Open(const std::string &path) {
  m_main.Open(path);
  m_mainPath = path;
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i) {
    if (!Usable(i)) continue;
    TFollower &f = m_followers[static_cast<size_t>(i)];
    f.Nudging = false;
    f.DriftSeek = -1;
    const std::string file = FollowerPath(i);
    if (file.empty()) {
      f.Engine->Stop();
      continue;
    }
    f.Engine->Open(file);
    f.Engine->SetRate(m_rate);
  }
}

void TChannelSync::Play() {
  m_main.Play();
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i)
    if (Usable(i)) m_followers[static_cast<size_t>(i)].Engine->Play();
}

void TChannelSync::Pause() {
  m_main.Pause();
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i)
    if (Usable(i)) m_followers[static_cast<size_t>(i)].Engine->Pause();
}

void TChannelSync::Stop() {
  m_main.Stop();
  m_mainPath.clear();
  for (TFollower &f : m_followers)
    if (f.Engine) f.Engine->Stop();
}

void TChannelSync::SeekTo(int64_t ticks) {
  m_main.SeekTo(ticks);
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i) {
    if (!Usable(i)) continue;
    TFollower &f = m_followers[static_cast<size_t>(i)];
    if (f.Nudging) f.Engine->SetRate(m_rate);
    f.Nudging = false;
    f.DriftSeek = -1;
    f.Engine->SeekTo(ticks);
  }
}

void TChannelSync::SetRate(double rate) {
  m_main.SetRate(rate);
  if (rate > 0) m_rate = rate;
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i) {
    if (!Usable(i)) continue;
    m_followers[static_cast<size_t>(i)].Nudging = false;
    m_followers[static_cast<size_t>(i)].Engine->SetRate(m_rate);
  }
}

void TChannelSync::FrameStep(int direction) {
  m_main.FrameStep(direction);
  // Cameras of the same frame rate step together at once; Follow() puts a
  // follower of another frame rate on the main frame afterwards.
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i)
    if (Usable(i)) m_followers[static_cast<size_t>(i)].Engine->FrameStep(direction);
}

// ---- keeping in step -----------------------------------------------------------

void TChannelSync::Follow() {
  int64_t main = 0;
  if (!m_main.Active() || m_main.Busy() || !m_main.CurrentPosition(main)) return;
  for (int i = 0; i < static_cast<int>(m_followers.size()); ++i)
    if (Usable(i)) FollowOne(m_followers[static_cast<size_t>(i)], main);
}

void TChannelSync::FollowOne(TFollower &f, int64_t mainTicks) {
  TPlayerEngine &e = *f.Engine;
  int64_t at = 0;
  if (!e.Active() || !e.HasSeeking() || e.Busy() || !e.CurrentPosition(at)) return;
  // A shorter camera holds its end while the main one plays on.
  const int64_t length = e.Duration();
  if (length > 0 && mainTicks >= length && at >= length - m_frameTicks) return;
  const bool playing = m_main.State() == TEngineState::kPlaying;
  if (playing != (e.State() == TEngineState::kPlaying)) {
    if (playing)
      e.Play();
    else
      e.Pause();
  }
  if (!playing) {
    if (f.Nudging) e.SetRate(m_rate);
    f.Nudging = false;
    // Once per main position: a camera of another frame rate cannot land
    // closer than its own frame.
    if (std::llabs(mainTicks - at) * 2 > m_frameTicks && f.PausedTarget != mainTicks) {
      f.PausedTarget = mainTicks;
      e.SeekTo(mainTicks);
    }
    return;
  }
  const bool maySeek =
      f.DriftSeek < 0 ||
      std::llabs(at - f.DriftSeek) >= static_cast<int64_t>(kSeekHoldSeconds * kTicksPerSecond);
  const TDriftStep step = DecideDrift(mainTicks, at, m_frameTicks, f.Nudging, maySeek);
  switch (step.Kind) {
    case TDriftStep::kNone:
      break;
    case TDriftStep::kSpeed:
      f.Nudging = step.SpeedFactor != 1;
      e.SetRate(m_rate * step.SpeedFactor);
      break;
    case TDriftStep::kSeek:
      if (f.Nudging) e.SetRate(m_rate);
      f.Nudging = false;
      f.DriftSeek = mainTicks;
      e.SeekTo(mainTicks);
      break;
  }
}

}  // namespace tachora
