// Draws the map's marker pins and the speedometer dial into the current
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

// 134 x 100: a white dial with a scale from 0 km/h (left) over 90 (up) to
// 180 (right), pivot at (67, 67); the corners are a flat white the program
// flood-fills with the panel colour.
static void Dial() {
  QImage img(134, 100, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(67, 67);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(QColor(245, 245, 245));
  p.drawChord(QRectF(c.x() - 65, c.y() - 65, 130, 130), 0, 180 * 16);
  p.setBrush(Qt::NoBrush);
  // A red arc over the high speeds.
  p.setPen(QPen(QColor(220, 40, 40), 3, Qt::SolidLine, Qt::FlatCap));
  p.drawArc(QRectF(c.x() - 61, c.y() - 61, 122, 122), 0, 40 * 16);
  QFont f("Liberation Sans");
  f.setPixelSize(8);
  p.setFont(f);
  for (int v = 0; v <= 180; v += 10) {
    const double a = (180 - v) * M_PI / 180;
    const double ca = std::cos(a), sa = std::sin(a);
    const bool major = v % 30 == 0;
    const double r1 = major ? 56 : 59, r2 = 63;
    p.setPen(QPen(QColor(30, 30, 30), major ? 2 : 1));
    p.drawLine(QPointF(c.x() + r1 * ca, c.y() - r1 * sa),
               QPointF(c.x() + r2 * ca, c.y() - r2 * sa));
    if (major) {
      const QPointF t(c.x() + 49 * ca, c.y() - 49 * sa);
      p.drawText(QRectF(t.x() - 8, t.y() - 5, 16, 10), Qt::AlignCenter, QString::number(v));
    }
  }
  p.end();
  img.save("speed_dial.png");
}

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  Pin("gm_MarkerS.png", QColor(46, 158, 58), "S");
  Pin("gm_MarkerF.png", QColor(30, 95, 208), "F");
  Pin("gm_MarkerA.png", QColor(242, 194, 0), "A");
  Pin("gm_MarkerB.png", QColor(242, 140, 0), "B");
  TimePoint();
  Dial();
  return 0;
}
