// The renderers that need a window system: OpenGL painting a two-clip trip
// that plays from the first clip into the second, driven by the trip time
// line as the playback controller drives it, and mpv drawing into a native
// window. Needs an X display with OpenGL (xvfb-run with Mesa); skipped
// without.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "TestMedia.h"
#include "playback/UnitTripTimeline.h"
#include "playback/UnitVideoSurface.h"

// QOpenGLWidget needs a real window system: use the X display when there is
// one (set before the test program's QApplication is made), else fall back
// to the offscreen platform and skip.
static const bool kWantDisplay = [] {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
  return true;
}();

namespace tachora {
namespace {

// Mean absolute difference per channel of two images of the same size.
double Difference(const QImage &a, const QImage &b) {
  if (a.size() != b.size()) return 1e9;
  const QImage x = a.convertToFormat(QImage::Format_RGB888);
  const QImage y = b.convertToFormat(QImage::Format_RGB888);
  double sum = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int i = 0; i < x.width() * 3; ++i)
      sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
  return sum / (x.width() * x.height() * 3.0);
}

TFileItem TwoClipRow(const std::vector<std::string> &paths, double seconds) {
  TFileItem row;
  const TDateTime t0 = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  row.Summary.Start = t0;
  row.Summary.End = t0 + 2 * seconds / kSecPerDay;
  for (size_t i = 0; i < paths.size(); ++i) {
    TFileItemSubitem r;
    r.Path = paths[i];
    r.Duration = static_cast<int64_t>(seconds * 1000);
    r.DurationSource = kDurContainer;
    r.RelStart = i * 0.5L;
    r.RelEnd = r.RelStart + 0.5L;
    row.Items.push_back(r);
  }
  return row;
}

TEST(OpenGLPlayback, TripPlaysFromFirstClipIntoSecond) {
  QOpenGLContext probe;
  if (QGuiApplication::platformName() != "xcb" || !probe.create())
    GTEST_SKIP() << "no X display with OpenGL here (run under xvfb-run)";

  test::TMediaRecipe media;
  const auto clips = test::GenerateTrip("gl-trip", {1.5, 1.5}, "2024-05-01 10:00:00", media);

  TFilterGraph graph;
  graph.SetRenderer(TRenderer::kOpenGL);
  graph.SetOption("ao", "null");
  QWidget window;
  window.resize(320, 240);
  auto *surface = new TOpenGLSurface(graph, &window);
  surface->resize(320, 240);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  TTimelineListener listener;
  TTripTimeline line(graph, listener);
  line.LoadTrip(TwoClipRow(clips, 1.5));
  line.SetPlay(true);
  ASSERT_TRUE(graph.Active());
  EXPECT_TRUE(QTest::qWaitFor([&] { return graph.HasRenderContext(); }, 5000));

  std::vector<double> positions;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout,
                   [&] { positions.push_back(static_cast<double>(line.Tick(true))); });
  tick.start(100);
  ASSERT_TRUE(QTest::qWaitFor([&] { return line.CurrentIndex() == 1 && line.LastReported() > 0.7; },
                              20000));
  tick.stop();
  EXPECT_EQ(graph.Path(), clips[1]);
  EXPECT_GT(surface->FramesPainted(), 10);
  // The position moved forward through the seam, never back.
  ASSERT_GT(positions.size(), 5u);
  for (size_t i = 1; i < positions.size(); ++i) EXPECT_GE(positions[i], positions[i - 1] - 1e-9);

  // Paused, the picture drawn through the strips (a surface of the video's
  // own shape makes the non-linear stretch the plain picture) matches the
  // full-size snapshot, the right way up.
  line.SetPlay(false);
  QSignalSpy shots(&graph, &TFilterGraph::SnapshotReady);
  graph.RequestSnapshot();
  ASSERT_TRUE(shots.wait(5000));
  const QImage shot = shots.at(0).at(0).value<QImage>();
  EXPECT_EQ(shot.size(), QSize(320, 240));
  const QImage direct = surface->grabFramebuffer();
  surface->SetAspectMode(TAspectMode::kNonLinear);
  const QImage strips = surface->grabFramebuffer();
  EXPECT_LT(Difference(direct, shot), 10.0);
  EXPECT_LT(Difference(strips, shot), 10.0);
  EXPECT_GT(Difference(strips, shot.mirrored(false, true)), 20.0);

  line.Stop();  // frees the render context, then mpv
  EXPECT_FALSE(graph.Active());
  EXPECT_FALSE(graph.HasRenderContext());
}

// The simple renderer: mpv draws into a native child window by itself; the
// program still reads positions and takes full-size snapshots.
TEST(NativeWindowPlayback, PlaysAndSnapshots) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "no X display here";
  test::TMediaRecipe media;
  media.seconds = 4;
  TFilterGraph graph;
  graph.SetRenderer(TRenderer::kSimple);
  graph.SetOption("ao", "null");
  QWidget window;
  window.resize(320, 240);
  TVideoSurface *surface = CreateVideoSurface(TRenderer::kSimple, graph, &window);
  surface->Widget()->resize(320, 240);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_FALSE(surface->CanFlip());
  EXPECT_FALSE(surface->CanNonLinear());
  surface->SetAspectMode(TAspectMode::kNonLinear);  // not offered: stretches
  EXPECT_EQ(surface->AspectMode(), TAspectMode::kStretch);

  graph.Activate();
  ASSERT_TRUE(graph.Active());
  graph.Open(test::GenerateMovie("engine-clip", media));
  graph.Play();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        int64_t t = 0;
        return graph.CurrentPosition(t) && t > kTicksPerSecond / 2;
      },
      10000));
  QSignalSpy shots(&graph, &TFilterGraph::SnapshotReady);
  graph.RequestSnapshot();
  ASSERT_TRUE(shots.wait(5000));
  EXPECT_EQ(shots.at(0).at(0).value<QImage>().size(), QSize(320, 240));
  graph.Deactivate();
}

}  // namespace
}  // namespace tachora
