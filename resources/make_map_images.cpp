// Draws the map's marker pins into the current
// folder (our own pictures; run once when they change):
//   g++ -std=c++20 -fPIC make_map_images.cpp $(pkg-config --cflags --libs Qt6Gui) -o mk
//   QT_QPA_PLATFORM=offscreen ./mk
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

static void Pin(const char *file, QColor fill, const char *letter) {
  QImage img(20, 34, QImage::Format_ARGB32);
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
  img.save(file);
}

static void TimePoint() {
  QImage img(20, 10, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 60, 200), 2));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(3, 1.5, 14, 7));
  p.end();
  img.save("gm_MarkerP.png");
}

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  Pin("gm_MarkerS.png", QColor(46, 158, 58), "S");
  Pin("gm_MarkerF.png", QColor(30, 95, 208), "F");
  Pin("gm_MarkerA.png", QColor(242, 194, 0), "A");
  Pin("gm_MarkerB.png", QColor(242, 140, 0), "B");
  TimePoint();
  return 0;
}
