// The trip time line's work in one playback tick: reading the position from
// the engine, the loop and view decisions, the recording and caption at the
// position, over trips of 1 to 1000 one-minute recordings. The engine is a
// stand-in that answers at once, so only the time line's own cost shows.
#include <benchmark/benchmark.h>

#include "playback/UnitTripTimeline.h"

using namespace tachora;

namespace {

// Plays as fast as it is asked: every position query moves 40 ms on.
class TInstantEngine : public TPlayerEngine {
 public:
  void Activate() override { m_state = TEngineState::kStopped; }
  void Deactivate() override { m_state = TEngineState::kNotCreated; }
  bool Active() const override { return m_state != TEngineState::kNotCreated; }
  void Open(const std::string &) override { m_pos = 0; }
  bool HasSeeking() const override { return true; }
  void Play() override { m_state = TEngineState::kPlaying; }
  void Pause() override { m_state = TEngineState::kPaused; }
  void Stop() override { m_state = TEngineState::kStopped; }
  TEngineState State() const override { return m_state; }
  int64_t Duration() const override { return 60 * kTicksPerSecond; }
  bool CurrentPosition(int64_t &ticks) const override {
    m_pos = (m_pos + kTicksPerSecond / 25) % (60 * kTicksPerSecond - kTicksPerSecond);
    ticks = m_pos;
    return true;
  }
  bool AtEnd() const override { return false; }
  void SeekTo(int64_t ticks) override { m_pos = ticks; }
  void SetRate(double) override {}
  void FrameStep(int) override {}

 private:
  TEngineState m_state = TEngineState::kNotCreated;
  mutable int64_t m_pos = 0;
};

TFileItem Trip(int n) {
  TFileItem row;
  const TDateTime t0 = EncodeDate(2024, 5, 1);
  row.Summary.Start = t0;
  row.Summary.End = t0 + n * 60 / kSecPerDay;
  for (int i = 0; i < n; ++i) {
    TFileItemSubitem r;
    r.Path = "/card/DCIM/100MEDIA/FILE" + std::to_string(1000 + i) + ".MOV";
    r.Duration = 60000;
    r.DurationSource = kDurContainer;
    r.RelStart = static_cast<long double>(i) / n;
    r.RelEnd = static_cast<long double>(i + 1) / n;
    row.Items.push_back(r);
  }
  return row;
}

void BM_Tick(benchmark::State &state) {
  TInstantEngine engine;
  TTimelineListener listener;
  TTripTimeline line(engine, listener);
  const int n = static_cast<int>(state.range(0));
  line.LoadTrip(Trip(n));
  line.SetPlay(true);
  line.Seek(0.5L);  // the middle recording of the trip
  line.SetView({0.4L, 0.6L});
  for (auto _ : state) {
    const long double p = line.Tick(true);
    benchmark::DoNotOptimize(line.RecordingAt(p));
    benchmark::DoNotOptimize(line.MsFromStart(p));
    benchmark::DoNotOptimize(line.Caption(p));
  }
}
BENCHMARK(BM_Tick)->Arg(1)->Arg(30)->Arg(1000);

// A seek across the trip, loading another recording each time.
void BM_SeekAcross(benchmark::State &state) {
  TInstantEngine engine;
  TTimelineListener listener;
  TTripTimeline line(engine, listener);
  line.LoadTrip(Trip(static_cast<int>(state.range(0))));
  line.SetPlay(true);
  long double x = 0;
  for (auto _ : state) {
    x += 0.37L;
    if (x > 1) x -= 1;
    line.Seek(x);
  }
}
BENCHMARK(BM_SeekAcross)->Arg(30)->Arg(1000);

}  // namespace
