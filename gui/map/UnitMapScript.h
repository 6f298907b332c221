// The map page's language, without a browser: the script texts the program
// runs in the page, the parsing of the page's callback URLs, the view that
// the program keeps from the page's reports, the thinned track script with
// its time points, and the geometry of the vehicle arrow.
//
// Units: coordinates are decimal degrees (longitude x, latitude y), angles
// degrees clockwise from north, distances metres, speeds km/h, times
// TDateTime days. A point (0, 0) is "no point".
//
// Everything here is a plain function or value type; any thread may use it.
#pragma once

#include <QPointF>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "app/UnitUtils.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

// The page calls the program by navigating to this prefix + command +
// "?" + query; the host leads nowhere.
inline constexpr char kMapCallbackPrefix[] = "http://tachora-callback.invalid/";

struct TMapPoint {
  long double Lon = 0;
  long double Lat = 0;
  bool Present() const { return Lon != 0 || Lat != 0; }
  bool operator==(const TMapPoint &) const = default;
};

// FormatCoord as a QString: six decimals, "." whatever the locale.
QString CoordText(long double v);
// "new google.maps.LatLng(<lat>, <lon>)".
QString LatLngText(long double lon, long double lat);
inline QString LatLngText(const TMapPoint &p) {
  return LatLngText(p.Lon, p.Lat);
}
// A number written with "." or ","; `def` when it is not one.
long double ParseFloatDot(const QString &text, long double def);
int ParseIntOr0(const QString &text);
// The part of s before the first sep, removed from s with the separator;
// without sep all of s (s becomes empty).
QString SplitFirst(QString &s, QStringView sep);
// Takes the next "key=value" pair off an "&"-joined query; false when empty.
bool NextParam(QString &query, QString &key, QString &value);

// Distance, EllipseRadius and DestinationPoint are the shared ones of
// app/UnitUtils.h.

// A callback URL split: Ours is false for a URL without the prefix (the
// browser goes on with it).
struct TMapCallback {
  bool Ours = false;
  QString Command;
  QString Query;
};
TMapCallback ParseMapCallback(const QString &url);

// What the program knows of the page's current view.
struct TMapView {
  long double Left = 0, Right = 0, Top = 0, Bottom = 0;
  long double CenterX = 0, CenterY = 0;
  int Width = 0, Height = 0;
  int Zoom = 0;
  long double MetresPerPixelX = 0, MetresPerPixelY = 0;
  long double MetresPerDegreeX = 0, MetresPerDegreeY = 0;
  long double MarkerSize = 0;
  long double MarginX = 0, MarginY = 0;

  // Takes a "view" or "bounds" report's values (a zero width or height
  // becomes the control's, at least 1 pixel) and works out the scales and
  // margins. Returns the map type "mt" when the report names one.
  std::optional<QString> ApplyReport(QString query, QSize control);
  // The inner area: the view less the margins. Inside() counts the edges,
  // StrictlyInside() does not.
  bool Inside(const TMapPoint &p) const;
  bool StrictlyInside(const TMapPoint &p) const;
  // Moves the view's rectangle so that (lon, lat) is its centre.
  void MoveCentre(long double lon, long double lat);
};

// Where the map centre goes to keep a vehicle at (lon, lat) in view: ahead
// of it along a course in 0..360, else the point itself.
TMapPoint CentreAhead(const TMapView &view, long double lon, long double lat, long double course);
// After a zoom report from `oldZoom` to view.Zoom: the centre that keeps the
// vehicle at p where it was on the screen; nothing unless zoomed in.
std::optional<TMapPoint> ZoomRecentre(const TMapView &view, int oldZoom, const TMapPoint &p);

// "SetMapCenter(<lat> ,<lon>)".
QString MapCenterScript(long double lon, long double lat);
// "initialize(<lat>, <lon>, <zoom>, '<map type>')" from the settings' texts.
QString InitializeScript(const QString &lat, const QString &lon, const QString &zoom,
                         const QString &mapType);

enum class TArrowSize { Small, Normal, Big };
// Where (lon, lat) lies in the view's pixels, from its top left corner: the
// map's Web Mercator projection, from the bounds and size the page last
// reported. Nothing while the view is not known.
std::optional<QPointF> MapPixel(const TMapView &view, long double lon, long double lat);

// The vehicle arrow's corners for a valid fix: the tip, the left corner, the
// vehicle's own point and the right corner (the point is the notch).
std::array<TMapPoint, 4> VehicleArrow(const TMapPoint &p, long double course, long double speed,
                                      long double markerSize, TArrowSize arrow);
// The vehicle marker: the arrow polygon for a valid fix, the approximate
// circle otherwise.
QString VehicleMarkerScript(const TMapPoint &p, long double course, long double speed,
                            bool fixValid, long double markerSize, TArrowSize arrow);
// What the vehicle marker shows: the arguments of VehicleMarkerScript.
struct TMarkerLook {
  TMapPoint Point;
  long double Course = 0, Speed = 0;
  bool FixValid = false;
  long double Size = 0;
  TArrowSize Arrow = TArrowSize::Big;
};
// Whether the marker `now` looks different on `view` from the one `drawn`:
// another kind, arrow or size, a move of a pixel or more (any move while
// the view's scale is unknown), a turn of 2 degrees or more, or a speed
// change of 3 km/h or more (the arrow's shape follows the speed).
bool MarkerChanged(const TMapView &view, const TMarkerLook &drawn, const TMarkerLook &now);
// The A and B pins: "SetAB(...)" or "ClearMarkersAB()" when there is no A.
QString ABMarkersScript(const std::optional<TMapPoint> &a, const std::optional<TMapPoint> &b);
// The two pins' points from the view's ends a and b (0..1 of the time line):
// a point equal to the track's start or finish gets no pin of its own.
struct TABPins {
  std::optional<TMapPoint> A, B;
};
TABPins ABPins(long double a, long double b,
               const std::function<std::optional<TMapPoint>(long double)> &pointAt,
               const TMapPoint &trackStart, const TMapPoint &trackEnd);

// Time point interval (days) of the time points menu; the "never" choice is
// 100 days, which no trip reaches.
inline constexpr double kTimePointsNever = 100.0;

// The track of several recordings as page script: "ClearPath(); ", one
// "AddPath" per stretch (and grey links between stretches when connected),
// the start and finish pins; the time point markers apart (they go last).
struct TTrackScript {
  QString Paths;       // "ClearPath(); " + paths + start and finish pins
  QString TimePoints;  // "AddPathMarker(...gm_MarkerP.png...)" for each
  TMapPoint Start, End;
  long double MinLon = 1000, MaxLon = -1000, MinLat = 1000, MaxLat = -1000;
  int Step = 1;  // every Step-th point of a stretch was sent
  int PointsSent = 0;
  // The bounds have an area (not all on one meridian or parallel).
  bool HasArea() const { return MaxLon > MinLon && MaxLat > MinLat; }
};
struct TTrackScriptInput {
  std::vector<const TMovingInfo *> Records;
  std::vector<bool> Selected;  // drawn magenta; may be shorter or empty
  bool Connect = false;        // grey links across gaps
  double Interval = kTimePointsNever;
};
TTrackScript BuildTrackScript(const TTrackScriptInput &in);
// The same on stretches already thinned (one TTrack per record); pointCount
// is the number of GPS points of all records together.
TTrackScript BuildTrackScript(const std::vector<TTrack> &tracks, size_t pointCount,
                              const std::vector<bool> &selected, bool connect, double interval);
// "SetMapBounds(<sw>, <ne>); ".
QString MapBoundsScript(const TTrackScript &t);

// A recording of the open trip as the route click sees it: its telemetry
// and its span on the trip's time line.
struct TMapRecording {
  const TMovingInfo *Info = nullptr;
  long double Start = 0, End = 0;
};
// The trip position nearest to a clicked point; the earlier recording wins a
// tie. Nothing when the click has no coordinates or no recording has points.
std::optional<long double> RouteClickTarget(long double lon, long double lat,
                                            const std::vector<TMapRecording> &trip);

}  // namespace tachora
