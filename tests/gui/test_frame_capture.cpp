// Frame captures: the suggested names and the JPEG files, decoded back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

#include "playback/UnitFrameCapture.h"

using namespace tachora;

namespace {

// Four quadrants: red, green, blue, white (JPEG blurs only their borders).
QImage Quadrants(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool right = x >= w / 2, low = y >= h / 2;
      img.setPixelColor(x, y,
                        low ? (right ? QColor(255, 255, 255) : QColor(0, 0, 255))
                            : (right ? QColor(0, 255, 0) : QColor(255, 0, 0)));
    }
  return img;
}

void ExpectNear(const QColor &got, const QColor &want) {
  EXPECT_NEAR(got.red(), want.red(), 10) << got.name().toStdString();
  EXPECT_NEAR(got.green(), want.green(), 10) << got.name().toStdString();
  EXPECT_NEAR(got.blue(), want.blue(), 10) << got.name().toStdString();
}

void ExpectQuadrants(const QString &path, int w, int h) {
  QImage back(path);
  ASSERT_FALSE(back.isNull()) << path.toStdString();
  EXPECT_EQ(back.size(), QSize(w, h));
  ExpectNear(back.pixelColor(w / 4, h / 4), Qt::red);
  ExpectNear(back.pixelColor(3 * w / 4, h / 4), Qt::green);
  ExpectNear(back.pixelColor(w / 4, 3 * h / 4), Qt::blue);
  ExpectNear(back.pixelColor(3 * w / 4, 3 * h / 4), Qt::white);
}

// The largest value of the first quantisation table (luminance) in a JPEG
// file; 121 in the standard table, scaled by the quality.
int MaxLuminanceQuant(const std::string &jpeg) {
  for (size_t i = 2; i + 4 < jpeg.size();) {
    if (static_cast<uint8_t>(jpeg[i]) != 0xFF) return -1;
    const uint8_t marker = static_cast<uint8_t>(jpeg[i + 1]);
    const size_t len = (static_cast<uint8_t>(jpeg[i + 2]) << 8) | static_cast<uint8_t>(jpeg[i + 3]);
    if (marker == 0xDB) {
      int best = 0;
      for (size_t k = 0; k < 64; ++k) best = std::max(best, int(uint8_t(jpeg[i + 5 + k])));
      return best;
    }
    i += 2 + len;
  }
  return -1;
}

QStringList Entries(const QString &dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

TEST(FrameCapture, SuggestedNames) {
  const TDateTime at = EncodeDate(2024, 5, 1) + EncodeTime(14, 5, 9, 0);
  EXPECT_EQ(CaptureFileName("Frame", at, 83456), "Frame 2024-05-01 14-05-09 (00-01-23.456).jpg");
  EXPECT_EQ(CaptureFileName("Window", at, 0), "Window 2024-05-01 14-05-09 (00-00-00.000).jpg");
  // Trips longer than a day count their hours on; an unknown date is left out.
  EXPECT_EQ(CaptureFileName("Frame", 0, 90000000 + 5), "Frame (25-00-00.005).jpg");
  EXPECT_EQ(ValidFileName("a/b:c*?\"<>|\\d\te"), "a_b_c_______d_e");
}

TEST(FrameCapture, JpegDecodesAtFullSizeWithItsColoursAndQuality96) {
  QTemporaryDir dir;
  const QImage img = Quadrants(64, 48);
  const QString fromImage = dir.filePath("image.jpg");
  std::string error;
  ASSERT_TRUE(WriteJpegFile(fromImage.toStdString(), img, kJpegQuality, &error)) << error;
  ExpectQuadrants(fromImage, 64, 48);

  // Raw player buffers in each pixel order, rows padded beyond the width.
  const int w = 50, h = 30;
  const QImage ref = Quadrants(w, h);
  for (TPixelLayout layout : {TPixelLayout::Rgb24, TPixelLayout::Rgbx, TPixelLayout::Bgrx}) {
    const int bpp = layout == TPixelLayout::Rgb24 ? 3 : 4;
    const int stride = w * bpp + 12;
    std::vector<uint8_t> buf(size_t(stride) * h, 0x55);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const QColor c = ref.pixelColor(x, y);
        uint8_t *px = &buf[size_t(y) * stride + size_t(x) * bpp];
        const bool bgr = layout == TPixelLayout::Bgrx;
        px[0] = uint8_t(bgr ? c.blue() : c.red());
        px[1] = uint8_t(c.green());
        px[2] = uint8_t(bgr ? c.red() : c.blue());
      }
    const QString path = dir.filePath(QString("raw%1.jpg").arg(int(layout)));
    ASSERT_TRUE(
        WriteJpegFile(path.toStdString(), {buf.data(), w, h, stride, layout}, kJpegQuality, &error))
        << error;
    ExpectQuadrants(path, w, h);
  }

  // Quality 96 scales the standard table by 8/100: 121 becomes 10.
  std::string jpeg;
  ASSERT_TRUE(EncodeJpeg({img.constBits(), 64, 48, int(img.bytesPerLine()), TPixelLayout::Bgrx},
                         kJpegQuality, jpeg));
  EXPECT_EQ(MaxLuminanceQuant(jpeg), 10);
}

TEST(FrameCapture, FailedWriteLeavesNothingAndKeepsTheOldFile) {
  QTemporaryDir dir;
  std::string error;
  const QImage img = Quadrants(16, 16);
  // A folder that does not exist.
  EXPECT_FALSE(WriteJpegFile(dir.filePath("none/x.jpg").toStdString(), img, kJpegQuality, &error));
  EXPECT_FALSE(error.empty());
  // A name taken by a folder: nothing is left beside it.
  ASSERT_TRUE(QDir(dir.path()).mkdir("taken.jpg"));
  error.clear();
  EXPECT_FALSE(WriteJpegFile(dir.filePath("taken.jpg").toStdString(), img, kJpegQuality, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Entries(dir.path()), QStringList{"taken.jpg"});
  // No picture: an existing file stays as it was.
  const QString old = dir.filePath("old.jpg");
  ASSERT_TRUE(WriteJpegFile(old.toStdString(), img));
  QFile f(old);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray before = f.readAll();
  f.close();
  EXPECT_FALSE(WriteJpegFile(old.toStdString(), QImage(), kJpegQuality, &error));
  const uint8_t byte = 0;
  EXPECT_FALSE(WriteJpegFile(old.toStdString(), {&byte, 10, 10, 5, TPixelLayout::Rgb24}));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  EXPECT_EQ(Entries(dir.path()).size(), 2);
}

TEST(FrameCapture, SaveAsOffersTheSuggestedNameAndAddsTheExtension) {
  QTemporaryDir dir;
  QString offered;
  QTimer::singleShot(0, [&] {
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog) {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QDialog *>(w)) d->reject();
      FAIL() << "no save dialog";
    }
    offered = QFileInfo(dialog->selectedFiles().value(0)).fileName();
    dialog->selectFile(dir.filePath("typed"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  const QString saved =
      SaveCaptureAs(nullptr, Quadrants(40, 20), dir.path(), "Frame (00-00-01.000).jpg");
  EXPECT_EQ(offered, "Frame (00-00-01.000).jpg");
  EXPECT_EQ(saved, dir.filePath("typed.jpg"));
  ExpectQuadrants(saved, 40, 20);
}
