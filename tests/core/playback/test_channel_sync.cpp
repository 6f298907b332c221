// The cameras of one moment kept in step: the drift rule as a table, and a
// two-recording trip with a rear camera (missing in the second recording)
// driven through the trip time line against fake engines.
#include <gtest/gtest.h>

#include "FakeEngine.h"
#include "playback/UnitChannelSync.h"
#include "playback/UnitTripTimeline.h"

namespace tachora {
namespace {

using test::TFakeEngine;

constexpr int64_t kSec = kTicksPerSecond;
constexpr int64_t kFrame = kSec / 25;

TEST(ChannelDrift, DecisionTable) {
  struct TCase {
    int64_t main, follower;
    bool nudging, maySeek;
    TDriftStep::TKind kind;
    double factor;
  };
  const int64_t t = 10 * kSec;
  const TCase cases[] = {
      {t, t, false, true, TDriftStep::kNone, 1},                   // in step
      {t, t - kFrame, false, true, TDriftStep::kNone, 1},          // one frame: fine
      {t, t - 2 * kFrame, false, true, TDriftStep::kSpeed, 1.08},  // behind: faster
      {t, t + 2 * kFrame, false, true, TDriftStep::kSpeed, 0.92},  // ahead: slower
      {t, t - kFrame, true, true, TDriftStep::kSpeed, 1.04},       // a nudge goes on...
      {t, t - kFrame / 2, true, true, TDriftStep::kSpeed, 1},      // ...to half a frame
      {t, t - kFrame / 2, false, true, TDriftStep::kNone, 1},
      {t, t - kSec / 5, false, true, TDriftStep::kSpeed, 1.2},  // up to 0.25 s: nudged
      {t, t + kSec / 5, true, true, TDriftStep::kSpeed, 0.8},
      {t, t - kSec / 2, false, true, TDriftStep::kSeek, 1},  // further: a seek
      {t, t + 2 * kSec, true, true, TDriftStep::kSeek, 1},
      {t, t - kSec / 2, false, false, TDriftStep::kSpeed, 1.25},  // seeks held: the
      {t, t + 2 * kSec, true, false, TDriftStep::kSpeed, 0.75},   // largest nudge
  };
  for (const TCase &c : cases) {
    const TDriftStep step = DecideDrift(c.main, c.follower, kFrame, c.nudging, c.maySeek);
    EXPECT_EQ(step.Kind, c.kind) << c.main - c.follower;
    EXPECT_NEAR(step.SpeedFactor, c.factor, 1e-9) << c.main - c.follower;
  }
}

struct TQuiet : TTimelineListener {};

struct ChannelTrip : ::testing::Test {
  TFakeEngine front, rear;
  TChannelSync sync{front};
  TQuiet listener;
  TTripTimeline line{sync, listener};
  TFileItem row;

  // Two 10 s recordings back to back; the first has a 6 s rear file, the
  // second none.
  void SetUp() override {
    const TDateTime t0 = EncodeDate(2024, 6, 12) + EncodeTime(9, 30, 0, 0);
    row.Summary.Start = t0;
    row.Summary.End = t0 + 20.0 / kSecPerDay;
    for (int i = 0; i < 2; ++i) {
      TFileItemSubitem r;
      r.Path = "/card/2024061209300" + std::to_string(i) + "_F.MP4";
      r.Channel = "F";
      r.Duration = 10000;
      r.DurationSource = kDurContainer;
      r.RelStart = i * 0.5L;
      r.RelEnd = r.RelStart + 0.5L;
      front.Durations[r.Path] = 10 * kSec;
      if (i == 0) {
        TChannelFile c;
        c.Path = "/card/20240612093000_R.MP4";
        c.Channel = "R";
        r.Channels.push_back(c);
        rear.Durations[c.Path] = 6 * kSec;
      }
      row.Items.push_back(r);
    }
    sync.SetFollowers({&rear});
    sync.SetTrip(row);
    line.LoadTrip(row);
  }
  int64_t RearAt() const {
    int64_t t = -1;
    rear.CurrentPosition(t);
    return t;
  }
};

TEST_F(ChannelTrip, FollowerRepeatsEveryCommandAndOpensItsFileAtTheJoint) {
  EXPECT_EQ(sync.Slots(), std::vector<std::string>{"R"});
  EXPECT_EQ(sync.MainLabel(), "F");
  line.SetPlay(true);
  ASSERT_TRUE(rear.Active());
  EXPECT_EQ(rear.Opened, std::vector<std::string>{"/card/20240612093000_R.MP4"});
  EXPECT_EQ(rear.State(), TEngineState::kPlaying);

  line.Seek(0.2L);  // 4 s into the first recording
  EXPECT_EQ(RearAt(), 4 * kSec);
  line.SetRate(2);
  EXPECT_DOUBLE_EQ(rear.Rate(), 2);
  line.SetPlay(false);
  EXPECT_EQ(rear.State(), TEngineState::kPaused);
  line.NextFrame();
  EXPECT_EQ(RearAt(), 4 * kSec + kFrame);

  // Past the rear file's end the main one plays on; the rear holds its end.
  line.SetPlay(true);
  line.Seek(0.4L);  // 8 s
  front.Run(0.5);
  rear.Run(0.5);
  EXPECT_TRUE(sync.FollowerPastEnd(0));
  sync.Follow();
  EXPECT_EQ(rear.Seeks.back(), 8 * kSec);  // no seek beyond its end

  // The second recording has no rear file: the follower is unloaded.
  line.Seek(0.75L);
  EXPECT_EQ(front.Opened.back(), row.Items[1].Path);
  EXPECT_TRUE(sync.FollowerPath(0).empty());
  EXPECT_FALSE(rear.HasSeeking());
  line.Seek(0.1L);  // and back: the rear file again, at the same place
  EXPECT_EQ(rear.Opened.back(), "/card/20240612093000_R.MP4");
  EXPECT_EQ(RearAt(), 2 * kSec);
}

TEST_F(ChannelTrip, FollowCorrectsDriftAndCatchesUpWhenSwitchedOn) {
  line.SetPlay(true);
  line.Seek(0.1L);  // 2 s
  // The rear lags three frames: nudged faster, then back to the rate.
  front.Run(0.12);
  EXPECT_EQ(rear.State(), TEngineState::kPlaying);
  sync.Follow();
  EXPECT_GT(rear.Rate(), 1.0);
  rear.SeekTo(front.MediaPosition());  // caught up
  sync.Follow();
  EXPECT_DOUBLE_EQ(rear.Rate(), 1.0);

  // Far behind (a stall): a seek to the main position; behind again at
  // once (a slow seek), it is nudged rather than sought again.
  front.Run(3);
  sync.Follow();
  EXPECT_EQ(rear.Seeks.back(), front.MediaPosition());
  const size_t driftSeeks = rear.Seeks.size();
  front.Run(0.5);
  sync.Follow();
  EXPECT_EQ(rear.Seeks.size(), driftSeeks);
  EXPECT_DOUBLE_EQ(rear.Rate(), 1 + TChannelSync::kMaxNudge);

  // Paused: a follower off the main frame is put on it, once.
  line.SetPlay(false);
  front.FrameStep(1);
  sync.Follow();
  EXPECT_EQ(RearAt(), front.MediaPosition());
  const size_t seeks = rear.Seeks.size();
  sync.Follow();
  EXPECT_EQ(rear.Seeks.size(), seeks);

  // Switched off (not shown) it is released; switched on it catches up.
  sync.SetFollowerEnabled(0, false);
  EXPECT_FALSE(rear.Active());
  line.Seek(0.15L);
  EXPECT_FALSE(rear.Active());
  sync.SetFollowerEnabled(0, true);
  EXPECT_TRUE(rear.Active());
  EXPECT_EQ(RearAt(), 3 * kSec);
  EXPECT_EQ(rear.State(), TEngineState::kPaused);
}

}  // namespace
}  // namespace tachora
