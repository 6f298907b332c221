// The picture geometry of the surfaces, and the software surface painting a
// real frame: fitted, flipped, stretched non-linearly and cropped.
#include <gtest/gtest.h>

#include <QTest>

#include "TestMedia.h"
#include "playback/UnitVideoSurface.h"

namespace tachora {
namespace {

constexpr int64_t kSec = kTicksPerSecond;

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

QImage FfmpegFrame(const std::string &path, int index) {
  const auto rgb = test::DecodeFrameRgb(path, index, 320, 240);
  if (rgb.empty()) return QImage();
  return QImage(rgb.data(), 320, 240, 320 * 3, QImage::Format_RGB888).copy();
}

TEST(SurfaceGeometry, FitAndNonLinearStrips) {
  EXPECT_EQ(FitRect({1920, 1080}, QRectF(0, 0, 960, 720)), QRectF(0, 90, 960, 540));
  EXPECT_EQ(FitRect({640, 480}, QRectF(10, 0, 1280, 480)), QRectF(330, 0, 640, 480));

  // 4:3 picture on a 16:9 target: the centre third keeps its shape.
  auto s = NonLinearStrips(QRectF(0, 0, 640, 480), QRectF(0, 0, 1280, 720));
  EXPECT_DOUBLE_EQ(s[1].Target.width(), 640.0 / 3 * 720 / 480);
  EXPECT_DOUBLE_EQ(s[0].Target.left(), 0);
  EXPECT_DOUBLE_EQ(s[0].Target.width(), s[2].Target.width());
  EXPECT_DOUBLE_EQ(s[2].Target.right(), 1280);
  EXPECT_DOUBLE_EQ(s[1].Source.left(), 640.0 / 3);
  EXPECT_DOUBLE_EQ(s[2].Source.right(), 640);
  // A target too narrow for the centre third: it takes the whole width.
  s = NonLinearStrips(QRectF(0, 0, 1920, 1080), QRectF(0, 0, 100, 1080));
  EXPECT_DOUBLE_EQ(s[1].Target.width(), 100);
  EXPECT_DOUBLE_EQ(s[0].Target.width(), 0);
}

struct SoftwareSurface : ::testing::Test {
  TFilterGraph graph;
  TSoftwareSurface surface{graph};
  std::string clip;
  QImage frame;  // frame 60 as ffmpeg decodes it

  void SetUp() override {
    test::TMediaRecipe s;
    s.seconds = 4;
    clip = test::GenerateMovie("engine-clip", s);
    frame = FfmpegFrame(clip, 60);
    ASSERT_FALSE(frame.isNull());
    graph.SetRenderer(TRenderer::kSoftware);
    graph.SetOption("ao", "null");
    graph.Activate();
    graph.Open(clip);
    graph.Pause();
    graph.SeekTo(static_cast<int64_t>(2.4 * kSec));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          int64_t t = 0;
          return graph.VideoSize() == QSize(320, 240) && !graph.Seeking() &&
                 graph.CurrentPosition(t) &&
                 std::abs(t - static_cast<int64_t>(2.4 * kSec)) < kSec / 200;
        },
        10000));
    QTest::qWait(200);
  }
  QImage Grab(QSize size) {
    surface.resize(size);
    return surface.grab().toImage();
  }
};

TEST_F(SoftwareSurface, PaintsFittedFlippedNonLinearAndCropped) {
  EXPECT_LT(Difference(Grab({320, 240}), frame), 6.0);

  surface.SetFlip(false, true);
  const QImage mirrored = Grab({320, 240});
  EXPECT_LT(Difference(mirrored, frame.mirrored(true, false)), 6.0);
  EXPECT_GT(Difference(mirrored, frame), 20.0);
  surface.SetFlip(true, true);
  EXPECT_LT(Difference(Grab({320, 240}), frame.mirrored(true, true)), 6.0);
  surface.SetFlip(false, false);

  // Letterbox in a wide surface: black bars, the picture in the middle.
  QImage wide = Grab({640, 240});
  EXPECT_EQ(wide.pixelColor(50, 120), QColor(Qt::black));
  EXPECT_LT(Difference(wide.copy(160, 0, 320, 240), frame), 6.0);

  // Non-linear: the centre third at its own size in the middle, the sides
  // stretched over the rest.
  surface.SetAspectMode(TAspectMode::kNonLinear);
  wide = Grab({640, 240});
  const int third = 320 / 3;
  const int side = (640 - third) / 2;
  EXPECT_LT(
      Difference(wide.copy(side + 2, 0, third - 4, 240), frame.copy(third + 2, 0, third - 4, 240)),
      8.0);
  EXPECT_NE(wide.pixelColor(50, 120), QColor(Qt::black));

  // Cropped to the lower right quarter and stretched over the surface.
  surface.SetAspectMode(TAspectMode::kStretch);
  surface.SetSource(QRectF(0.5, 0.5, 0.5, 0.5));
  const QImage quarter = frame.copy(160, 120, 160, 120)
                             .scaled(320, 240, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  EXPECT_LT(Difference(Grab({320, 240}), quarter), 10.0);
}

}  // namespace
}  // namespace tachora
