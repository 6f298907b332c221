// The three instrument pictures, pixel by pixel: where the needles point,
// which texts show, where the G-sensor dots sit. Set TACHORA_SCREENSHOT_DIR
// to also get PNG pictures of them to look at.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "app/UnitGuiUnits.h"
#include "map/UnitInstruments.h"

using namespace tachora;

namespace {

bool Red(QColor c) {
  return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}
bool Blue(QColor c) {
  return c.blue() > 200 && c.red() < 100 && c.green() < 100;
}
int CountIf(const QImage &img, QRect r, bool (*pred)(QColor)) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += pred(img.pixelColor(x, y)) ? 1 : 0;
  return n;
}

void Save(const QImage &img, const char *name) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) img.scaled(img.size() * 4).save(dir + "/" + name);
}

struct Picture {
  explicit Picture(int w, int h) {
    image.setFixedSize(w, h);
    image.resize(w, h);
  }
  const QImage &Shown() const { return image.Picture(); }
  TMyImage image;
};

}  // namespace

TEST(Instruments, TrackLengthText) {
  EXPECT_EQ(TrackLengthText(999), "999");
  EXPECT_EQ(TrackLengthText(1000), "1 000");
  EXPECT_EQ(TrackLengthText(12345), "12 345");
  EXPECT_EQ(TrackLengthText(123456), "123 456");
  EXPECT_EQ(TrackLengthText(1234567), "1234567");
  EXPECT_EQ(TrackLengthText(0.4), "0");
}

TEST(Instruments, SpeedNeedleTextsAndCorners) {
  Picture pic(134, 100);
  TSpeedBitmap speed(&pic.image);
  // The dial's corners take the panel's colour.
  EXPECT_EQ(speed.Background().pixelColor(0, 0), speed.ButtonFace());
  EXPECT_EQ(speed.Background().pixelColor(133, 0), speed.ButtonFace());

  speed.Draw(-1, -1, 0);
  const QImage blank = pic.Shown().copy();
  EXPECT_EQ(CountIf(blank, blank.rect(), Red), CountIf(speed.Background(), blank.rect(), Red));
  // Values no vehicle shows draw as unknown ones.
  for (const long double v : {1e12L, HUGE_VALL, std::nanl("")}) {
    speed.Draw(v, std::isfinite(v) ? -1 : v, v);
    EXPECT_EQ(pic.Shown(), blank) << static_cast<double>(v);
  }

  // 0 km/h: the needle points straight left, its tip 60 px from the pivot.
  speed.Draw(0, -1, 0);
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67 - 50, 67)));
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67 - 58, 67)));
  EXPECT_FALSE(Red(pic.Shown().pixelColor(67 - 50, 67 - 8)));
  EXPECT_FALSE(Red(pic.Shown().pixelColor(67 + 50, 67)));
  // The speed text in the big box differs from the empty box.
  const QRect bigBox(67 - 28, 100 - 43, 56, 36);
  EXPECT_NE(pic.Shown().copy(bigBox), blank.copy(bigBox));
  Save(pic.Shown(), "instrument_speed_0.png");

  // 90 km/h up, 180 right.
  speed.Draw(90, -1, 0);
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67, 67 - 50)));
  speed.Draw(180, -1, 0);
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67 + 50, 67)));

  // Length and altitude boxes: empty for "not shown", written otherwise.
  const QRect lengthBox(67 - 24, 100 - 60, 48, 12), altBox(67 - 16, 100 - 74, 32, 10);
  speed.Draw(57, 12345, 0);
  const QImage withLength = pic.Shown().copy();
  EXPECT_NE(withLength.copy(lengthBox), blank.copy(lengthBox));
  EXPECT_EQ(withLength.copy(altBox), blank.copy(altBox));  // altitude 0: no text
  speed.Draw(57, 12345, -12);
  EXPECT_NE(pic.Shown().copy(altBox), blank.copy(altBox));
  Save(pic.Shown(), "instrument_speed_57.png");
  // "12 345" is right-aligned at x = 88: nothing is written right of it.
  const QImage box = pic.Shown().copy(QRect(89, 100 - 60, 3, 12));
  EXPECT_EQ(box, blank.copy(QRect(89, 100 - 60, 3, 12)));
}

// The mph dial: its own face over the km/h picture, the needle at 60 mph
// straight up and at 120 mph right; back to km/h, the picture is the
// km/h one again.
TEST(Instruments, MphDial) {
  Picture pic(134, 100);
  TSpeedBitmap speed(&pic.image);
  const QImage metric = speed.Background().copy();
  SetDisplayUnits(TUnits::Imperial);
  speed.Draw(96.56064L, 1609.344L * 12.5L, 300);  // 60 mph, 12.5 mi, 984 ft
  EXPECT_NE(speed.Background(), metric);
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67, 67 - 50)));
  EXPECT_FALSE(Red(pic.Shown().pixelColor(67 - 50, 67)));
  Save(pic.Shown(), "instrument_speed_60mph.png");
  speed.Draw(193.12128L, -1, 0);  // 120 mph: the end of the dial
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67 + 50, 67)));
  SetDisplayUnits(TUnits::Metric);
  speed.Draw(90, -1, 0);
  EXPECT_EQ(speed.Background(), metric);
  EXPECT_TRUE(Red(pic.Shown().pixelColor(67, 67 - 50)));
  EXPECT_DOUBLE_EQ(static_cast<double>(SpeedDialDegrees(96.56064L, TUnits::Imperial)), 90.0);
}

TEST(Instruments, BearingNeedle) {
  Picture pic(73, 49);
  TAzimutBitmap az(&pic.image);
  const int cx = 36, cy = 24;
  // Course 0: the blue half up, the red half down.
  az.Draw(0);
  EXPECT_GT(CountIf(pic.Shown(), QRect(cx - 3, 4, 7, cy - 8), Blue), 10);
  EXPECT_GT(CountIf(pic.Shown(), QRect(cx - 3, cy + 4, 7, 18), Red), 10);
  EXPECT_EQ(CountIf(pic.Shown(), QRect(cx - 3, cy + 4, 7, 18), Blue), 0);
  Save(pic.Shown(), "instrument_bearing_0.png");
  // Course 90: blue to the left.
  az.Draw(90);
  EXPECT_GT(CountIf(pic.Shown(), QRect(4, cy - 2, cx - 8, 5), Blue), 10);
  EXPECT_GT(CountIf(pic.Shown(), QRect(cx + 4, cy - 2, cx - 8, 5), Red), 5);
  // No course, or none a compass has: only the heading mark and the centre dot.
  for (const long double course : {-1.0L, 1e12L, HUGE_VALL, std::nanl("")}) {
    az.Draw(course);
    EXPECT_EQ(CountIf(pic.Shown(), pic.Shown().rect(), Blue), 0);
    EXPECT_EQ(CountIf(pic.Shown(), pic.Shown().rect(), Red), 0);
    EXPECT_EQ(pic.Shown().pixelColor(cx, 1), QColor(Qt::black));
    EXPECT_EQ(pic.Shown().pixelColor(cx, cy), QColor(Qt::black));
  }

  const TAzimutNeedle n = AzimutNeedle(73, 49, 0);
  EXPECT_EQ(n.Tip, QPoint(36, 24 + 24));  // red tip down, 49 / 2 - 1 = 23.5 rounds to 24
  EXPECT_EQ(n.BlueTip, QPoint(37, 1));
}

TEST(Instruments, GSensorDots) {
  Picture pic(65, 65);
  TGSensorBitmap g(&pic.image);
  EXPECT_EQ(g.Scale, 23);
  EXPECT_EQ(g.DiagonalScale, 16);
  EXPECT_EQ(QPoint(g.XAxisCenterX, g.XAxisY), QPoint(30, 60));
  EXPECT_EQ(QPoint(g.ZAxisX, g.ZAxisCenterY), QPoint(60, 30));
  EXPECT_EQ(QPoint(g.YAxisCenterX, g.YAxisCenterY), QPoint(25, 25));
  auto white = [](QColor c) { return c == QColor(Qt::white); };
  auto whites = [&](QRect r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x) n += white(pic.Shown().pixelColor(x, y));
    return n;
  };
  // 0 g: a white-filled dot on each axis centre.
  g.Draw(0, 0, 0, 0);
  Save(pic.Shown(), "instrument_gsensor_0.png");
  EXPECT_GT(whites(QRect(29, 59, 3, 3)), 0);
  EXPECT_GT(whites(QRect(59, 29, 3, 3)), 0);
  EXPECT_GT(whites(QRect(24, 24, 3, 3)), 0);
  // 10 g: every dot is off the picture.
  g.Draw(10, 10, 10, 1);
  EXPECT_EQ(whites(pic.Shown().rect()), 0);
  // 1 g left on x: the dot at the left tick.
  g.Draw(1, 10, 10, 1);
  EXPECT_GT(whites(QRect(30 - 23 - 1, 59, 3, 3)), 0);
}
