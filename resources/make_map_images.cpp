// Draws the map's marker pins into the current
// folder (our own pictures; run once when they change):
//   g++ -std=c++20 -fPIC make_map_images.cpp $(pkg-config --cflags --libs Qt6Gui) -o mk
//   QT_QPA_PLATFORM=offscreen ./mk
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

// Each picture is written at 1x and, as NAME@2x.png, at twice the pixels for
// high-density screens (the map page picks it there).
static QString File(const char *name, int scale) {
  return scale == 1 ? QString(name) + ".png" : QString(name) + "@2x.png";
}

static void Pin(const char *name, QColor fill, const char *letter, int scale) {
  QImage img(20 * scale, 34 * scale, QImage::Format_ARGB32);
  img.setDevicePixelRatio(scale);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.moveTo(10, 33.5);
  path.cubicTo(7, 24, 1, 19, 1, 10);
  path.arcTo(QRectF(1, 1, 18, 18), 180, -180);
  path.cubicTo(19, 19, 13, 24, 10, 33.5);
  p.setPen(QPen(QColor(40, 40, 40), 1));
  p.setBrush(fill);
  p.drawPath(path);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(4, 4, 12, 12));
  QFont f("Liberation Sans");
  f.setPixelSize(10);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::black);
  p.drawText(QRectF(4, 4, 12, 12), Qt::AlignCenter, letter);
  p.end();
  img.save(File(name, scale));
}

static void TimePoint(int scale) {
  QImage img(20 * scale, 10 * scale, QImage::Format_ARGB32);
  img.setDevicePixelRatio(scale);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 60, 200), 2));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(3, 1.5, 14, 7));
  p.end();
  img.save(File("gm_MarkerP", scale));
}

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  for (int scale : {1, 2}) {
    Pin("gm_MarkerS", QColor(46, 158, 58), "S", scale);
    Pin("gm_MarkerF", QColor(30, 95, 208), "F", scale);
    Pin("gm_MarkerA", QColor(242, 194, 0), "A", scale);
    Pin("gm_MarkerB", QColor(242, 140, 0), "B", scale);
    TimePoint(scale);
  }
  return 0;
}
