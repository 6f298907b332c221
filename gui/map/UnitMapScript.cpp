#include "map/UnitMapScript.h"

#include <QUrl>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace tachora {

namespace {

const QString kQ = QStringLiteral("\"");

// Appends CoordText(v) to out without temporaries (the track script
// writes tens of thousands of them).
void AppendCoord(QString &out, long double v) {
  char buf[48];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::fixed, 6);
  out.append(QLatin1StringView(buf, r.ptr - buf));
}

void AppendLatLng(QString &out, long double lon, long double lat) {
  out.append(QLatin1StringView("new google.maps.LatLng("));
  AppendCoord(out, lat);
  out.append(QLatin1StringView(", "));
  AppendCoord(out, lon);
  out.append(QLatin1Char(')'));
}

// Into [0, 360) in one step whatever the size (an unknown angle reads 0).
long double NormaliseAngle(long double a) {
  if (!std::isfinite(a)) return 0;
  a = std::fmod(a, 360.0L);
  return a < 0 ? a + 360 : a;
}

}  // namespace

QString CoordText(long double v) {
  QString s;
  AppendCoord(s, v);
  return s;
}

QString LatLngText(long double lon, long double lat) {
  QString s;
  AppendLatLng(s, lon, lat);
  return s;
}

long double ParseFloatDot(const QString &text, long double def) {
  QString t = text.trimmed();
  t.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double v = t.toDouble(&ok);  // QString::toDouble is locale-independent
  return ok && std::isfinite(v) ? v : def;
}

int ParseIntOr0(const QString &text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  return ok ? v : 0;
}

QString SplitFirst(QString &s, QStringView sep) {
  const qsizetype i = s.indexOf(sep);
  if (i < 0) {
    QString all = s;
    s.clear();
    return all;
  }
  QString head = s.left(i);
  s.remove(0, i + sep.size());
  return head;
}

bool NextParam(QString &query, QString &key, QString &value) {
  if (query.isEmpty()) return false;
  QString pair = SplitFirst(query, u"&");
  key = SplitFirst(pair, u"=");
  value = pair;
  return true;
}

TMapCallback ParseMapCallback(const QString &url) {
  TMapCallback cb;
  const QLatin1StringView prefix(kMapCallbackPrefix);
  if (!url.startsWith(prefix, Qt::CaseInsensitive)) return cb;
  cb.Ours = true;
  QString rest = url.mid(prefix.size());
  cb.Command = SplitFirst(rest, u"?");
  cb.Query = rest;
  return cb;
}

// ---- view ------------------------------------------------------------------

std::optional<QString> TMapView::ApplyReport(QString query, QSize control) {
  std::optional<QString> mapType;
  QString key, value;
  while (NextParam(query, key, value)) {
    if (key == u"t")
      Top = ParseFloatDot(value, 0);
    else if (key == u"l")
      Left = ParseFloatDot(value, 0);
    else if (key == u"b")
      Bottom = ParseFloatDot(value, 0);
    else if (key == u"r")
      Right = ParseFloatDot(value, 0);
    else if (key == u"y")
      CenterY = ParseFloatDot(value, 0);
    else if (key == u"x")
      CenterX = ParseFloatDot(value, 0);
    else if (key == u"w")
      Width = ParseIntOr0(value);
    else if (key == u"h")
      Height = ParseIntOr0(value);
    else if (key == u"z")
      Zoom = ParseIntOr0(value);
    else if (key == u"mt")
      mapType = QUrl::fromPercentEncoding(value.toUtf8());
  }
  if (Width == 0) Width = std::max(control.width(), 1);
  if (Height == 0) Height = std::max(control.height(), 1);
  const long double wm = Distance(CenterY, Left, CenterY, Right);
  const long double hm = Distance(Top, CenterX, Bottom, CenterX);
  MetresPerPixelX = wm / Width;
  MetresPerPixelY = hm / Height;
  const long double dx = std::fabs(Left - Right), dy = std::fabs(Top - Bottom);
  // A degenerate view (not reported yet) keeps its scales finite.
  MetresPerDegreeX = dx > 0 ? wm / dx : 0;
  MetresPerDegreeY = dy > 0 ? hm / dy : 0;
  MarginX = std::max(Width * 0.15L, 30.0L) / Width * dx;
  MarginY = std::max(Height * 0.15L, 30.0L) / Height * dy;
  MarkerSize = MetresPerPixelX * 20;
  return mapType;
}

bool TMapView::Inside(const TMapPoint &p) const {
  return Left + MarginX <= p.Lon && p.Lon <= Right - MarginX && Bottom + MarginY <= p.Lat &&
         p.Lat <= Top - MarginY;
}

bool TMapView::StrictlyInside(const TMapPoint &p) const {
  return Left + MarginX < p.Lon && p.Lon < Right - MarginX && Bottom + MarginY < p.Lat &&
         p.Lat < Top - MarginY;
}

void TMapView::MoveCentre(long double lon, long double lat) {
  Left += lon - CenterX;
  Right += lon - CenterX;
  Top += lat - CenterY;
  Bottom += lat - CenterY;
  CenterX = lon;
  CenterY = lat;
}

TMapPoint CentreAhead(const TMapView &view, long double lon, long double lat, long double course) {
  if (!(course >= 0 && course <= 360)) return {lon, lat};
  const long double a =
      view.Width / 2.0L * view.MetresPerPixelX - view.MarginX * view.MetresPerDegreeX;
  const long double b =
      view.Height / 2.0L * view.MetresPerPixelY - view.MarginY * view.MetresPerDegreeY;
  const long double r = EllipseRadius(a, b, course);
  const TLonLat d = DestinationPoint(lon, lat, course, 0.7L * r);
  return {d.lon, d.lat};
}

std::optional<TMapPoint> ZoomRecentre(const TMapView &view, int oldZoom, const TMapPoint &p) {
  if (view.Zoom <= oldZoom) return std::nullopt;
  // Zoom levels come from the page: their difference may not fit an int.
  const long double k = std::pow(2.0L, static_cast<long double>(view.Zoom) - oldZoom);
  return TMapPoint{p.Lon + (view.CenterX - p.Lon) / k, p.Lat + (view.CenterY - p.Lat) / k};
}

// ---- scripts -----------------------------------------------------------------

QString MapCenterScript(long double lon, long double lat) {
  return "SetMapCenter(" + CoordText(lat) + " ," + CoordText(lon) + ")";
}

QString InitializeScript(const QString &lat, const QString &lon, const QString &zoom,
                         const QString &mapType) {
  QString type = mapType;
  type.remove(QLatin1Char('\'')).remove(QLatin1Char('\\'));
  // The settings are the user's file: anything but a number becomes the
  // default rather than script text.
  // "inf" and "nan" read as numbers but are no script values.
  auto num = [](const QString &s, const char *def) {
    bool ok = false;
    const double v = s.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? s.trimmed() : QString::fromLatin1(def);
  };
  return "initialize(" + num(lat, "59.939") + ", " + num(lon, "30.315") + ", " + num(zoom, "14") +
         ", '" + type + "')";
}

std::optional<QPointF> MapPixel(const TMapView &view, long double lon, long double lat) {
  // Leaflet's spherical Mercator keeps latitudes within this band.
  static constexpr long double kMaxLatitude = 85.0511287798L;
  auto mercator = [](long double degrees) {
    const long double l = std::clamp(degrees, -kMaxLatitude, kMaxLatitude);
    return std::log(
        std::tan(std::numbers::pi_v<long double> / 4 + l * std::numbers::pi_v<long double> / 360));
  };
  const long double top = mercator(view.Top), bottom = mercator(view.Bottom);
  if (!(view.Right > view.Left && top > bottom && view.Width > 0 && view.Height > 0))
    return std::nullopt;
  const long double x = (lon - view.Left) / (view.Right - view.Left) * view.Width;
  const long double y = (top - mercator(lat)) / (top - bottom) * view.Height;
  if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
  return QPointF(static_cast<double>(x), static_cast<double>(y));
}

std::array<TMapPoint, 4> VehicleArrow(const TMapPoint &p, long double course, long double speed,
                                      long double markerSize, TArrowSize arrow) {
  auto at = [&](long double angle, long double dist) {
    const TLonLat q = DestinationPoint(p.Lon, p.Lat, NormaliseAngle(angle), dist);
    return TMapPoint{q.lon, q.lat};
  };
  // The arrow's shape takes an unknown speed as a stop.
  if (!(speed >= 0 && speed <= kMaxSaneSpeed)) speed = 0;
  if (arrow == TArrowSize::Small) {
    const long double s = markerSize / 2;
    return {at(course, s), at(course + 120, s / 2), p, at(course + 240, s / 2)};
  }
  const long double s = arrow == TArrowSize::Normal ? markerSize / 1.6L : markerSize;
  const long double spread = std::max(60 - speed / 3, 20.0L);
  const long double tip = (speed / 300 + 1) * s;
  return {at(course, tip), at(course + 180 - spread, s), p, at(course + 180 + spread, s)};
}

QString VehicleMarkerScript(const TMapPoint &p, long double course, long double speed,
                            bool fixValid, long double markerSize, TArrowSize arrow) {
  if (!fixValid)
    return "PlaceMarkerD(" + LatLngText(p) + "," + QString::number(std::llround(markerSize * 2)) +
           ")";
  const std::array<TMapPoint, 4> a = VehicleArrow(p, course, speed, markerSize, arrow);
  return "PlaceMarker([" + LatLngText(a[0]) + "," + LatLngText(a[1]) + "," + LatLngText(a[2]) +
         "," + LatLngText(a[3]) + "])";
}

bool MarkerChanged(const TMapView &view, const TMarkerLook &drawn, const TMarkerLook &now) {
  if (drawn.FixValid != now.FixValid || drawn.Arrow != now.Arrow || drawn.Size != now.Size)
    return true;
  const long double dLon = std::fabs(now.Point.Lon - drawn.Point.Lon);
  const long double dLat = std::fabs(now.Point.Lat - drawn.Point.Lat);
  if (view.MetresPerPixelX > 0 && view.MetresPerPixelY > 0) {
    const long double dx = dLon * view.MetresPerDegreeX / view.MetresPerPixelX;
    const long double dy = dLat * view.MetresPerDegreeY / view.MetresPerPixelY;
    // Not-a-number compares false: such a move counts as a change.
    if (!(dx < 1 && dy < 1)) return true;
  } else if (dLon != 0 || dLat != 0) {
    return true;
  }
  if (!now.FixValid) return false;  // the circle has no course or speed
  long double turn = std::fmod(std::fabs(now.Course - drawn.Course), 360.0L);
  turn = std::min(turn, 360 - turn);
  return !(turn < 2 && std::fabs(now.Speed - drawn.Speed) < 3);
}

QString ABMarkersScript(const std::optional<TMapPoint> &a, const std::optional<TMapPoint> &b) {
  if (!a) return QStringLiteral("ClearMarkersAB()");
  const TMapPoint pb = b ? *b : *a;
  return "SetAB(" + kQ + "gm_MarkerA.png" + kQ + ", " + LatLngText(*a) + ", " + kQ +
         "gm_MarkerB.png" + kQ + ", " + LatLngText(pb) + ")";
}

TABPins ABPins(long double a, long double b,
               const std::function<std::optional<TMapPoint>(long double)> &pointAt,
               const TMapPoint &trackStart, const TMapPoint &trackEnd) {
  auto own = [&](long double x) -> std::optional<TMapPoint> {
    std::optional<TMapPoint> p = pointAt(x);
    if (p && p->Present() && *p != trackStart && *p != trackEnd) return p;
    return std::nullopt;
  };
  TABPins pins;
  if (a > 0) pins.A = own(a);
  pins.B = pins.A;
  if (b < 1) {
    if (auto p = own(b)) pins.B = p;
  }
  if (!pins.A) pins.A = pins.B;
  return pins;
}

// ---- track -------------------------------------------------------------------

TTrackScript BuildTrackScript(const std::vector<TTrack> &tracks, size_t pointCount,
                              const std::vector<bool> &selected, bool connect, double interval) {
  TTrackScript out;
  out.Step = std::max(static_cast<int>(std::llround(pointCount / 20000.0)), 1);
  const int step = out.Step;
  QString &s = out.Paths;
  // About 60 characters a point.
  s.reserve(
      static_cast<qsizetype>(std::min<size_t>(pointCount, 20000 + 2 * tracks.size()) * 60 + 256));
  s.append(QLatin1StringView("ClearPath(); "));
  double firstTime = 0;
  long long lastIndex = 0;
  bool haveEnd = false;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const bool sel = i < selected.size() && selected[i];
    const QLatin1StringView colour(sel ? "#FF00FF" : "#FF0000");
    for (const TTrackItem &seg : tracks[i]) {
      const auto &pts = seg.Points;
      if (pts.empty()) continue;
      if (firstTime == 0 || firstTime > pts.front().Time) firstTime = pts.front().Time;
      if (!out.Start.Present() && !haveEnd) out.Start = {pts.front().Lon, pts.front().Lat};
      if (connect && haveEnd) {
        s.append(QLatin1StringView("AddPath(["));
        AppendLatLng(s, out.End.Lon, out.End.Lat);
        s.append(QLatin1Char(','));
        AppendLatLng(s, pts.front().Lon, pts.front().Lat);
        s.append(QLatin1StringView("], \"#444444\", 0.4); "));
      }
      out.End = {pts.back().Lon, pts.back().Lat};
      haveEnd = true;
      s.append(QLatin1StringView("AddPath(["));
      const size_t last = pts.size() - 1;
      bool first = true;
      for (size_t k = 0; k <= last; ++k) {
        if (!(step < 2 || k % step == 0 || k == last)) continue;
        const TTrackItemPoint &p = pts[k];
        if (!first) s.append(QLatin1Char(','));
        first = false;
        AppendLatLng(s, p.Lon, p.Lat);
        ++out.PointsSent;
        out.MinLon = std::min(out.MinLon, p.Lon);
        out.MaxLon = std::max(out.MaxLon, p.Lon);
        out.MinLat = std::min(out.MinLat, p.Lat);
        out.MaxLat = std::max(out.MaxLat, p.Lat);
        const double t = std::trunc((p.Time - firstTime) / interval);
        if (t > lastIndex) {
          lastIndex = static_cast<long long>(t);
          out.TimePoints.append(QLatin1StringView("AddPathMarker(\"gm_MarkerP.png\", "));
          AppendLatLng(out.TimePoints, p.Lon, p.Lat);
          out.TimePoints.append(QLatin1StringView("); "));
        }
      }
      s.append(QLatin1StringView("], \"")).append(colour).append(QLatin1StringView("\", 0.4); "));
    }
  }
  if (haveEnd) {
    s.append(QLatin1StringView("AddPathMarker(\"gm_MarkerS.png\", "));
    AppendLatLng(s, out.Start.Lon, out.Start.Lat);
    s.append(QLatin1StringView("); AddPathMarker(\"gm_MarkerF.png\", "));
    AppendLatLng(s, out.End.Lon, out.End.Lat);
    s.append(QLatin1StringView("); "));
  }
  return out;
}

TTrackScript BuildTrackScript(const TTrackScriptInput &in) {
  std::vector<TTrack> tracks;
  tracks.reserve(in.Records.size());
  size_t n = 0;
  for (const TMovingInfo *mi : in.Records) {
    if (!mi) {
      tracks.emplace_back();
      continue;
    }
    n += mi->GpsPoints.size();
    tracks.push_back(Thin(*mi, -1));
  }
  return BuildTrackScript(tracks, n, in.Selected, in.Connect, in.Interval);
}

QString MapBoundsScript(const TTrackScript &t) {
  return "SetMapBounds(" + LatLngText(t.MinLon, t.MinLat) + ", " + LatLngText(t.MaxLon, t.MaxLat) +
         "); ";
}

std::optional<long double> RouteClickTarget(long double lon, long double lat,
                                            const std::vector<TMapRecording> &trip) {
  if (lon == 0 || lat == 0) return std::nullopt;
  long double best = 999999;
  std::optional<long double> target;
  for (const TMapRecording &r : trip) {
    if (!r.Info) continue;
    const long double p = NearestPoint(*r.Info, lat, lon, best);
    if (p >= 0) target = r.Start + p * (r.End - r.Start);
  }
  return target;
}

}  // namespace tachora
