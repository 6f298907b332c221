// libFuzzer target: the addresses the map page navigates to, read the way
// the map controller reads them: the command and its query, a "view" or
// "bounds" report and what is worked out from it (scales, margins, the
// centre ahead of the vehicle), then (after the first line feed) a "zoom"
// report and a route click against a two-recording trip. Nothing may crash, and the
// view's scales stay finite for finite reports.
#include <QSize>
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "map/UnitMapScript.h"

using namespace tachora;

namespace {

const std::vector<TMapRecording> &Trip() {
  static const TMovingInfo first = [] {
    TMovingInfo mi;
    for (int i = 0; i < 20; ++i) {
      TGpsPoint p;
      p.Lat = 59.9 + i * 0.001L;
      p.Lon = 30.3 + i * 0.001L;
      mi.GpsPoints.push_back(p);
    }
    return mi;
  }();
  static const TMovingInfo empty;
  static const std::vector<TMapRecording> trip{{&first, 0, 0.5L}, {&empty, 0.5L, 1}};
  return trip;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  QString url =
      QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  QString next = url;
  url = SplitFirst(next, u"\n");
  const TMapCallback cb = ParseMapCallback(QLatin1StringView(kMapCallbackPrefix) + url);
  if (!cb.Ours) __builtin_trap();
  ParseMapCallback(url);

  TMapView view;
  view.ApplyReport(cb.Query, QSize(800, 600));
  if (std::isfinite(view.Left) && std::isfinite(view.Right) && std::isfinite(view.Top) &&
      std::isfinite(view.Bottom) && view.Width > 0 && view.Height > 0 &&
      !std::isfinite(view.MetresPerPixelX + view.MetresPerPixelY))
    __builtin_trap();
  const TMapPoint vehicle{30.31L, 59.93L};
  view.Inside(vehicle);
  view.StrictlyInside(vehicle);
  CentreAhead(view, vehicle.Lon, vehicle.Lat, 45);

  // A zoom report after the view's own zoom.
  const int oldZoom = view.Zoom;
  QString q = ParseMapCallback(QLatin1StringView(kMapCallbackPrefix) + next).Query, key, value;
  long double x = 0, y = 0;
  while (NextParam(q, key, value)) {
    if (key == u"z") view.Zoom = ParseIntOr0(value);
    if (key == u"x") x = ParseFloatDot(value, 0);
    if (key == u"y") y = ParseFloatDot(value, 0);
  }
  ZoomRecentre(view, oldZoom, vehicle);
  if (const auto target = RouteClickTarget(x, y, Trip()))
    if (!(*target >= 0 && *target <= 1)) __builtin_trap();
  return 0;
}
