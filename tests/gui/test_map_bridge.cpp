// The map bridge without a browser: the script texts sent to the page, the
// parsing of its callbacks, the view kept from its reports, the track's
// thinning and time points, and the controller's answers to callbacks.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>
#include <limits>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"
#include "app/UnitSettings.h"
#include "map/UnitMapController.h"
#include "map/UnitMapPage.h"
#include "map/UnitMapScript.h"
#include "map/UnitMapTilesMenu.h"

using namespace tachora;

namespace {

constexpr double kMinute = 1.0 / 1440;

// A straight stretch of n points going north-east from (30, 60), one a second.
TTrackItem Stretch(int n, double t0, double lon0 = 30, double lat0 = 60) {
  TTrackItem it;
  for (int k = 0; k < n; ++k)
    it.Points.push_back({lon0 + k * 1e-5, lat0 + k * 1e-5, 0, t0 + k / 86400.0});
  return it;
}

int Count(const QString &s, const QString &what) {
  return static_cast<int>(s.count(what));
}

// Telemetry with the given points, one a second from t0.
TMovingInfo Info(const std::vector<std::pair<double, double>> &lonLat, double t0) {
  TMovingInfo mi;
  for (size_t k = 0; k < lonLat.size(); ++k) {
    TGpsPoint p;
    p.Time = t0 + k / 86400.0;
    p.Lon = lonLat[k].first;
    p.Lat = lonLat[k].second;
    p.Number = static_cast<int>(k);
    mi.GpsPoints.push_back(p);
  }
  mi.StartTime = t0;
  mi.EndTime = t0 + (lonLat.size() - 1) / 86400.0;
  return mi;
}

}  // namespace

TEST(MapScript, PointAndCommandTexts) {
  EXPECT_EQ(LatLngText(30.315, 59.939), "new google.maps.LatLng(59.939000, 30.315000)");
  EXPECT_EQ(LatLngText(-0.5, -33.25), "new google.maps.LatLng(-33.250000, -0.500000)");
  EXPECT_EQ(MapCenterScript(30.315, 59.939), "SetMapCenter(59.939000 ,30.315000)");
  // A first start: the settings' defaults.
  EXPECT_EQ(InitializeScript(settings::kMapY.Get(), settings::kMapX.Get(), settings::kMapZoom.Get(),
                             settings::kMapType.Get()),
            "initialize(59.939, 30.315, 14, '')");
  // Values from a damaged settings file never become script text.
  EXPECT_EQ(InitializeScript("1);alert(1", "30", "x", "osm');alert('"),
            "initialize(59.939, 30, 14, 'osm);alert(')");

  const TMapPoint a{30, 60}, b{30.5, 60.5};
  EXPECT_EQ(ABMarkersScript(a, b),
            "SetAB(\"gm_MarkerA.png\", new google.maps.LatLng(60.000000, 30.000000), "
            "\"gm_MarkerB.png\", new google.maps.LatLng(60.500000, 30.500000))");
  EXPECT_EQ(ABMarkersScript(std::nullopt, std::nullopt), "ClearMarkersAB()");

  // The approximate circle: radius twice the marker size, no blank after ",".
  EXPECT_EQ(VehicleMarkerScript(a, 90, 50, false, 40.4, TArrowSize::Big),
            "PlaceMarkerD(new google.maps.LatLng(60.000000, 30.000000),81)");
}

TEST(MapScript, VehicleArrowGeometry) {
  // Course 0, speed 0, big arrow of 100 m: tip 100 m north, tail corners
  // 100 m away at 120 and 240 degrees; the vehicle itself third.
  const QString s = VehicleMarkerScript({30, 60}, 0, 0, true, 100, TArrowSize::Big);
  ASSERT_TRUE(s.startsWith("PlaceMarker([") && s.endsWith("])"));
  const TLonLat tip = DestinationPoint(30, 60, 0, 100);
  const TLonLat left = DestinationPoint(30, 60, 240, 100);
  const QString want =
      "PlaceMarker([" + LatLngText(tip.lon, tip.lat) + "," +
      LatLngText(DestinationPoint(30, 60, 120, 100).lon, DestinationPoint(30, 60, 120, 100).lat) +
      "," + LatLngText(30, 60) + "," + LatLngText(left.lon, left.lat) + "])";
  EXPECT_EQ(s, want);
  // At 300 km/h the tip is twice as far and the spread narrows to 20 degrees.
  const QString fast = VehicleMarkerScript({30, 60}, 350, 300, true, 100, TArrowSize::Big);
  const TLonLat fastTip = DestinationPoint(30, 60, 350, 200);
  EXPECT_TRUE(fast.contains(LatLngText(fastTip.lon, fastTip.lat)));
  const TLonLat tail2 = DestinationPoint(30, 60, 190, 100);  // 350 + 180 + 20 - 360
  EXPECT_TRUE(fast.contains(LatLngText(tail2.lon, tail2.lat)));
  // Small: half size, the tail at half of that.
  const QString small = VehicleMarkerScript({30, 60}, 0, 0, true, 100, TArrowSize::Small);
  const TLonLat smallTip = DestinationPoint(30, 60, 0, 50);
  const TLonLat smallTail = DestinationPoint(30, 60, 120, 25);
  EXPECT_TRUE(small.contains(LatLngText(smallTip.lon, smallTip.lat)));
  EXPECT_TRUE(small.contains(LatLngText(smallTail.lon, smallTail.lat)));
  // A course of 1e12 degrees (which once turned 360 away at a time) or one
  // that is not a number gives an arrow at once, with numbers in it.
  for (const long double course : {1e12L, 1e300L, -1e12L, HUGE_VALL, std::nanl("")}) {
    const QString arrow =
        VehicleMarkerScript({30, 60}, course, std::nanl(""), true, 100, TArrowSize::Big);
    EXPECT_FALSE(arrow.contains("nan") || arrow.contains("inf")) << arrow.toStdString();
  }
  EXPECT_EQ(VehicleMarkerScript({30, 60}, 360 + 90, 0, true, 100, TArrowSize::Big),
            VehicleMarkerScript({30, 60}, 90, 0, true, 100, TArrowSize::Big));
}

TEST(MapScript, CallbackParsing) {
  const TMapCallback view = ParseMapCallback(QString(kMapCallbackPrefix) + "view?t=1&l=2");
  EXPECT_TRUE(view.Ours);
  EXPECT_EQ(view.Command, "view");
  EXPECT_EQ(view.Query, "t=1&l=2");
  const TMapCallback bare = ParseMapCallback(QString(kMapCallbackPrefix) + "inited");
  EXPECT_TRUE(bare.Ours);
  EXPECT_EQ(bare.Command, "inited");
  EXPECT_TRUE(bare.Query.isEmpty());
  EXPECT_FALSE(ParseMapCallback("https://tile.openstreetmap.org/1/1/1.png").Ours);
  EXPECT_FALSE(ParseMapCallback("qrc:/map/gm.html").Ours);

  QString q = "a=1&b&=3";
  QString k, v;
  ASSERT_TRUE(NextParam(q, k, v));
  EXPECT_EQ(k, "a");
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(NextParam(q, k, v));
  EXPECT_EQ(k, "b");
  EXPECT_TRUE(v.isEmpty());
  ASSERT_TRUE(NextParam(q, k, v));
  EXPECT_TRUE(k.isEmpty());
  EXPECT_EQ(v, "3");
  EXPECT_FALSE(NextParam(q, k, v));
  EXPECT_EQ(ParseFloatDot(QString("59,5"), 0), 59.5L);
  EXPECT_EQ(ParseFloatDot(QString("abc"), 7), 7);
}

TEST(MapScript, ViewReportsAndZoomRecentring) {
  TMapView v;
  const auto mt = v.ApplyReport("t=60.1&l=29.9&b=59.9&r=30.1&w=0&h=0&x=30&y=60&z=oops&mt=osm&q=1",
                                QSize(400, 300));
  EXPECT_EQ(v.Width, 400);  // zero size: the control's
  EXPECT_EQ(v.Height, 300);
  EXPECT_EQ(v.Zoom, 0);  // not a number
  ASSERT_TRUE(mt.has_value());
  EXPECT_EQ(*mt, "osm");
  EXPECT_NEAR(static_cast<double>(v.MarginX), 60.0 / 400 * 0.2, 1e-12);
  EXPECT_NEAR(static_cast<double>(v.MarkerSize),
              static_cast<double>(Distance(60, 29.9, 60, 30.1) / 400 * 20), 1e-9);
  TMapView tiny;
  tiny.ApplyReport("t=1&l=0&b=0&r=1", QSize(0, 0));
  EXPECT_EQ(tiny.Width, 1);
  EXPECT_EQ(tiny.Height, 1);
  EXPECT_TRUE(v.Inside({30, 60}));
  EXPECT_FALSE(v.Inside({29.91, 60}));

  // Zoomed in by two levels about the centre C: the vehicle P stays put on
  // the screen when the centre moves to P + (C - P) / 4.
  v.Zoom = 16;
  const auto c = ZoomRecentre(v, 14, {29.96, 59.98});
  ASSERT_TRUE(c.has_value());
  EXPECT_NEAR(static_cast<double>(c->Lon), 29.96 + (30 - 29.96) / 4, 1e-12);
  EXPECT_NEAR(static_cast<double>(c->Lat), 59.98 + (60 - 59.98) / 4, 1e-12);
  EXPECT_FALSE(ZoomRecentre(v, 17, {29.96, 59.98}).has_value());
  EXPECT_FALSE(ZoomRecentre(v, 16, {29.96, 59.98}).has_value());
}

// Points of the map in the view's pixels, by the page's Web Mercator
// projection: the corners, the middle longitude, the latitude halfway in
// Mercator (north of the middle degree), a pole clamped at the projection's
// edge, and views that are not known yet.
TEST(MapScript, MapPixelsFollowTheMercatorView) {
  TMapView v;
  v.ApplyReport("t=60.1&l=29.9&b=59.9&r=30.1&w=400&h=300", QSize());
  const auto mercator = [](double lat) { return std::log(std::tan(M_PI / 4 + lat * M_PI / 360)); };
  const double mid = std::atan(std::sinh((mercator(60.1) + mercator(59.9)) / 2)) * 180 / M_PI;
  struct {
    double Lon, Lat, X, Y;
  } const cases[] = {
      {29.9, 60.1, 0, 0},         {30.1, 59.9, 400, 300},       {30.0, mid, 200, 150},
      {30.0, 60.0, 200, 150.227}, {29.8, 60.3, -200, -301.827},
  };
  for (const auto &c : cases) {
    const auto p = MapPixel(v, c.Lon, c.Lat);
    ASSERT_TRUE(p.has_value()) << c.Lon << " " << c.Lat;
    EXPECT_NEAR(p->x(), c.X, 0.01) << c.Lon << " " << c.Lat;
    EXPECT_NEAR(p->y(), c.Y, 0.01) << c.Lon << " " << c.Lat;
  }
  const auto pole = MapPixel(v, 30, 90), edge = MapPixel(v, 30, 85.0511287798);
  ASSERT_TRUE(pole && edge);
  EXPECT_NEAR(pole->y(), edge->y(), 1e-6);
  TMapView unknown;
  EXPECT_FALSE(MapPixel(unknown, 30, 60).has_value());
  TMapView upsideDown = v;
  std::swap(upsideDown.Top, upsideDown.Bottom);
  EXPECT_FALSE(MapPixel(upsideDown, 30, 60).has_value());
}

// The marker is sent again only when it would look different: a view 400
// pixels across 0.2 degrees of longitude and latitude.
TEST(MapScript, MarkerChangesThatShow) {
  TMapView v;
  v.ApplyReport("t=60.1&l=29.9&b=59.9&r=30.1", QSize(400, 400));
  const long double px = 0.2L / 400;  // degrees per pixel, either way
  const TMarkerLook drawn{{30, 60}, 90, 50, true, v.MarkerSize, TArrowSize::Big};
  struct Case {
    const char *what;
    TMarkerLook now;
    bool changed;
  };
  auto with = [&](auto change) {
    TMarkerLook m = drawn;
    change(m);
    return m;
  };
  const Case cases[] = {
      {"the same", drawn, false},
      {"half a pixel east", with([&](TMarkerLook &m) { m.Point.Lon += px / 2; }), false},
      {"a pixel and a half north", with([&](TMarkerLook &m) { m.Point.Lat += 1.5L * px; }), true},
      {"a turn of 1 degree", with([](TMarkerLook &m) { m.Course = 91; }), false},
      {"a turn of 5 degrees", with([](TMarkerLook &m) { m.Course = 95; }), true},
      {"2 km/h faster", with([](TMarkerLook &m) { m.Speed = 52; }), false},
      {"5 km/h slower", with([](TMarkerLook &m) { m.Speed = 45; }), true},
      {"the fix lost", with([](TMarkerLook &m) { m.FixValid = false; }), true},
      {"a smaller arrow", with([](TMarkerLook &m) { m.Arrow = TArrowSize::Small; }), true},
      {"another size", with([](TMarkerLook &m) { m.Size *= 2; }), true},
      {"a position not a number",
       with([](TMarkerLook &m) { m.Point.Lon = std::numeric_limits<long double>::quiet_NaN(); }),
       true},
  };
  for (const Case &c : cases) EXPECT_EQ(MarkerChanged(v, drawn, c.now), c.changed) << c.what;
  // Without a view report the scale is unknown: any move shows.
  TMarkerLook moved = drawn;
  moved.Point.Lon += px / 100;
  EXPECT_TRUE(MarkerChanged(TMapView{}, drawn, moved));
  EXPECT_FALSE(MarkerChanged(TMapView{}, drawn, drawn));
  // Turns count across north.
  TMarkerLook north = drawn, across = drawn;
  north.Course = 359;
  across.Course = 0.5;
  EXPECT_FALSE(MarkerChanged(v, north, across));
  across.Course = 3;
  EXPECT_TRUE(MarkerChanged(v, north, across));
  // The circle of a position without a fix has no course or speed.
  TMarkerLook circle = drawn, turned = drawn;
  circle.FixValid = turned.FixValid = false;
  turned.Course = 180;
  turned.Speed = 0;
  EXPECT_FALSE(MarkerChanged(v, circle, turned));
}

TEST(MapScript, TrackThinningAndPins) {
  // 20,000 points: every one is sent.
  const TTrackScript all =
      BuildTrackScript({{Stretch(20000, 45000)}}, 20000, {}, false, kTimePointsNever);
  EXPECT_EQ(all.Step, 1);
  EXPECT_EQ(all.PointsSent, 20000);
  EXPECT_EQ(Count(all.Paths, "google.maps.LatLng"), 20000 + 2);  // + start and finish pins
  EXPECT_TRUE(
      all.Paths.startsWith("ClearPath(); AddPath([new google.maps.LatLng(60.000000, "
                           "30.000000),"));
  EXPECT_TRUE(all.TimePoints.isEmpty());

  // 100,000 points in two stretches of 49,999 and 50,001: every 5th point of
  // each and each stretch's last.
  TTrack two{Stretch(49999, 45000), Stretch(50001, 45000.6, 31, 61)};
  const TTrackScript thin = BuildTrackScript({two}, 100000, {}, true, kTimePointsNever);
  EXPECT_EQ(thin.Step, 5);
  EXPECT_EQ(thin.PointsSent, 10000 + 1 + 10001 + 0);  // 0,5,..,49995 + 49998; 0..50000
  EXPECT_EQ(Count(thin.Paths, "#FF0000"), 2);
  EXPECT_EQ(Count(thin.Paths, "\"#444444\", 0.4"), 1);  // the grey link between them
  EXPECT_EQ(thin.Start, (TMapPoint{30, 60}));
  EXPECT_NEAR(static_cast<double>(thin.End.Lon), 31 + 50000 * 1e-5, 1e-9);
  EXPECT_TRUE(
      thin.Paths.endsWith("AddPathMarker(\"gm_MarkerF.png\", " + LatLngText(thin.End) + "); "));

  // Selection: the selected record magenta.
  const TTrackScript sel = BuildTrackScript({{Stretch(3, 45000)}, {Stretch(3, 45001)}}, 6,
                                            {false, true}, false, kTimePointsNever);
  EXPECT_EQ(Count(sel.Paths, "#FF00FF"), 1);
  EXPECT_EQ(Count(sel.Paths, "#FF0000"), 1);
  EXPECT_EQ(Count(sel.Paths, "#444444"), 0);

  // All on one meridian: no area, so no fitting.
  TTrackItem meridian;
  for (int k = 0; k < 10; ++k)
    meridian.Points.push_back({30, 60 + k * 1e-4L, 0, 45000 + k / 86400.0});
  EXPECT_FALSE(BuildTrackScript({{meridian}}, 10, {}, false, kTimePointsNever).HasArea());
  EXPECT_TRUE(all.HasArea());
  EXPECT_TRUE(
      MapBoundsScript(all).startsWith("SetMapBounds(new google.maps.LatLng(60.000000, "
                                      "30.000000), "));
}

TEST(MapScript, TimePointsEachMinuteAfterTheFirst) {
  // 200 s in one stretch, one point a second, minutes from the start.
  const TTrackScript t = BuildTrackScript({{Stretch(200, 45000)}}, 200, {}, false, kMinute);
  // None during the first minute; then at seconds 60, 120 and 180.
  EXPECT_EQ(Count(t.TimePoints, "gm_MarkerP.png"), 3);
  const TTrackItem s = Stretch(200, 45000);
  auto marker = [&](int k) {
    return "AddPathMarker(\"gm_MarkerP.png\", " + LatLngText(s.Points[k].Lon, s.Points[k].Lat) +
           "); ";
  };
  // The float day fraction may put a minute's first second on either side.
  const bool at60 = t.TimePoints.startsWith(marker(60)) || t.TimePoints.startsWith(marker(61));
  EXPECT_TRUE(at60) << t.TimePoints.left(120).toStdString();
  EXPECT_EQ(BuildTrackScript({{Stretch(200, 45000)}}, 200, {}, false, kTimePointsNever).TimePoints,
            "");
}

TEST(MapScript, ABPinsAvoidTheTrackEnds) {
  const TMapPoint start{30, 60}, end{31, 61}, mid{30.5, 60.5}, other{30.7, 60.7};
  auto pointAt = [&](long double x) -> std::optional<TMapPoint> {
    if (x <= 0) return start;
    if (x >= 1) return end;
    if (x < 0.5) return mid;
    return other;
  };
  TABPins p = ABPins(0.2, 0.8, pointAt, start, end);
  EXPECT_EQ(*p.A, mid);
  EXPECT_EQ(*p.B, other);
  // Nothing selected: no pins.
  p = ABPins(0, 1, pointAt, start, end);
  EXPECT_FALSE(p.A.has_value());
  EXPECT_EQ(ABMarkersScript(p.A, p.B), "ClearMarkersAB()");
  // Only B inside: both pins at B.
  p = ABPins(0, 0.8, pointAt, start, end);
  EXPECT_EQ(*p.A, other);
  EXPECT_EQ(*p.B, other);
}

TEST(MapScript, RouteClickTarget) {
  // Two recordings crossing the same place: the earlier one wins a tie.
  const TMovingInfo first = Info({{30, 60}, {30.001, 60.001}, {30.002, 60.002}}, 45000);
  const TMovingInfo second = Info({{30.002, 60.002}, {30.003, 60.003}}, 45000.1);
  const std::vector<TMapRecording> trip{{&first, 0, 0.5}, {&second, 0.5, 1}};
  const auto tie = RouteClickTarget(30.002, 60.002, trip);
  ASSERT_TRUE(tie.has_value());
  // A recording's last fix stands for the half second before it.
  EXPECT_NEAR(static_cast<double>(*tie), 0.5 * 0.75, 1e-6);  // the end of the first
  const auto later = RouteClickTarget(30.003, 60.003, trip);
  ASSERT_TRUE(later.has_value());
  EXPECT_NEAR(static_cast<double>(*later), 0.5 + 0.5 * 0.5, 1e-6);
  EXPECT_FALSE(RouteClickTarget(0, 60.002, trip).has_value());
  EXPECT_FALSE(RouteClickTarget(30.002, 0, trip).has_value());
  EXPECT_FALSE(RouteClickTarget(30, 60, {}).has_value());
}

TEST(MapTiles, SourcesFromTheSetting) {
  const TTileSource osm = TileSourceOf("");
  EXPECT_EQ(osm.Kind, TTileKind::Url);
  EXPECT_EQ(osm.Name, "osm");
  EXPECT_TRUE(osm.Template.startsWith("https://tile.openstreetmap.org/"));
  EXPECT_TRUE(osm.Attribution.contains("OpenStreetMap"));
  EXPECT_EQ(TileSourceOf("https://example.org/{z}/{x}/{y}.png").Name, "url");
  const TTileSource mb = TileSourceOf("/data/Maps/City.MBTiles");
  EXPECT_EQ(mb.Kind, TTileKind::MBTiles);
  EXPECT_TRUE(mb.Template.startsWith("tachora-tiles://local/{z}/{x}/{y}?s="));
  EXPECT_NE(mb.Template, TileSourceOf("/data/Maps/Other.mbtiles").Template);
  EXPECT_EQ(TileSourceOf("/data/tiles/").Kind, TTileKind::Folder);
  // Quotes in a path stay inside the script's string.
  TTileSource odd = TileSourceOf("/tmp/a\"b'c");
  EXPECT_EQ(TileSourceScript(odd).toStdString(), "SetTileSource.apply(null, [\"" +
                                                     odd.Template.toStdString() +
                                                     "\",\"folder\",\"a&quot;b'c\",19])");
  EXPECT_TRUE(ValidTileUrl(" https://tiles.example.org/{z}/{x}/{y}.png "));
  EXPECT_FALSE(ValidTileUrl("ftp://tiles.example.org/{z}/{x}/{y}.png"));
  EXPECT_FALSE(ValidTileUrl("https://tiles.example.org/{z}/{x}.png"));
  EXPECT_FALSE(ValidTileUrl("https://x.org/{z}/{x}/{y}\"+alert(1)+\""));
  EXPECT_FALSE(MBTilesHasTiles("/nonexistent/file.mbtiles"));
  // Tile numbers outside the zoom level's grid read nothing.
  EXPECT_TRUE(ReadLocalTile(TileSourceOf("/"), 2, 4, 0).isEmpty());
  EXPECT_TRUE(ReadLocalTile(TileSourceOf("/"), -1, 0, 0).isEmpty());
}

// Tile folders whose names hold what looks like place holders or URL
// escapes, given as a path or as a file URL.
TEST(MapTiles, FolderNamesWithPercentSignsLoadTheirTiles) {
  QTemporaryDir tmp;
  for (const QString name : {"maps%2", "100%1 %3", "a%20b", "plain"}) {
    const QString folder = tmp.filePath(name);
    ASSERT_TRUE(QDir().mkpath(folder + "/3/2"));
    QFile tile(folder + "/3/2/5.png");
    ASSERT_TRUE(tile.open(QIODevice::WriteOnly));
    tile.write("\x89PNG tile of " + name.toUtf8());
    tile.close();
    for (const QString &setting : {folder, QUrl::fromLocalFile(folder).toString()}) {
      const TTileSource source = TileSourceOf(setting);
      EXPECT_EQ(source.Path, folder) << setting.toStdString();
      EXPECT_EQ(ReadLocalTile(source, 3, 2, 5), "\x89PNG tile of " + name.toUtf8())
          << setting.toStdString();
    }
  }
}

// The controller's answers to the page, with no browser shown.
class MapControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    menu = new TMainMenu(&window);
    commands = new TCommands(menu);
    frame = new QFrame(&window);
    frame->resize(640, 480);
    speed = new QLabel(&window);
    speed->setFixedSize(134, 100);
    azimut = new QLabel(&window);
    azimut->setFixedSize(73, 49);
    gsensor = new QLabel(&window);
    gsensor->setFixedSize(65, 65);
    map = new TMapController(&window, TMapPanel{frame, speed, azimut, gsensor}, *commands);
  }
  QMainWindow window;
  TMainMenu *menu = nullptr;
  TCommands *commands = nullptr;
  QFrame *frame = nullptr;
  QLabel *speed = nullptr, *azimut = nullptr, *gsensor = nullptr;
  TMapController *map = nullptr;
};

TEST_F(MapControllerTest, ViewReportsSaveTheViewAndFollowTheVehicle) {
  settings::kMapZoom.Reset();
  QSignalSpy refresh(map, &TMapController::RefreshRequested);
  map->SetVehicle({45000, 30, 60, 0, 0, true});
  map->HandleCallback("bounds", "t=60.1&l=29.9&b=59.9&r=30.1&w=0&h=0&x=30&y=60&z=19&mt=folder");
  EXPECT_EQ(map->View().Width, 640);
  EXPECT_TRUE(map->Following());
  EXPECT_EQ(settings::kMapZoom.Get(), "17");
  EXPECT_EQ(settings::kMapX.Get(), "30.000000");
  EXPECT_EQ(settings::kMapType.Get(), "folder");
  EXPECT_EQ(refresh.count(), 0);  // "bounds" does not refresh
  map->HandleCallback("view", "t=61&l=31&b=60.9&r=31.1&w=0&h=0&x=31.05&y=60.95&z=3");
  EXPECT_FALSE(map->Following());  // the vehicle is off the view now
  EXPECT_EQ(settings::kMapZoom.Get(), "10");
  ASSERT_EQ(refresh.count(), 1);
  EXPECT_FALSE(refresh.first().at(0).toBool());
  settings::kMapX.Reset();
  settings::kMapY.Reset();
  settings::kMapZoom.Reset();
  settings::kMapType.Reset();
}

TEST_F(MapControllerTest, UnknownCallbacksChangeNothingAndRouteClicksSeek) {
  QSignalSpy seek(map, &TMapController::SeekRequested);
  QSignalSpy refresh(map, &TMapController::RefreshRequested);
  map->HandleCallback("nonsense", "z=5&t=1");
  EXPECT_EQ(map->View().Zoom, 0);
  EXPECT_EQ(map->View().Top, 0);
  EXPECT_EQ(seek.count() + refresh.count(), 0);

  const TMovingInfo first = Info({{30, 60}, {30.001, 60.001}, {30.002, 60.002}}, 45000);
  map->SetTrip({{&first, 0.25, 0.75}});
  map->HandleCallback("routeClick", "x=30.001&y=60.001");
  ASSERT_EQ(seek.count(), 1);
  EXPECT_NEAR(seek.first().at(0).toDouble(), 0.5, 1e-6);
  map->HandleCallback("routeClick", "x=0&y=60.001");
  EXPECT_EQ(seek.count(), 1);

  // "inited" makes the map ready and asks for a timer tick.
  map->HandleCallback("inited", "");
  EXPECT_TRUE(map->MapReady());
  ASSERT_EQ(refresh.count(), 1);
  EXPECT_TRUE(refresh.first().at(0).toBool());
  // With the map hidden nothing is drawn.
  EXPECT_FALSE(map->DrawTracks({&first}, {}, {}));
}
