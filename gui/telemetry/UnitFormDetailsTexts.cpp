#include "telemetry/UnitFormDetailsTexts.h"

#include <algorithm>
#include <cmath>

#include "app/UnitText.h"
#include "app/UnitUtils.h"
#include "telemetry/UnitGraphItems.h"

namespace tachora {

namespace {
QString Fixed(long double v, int decimals) {
  return QString::fromStdString(FormatFixed(v, decimals));
}
}  // namespace

QString DetailsIndexText(int32_t number) {
  return QStringLiteral("[%1]").arg(number);
}

QString DetailsLatitudeText(long double lat, const QString &prefix) {
  return prefix + (lat >= 0 ? "N" : "S") + Fixed(std::fabs(lat), 6);
}

QString DetailsLongitudeText(long double lon, const QString &prefix) {
  return prefix + (lon >= 0 ? "E" : "W") + Fixed(std::fabs(lon), 6);
}

QString DetailsSpeedText(long double speed, const QString &prefix, const QString &kmh) {
  if (!(speed >= 0 && speed <= kMaxSaneSpeed)) return {};
  // The shortest decimal text in fixed notation ("0.0000251", never
  // "2.51e-05", which the cut would make "2.5"): 12 significant digits as
  // ShortestText keeps, trailing zeros dropped, then cut after one decimal.
  const int magnitude = speed > 0 ? static_cast<int>(std::floor(std::log10(speed))) : 0;
  QString text = QString::fromStdString(FormatFixed(speed, std::clamp(11 - magnitude, 1, 18)));
  while (text.endsWith('0')) text.chop(1);
  if (text.endsWith('.')) text.chop(1);
  const qsizetype dot = text.indexOf('.');
  if (dot >= 0) text.truncate(dot + 2);
  return prefix + text + " " + kmh;
}

QString DetailsCourseText(long double course, const QString &prefix) {
  if (!(course >= 0 && course <= 360)) return {};
  return prefix + QString::number(RoundHalfAway(course)) + QChar(0x00B0);
}

QString DetailsDistanceText(long double metres, const QString &prefix, const QString &m) {
  QString digits = QString::number(RoundHalfAway(metres));
  const qsizetype sign = digits.startsWith('-') ? 1 : 0;
  if (digits.size() - sign > 3) digits.insert(digits.size() - 3, ' ');
  return prefix + digits + " " + m;
}

QString TimeLapseText(double ratio) {
  const QString n = ratio >= 10 ? QString::number(std::llround(ratio))
                                : QString::fromStdString(CutDecimals(ratio, 1));
  return L("TimeLapse") + QStringLiteral(" \u00D7") + n;
}

QString DetailsGsensorText(float g) {
  return (g >= 0 ? QStringLiteral(" ") : QStringLiteral("-")) + Fixed(std::fabs(g), 3);
}

QString ShortenMiddle(const QString &name, const std::function<bool(const QString &)> &fits) {
  QString s = name;
  while (!fits(s)) {
    const qsizetype len = s.size();
    const qsizetype half = len / 2;
    // Each round drops two characters; below eight nothing is left to cut.
    if (len < 8) break;
    s = s.left(half - 2) + "..." + s.mid(half + 3);
  }
  return s;
}

QPoint DetailsWindowPlace(QPoint pointer, QSize window, const QRect &workArea) {
  int x = pointer.x() + 16;
  if (x + window.width() > workArea.right() + 1) x = pointer.x() - 16 - window.width();
  x = std::max(x, workArea.left());
  int y = std::min(pointer.y() + 20, workArea.bottom() + 1 - window.height());
  return {x, y};
}

TDetailsTexts MakeDetailsTexts(const TMovingState &state, const QString &speedUnit,
                               const QString &distanceUnit, TUnits units) {
  TDetailsTexts t;
  const TGpsPoint &g = state.Gps;
  if (g.Time > 0) {
    const QString p = state.FixValid ? QString() : QStringLiteral("(?) ");
    t.GpsIndex = DetailsIndexText(g.Number);
    t.Longitude = DetailsLongitudeText(g.Lon, p);
    t.Latitude = DetailsLatitudeText(g.Lat, p);
    t.Speed = DetailsSpeedText(DisplaySpeed(g.Speed, units), p, speedUnit);
    t.Course = DetailsCourseText(g.Course, p);
    t.Track = units == TUnits::Metric
                  ? DetailsDistanceText(g.Distance, p, distanceUnit)
                  : p + QString::fromStdString(CutDecimals(DisplayDistance(g.Distance, units), 2)) +
                        " " + distanceUnit;
  }
  const TGsensorPoint &s = state.Gsensor;
  if (s.Time > 0) {
    t.GsensorIndex = DetailsIndexText(s.Number);
    t.X = DetailsGsensorText(s.X);
    t.Y = DetailsGsensorText(s.Y);
    t.Z = DetailsGsensorText(s.Z);
    t.A = DetailsGsensorText(s.A);
  }
  return t;
}

}  // namespace tachora
