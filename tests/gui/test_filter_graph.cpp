// The libmpv engine on the software renderer, headless, with clips made by
// ffmpeg: opening, playing, pausing, exact seeks (the picture compared with
// ffmpeg's own decode of the same frame), rates, frame steps, snapshots, and
// the opening errors.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "TestMedia.h"
#include "playback/UnitFilterGraph.h"

namespace tachora {
namespace {

namespace fs = std::filesystem;
using test::TMediaRecipe;

constexpr int64_t kSec = kTicksPerSecond;

std::string Clip() {
  TMediaRecipe s;
  s.seconds = 4;
  return test::GenerateMovie("engine-clip", s);
}

double Seconds(const TFilterGraph &g) {
  int64_t t = -1;
  return g.CurrentPosition(t) ? static_cast<double>(t) / kSec : -1;
}

// Mean absolute difference per channel between an image and packed RGB.
double MeanDifference(const QImage &image, const std::vector<uint8_t> &rgb) {
  const QImage img = image.convertToFormat(QImage::Format_RGB888);
  if (rgb.size() != static_cast<size_t>(img.width()) * img.height() * 3) return 1e9;
  double sum = 0;
  for (int y = 0; y < img.height(); ++y) {
    const uchar *line = img.constScanLine(y);
    const uint8_t *ref = rgb.data() + static_cast<size_t>(y) * img.width() * 3;
    for (int x = 0; x < img.width() * 3; ++x) sum += std::abs(int(line[x]) - int(ref[x]));
  }
  return sum / (static_cast<double>(rgb.size()));
}

struct EngineFixture : ::testing::Test {
  TFilterGraph graph;
  void SetUp() override {
    graph.SetRenderer(TRenderer::kSoftware);
    graph.SetOption("ao", "null");
    graph.Activate();
    ASSERT_TRUE(graph.Active());
    ASSERT_TRUE(graph.HasRenderContext());
  }
  bool OpenAndWait(const std::string &path, bool play) {
    graph.Open(path);
    play ? graph.Play() : graph.Pause();
    return QTest::qWaitFor([&] { return graph.FileLoaded() && graph.Duration() > 0; }, 10000);
  }
  // Waits until the position settles on `seconds` after a seek or a step.
  bool WaitAt(double seconds) {
    return QTest::qWaitFor(
        [&] { return !graph.Seeking() && std::abs(Seconds(graph) - seconds) < 0.005; }, 5000);
  }
};

TEST_F(EngineFixture, OpenPlayPauseAndExactSeekShowTheRightFrame) {
  const std::string clip = Clip();
  ASSERT_TRUE(OpenAndWait(clip, true));
  EXPECT_NEAR(static_cast<double>(graph.Duration()) / kSec, 4.0, 0.05);
  ASSERT_TRUE(QTest::qWaitFor([&] { return graph.VideoSize() == QSize(320, 240); }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Seconds(graph) > 0.3; }, 5000));  // plays

  graph.Pause();
  QTest::qWait(200);
  const double paused = Seconds(graph);
  QTest::qWait(300);
  EXPECT_NEAR(Seconds(graph), paused, 0.001);
  EXPECT_EQ(graph.State(), TEngineState::kPaused);

  QSignalSpy frames(&graph, &TFilterGraph::FrameReady);
  graph.SeekTo(static_cast<int64_t>(2.4 * kSec));  // frame 60 at 25 fps
  ASSERT_TRUE(WaitAt(2.4));
  ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() > 0; }, 5000));
  QTest::qWait(100);
  const QImage picture = graph.RenderSoftware(QSize(320, 240));
  ASSERT_FALSE(picture.isNull());
  const auto frame60 = test::DecodeFrameRgb(clip, 60, 320, 240);
  const auto frame20 = test::DecodeFrameRgb(clip, 20, 320, 240);
  ASSERT_FALSE(frame60.empty());
  const double same = MeanDifference(picture, frame60), other = MeanDifference(picture, frame20);
  EXPECT_LT(same, 6.0);
  EXPECT_GT(other, 3 * same);

  // The snapshot comes at the video's own size whatever is drawn.
  QSignalSpy shots(&graph, &TFilterGraph::SnapshotReady);
  graph.RequestSnapshot();
  ASSERT_TRUE(shots.wait(5000));
  const QImage shot = shots.at(0).at(0).value<QImage>();
  EXPECT_EQ(shot.size(), QSize(320, 240));
  EXPECT_LT(MeanDifference(shot, frame60), 6.0);

  graph.Stop();
  EXPECT_FALSE(graph.HasSeeking());
  int64_t t = 0;
  EXPECT_FALSE(graph.CurrentPosition(t));
}

TEST_F(EngineFixture, SeekAskedWhileOpeningIsAppliedOnceLoaded) {
  graph.Open(Clip());
  graph.Pause();
  graph.SeekTo(3 * kSec);
  ASSERT_TRUE(QTest::qWaitFor([&] { return graph.FileLoaded(); }, 10000));
  EXPECT_TRUE(WaitAt(3.0));
}

TEST_F(EngineFixture, RatesTwoAndAQuarter) {
  TMediaRecipe s;
  s.seconds = 8;
  ASSERT_TRUE(OpenAndWait(test::GenerateMovie("engine-rate", s), false));
  for (double rate : {2.0, 0.25}) {
    graph.Pause();
    graph.SeekTo(kSec);
    ASSERT_TRUE(WaitAt(1.0));
    graph.SetRate(rate);
    graph.Play();
    // Measured once the picture moves, so that starting costs nothing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Seconds(graph) > 1.05; }, 5000));
    const double from = Seconds(graph);
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1500);
    const double moved = Seconds(graph) - from;
    const double wall = clock.elapsed() / 1000.0;
    // The engine reports the media's own position: it moves `rate` times
    // as fast as the wall clock (loose bounds for a busy machine).
    EXPECT_GT(moved / wall, rate * 0.6) << rate;
    EXPECT_LT(moved / wall, rate * 1.4) << rate;
  }
  EXPECT_FALSE(graph.ReportsScaledPosition());
}

TEST_F(EngineFixture, FrameStepForwardAndBack) {
  const std::string clip = Clip();
  ASSERT_TRUE(OpenAndWait(clip, false));
  graph.SeekTo(kSec);
  graph.FrameStep(1);  // asked before the seek is done: counts from 1.0
  ASSERT_TRUE(WaitAt(1.04));
  graph.FrameStep(1);
  ASSERT_TRUE(WaitAt(1.08));
  graph.FrameStep(-1);
  ASSERT_TRUE(WaitAt(1.04));
  EXPECT_EQ(graph.State(), TEngineState::kPaused);
  QTest::qWait(150);
  const QImage picture = graph.RenderSoftware(QSize(320, 240));
  EXPECT_LT(MeanDifference(picture, test::DecodeFrameRgb(clip, 26, 320, 240)), 6.0);
}

TEST_F(EngineFixture, OpeningErrors) {
  QSignalSpy errors(&graph, &TFilterGraph::OpenError);
  // A sound track nobody decodes: one message, and the picture plays.
  const std::string broken = test::MakeUnknownSoundCodec("engine-zzzz", Clip());
  QSignalSpy frames(&graph, &TFilterGraph::FrameReady);
  ASSERT_TRUE(OpenAndWait(broken, true));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Seconds(graph) > 0.5; }, 5000));
  QTest::qWait(200);
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors.at(0).at(1).value<TOpenError>(), TOpenError::kCodecNotFound);
  EXPECT_GT(frames.count(), 5);

  // Not a movie at all.
  const std::string dir = test::MakeTempDir("engine-errors");
  const std::string text = dir + "/notes.MOV";
  FILE *f = fopen(text.c_str(), "w");
  fputs("this is not a movie\n", f);
  fclose(f);
  errors.clear();
  QSignalSpy stopped(&graph, &TFilterGraph::Stopped);
  graph.Open(text);
  graph.Play();
  ASSERT_TRUE(stopped.wait(10000));
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors.at(0).at(1).value<TOpenError>(), TOpenError::kSplitterNotFound);
  EXPECT_EQ(graph.State(), TEngineState::kStopped);
  EXPECT_FALSE(graph.HasSeeking());
  EXPECT_EQ(OpenErrorMessage("x.MOV", TOpenError::kSplitterNotFound),
            "Cannot open video file\r\nx.MOV\r\nSplitter not found");

  // A file that is gone before it opens.
  errors.clear();
  graph.Open(dir + "/missing.MOV");
  graph.Play();
  ASSERT_TRUE(QTest::qWaitFor([&] { return errors.count() > 0; }, 10000));
  EXPECT_EQ(errors.at(0).at(1).value<TOpenError>(), TOpenError::kFileLost);
}

TEST_F(EngineFixture, RecordingDeletedWhilePlayingStopsThePlayer) {
  const std::string dir = test::MakeTempDir("engine-lost");
  const std::string copy = dir + "/FILE0001.MOV";
  fs::copy_file(Clip(), copy);
  ASSERT_TRUE(OpenAndWait(copy, true));
  QSignalSpy errors(&graph, &TFilterGraph::OpenError);
  QSignalSpy stopped(&graph, &TFilterGraph::Stopped);
  fs::remove(copy);
  ASSERT_TRUE(stopped.wait(5000));
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors.at(0).at(1).value<TOpenError>(), TOpenError::kFileLost);
  EXPECT_EQ(graph.State(), TEngineState::kStopped);
  EXPECT_FALSE(graph.HasSeeking());
  // The engine is still usable.
  ASSERT_TRUE(OpenAndWait(Clip(), true));
}

TEST(EngineVolume, LinearScaleKeepsTheLoudnessCurve) {
  EXPECT_DOUBLE_EQ(TFilterGraph::MpvVolume(10000), 100);
  EXPECT_DOUBLE_EQ(TFilterGraph::MpvVolume(0), 0);
  EXPECT_DOUBLE_EQ(TFilterGraph::MpvVolume(-5), 0);
  // -7.52 dB at half the scale: amplitude 0.4207 = (75.0 / 100)^3.
  EXPECT_NEAR(TFilterGraph::MpvVolume(5000), 75.0, 0.1);
  EXPECT_DOUBLE_EQ(TFilterGraph::MpvVolume(20000), 100);
}

}  // namespace
}  // namespace tachora
