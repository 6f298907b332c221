// The picture base: its Background, resizing, interval bands, font and the
// mouse events it passes on when a picture does not want them.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFontInfo>
#include <QMouseEvent>
#include <QTest>
#include <vector>

#include "app/UnitMyBitmap.h"

using namespace tachora;

namespace {

// Counts its paints.
class TCountingImage : public TMyImage {
 public:
  int paints = 0;
  QRect painted;  // the last paint's bounds

 protected:
  void paintEvent(QPaintEvent *event) override {
    ++paints;
    painted = event->rect();
    TMyImage::paintEvent(event);
  }
};

// Records what reaches the window under the picture.
class TParent : public QWidget {
 public:
  int presses = 0;

 protected:
  void mousePressEvent(QMouseEvent *) override { ++presses; }
};

}  // namespace

TEST(MyBitmap, KeepsWhatTheImageShowedAndRestoresIt) {
  TMyImage image;
  QImage dial(30, 20, QImage::Format_RGB32);
  dial.fill(QColor(10, 20, 30));
  image.SetPicture(dial);
  TMyBitmap bmp(&image);
  EXPECT_EQ(bmp.Size(), QSize(30, 20));
  EXPECT_EQ(bmp.Background().pixelColor(5, 5), QColor(10, 20, 30));
  image.Picture().fill(Qt::red);  // a drawing over the picture
  bmp.RestorePicture();
  EXPECT_EQ(image.Picture().pixelColor(29, 19), QColor(10, 20, 30));
  EXPECT_EQ(image.sizeHint(), QSize(30, 20));

  // Resize follows the widget and clears to the window colour.
  image.resize(50, 12);
  bmp.Resize();
  EXPECT_EQ(bmp.Size(), QSize(50, 12));
  EXPECT_EQ(image.Picture().size(), QSize(50, 12));
  EXPECT_EQ(bmp.Background().pixelColor(49, 11), bmp.ButtonFace());
}

// Every repaint costs a composition of the whole window: a picture drawn
// again as it is shown is not repainted, and while video frames come a
// changed one is repainted with the next frame.
TEST(MyBitmap, RepaintsWhatChangedAndWithTheVideoFrames) {
  TCountingImage image;
  image.resize(40, 20);
  TMyBitmap bmp(&image);
  bmp.Resize();
  image.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&image));
  ASSERT_TRUE(QTest::qWaitFor([&] { return image.paints > 0; }, 5000));
  QTest::qWait(50);
  int paints = image.paints;

  bmp.RestorePicture();  // the same picture again
  bmp.Update();
  QTest::qWait(50);
  EXPECT_EQ(image.paints, paints);

  bmp.Background().fill(Qt::red);
  bmp.RestorePicture();
  bmp.Update();
  EXPECT_TRUE(QTest::qWaitFor([&] { return image.paints > paints; }, 5000));
  paints = image.paints;

  // Frames come: the repaint waits for the next one.
  QElapsedTimer clock;
  clock.start();
  VideoFrameArriving();
  image.Picture().fill(Qt::blue);
  bmp.Update();
  QCoreApplication::processEvents();
  if (clock.elapsed() < kPictureHoldMs) {
    EXPECT_EQ(image.paints, paints);
  }
  VideoFrameArriving();
  EXPECT_TRUE(QTest::qWaitFor([&] { return image.paints > paints; }, 5000));
  EXPECT_EQ(image.grab().toImage().pixelColor(5, 5), QColor(Qt::blue));

  // A cursor moved from one column to another: only the columns between
  // are painted (a pixel more each side), and they show the new picture.
  QTest::qWait(kPictureHoldMs + 50);  // no frames now: repaints go at once
  image.Picture().setPixelColor(12, 3, Qt::white);
  image.Picture().setPixelColor(14, 16, Qt::white);
  paints = image.paints;
  bmp.Update();
  ASSERT_TRUE(QTest::qWaitFor([&] { return image.paints > paints; }, 5000));
  EXPECT_EQ(image.painted, QRect(QPoint(11, 2), QPoint(15, 17)));
  EXPECT_EQ(image.grab().toImage().pixelColor(14, 16), QColor(Qt::white));
  paints = image.paints;
  bmp.Update();  // shown already
  QTest::qWait(50);
  EXPECT_EQ(image.paints, paints);
}

// Where two pictures differ: nowhere, one pixel, pixels far apart (their
// bounding box), the corners, and pictures of another size (all of it).
TEST(MyBitmap, ChangedPixelsBoundWhatDiffers) {
  QImage before(20, 10, QImage::Format_RGB32);
  before.fill(Qt::black);
  struct {
    std::vector<QPoint> Changed;
    QRect Want;
  } const cases[] = {
      {{}, QRect()},
      {{{5, 5}}, QRect(5, 5, 1, 1)},
      {{{3, 8}, {17, 1}}, QRect(QPoint(3, 1), QPoint(17, 8))},
      {{{0, 0}, {19, 9}}, QRect(0, 0, 20, 10)},
  };
  for (const auto &c : cases) {
    QImage now = before.copy();
    for (const QPoint &p : c.Changed) now.setPixelColor(p, Qt::white);
    EXPECT_EQ(ChangedPixels(now, before), c.Want) << c.Changed.size();
  }
  EXPECT_EQ(ChangedPixels(QImage(21, 10, QImage::Format_RGB32), before), QRect(0, 0, 21, 10));
}

TEST(MyBitmap, BandsAreLinesOrBlocksInTheirOrder) {
  TMyImage image;
  image.resize(100, 10);
  TMyBitmap bmp(&image);
  bmp.Resize();
  const QColor yellow(255, 255, 0), light(200, 200, 200), grey(100, 100, 100);
  // Grey: a line (end = start), a reversed pair (a line too), a block and an
  // odd last entry that is ignored. Highlight over yellow, grey over both.
  bmp.DrawBands(10, {0, 0, 20, 15, 30, 40, 70}, {35, 60}, {50, 80});
  const QImage &b = bmp.Background();
  EXPECT_EQ(b.pixelColor(10, 0), grey);
  EXPECT_EQ(b.pixelColor(10, 9), grey);
  EXPECT_EQ(b.pixelColor(11, 5), bmp.ButtonFace());
  EXPECT_EQ(b.pixelColor(30, 5), grey);
  EXPECT_EQ(b.pixelColor(31, 5), bmp.ButtonFace());
  EXPECT_EQ(b.pixelColor(40, 5), light);
  EXPECT_EQ(b.pixelColor(49, 5), light);
  EXPECT_EQ(b.pixelColor(50, 5), bmp.Highlight());
  EXPECT_EQ(b.pixelColor(69, 5), bmp.Highlight());
  EXPECT_EQ(b.pixelColor(70, 5), yellow);
  EXPECT_EQ(b.pixelColor(89, 5), yellow);
  EXPECT_EQ(b.pixelColor(90, 5), bmp.ButtonFace());
}

TEST(MyBitmap, ArialIsLiberationSansAt96Dpi) {
  const QFont f = TMyBitmap::PictureFont(8);
  EXPECT_EQ(f.pixelSize(), 11);
  EXPECT_EQ(QFontInfo(f).family(), "Liberation Sans");
}

TEST(MyBitmap, UnwantedClicksReachTheWindowBelowAndAGoneBitmapIsForgotten) {
  TParent parent;
  parent.resize(100, 100);
  auto *image = new TMyImage(&parent);
  image->resize(50, 50);
  parent.show();
  {
    TMyBitmap bmp(image);
    QTest::mouseClick(image, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(parent.presses, 1);
  }
  QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(5, 5));  // no owner left
  EXPECT_EQ(parent.presses, 2);
  // A bitmap outliving its image does not touch it.
  auto bmp = std::make_unique<TMyBitmap>(image);
  delete image;
  bmp->RestorePicture();
  bmp->Resize();
  EXPECT_EQ(bmp->Image(), nullptr);
}
