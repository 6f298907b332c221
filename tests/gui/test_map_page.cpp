// The map page in a real browser (needs an X display: run under xvfb-run):
// it loads with no network, initialises, draws a track that a click on it
// turns into a seek, and shows tiles from a local folder and from an
// .mbtiles file made here. Set TACHORA_SCREENSHOT_DIR to keep pictures.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>
#include <cmath>

#include "app/UnitCommands.h"
#include "app/UnitFormMain.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitSettings.h"
#include "gui_test_helpers.h"
#include "map/UnitMapBrowser.h"
#include "map/UnitMapController.h"
#include "map/UnitMapPage.h"
#include "map/UnitMapPreview.h"
#include "map/UnitMapTilesMenu.h"
#include "playback/UnitFilterGraph.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitVideoSurface.h"

using namespace tachora;

namespace {

// Before the application exists: a real display when there is one, and
// Chromium without its sandbox (tests run as root) and without a GPU.
const bool kEnv = [] {
  if (qEnvironmentVariableIsSet("DISPLAY")) qputenv("TACHORA_TEST_DISPLAY", "1");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // The map's disk cache goes to a folder of the test's own.
  static QTemporaryDir cache;
  qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
  return true;
}();

constexpr int kZoom = 14;
constexpr double kLat = 59.939, kLon = 30.315;

int TileX(double lon, int z) {
  return static_cast<int>(std::floor((lon + 180) / 360 * (1 << z)));
}
int TileY(double lat, int z) {
  const double r = lat * M_PI / 180;
  return static_cast<int>(std::floor((1 - std::asinh(std::tan(r)) / M_PI) / 2 * (1 << z)));
}

QByteArray Tile(QColor colour) {
  QImage img(256, 256, QImage::Format_RGB32);
  img.fill(colour);
  QPainter p(&img);
  p.setPen(Qt::black);
  p.drawRect(0, 0, 255, 255);
  p.end();
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return png;
}

// Runs a script in the page and waits for its value.
QVariant Eval(TMapBrowser *browser, const QString &script) {
  QVariant out;
  bool done = false;
  browser->RunJavaScript(script, [&](const QVariant &v) {
    out = v;
    done = true;
  });
  (void)QTest::qWaitFor([&] { return done; }, 10000);
  return out;
}

// A picture of `w` as the screen shows it: the map page and the OpenGL
// video picture live in windows of their own, which a widget's grab leaves
// out, so they are drawn in at their places.
QImage Picture(QWidget *w, TMapController *map) {
  QImage image = w->grab().toImage();
  QPainter painter(&image);
  if (TMapBrowser *b = map->Browser(); b && b->InWindow() && b->Widget()->isVisible())
    painter.drawImage(b->Widget()->mapTo(w, QPoint()), b->Grab());
  for (auto *surface : w->findChildren<TOpenGLSurface *>())
    if (surface->isVisible())
      painter.drawImage(QRect(surface->mapTo(w, QPoint()), surface->size()),
                        surface->grabFramebuffer());
  return image;
}

class MapPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("TACHORA_TEST_DISPLAY"))
      GTEST_SKIP() << "needs an X display (xvfb-run)";
    menu = new TMainMenu(&window);
    commands = new TCommands(menu);
    auto *central = new QWidget(&window);
    window.setCentralWidget(central);
    frame = new QFrame(central);
    frame->setGeometry(0, 0, 640, 480);
    auto label = [&](int w, int h) {
      auto *l = new QLabel(central);
      l->setGeometry(650, 0, w, h);
      return l;
    };
    map = new TMapController(
        &window, TMapPanel{frame, label(134, 100), label(73, 49), label(65, 65)}, *commands);
    window.resize(900, 500);
  }
  void TearDown() override { settings::kMapTiles.Reset(); }

  // Shows the window and waits for "inited".
  bool ShowAndInit() {
    QSignalSpy refresh(map, &TMapController::MapInited);
    window.show();
    return refresh.wait(30000) || map->MapReady();
  }
  bool Reload() {
    QSignalSpy inited(map, &TMapController::MapInited);
    map->SetMapShown(false);
    map->SetMapShown(true);
    return inited.wait(30000);
  }
  int LoadedTiles() {
    (void)QTest::qWaitFor(
        [&] {
          return Eval(map->Browser(), "document.querySelectorAll('img.leaflet-tile-loaded').length")
                     .toInt() >= 4;
        },
        10000);
    return Eval(map->Browser(), "document.querySelectorAll('img.leaflet-tile-loaded').length")
        .toInt();
  }
  void Shot(const QString &name) {
    const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QTest::qWait(500);
    Picture(&window, map).save(dir + "/" + name);
  }

  QTemporaryDir tmp;
  QMainWindow window;
  TMainMenu *menu = nullptr;
  TCommands *commands = nullptr;
  QFrame *frame = nullptr;
  TMapController *map = nullptr;
};

// The window holds the browser back while it starts: a shown map makes no
// page until the release, which loads it.
TEST_F(MapPageTest, AHeldPageIsMadeOnRelease) {
  settings::kMapTiles.Set(tmp.filePath("no-tiles-here"));
  map->HoldPage(true);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(100);
  EXPECT_EQ(map->Browser(), nullptr);
  EXPECT_FALSE(map->MapShown());
  QSignalSpy inited(map, &TMapController::MapInited);
  map->HoldPage(false);
  EXPECT_NE(map->Browser(), nullptr);
  EXPECT_TRUE(inited.wait(30000) || map->MapReady());
}

// On X11 the page lives in a window of its own (Qt WebEngine's Quick view);
// the widget view serves the other platforms. Both serve the page alike.
class MapPageViews : public MapPageTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) qputenv("TACHORA_MAP_WIDGET", "1");
    MapPageTest::SetUp();
  }
  void TearDown() override {
    qunsetenv("TACHORA_MAP_WIDGET");
    MapPageTest::TearDown();
  }
};

INSTANTIATE_TEST_SUITE_P(Views, MapPageViews, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Widget" : "Window"; });

TEST_P(MapPageViews, LoadsOfflineDrawsATrackAndAClickSeeks) {
  settings::kMapTiles.Set(tmp.filePath("no-tiles-here"));
  ASSERT_TRUE(ShowAndInit());
  EXPECT_EQ(map->Browser()->InWindow(), !GetParam() && TMapBrowser::UsesWindow());
  EXPECT_EQ(Eval(map->Browser(), "document.title").toString(), "Tachora - Google Maps Wrapper");
  EXPECT_EQ(Eval(map->Browser(), "inited").toInt(), 1);

  // A track through the map's centre, one point a second.
  TMovingInfo mi;
  for (int k = 0; k < 120; ++k) {
    TGpsPoint p;
    p.Time = 45000 + k / 86400.0;
    p.Lon = kLon - 0.006 + k * 0.0001;
    p.Lat = kLat - 0.003 + k * 0.00005;
    p.Number = k;
    mi.GpsPoints.push_back(p);
  }
  mi.StartTime = mi.GpsPoints.front().Time;
  mi.EndTime = mi.GpsPoints.back().Time;
  map->SetTrip({{&mi, 0, 1}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return map->DrawTracks({&mi}, {}, {}); }, 10000));
  EXPECT_TRUE(map->TrackDrawn());
  // One polyline, the start and finish pins and the time point of minute 1.
  EXPECT_EQ(Eval(map->Browser(), "mylines.length").toInt(), 4);
  // Drawn once: the same track is not sent again.
  EXPECT_TRUE(map->DrawTracks({&mi}, {}, {}));

  TMapTickState tick;
  tick.Gps = mi.GpsPoints[60];
  tick.Gps.Course = 60;
  tick.Gps.Speed = 50;
  tick.FixValid = true;
  map->Tick(tick);
  EXPECT_EQ(map->Vehicle().Lon, tick.Gps.Lon);
  // The arrow: over the page in the Quick view, in it in the widget view.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return map->Browser()->DrawsVehicle() ? map->Browser()->Vehicle().size() == 4
                                              : Eval(map->Browser(), "marker != null").toBool();
      },
      5000));
  Shot("map_track.png");

  // A real click on the line, at its 30th point.
  // The page's window (the Quick view), else the widget view's render widget.
  QObject *target = map->Browser()->WheelTarget();
  ASSERT_NE(target, nullptr);
  auto *targetWindow = qobject_cast<QWindow *>(target);
  auto *targetWidget = qobject_cast<QWidget *>(target);
  const QVariantList at =
      Eval(map->Browser(), "(function(){var p = map.latLngToContainerPoint(L.latLng(" +
                               QString::number(static_cast<double>(mi.GpsPoints[30].Lat), 'f', 6) +
                               "," +
                               QString::number(static_cast<double>(mi.GpsPoints[30].Lon), 'f', 6) +
                               ")); return [p.x, p.y];})()")
          .toList();
  ASSERT_EQ(at.size(), 2);
  QSignalSpy seek(map, &TMapController::SeekRequested);
  const QPoint point(at[0].toInt(), at[1].toInt());
  if (targetWindow) QTest::mouseClick(targetWindow, Qt::LeftButton, {}, point);
  if (targetWidget) QTest::mouseClick(targetWidget, Qt::LeftButton, {}, point);
  ASSERT_TRUE(seek.wait(5000));
  EXPECT_NEAR(seek.first().at(0).toDouble(), 30.0 / 119, 0.02);

  // A wheel notch over the map zooms in by one level.
  const int zoom = map->View().Zoom;
  const QPointF global = targetWindow ? QPointF(targetWindow->mapToGlobal(QPoint(100, 100)))
                                      : targetWidget->mapToGlobal(QPointF(100, 100));
  QWheelEvent wheel(QPointF(100, 100), global, QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(target, &wheel);
  EXPECT_TRUE(QTest::qWaitFor([&] { return map->View().Zoom == zoom + 1; }, 5000))
      << map->View().Zoom;

  // The context menu offers the four tile sources.
  emit map->Browser()->ContextMenuRequested(map->Browser()->Widget()->mapToGlobal(QPoint(50, 50)));
  QMenu *menu = nullptr;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
          if ((menu = qobject_cast<QMenu *>(w)) && menu->isVisible()) return true;
        return false;
      },
      3000));
  if (menu) {
    int checkable = 0;
    for (QAction *a : menu->actions()) checkable += a->isCheckable();
    EXPECT_EQ(checkable, 4);
    menu->close();
  }

  map->ClearMap();
  (void)QTest::qWaitFor([&] { return Eval(map->Browser(), "mylines.length").toInt() == 0; }, 5000);
  EXPECT_EQ(Eval(map->Browser(), "mylines.length").toInt(), 0);
}

// A tool window's preview replaces the trip's track for a while, the
// highlighted track in its own colour; the trip comes back afterwards.
TEST_F(MapPageTest, PreviewShowsItsTracksAndTheTripComesBack) {
  settings::kMapTiles.Set(tmp.filePath("no-tiles-here"));
  ASSERT_TRUE(ShowAndInit());
  auto line = [](double lat0, int n) {
    auto mi = std::make_unique<TMovingInfo>();
    for (int k = 0; k < n; ++k) {
      TGpsPoint p;
      p.Time = 45000 + k / 86400.0;
      p.Lon = kLon + k * 0.0001;
      p.Lat = lat0;
      p.Number = k;
      mi->GpsPoints.push_back(p);
    }
    mi->StartTime = mi->GpsPoints.front().Time;
    mi->EndTime = mi->GpsPoints.back().Time;
    return mi;
  };
  const auto trip = line(kLat, 30);
  map->SetTrip({{trip.get(), 0, 1}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return map->DrawTrip(true); }, 10000));
  const QString colours =
      "mylines.filter(function(l){return l.options && l.options.color;})"
      ".map(function(l){return l.options.color;}).join(',')";
  EXPECT_EQ(Eval(map->Browser(), colours).toString(), "#FF0000");

  TMapPreview preview(map, &window);
  QSignalSpy drawn(&preview, &TMapPreview::Drawn);
  preview.Show([&]() {
    auto out = std::make_shared<TPreviewTracks>();
    out->Tracks.push_back(line(kLat + 0.01, 20));
    out->Tracks.push_back(line(kLat + 0.02, 20));
    out->Selected = {false, true};
    return out;
  });
  // The page takes scripts one after the other: wait for the preview's.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Eval(map->Browser(), colours).toString() == "#FF0000,#FF00FF"; }, 10000))
      << Eval(map->Browser(), colours).toString().toStdString();
  // Tried again until the page took it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !drawn.isEmpty(); }, 10000));
  EXPECT_TRUE(drawn.last().at(0).toBool());
  EXPECT_FALSE(map->TrackDrawn());
  EXPECT_FALSE(map->DrawTrip(true));  // held: the tick leaves it alone

  preview.End();
  ASSERT_TRUE(QTest::qWaitFor([&] { return map->DrawTrip(true); }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Eval(map->Browser(), colours).toString() == "#FF0000"; },
                              10000));
}

TEST_F(MapPageTest, TilesFromAFolderAndFromAnMBTilesFile) {
  // A folder of tiles around the start-up centre.
  const int x0 = TileX(kLon, kZoom), y0 = TileY(kLat, kZoom);
  const QByteArray green = Tile(QColor(120, 200, 120)), blue = Tile(QColor(120, 120, 220));
  for (int dx = -2; dx <= 2; ++dx)
    for (int dy = -2; dy <= 2; ++dy) {
      const QString dir = tmp.filePath(QString("tiles/%1/%2").arg(kZoom).arg(x0 + dx));
      QDir().mkpath(dir);
      QFile f(dir + QString("/%1.png").arg(y0 + dy));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(green);
    }
  settings::kMapTiles.Set(tmp.filePath("tiles"));
  settings::kMapZoom.Set(QString::number(kZoom));
  ASSERT_TRUE(ShowAndInit());
  EXPECT_GE(LoadedTiles(), 4);
  Shot("map_folder_tiles.png");
  EXPECT_EQ(settings::kMapType.Get(), "folder");

  // The same place in an .mbtiles file (rows counted from the south).
  const QString file = tmp.filePath("city.mbtiles");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "make-mbtiles");
    db.setDatabaseName(file);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec("CREATE TABLE metadata (name TEXT, value TEXT)"));
    ASSERT_TRUE(
        q.exec("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, "
               "tile_row INTEGER, tile_data BLOB)"));
    for (int dx = -2; dx <= 2; ++dx)
      for (int dy = -2; dy <= 2; ++dy) {
        q.prepare("INSERT INTO tiles VALUES (?, ?, ?, ?)");
        q.addBindValue(kZoom);
        q.addBindValue(x0 + dx);
        q.addBindValue((1 << kZoom) - 1 - (y0 + dy));
        q.addBindValue(blue);
        ASSERT_TRUE(q.exec());
      }
    db.close();
  }
  QSqlDatabase::removeDatabase("make-mbtiles");
  EXPECT_TRUE(MBTilesHasTiles(file));
  settings::kMapTiles.Set(file);
  ASSERT_TRUE(Reload());
  EXPECT_GE(LoadedTiles(), 4);
  // The tile under the centre is the file's blue.
  QTest::qWait(300);
  const QImage shot = map->Browser()->Grab();
  const QColor mid = shot.pixelColor(shot.width() / 2 + 20, shot.height() / 2 + 20);
  EXPECT_LT(mid.red(), 160) << mid.name().toStdString();
  EXPECT_GT(mid.blue(), 180) << mid.name().toStdString();
  Shot("map_mbtiles.png");
  EXPECT_EQ(settings::kMapType.Get(), "mbtiles");
  settings::kMapZoom.Reset();
  settings::kMapType.Reset();
  settings::kMapX.Reset();
  settings::kMapY.Reset();
}

// The main window's own map: shown at start, it initialises with nothing
// but the program's resources, and the instruments show nothing.
TEST(MapInMainWindow, InitialisesOffline) {
  if (!qEnvironmentVariableIsSet("TACHORA_TEST_DISPLAY")) GTEST_SKIP() << "needs an X display";
  settings::kMapTiles.Set(QDir::tempPath() + "/tachora-no-tiles");
  TFormMain::AutoFirstShow = false;
  TFormMain form;
  form.resize(1280, 760);
  QSignalSpy inited(form.Map(), &TMapController::MapInited);
  form.show();
  ASSERT_TRUE(inited.wait(30000));
  EXPECT_TRUE(form.Map()->MapReady());
  // The first view report follows.
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.Map()->View().Width > 100; }, 5000));
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) {
    QTest::qWait(500);
    Picture(&form, form.Map()).save(dir + "/main_window_map.png");
  }
  settings::kMapTiles.Reset();
}

// A picture for a person to look at: the demo card's first drive on the
// main window's map, fitted, with the vehicle and its instruments halfway.
TEST(MapInMainWindow, DemoDriveScreenshot) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!qEnvironmentVariableIsSet("TACHORA_TEST_DISPLAY") || dir.isEmpty())
    GTEST_SKIP() << "needs a display and TACHORA_SCREENSHOT_DIR";
  const QString card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  std::vector<std::unique_ptr<TMovingInfo>> infos;
  std::vector<TMapRecording> trip;
  for (int k = 1; k <= 4; ++k) {
    infos.push_back(TMovingInfo::LoadFromFile(
        QString("%1/DCIM/INFO/FILE%2.DAT").arg(card).arg(k, 4, 10, QChar('0')).toStdString(),
        false));
    ASSERT_TRUE(infos.back());
    trip.push_back({infos.back().get(), (k - 1) / 4.0L, k / 4.0L});
  }
  settings::kMapTiles.Set(QDir::tempPath() + "/tachora-no-tiles");
  TFormMain::AutoFirstShow = false;
  TFormMain form;
  form.resize(1280, 760);
  QSignalSpy inited(form.Map(), &TMapController::MapInited);
  form.show();
  ASSERT_TRUE(inited.wait(30000));
  TMapController *map = form.Map();
  map->SetTrip(trip);
  ASSERT_TRUE(QTest::qWaitFor([&] { return map->DrawTrip(true); }, 10000));
  const TMovingState st = StateAt(*infos[1], 0.5L);
  TMapTickState tick;
  tick.Gps = st.Gps;
  tick.FixValid = st.FixValid;
  tick.Gsensor = st.Gsensor;
  QTest::qWait(500);  // the fitted view's report sets the marker size
  map->Tick(tick);
  QTest::qWait(800);
  Picture(&form, form.Map()).save(dir + "/main_window_demo_drive.png");
  settings::kMapTiles.Reset();
}

// A paused trip on the main window's map: after the user zooms the map the
// vehicle is drawn again at the new scale, after "Google Maps" off and on
// the track and the vehicle come back, and a moved map gives the keys back
// to the list.
TEST(MapInMainWindow, PausedTripIsRedrawnAfterZoomAndAfterTheMapReturns) {
  if (!qEnvironmentVariableIsSet("TACHORA_TEST_DISPLAY")) GTEST_SKIP() << "needs an X display";
  const QString card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  settings::kMapTiles.Set(QDir::tempPath() + "/tachora-no-tiles");
  TFormMain::AutoFirstShow = false;
  TFormMain form;
  form.resize(1280, 760);
  form.Playback()->Graph()->SetOption("ao", "null");
  TMapController *map = form.Map();
  QSignalSpy inited(map, &TMapController::MapInited);
  form.show();
  ASSERT_TRUE(inited.wait(30000));
  QSignalSpy opened(form.Playback(), &TPlaybackController::RowOpened);
  ASSERT_TRUE(test::Open(form, {card + "/DCIM/100MEDIA/FILE0005.MOV"}));
  ASSERT_TRUE(opened.count() > 0 || opened.wait(20000));
  ASSERT_FALSE(form.Playback()->Playing());
  form.Playback()->Seek(0.5L);
  // The Quick view draws the arrow over the page, the widget view in it.
  auto vehicle = [&] {
    return map->Browser()->Vehicle().size() == 4 ||
           Eval(map->Browser(), "marker != null || markerD != null").toBool();
  };
  auto track = [&] { return Eval(map->Browser(), "mylines.length").toInt() > 0; };
  ASSERT_TRUE(QTest::qWaitFor([&] { return vehicle() && track(); }, 10000));
  // An arrow over the page has its notch where the page itself puts the
  // vehicle's point (within the page's rounding to whole pixels).
  auto onItsSpot = [&] {
    if (!map->Browser()->DrawsVehicle()) return true;
    const QPolygonF arrow = map->Browser()->Vehicle();
    const TMapPoint p = map->Vehicle().Point();
    const QVariantList at =
        Eval(map->Browser(), QString("(function(){var q=map.latLngToContainerPoint([%1,%2]);"
                                     "return [q.x,q.y];})()")
                                 .arg(static_cast<double>(p.Lat), 0, 'f', 9)
                                 .arg(static_cast<double>(p.Lon), 0, 'f', 9))
            .toList();
    return arrow.size() == 4 && at.size() == 2 && std::abs(at[0].toDouble() - arrow[2].x()) < 1.5 &&
           std::abs(at[1].toDouble() - arrow[2].y()) < 1.5;
  };
  EXPECT_TRUE(QTest::qWaitFor(onItsSpot, 3000));

  // Three levels in: the old marker is too big and goes; a new one comes.
  const int zoom = map->View().Zoom;
  Eval(map->Browser(), "map.setZoom(map.getZoom() + 3)");
  ASSERT_TRUE(QTest::qWaitFor([&] { return map->View().Zoom == zoom + 3; }, 5000));
  QTest::qWait(300);
  EXPECT_TRUE(vehicle());
  EXPECT_TRUE(track());
  EXPECT_TRUE(QTest::qWaitFor(onItsSpot, 3000));
  // The map dragged aside: the arrow goes with it.
  Eval(map->Browser(), "map.panBy([60, -40], {animate: false})");
  EXPECT_TRUE(QTest::qWaitFor(onItsSpot, 3000));

  // The map hidden and shown again (F3 twice): a new page, redrawn.
  QAction *maps = form.Menu()->Item("N_View_GoogleMaps");
  maps->trigger();
  EXPECT_FALSE(map->MapShown());
  inited.clear();
  maps->trigger();
  ASSERT_TRUE(inited.wait(30000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return vehicle() && track(); }, 10000));
  EXPECT_FALSE(form.Playback()->Playing());

  // A move of the map hands the keyboard back from the page to the list
  // (the page in a window of its own never takes it).
  QApplication::setActiveWindow(&form);
  if (QApplication::activeWindow() == &form && !map->Browser()->InWindow()) {
    map->Browser()->Widget()->setFocus();
    map->HandleCallback("view", "t=60.1&l=29.9&b=59.9&r=30.1&w=0&h=0&x=30&y=60&z=12");
    EXPECT_TRUE(form.Panels()->ListView->hasFocus());
  }
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) Picture(&form, map).save(dir + "/main_window_paused_map.png");
  form.close();
  settings::kMapTiles.Reset();
}

}  // namespace
