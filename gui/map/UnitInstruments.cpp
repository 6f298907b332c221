#include "map/UnitInstruments.h"

#include <QPainter>
#include <QPolygon>
#include <cmath>

#include "app/UnitGuiUnits.h"
#include "app/UnitText.h"
#include "map/UnitMapScript.h"

namespace tachora {

namespace {

constexpr long double kRad = 3.14159265358979323846L / 180.0L;

int Round(long double v) {
  return static_cast<int>(std::lround(v));
}

// The classic (x1, y1)-(x2, y2) shapes exclude their right and bottom edge.
QRect Box(int x1, int y1, int x2, int y2) {
  return QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
}

void Ellipse(QPainter &p, int x1, int y1, int x2, int y2) {
  p.drawEllipse(Box(x1, y1, x2, y2));
}

void RoundRect(QPainter &p, int x1, int y1, int x2, int y2, int cw, int ch) {
  p.drawRoundedRect(Box(x1, y1, x2, y2), cw / 2.0, ch / 2.0);
}

void Polygon(QPainter &p, std::initializer_list<QPoint> pts) {
  p.drawPolygon(QPolygon(QList<QPoint>(pts)));
}

void Polyline(QPainter &p, std::initializer_list<QPoint> pts) {
  p.drawPolyline(QPolygon(QList<QPoint>(pts)));
}

// Text whose centre (or right edge) sits at a point.
void TextAt(QPainter &p, const QString &text, int x, int y, Qt::Alignment h) {
  const QFontMetrics fm(p.font());
  const int tw = fm.horizontalAdvance(text), th = fm.height();
  const int left = h == Qt::AlignRight ? x - tw : x - tw / 2;
  p.drawText(QRect(left, y - th / 2, tw, th), Qt::AlignCenter, text);
}

// The speedometer's dial on the panel colour, 134 x 100 logical pixels: a
// scale from 0 km/h (left) over 90 (up) to 180 (right) about the pivot
// (67, 67), a red arc over the high speeds. Drawn at the picture's own pixel
// ratio, so it is as sharp as the needle and the texts on it.
void DrawDial(QImage &img) {
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(67, 67);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(QColor(245, 245, 245));
  p.drawChord(QRectF(c.x() - 65, c.y() - 65, 130, 130), 0, 180 * 16);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(220, 40, 40), 3, Qt::SolidLine, Qt::FlatCap));
  p.drawArc(QRectF(c.x() - 61, c.y() - 61, 122, 122), 0, 40 * 16);
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(8);
  p.setFont(f);
  for (int v = 0; v <= 180; v += 10) {
    const double a = (180 - v) * static_cast<double>(kRad);
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
}

// The mph face over the km/h dial, in the dial's own geometry: centre
// (67, 67), a major tick with its number every 20 mph, a minor one every
// 10, red from 100 mph.
void DrawMphFace(QImage &img, const QString &label, const QColor &panel) {
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(67, 67);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(245, 245, 245));
  p.drawPie(QRectF(c.x() - 63, c.y() - 63, 126, 126), 0, 180 * 16);
  // The km/h dial's "0" and "180" sit on the base line: gone above it and
  // below it, the line itself stays.
  p.fillRect(QRectF(8, 59, 122, 7), QColor(245, 245, 245));
  p.fillRect(QRectF(8, 68, 122, 6), panel);
  auto at = [&c](long double degrees, qreal r) {
    const qreal a = static_cast<qreal>(degrees * kRad);
    return QPointF(c.x() - r * std::cos(a), c.y() - r * std::sin(a));
  };
  p.setPen(QPen(QColor(220, 40, 30), 3, Qt::SolidLine, Qt::FlatCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(c.x() - 59.5, c.y() - 59.5, 119, 119), 0, 30 * 16);
  p.setFont(TMyBitmap::PictureFont(7));
  for (int mph = 0; mph <= 120; mph += 10) {
    const long double d = mph * 1.5L;
    const bool major = mph % 20 == 0;
    p.setPen(QPen(QColor(30, 30, 30), major ? 2 : 1));
    p.drawLine(at(d, major ? 54 : 57), at(d, 61));
    if (major && mph > 0 && mph < 120) {
      p.setPen(QColor(80, 80, 80));
      const QPointF t = at(d, 45);
      TextAt(p, QString::number(mph), qRound(t.x()), qRound(t.y()), Qt::AlignHCenter);
    }
  }
  p.setPen(QColor(80, 80, 80));
  TextAt(p, QStringLiteral("0"), 14, 61, Qt::AlignHCenter);
  TextAt(p, QStringLiteral("120"), 118, 61, Qt::AlignHCenter);
  TextAt(p, label, 26, 52, Qt::AlignHCenter);
}

}  // namespace

QString TrackLengthText(long double metres) {
  QString s = QString::number(std::llround(metres));
  if (s.size() >= 4 && s.size() <= 6) s.insert(s.size() - 3, QLatin1Char(' '));
  return s;
}

std::array<QPoint, 3> SpeedNeedle(long double speed) {
  const long double theta = (speed + 180) * kRad;
  const long double s = std::sin(theta), c = std::cos(theta);
  const QPoint p0(67 - Round(6 * s), 67 + Round(6 * c));
  const QPoint p1(67 + Round(60 * c), 67 + Round(60 * s));
  return {p0, p1, QPoint(134 - p0.x(), 134 - p0.y())};
}

TAzimutNeedle AzimutNeedle(int w, int h, long double course) {
  const long double s = std::sin(course * kRad), c = std::cos(course * kRad);
  const long double l = EllipseRadius(w, h, course) / 2 - 1;
  const long double wd = EllipseRadius(w, h, course + 90) / 8;
  TAzimutNeedle n;
  n.P0 = QPoint(w / 2 - Round(wd * c), h / 2 + Round(wd * s));
  n.Tip = QPoint(w / 2 + Round(l * s), h / 2 + Round(l * c));
  n.P2 = QPoint(w - n.P0.x(), h - n.P0.y());
  n.BlueTip = QPoint(w - n.Tip.x(), h - n.Tip.y());
  return n;
}

// ---- speed -------------------------------------------------------------------

TSpeedBitmap::TSpeedBitmap(TMyImage *image, QObject *parent) : TMyBitmap(image, parent) {
  units_ = DisplayUnits();
  dialLabel_ = units_ == TUnits::Imperial ? L("MilesPerH") : QString();
  MakeBackground();
}

long double SpeedDialDegrees(long double kmh, TUnits units) {
  // 120 mph take the half circle that 180 km/h take.
  return units == TUnits::Imperial ? DisplaySpeed(kmh, units) * 1.5L : kmh;
}

void TSpeedBitmap::MakeBackground() {
  if (!image_) return;
  // The dial on the panel's colour: its corners show the panel.
  background_ = NewImage(image_->size());
  background_.fill(ButtonFace());
  DrawDial(background_);
  if (units_ == TUnits::Imperial) DrawMphFace(background_, dialLabel_, ButtonFace());
}

void TSpeedBitmap::PixelRatioChanged() {
  MakeBackground();
  Draw(speed_, length_, altitude_);
}

void TSpeedBitmap::SetUnits(TUnits units) {
  // The mph face names its unit in the current language.
  const QString label = units == TUnits::Imperial ? L("MilesPerH") : QString();
  if (units == units_ && label == dialLabel_) return;
  units_ = units;
  dialLabel_ = label;
  MakeBackground();
}

void TSpeedBitmap::Draw(long double speed, long double length, long double altitude) {
  speed_ = speed;
  length_ = length;
  altitude_ = altitude;
  if (!image_) return;
  // What no vehicle shows is not drawn (and not-a-number never reaches lround).
  if (!(speed <= kMaxSaneSpeed)) speed = -1;
  if (!std::isfinite(length)) length = -1;
  if (!(altitude >= kMinSaneAltitude && altitude <= kMaxSaneAltitude)) altitude = 0;
  SetUnits(DisplayUnits());
  RestorePicture();
  const int w = Width(), h = Height();
  QPainter p(&image_->Picture());
  if (speed >= 0) {
    const auto n = SpeedNeedle(SpeedDialDegrees(speed, units_));
    p.setPen(Qt::red);
    p.setBrush(Qt::red);
    Polygon(p, {n[0], n[1], n[2]});
  }
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  RoundRect(p, w / 2 - 30, h - 45, w / 2 + 30, h - 5, 10, 10);
  RoundRect(p, w / 2 - 25, h - 61, w / 2 + 25, h - 47, 5, 5);
  RoundRect(p, w / 2 - 17, h - 75, w / 2 + 17, h - 63, 5, 5);
  p.setBrush(Qt::NoBrush);
  if (speed >= 0) {
    p.setFont(PictureFont(22));
    TextAt(p, QString::number(std::llround(DisplaySpeed(speed, units_))), w / 2, h - 25,
           Qt::AlignHCenter);
  }
  p.setFont(PictureFont(8));
  if (length >= 0) {
    // Metres on the metric dial, miles with two decimals on the imperial one.
    const QString text =
        units_ == TUnits::Metric
            ? TrackLengthText(length)
            : QString::fromStdString(CutDecimals(DisplayDistance(length, units_), 2));
    TextAt(p, text, w / 2 + 21, h - 54, Qt::AlignRight);
  }
  if (altitude != 0)
    TextAt(p, QString::number(std::llround(DisplayAltitude(altitude, units_))), w / 2, h - 69,
           Qt::AlignHCenter);
  p.end();
  Update();
}

// ---- bearing -----------------------------------------------------------------

TAzimutBitmap::TAzimutBitmap(TMyImage *image, QObject *parent) : TMyBitmap(image, parent) {
  MakeBackground();
}

void TAzimutBitmap::PixelRatioChanged() {
  if (image_) background_ = NewImage(image_->size());
  MakeBackground();
  Draw(course_);
}

void TAzimutBitmap::MakeBackground() {
  if (background_.isNull()) return;
  FillBackground(ButtonFace());
  const int w = Width(), h = Height();
  QPainter p(&background_);
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(150, 150, 150), 2));
  Ellipse(p, 0, 0, w, h);
  p.setPen(QPen(Qt::black, 1));
  Ellipse(p, 0, 0, w, h);
  p.drawLine(0, h / 2, 4, h / 2);
  p.drawLine(w - 1, h / 2, w - 5, h / 2);
  p.drawLine(w / 2, h - 1, w / 2, h - 5);
}

void TAzimutBitmap::Draw(long double course) {
  course_ = course;
  if (!image_) return;
  RestorePicture();
  const int w = Width(), h = Height();
  QPainter p(&image_->Picture());
  if (course >= 0 && course <= 360) {
    const TAzimutNeedle n = AzimutNeedle(w, h, course);
    p.setPen(Qt::red);
    p.setBrush(Qt::red);
    Polygon(p, {n.P0, n.Tip, n.P2});
    p.setPen(QColor(255, 100, 100));
    Polyline(p, {n.P0, n.Tip, n.P2});
    p.setPen(Qt::blue);
    p.setBrush(Qt::blue);
    Polygon(p, {n.P0, n.BlueTip, n.P2});
    p.setPen(QColor(80, 80, 255));
    Polyline(p, {n.P0, n.BlueTip, n.P2});
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    RoundRect(p, w / 2 + 2, h / 4 - 3, w / 2 + 19, h / 4 + 7, 5, 5);
    p.setBrush(Qt::NoBrush);
    p.setFont(PictureFont(6));
    TextAt(p, QString::number(std::llround(course)), w / 2 + 10, h / 4 + 2, Qt::AlignHCenter);
  }
  p.setPen(Qt::black);
  p.setBrush(Qt::black);
  p.drawLine(w / 2, h / 2, w / 2, 0);
  Polygon(p, {QPoint(w / 2, 0), QPoint(w / 2 - 3, 4), QPoint(w / 2 + 3, 4)});
  Ellipse(p, w / 2 - 2, h / 2 - 2, w / 2 + 3, h / 2 + 3);
  p.end();
  Update();
}

// ---- G-sensor ----------------------------------------------------------------

TGSensorBitmap::TGSensorBitmap(TMyImage *image, QObject *parent) : TMyBitmap(image, parent) {
  MakeBackground();
}

void TGSensorBitmap::PixelRatioChanged() {
  if (image_) background_ = NewImage(image_->size());
  MakeBackground();
  Draw(last_[0], last_[1], last_[2], 0);
}

void TGSensorBitmap::MakeBackground() {
  if (background_.isNull()) return;
  FillBackground(ButtonFace());
  const int w = Width(), h = Height();
  Scale = w / 2 - 9;
  DiagonalScale = Round(Scale / 1.4L);
  XAxisCenterX = w / 2 - 2;
  XAxisY = h - 5;
  ZAxisX = w - 5;
  ZAxisCenterY = Scale + 7;
  YAxisCenterX = YAxisCenterY = DiagonalScale + 9;
  const int r = Scale, d = DiagonalScale;
  const int xc = XAxisCenterX, xy = XAxisY, zx = ZAxisX, zc = ZAxisCenterY;
  const int yx = YAxisCenterX, yy = YAxisCenterY;
  QPainter p(&background_);
  p.setPen(Qt::black);
  p.setBrush(Qt::black);
  auto line = [&](int x1, int y1, int x2, int y2) { p.drawLine(x1, y1, x2, y2); };
  auto path = [&](QPoint a, QPoint b, QPoint c) { Polyline(p, {a, b, c}); };
  // x axis
  line(xc - r - 5, xy, xc + r + 5, xy);
  line(xc, xy - 3, xc, xy + 4);
  path({xc + r + 3, xy - 2}, {xc + r + 5, xy}, {xc + r + 2, xy + 3});
  path({xc - r - 3, xy - 2}, {xc - r - 5, xy}, {xc - r - 2, xy + 3});
  line(xc + r, xy - 2, xc + r, xy + 3);
  line(xc - r, xy - 2, xc - r, xy + 3);
  // z axis
  line(zx, zc - r - 5, zx, zc + r + 5);
  line(zx - 3, zc, zx + 4, zc);
  path({zx - 2, zc + r + 3}, {zx, zc + r + 5}, {zx + 3, zc + r + 2});
  path({zx - 2, zc - r - 3}, {zx, zc - r - 5}, {zx + 3, zc - r - 2});
  line(zx - 2, zc + r, zx + 3, zc + r);
  line(zx - 2, zc - r, zx + 3, zc - r);
  // y axis, drawn as depth
  line(yx + d + 5, yy - d - 5, yx - d - 5, yy + d + 5);
  line(yx - 2, yy - 2, yx + 3, yy + 3);
  line(yx - d - 2, yy + d - 2, yx - d + 3, yy + d + 3);
  line(yx + d - 2, yy - d - 2, yx + d + 3, yy - d + 3);
  path({yx - d - 5, yy + d + 2}, {yx - d - 5, yy + d + 5}, {yx - d - 1, yy + d + 5});
  path({yx + d + 5, yy - d - 2}, {yx + d + 5, yy - d - 5}, {yx + d + 1, yy - d - 5});
  // labels
  p.setBrush(Qt::NoBrush);
  p.setFont(PictureFont(8));
  const QFontMetrics fm(p.font());
  const int th = fm.height();
  p.drawText(QRect(xc - fm.horizontalAdvance("x") / 2, xy - 1 - th, fm.horizontalAdvance("x"), th),
             Qt::AlignCenter, "x");
  p.drawText(QRect(zx - 4 - fm.horizontalAdvance("z"), zc - th / 2, fm.horizontalAdvance("z"), th),
             Qt::AlignCenter, "z");
  p.drawText(QRect(yx - 2 - fm.horizontalAdvance("y"), yy - th, fm.horizontalAdvance("y"), th),
             Qt::AlignCenter, "y");
}

void TGSensorBitmap::Draw(long double x, long double y, long double z, long double total) {
  (void)total;
  last_ = {x, y, z};
  if (!image_) return;
  // An axis that is not a number sits at its centre.
  for (long double *v : {&x, &y, &z})
    if (!std::isfinite(*v)) *v = 0;
  RestorePicture();
  QPainter p(&image_->Picture());
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  auto dot = [&](long double px, long double py) {
    // Far-off values stay far off without overflowing.
    const int ix = Round(std::clamp(px, -1e6L, 1e6L)), iy = Round(std::clamp(py, -1e6L, 1e6L));
    Ellipse(p, ix - 2, iy - 2, ix + 3, iy + 3);
  };
  dot(XAxisCenterX - std::round(x * Scale), XAxisY);
  dot(ZAxisX, ZAxisCenterY + std::round(z * Scale));
  const long double d = std::round(y * DiagonalScale);
  dot(YAxisCenterX - d, YAxisCenterY + d);
  p.end();
  Update();
}

}  // namespace tachora
