// A player engine without media: every recording opens at once with the
// duration given for its path, and the test moves the clock by hand.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "playback/UnitPlayerEngine.h"

namespace tachora::test {

class TFakeEngine : public TPlayerEngine {
 public:
  std::map<std::string, int64_t> Durations;  // ticks; a path missing here fails to open
  bool Scaled = false;        // reports positions the way ReportsScaledPosition() describes
  bool DurationKnown = true;  // false: like an engine still opening the file

  std::vector<std::string> Opened;
  std::vector<int64_t> Seeks;
  int Steps = 0, Refreshes = 0;

  void Activate() override { m_active = true, m_state = TEngineState::kStopped; }
  void Deactivate() override { m_active = false, m_state = TEngineState::kNotCreated; }
  bool Active() const override { return m_active; }
  void Open(const std::string &path) override {
    Opened.push_back(path);
    auto it = Durations.find(path);
    m_open = it != Durations.end();
    m_duration = m_open ? it->second : 0;
    m_pos = m_anchor = 0;
  }
  bool HasSeeking() const override { return m_open; }
  void Play() override { m_state = TEngineState::kPlaying; }
  void Pause() override { m_state = TEngineState::kPaused; }
  void Stop() override {
    m_open = false;
    if (m_active) m_state = TEngineState::kStopped;
  }
  TEngineState State() const override { return m_state; }
  int64_t Duration() const override { return m_open && DurationKnown ? m_duration : 0; }
  bool CurrentPosition(int64_t &ticks) const override {
    if (!m_open) return false;
    ticks = Scaled ? m_anchor + static_cast<int64_t>((m_pos - m_anchor) * m_rate) : m_pos;
    return true;
  }
  bool AtEnd() const override { return m_open && m_pos >= m_duration; }
  void SeekTo(int64_t ticks) override {
    Seeks.push_back(ticks);
    m_pos = m_anchor = std::clamp<int64_t>(ticks, 0, m_duration);
  }
  void SetRate(double rate) override { m_rate = rate; }
  bool ReportsScaledPosition() const override { return Scaled; }
  void FrameStep(int direction) override {
    Steps += direction;
    m_pos = std::clamp<int64_t>(m_pos + direction * kTicksPerSecond / 25, 0, m_duration);
  }
  void RefreshPicture() override { ++Refreshes; }

  // Plays `seconds` of wall time (media time at the rate set).
  void Run(double seconds) {
    if (m_open && m_state == TEngineState::kPlaying)
      m_pos =
          std::min(m_duration, m_pos + static_cast<int64_t>(seconds * m_rate * kTicksPerSecond));
  }
  int64_t MediaPosition() const { return m_pos; }
  double Rate() const { return m_rate; }

 private:
  bool m_active = false, m_open = false;
  TEngineState m_state = TEngineState::kNotCreated;
  int64_t m_duration = 0, m_pos = 0, m_anchor = 0;
  double m_rate = 1;
};

}  // namespace tachora::test
