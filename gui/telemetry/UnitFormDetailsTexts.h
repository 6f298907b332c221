// The texts of the details window and where it goes, kept apart from the
// window so that they can be checked without one.
//
// Units: metres, km/h, degrees, g; numbers always with "."; screen pixels.
// Nothing here keeps state; any thread may call it.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>

#include "app/UnitDisplayUnits.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

// "[12]".
QString DetailsIndexText(int32_t number);
// "N59.939000" / "S..." for a latitude, "E30.315000" / "W..." for a
// longitude, after the prefix.
QString DetailsLatitudeText(long double lat, const QString &prefix);
QString DetailsLongitudeText(long double lon, const QString &prefix);
// The speed cut (not rounded) after its first decimal: "57.3 km/h"; empty
// for an unknown (negative) speed.
QString DetailsSpeedText(long double speed, const QString &prefix, const QString &kmh);
// "271°"; empty for an unknown (negative) course.
QString DetailsCourseText(long double course, const QString &prefix);
// "12 345 m", "999 m": a blank before the last three digits of longer numbers.
QString DetailsDistanceText(long double metres, const QString &prefix, const QString &m);
// "Time-lapse ×30", "Time-lapse ×2.5": a whole ratio from 10 on.
QString TimeLapseText(double ratio);
// " 0.500", "-0.046": the sign or a blank, then three decimals.
QString DetailsGsensorText(float g);

// Shortens a file name around its middle with "..." until `fits` accepts it
// (or it cannot get shorter), keeping both ends.
QString ShortenMiddle(const QString &name, const std::function<bool(const QString &)> &fits);

// The window's place for a pointer at `pointer`: 16 px right of it and 20
// px below, kept above the work area's bottom; left of the pointer when it
// would reach beyond the work area's right edge.
QPoint DetailsWindowPlace(QPoint pointer, QSize window, const QRect &workArea);

// All value texts of one state; the GPS ones empty without a fix time, the
// G-sensor ones without a sample time.
struct TDetailsTexts {
  QString GpsIndex, Longitude, Latitude, Speed, Course, Track;
  QString GsensorIndex, X, Y, Z, A;
};
// `speedUnit` and `distanceUnit` name the units: in imperial units the
// speed is shown in mph and the track in miles (two decimals, cut).
TDetailsTexts MakeDetailsTexts(const TMovingState &state, const QString &speedUnit,
                               const QString &distanceUnit, TUnits units = TUnits::Metric);

}  // namespace tachora
