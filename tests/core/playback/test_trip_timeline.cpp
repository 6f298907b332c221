// The trip time line driven against a fake engine: switching between
// recordings, gaps, the end of the trip, rates, A-B and its loop, the jump
// rule, and what the engine learns about durations.
#include <gtest/gtest.h>

#include "FakeEngine.h"
#include "playback/UnitTripTimeline.h"

namespace tachora {
namespace {

using test::TFakeEngine;

constexpr int64_t kSec = kTicksPerSecond;

struct TRecorder : TTimelineListener {
  int refreshes = 0, viewChanges = 0;
  std::vector<std::pair<int, bool>> loads;
  std::vector<std::pair<int, int64_t>> learned;
  void TimelineRefresh() override { ++refreshes; }
  void TimelineRecordingLoaded(int index, bool playing) override {
    loads.emplace_back(index, playing);
  }
  void TimelineDurationLearned(int index, int64_t ms) override { learned.emplace_back(index, ms); }
  void TimelineViewChanged() override { ++viewChanges; }
};

// A row of recordings given as (start, length) in seconds from the trip start.
TFileItem MakeTrip(const std::vector<std::pair<double, double>> &clips) {
  TFileItem row;
  const TDateTime t0 = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  const double total = clips.back().first + clips.back().second;
  row.Summary.Start = t0;
  row.Summary.End = t0 + total / kSecPerDay;
  for (size_t i = 0; i < clips.size(); ++i) {
    TFileItemSubitem r;
    r.Path = "/card/DCIM/FILE000" + std::to_string(i + 1) + ".MOV";
    r.Duration = static_cast<int64_t>(clips[i].second * 1000);
    r.DurationSource = kDurContainer;
    r.Start = t0 + clips[i].first / kSecPerDay;
    r.End = r.Start + clips[i].second / kSecPerDay;
    r.RelStart = clips[i].first / total;
    r.RelEnd = (clips[i].first + clips[i].second) / total;
    row.Items.push_back(r);
  }
  return row;
}

struct TripFixture : ::testing::Test {
  TFakeEngine engine;
  TRecorder listener;
  TTripTimeline line{engine, listener};

  // Loads the row, gives every recording to the engine and presses Play.
  void Start(const TFileItem &row, bool play = true) {
    for (const auto &r : row.Items) engine.Durations[r.Path] = r.Duration * 10000;
    line.LoadTrip(row);
    line.SetPlay(play);
  }
};

// 40 s, a 20 s stop, 40 s: the recordings lie on [0, 0.4] and [0.6, 1].
TFileItem GapTrip() {
  return MakeTrip({{0, 40}, {60, 40}});
}

TEST_F(TripFixture, PlayOpensTheFirstRecordingAndReadsPositions) {
  line.LoadTrip(GapTrip());
  EXPECT_FALSE(engine.Active());  // nothing opens before Play
  EXPECT_DOUBLE_EQ(static_cast<double>(line.Position()), 0);
  Start(GapTrip());
  ASSERT_EQ(engine.Opened.size(), 1u);
  EXPECT_EQ(engine.State(), TEngineState::kPlaying);
  EXPECT_TRUE(line.PlayDown());
  engine.Run(10);
  EXPECT_NEAR(static_cast<double>(line.Position()), 0.1, 1e-9);
  line.SetPlay(false);
  EXPECT_EQ(engine.State(), TEngineState::kPaused);
  engine.Run(10);
  EXPECT_NEAR(static_cast<double>(line.Position()), 0.1, 1e-9);
  EXPECT_EQ(engine.Opened.size(), 1u);  // pausing and playing again keeps the file
  line.SetPlay(true);
  EXPECT_EQ(engine.Opened.size(), 1u);
}

TEST_F(TripFixture, SeekIntoGapStartsNextRecordingAtItsStart) {
  Start(GapTrip());
  line.Seek(0.5L);
  EXPECT_EQ(line.CurrentIndex(), 1);
  EXPECT_EQ(engine.Opened.back(), GapTrip().Items[1].Path);
  EXPECT_EQ(engine.Seeks.back(), 0);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.LastSeek()), 0.6);
  EXPECT_EQ(engine.State(), TEngineState::kPlaying);
  // Back into the first recording, at the place asked.
  line.Seek(0.2L, true);
  EXPECT_EQ(line.CurrentIndex(), 0);
  EXPECT_EQ(engine.Seeks.back(), 20 * kSec);
  EXPECT_EQ(listener.refreshes, 1);
  // Outside the line: ignored.
  const size_t seeks = engine.Seeks.size();
  line.Seek(1.5L);
  line.Seek(-0.1L);
  EXPECT_EQ(engine.Seeks.size(), seeks);
}

TEST_F(TripFixture, EndOfRecordingContinuesWithNextAndLastStaysAtEnd) {
  Start(GapTrip());
  line.Seek(0.35L);
  engine.Run(10);  // past the end of the first: the engine holds its last frame
  EXPECT_DOUBLE_EQ(static_cast<double>(line.Position()), 0.6);
  EXPECT_EQ(line.CurrentIndex(), 1);
  EXPECT_EQ(engine.State(), TEngineState::kPlaying);
  EXPECT_EQ(listener.loads.back(), std::make_pair(1, true));
  engine.Run(20);
  EXPECT_NEAR(static_cast<double>(line.Position()), 0.8, 1e-9);
  engine.Run(100);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.Position()), 1.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.Position()), 1.0);  // no wrap
  EXPECT_EQ(line.CurrentIndex(), 1);
  EXPECT_EQ(engine.Opened.size(), 2u);
}

TEST_F(TripFixture, PausedSwitchStaysPausedAndTouchingClipsSwitchAtTheSeam) {
  Start(MakeTrip({{0, 30}, {30, 30}, {60, 30}}), false);
  EXPECT_EQ(engine.State(), TEngineState::kPaused);
  EXPECT_EQ(line.RecordingAt(1.0L / 3), 1);
  EXPECT_EQ(line.RecordingAt(1.0L), 2);
  line.Seek(2.0L / 3);
  EXPECT_EQ(line.CurrentIndex(), 2);
  EXPECT_EQ(engine.State(), TEngineState::kPaused);
  EXPECT_FALSE(line.PlayDown());
  EXPECT_EQ(line.Caption(0.5L), "[2] FILE0002.MOV");
  EXPECT_EQ(line.MsFromStart(0.5L), 45000);
}

TEST_F(TripFixture, RateCorrectionOnlyForEnginesThatScaleTheirPosition) {
  // An engine reporting the media's own position: the line follows it.
  Start(MakeTrip({{0, 100}}));
  line.Seek(0.5L);
  line.SetRate(2);
  EXPECT_EQ(engine.Rate(), 2);
  engine.Run(5);  // 10 s of media
  EXPECT_NEAR(static_cast<double>(line.Position()), 0.6, 1e-9);

  // An engine whose position runs `rate` times too fast from the last seek:
  // the line reports half the engine's own advance at rate 2.
  TFakeEngine scaled;
  scaled.Scaled = true;
  TTripTimeline other(scaled, listener);
  const TFileItem row = MakeTrip({{0, 100}});
  scaled.Durations[row.Items[0].Path] = 100 * kSec;
  other.LoadTrip(row);
  other.SetPlay(true);
  other.Seek(0.5L);
  other.SetRate(2);
  EXPECT_DOUBLE_EQ(static_cast<double>(other.LastSeek()), 0.5);
  scaled.Run(5);  // the engine reports 0.5 + 0.2
  int64_t raw = 0;
  ASSERT_TRUE(scaled.CurrentPosition(raw));
  EXPECT_EQ(raw, 70 * kSec);
  EXPECT_NEAR(static_cast<double>(other.Position()), 0.6, 1e-9);
  // The rate survives opening the next recording.
  Start(GapTrip());
  line.Seek(0.7L);
  EXPECT_EQ(engine.Rate(), 2);
}

TEST_F(TripFixture, LoopABAndSelectionRules) {
  Start(MakeTrip({{0, 100}}));
  EXPECT_FALSE(line.SetLoop(true));  // no selection yet
  EXPECT_FALSE(line.Loop());
  line.Seek(0.2L);
  line.SetA();  // A after B (0): B moves to the end
  EXPECT_DOUBLE_EQ(static_cast<double>(line.B()), 1.0);
  line.Seek(0.3L);
  line.SetB();
  EXPECT_DOUBLE_EQ(static_cast<double>(line.A()), 0.2);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.B()), 0.3);
  EXPECT_TRUE(line.SetLoop(true));

  line.Seek(0.25L);
  engine.Run(4);
  line.Tick(true);
  EXPECT_EQ(engine.MediaPosition(), 29 * kSec);  // before B: plays on
  engine.Run(1);
  line.Tick(true);  // the first tick at B goes back to A
  EXPECT_EQ(engine.MediaPosition(), 20 * kSec);
  line.Tick(false);  // a plain redraw never loops
  EXPECT_EQ(engine.MediaPosition(), 20 * kSec);

  line.Seek(0.1L);
  line.SetB();  // B before A: A moves to the start
  EXPECT_DOUBLE_EQ(static_cast<double>(line.A()), 0.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.B()), 0.1);
}

TEST_F(TripFixture, JumpRule) {
  Start(MakeTrip({{0, 1000}}));
  line.Seek(0.5L);
  const long double step = 8.312L / 1000;
  EXPECT_TRUE(line.Jump({true, true, false}, 100.0));
  EXPECT_NEAR(static_cast<double>(line.LastSeek()), static_cast<double>(0.5L + step), 1e-6);
  // With a telemetry sample shown, a second press within 1.2 s is held back.
  EXPECT_FALSE(line.Jump({true, true, false}, 100.9));
  EXPECT_TRUE(line.Jump({false, true, false}, 101.3));
  EXPECT_NEAR(static_cast<double>(line.LastSeek()), 0.5, 1e-6);
  // Without a sample (or in full screen) presses 0.1 s apart both move,
  // closer ones do not.
  EXPECT_TRUE(line.Jump({false, false, false}, 200.0));
  EXPECT_FALSE(line.Jump({false, false, false}, 200.05));
  EXPECT_TRUE(line.Jump({false, false, false}, 200.1));
  EXPECT_NEAR(static_cast<double>(line.LastSeek()), static_cast<double>(0.5L - 2 * step), 1e-6);
  // Wheel jumps are never held back.
  EXPECT_TRUE(line.Jump({true, true, true}, 300.0));
  EXPECT_TRUE(line.Jump({true, true, true}, 300.01));
  // Near the start the jump stops at 0.
  line.Seek(0.001L);
  EXPECT_TRUE(line.Jump({false, false, false}, 400.0));
  EXPECT_DOUBLE_EQ(static_cast<double>(line.LastSeek()), 0.0);
}

TEST_F(TripFixture, FramesStepAndBackFramesGoesOneSecondBack) {
  Start(MakeTrip({{0, 100}}), false);
  line.Seek(0.5L);
  line.NextFrame();
  EXPECT_EQ(engine.Steps, 1);
  EXPECT_EQ(listener.refreshes, 1);
  line.Position();
  line.BackFrames();
  EXPECT_EQ(engine.Seeks.back(), 50 * kSec + kSec / 25 - kSec);
  EXPECT_GE(engine.Refreshes, 1);  // the stepped frame is replaced
  line.SetPlay(true);
  line.NextFrame();  // only while paused
  EXPECT_EQ(engine.Steps, 1);
}

TEST_F(TripFixture, EngineStillOpeningAndDurationLearned) {
  TFileItem row = GapTrip();
  row.Items[1].DurationSource = kDurNoHeader;
  row.Items[1].Duration = -1;
  engine.DurationKnown = false;
  Start(row);
  engine.Durations[row.Items[1].Path] = 40 * kSec;
  // The catalogue's duration places a seek until the engine knows its own.
  line.Seek(0.2L);
  EXPECT_EQ(engine.Seeks.back(), 20 * kSec);
  // A recording without one starts at its beginning.
  line.Seek(0.8L);
  EXPECT_EQ(engine.Seeks.back(), 0);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.LastSeek()), 0.6);
  EXPECT_TRUE(listener.learned.empty());
  engine.DurationKnown = true;
  engine.Run(1);
  line.Position();
  ASSERT_EQ(listener.learned.size(), 1u);
  EXPECT_EQ(listener.learned[0], std::make_pair(1, int64_t{40000}));
  EXPECT_EQ(line.Row().Items[1].DurationSource, kDurContainer);
  line.Position();
  EXPECT_EQ(listener.learned.size(), 1u);
}

TEST_F(TripFixture, LostRecordingIsOpenedAgainOnPlayAndStopResets) {
  Start(GapTrip());
  line.Seek(0.3L);
  line.Position();
  engine.Stop();  // the file vanished: the engine dropped it
  EXPECT_DOUBLE_EQ(static_cast<double>(line.Position()), 0.3);
  line.SetPlay(true);
  EXPECT_EQ(engine.Opened.size(), 2u);
  EXPECT_EQ(engine.Seeks.back(), 30 * kSec);
  EXPECT_EQ(engine.State(), TEngineState::kPlaying);

  line.SetRate(0.25);
  line.Stop();
  EXPECT_FALSE(engine.Active());
  EXPECT_FALSE(line.Loaded());
  EXPECT_EQ(line.CurrentIndex(), -1);
  EXPECT_DOUBLE_EQ(static_cast<double>(line.Position()), 0);
  EXPECT_EQ(line.Rate(), 0.25);  // the speed buttons keep their choice
  line.SetPlay(true);            // nothing to play
  EXPECT_FALSE(line.PlayDown());
  EXPECT_FALSE(engine.Active());
}

TEST_F(TripFixture, ReopenAfterRendererSwitchKeepsPlaceAndState) {
  Start(GapTrip(), false);
  line.Seek(0.7L);
  const long double p = line.Position();
  engine.Deactivate();  // the old renderer's engine is gone
  line.ReopenAt(p);
  EXPECT_TRUE(engine.Active());
  EXPECT_EQ(engine.Opened.back(), GapTrip().Items[1].Path);
  EXPECT_EQ(engine.Seeks.back(), 10 * kSec);
  EXPECT_EQ(engine.State(), TEngineState::kPaused);
  line.SetPlay(true);
  line.ReopenAt(0.1L);
  EXPECT_EQ(engine.Opened.back(), GapTrip().Items[0].Path);
  EXPECT_EQ(engine.State(), TEngineState::kPlaying);
}

TEST_F(TripFixture, ViewFollowsThePositionWhilePlaying) {
  Start(MakeTrip({{0, 1000}}));
  line.SetView({0.0L, 0.2L});
  engine.Run(195);
  line.Tick(true);
  EXPECT_NEAR(static_cast<double>(line.View().Start), 0.175, 1e-9);
  EXPECT_NEAR(static_cast<double>(line.View().End), 0.375, 1e-9);
  EXPECT_EQ(listener.viewChanges, 1);
  line.SetView({0.8L, 1.0L});
  line.Seek(0.99L);
  line.Tick(true);  // at the end of the line the view stays
  EXPECT_DOUBLE_EQ(static_cast<double>(line.View().Start), 0.8);
  line.Seek(0.1L);
  line.Tick(true);
  EXPECT_NEAR(static_cast<double>(line.View().Start), 0.0, 1e-9);
  EXPECT_NEAR(static_cast<double>(line.View().End), 0.2, 1e-9);
}

TEST(NormaliseView, OrderMinimumWidthAndBounds) {
  const double day = 1000.0 / kSecPerDay;  // a 1000 s trip
  TTimeView v = NormaliseView({0.6L, 0.4L}, day);
  EXPECT_DOUBLE_EQ(static_cast<double>(v.Start), 0.4);
  EXPECT_DOUBLE_EQ(static_cast<double>(v.End), 0.6);
  v = NormaliseView({0.5L, 0.5L}, day);  // at least half a second
  EXPECT_NEAR(static_cast<double>(v.End - v.Start), 0.5 / 1001, 1e-12);
  v = NormaliseView({-0.1L, 0.1L}, day);  // zooming in at the start keeps 0
  EXPECT_DOUBLE_EQ(static_cast<double>(v.Start), 0.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(v.End), 0.2);
  v = NormaliseView({-1.0L, 3.0L}, day);  // wider than the trip
  EXPECT_DOUBLE_EQ(static_cast<double>(v.Start), 0.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(v.End), 1.0);
  EXPECT_DOUBLE_EQ(RateOfTag(-3), 0.25);
  EXPECT_DOUBLE_EQ(RateOfTag(3), 4);
}

}  // namespace
}  // namespace tachora
