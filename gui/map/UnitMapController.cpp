#include "map/UnitMapController.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "app/UnitCommands.h"
#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "app/UnitTiming.h"
#include "map/UnitInstruments.h"
#include "map/UnitMapBrowser.h"
#include "map/UnitMapPage.h"
#include "map/UnitMapResources.h"
#include "map/UnitMapTilesMenu.h"

namespace tachora {

namespace {

// The script as a JavaScript string literal.
QString JsQuote(const QString &s) {
  QString q;
  q.reserve(s.size() + s.size() / 16 + 2);
  q.append(QLatin1Char('"'));
  for (QChar c : s) {
    switch (c.unicode()) {
      case '"':
        q.append(QLatin1StringView("\\\""));
        break;
      case '\\':
        q.append(QLatin1StringView("\\\\"));
        break;
      case '\n':
        q.append(QLatin1StringView("\\n"));
        break;
      case '\r':
        q.append(QLatin1StringView("\\r"));
        break;
      case 0x2028:
        q.append(QLatin1StringView("\\u2028"));
        break;
      case 0x2029:
        q.append(QLatin1StringView("\\u2029"));
        break;
      default:
        q.append(c);
    }
  }
  q.append(QLatin1Char('"'));
  return q;
}

// A picture widget over the layout's fixed-size label.
TMyImage *ImageIn(QLabel *label) {
  if (!label) return nullptr;
  auto *image = new TMyImage(label);
  image->setGeometry(0, 0, label->width(), label->height());
  image->setFixedSize(label->size());
  image->show();
  return image;
}

}  // namespace

TMapController::TMapController(QObject *parent, const TMapPanel &panel, TCommands &commands)
    : QObject(parent), panel_(panel), commands_(commands) {
  InitMapResources();
  speedImage_ = ImageIn(panel_.ImageSpeed);
  azimutImage_ = ImageIn(panel_.ImageAzimut);
  gsensorImage_ = ImageIn(panel_.ImageGSensor);
  if (speedImage_) speed_ = new TSpeedBitmap(speedImage_, this);
  if (azimutImage_) azimut_ = new TAzimutBitmap(azimutImage_, this);
  if (gsensorImage_) gsensor_ = new TGSensorBitmap(gsensorImage_, this);
  ResetInstruments();
  if (panel_.WebBrowser) panel_.WebBrowser->installEventFilter(this);
  markerTimer_ = new QTimer(this);
  markerTimer_->setSingleShot(true);
  connect(markerTimer_, &QTimer::timeout, this, &TMapController::SendMarker);
  BindCommands();
}

TMapController::~TMapController() {
  // Page callbacks still on their way find the controller gone.
  alive_.reset();
}

void TMapController::Translate() {
  // The speedometer's boxes in the window's units: metres or feet, metres or
  // miles, km/h or mph.
  const bool metric = DisplayUnits() == TUnits::Metric;
  const QString speedHint =
      "- " + L("N_View_Graphics_H") + ", " + AltitudeUnit() + "\n- " + L("Property_Track_Length") +
      ", " + (metric ? L("Meters") : DistanceUnit()) + "\n- " + L("Speed") + ", " + SpeedUnit();
  const QString gHint = "x - " + L("N_View_Graphics_X") + "\ny - " + L("N_View_Graphics_Y") +
                        "\nz - " + L("N_View_Graphics_Z");
  const std::pair<QLabel *, QString> hints[] = {{panel_.ImageSpeed, speedHint},
                                                {panel_.ImageAzimut, L("Azimut")},
                                                {panel_.ImageGSensor, gHint}};
  for (const auto &[label, hint] : hints) {
    if (!label) continue;
    label->setToolTip(hint);
    label->setToolTipDuration(5000);
    for (TMyImage *image : label->findChildren<TMyImage *>()) {
      image->setToolTip(hint);
      image->setToolTipDuration(5000);
    }
  }
}

void TMapController::BindCommands() {
  for (const char *name : {"N_View_Arrow_Small", "N_View_Arrow_Normal", "N_View_Arrow_Big"})
    commands_.Bind(name, [this]() { emit RefreshRequested(false); });
  for (const char *name : {"N_View_TimePoints_1m", "N_View_TimePoints_5m", "N_View_TimePoints_20m",
                           "N_View_TimePoints_Never"})
    commands_.Bind(name, [this]() {
      trackDrawn_ = false;
      ClearLastScript();
      emit RefreshRequested(false);
    });
}

bool TMapController::Checked(const char *item) const {
  TMainMenu *menu = commands_.Menu();
  QAction *a = menu ? menu->Item(item) : nullptr;
  return a && a->isChecked();
}

TArrowSize TMapController::ArrowSize() const {
  if (Checked("N_View_Arrow_Small")) return TArrowSize::Small;
  if (Checked("N_View_Arrow_Normal")) return TArrowSize::Normal;
  return TArrowSize::Big;
}

double TMapController::TimePointInterval() const {
  if (Checked("N_View_TimePoints_1m")) return 1.0 / 1440;
  if (Checked("N_View_TimePoints_5m")) return 5.0 / 1440;
  if (Checked("N_View_TimePoints_20m")) return 20.0 / 1440;
  return kTimePointsNever;
}

// ---- the page ------------------------------------------------------------------

bool TMapController::eventFilter(QObject *watched, QEvent *event) {
  if (watched == panel_.WebBrowser && !event->spontaneous()) {
    if (event->type() == QEvent::Show) SetMapShown(true);
    if (event->type() == QEvent::Hide) SetMapShown(false);
  }
  if (event->type() == QEvent::Wheel && watched == wheelTarget_) {
    wheelRest_ += static_cast<QWheelEvent *>(event)->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0) ZoomMapBy(notches);
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void TMapController::SetMapShown(bool shown) {
  if (shown == shown_ && (browser_ || !shown)) return;
  shown_ = shown;
  if (!shown) {
    mapReady_ = false;
    if (browser_) {
      browser_->HideVehicle();
      browser_->SetUrl(QUrl(QStringLiteral("about:blank")));
    }
    return;
  }
  if (!browser_ && pageHeld_) return;  // made when released
  if (!browser_ && panel_.WebBrowser) {
    browser_ = new TMapBrowser(panel_.WebBrowser);
    connect(browser_, &TMapBrowser::Callback, this, &TMapController::HandleCallback);
    // The context menu chooses where the tiles come from.
    auto *tiles = new TMapTilesMenu(browser_->Widget(), [this]() {
      SetMapShown(false);
      SetMapShown(true);
    });
    connect(browser_, &TMapBrowser::ContextMenuRequested, tiles,
            [tiles](const QPoint &at) { tiles->Popup(at); });
    // The wheel zooms about the centre (the page's own wheel zoom is off);
    // the widget view's render widget appears with the first page.
    auto watchWheel = [this]() {
      if (QObject *w = browser_->WheelTarget(); w && w != wheelTarget_) {
        wheelTarget_ = w;
        w->installEventFilter(this);
      }
    };
    watchWheel();
    connect(browser_, &TMapBrowser::LoadFinished, this, watchWheel);
  }
  if (browser_) browser_->SetUrl(QUrl(QStringLiteral("qrc:/map/gm.html")));
}

void TMapController::HoldPage(bool held) {
  pageHeld_ = held;
  if (!held && shown_ && !browser_) SetMapShown(true);
}

bool TMapController::MapShown() const {
  return shown_ && browser_ && panel_.WebBrowser && panel_.WebBrowser->isVisible();
}

int TMapController::RunMapScript(const QString &script, bool force) {
  if (!(mapReady_ || force) || !MapShown()) return -1;
  // The page's functions answer -1 when they could not act; an exception
  // counts the same. Anything else means the page took the script.
  const QString wrapped = "(function(){try{var r=eval(" + JsQuote(script) +
                          ");return r===-1?-1:0;}catch(e){return -1;}})()";
  std::weak_ptr<int> alive = alive_;
  browser_->RunJavaScript(wrapped, [this, alive, script](const QVariant &result) {
    if (alive.expired()) return;
    const bool taken = result.isValid() && result.toInt() == 0;
    if (script == pendingTrack_) {
      pendingTrack_.clear();
      if (taken) acceptedTrack_ = script;
    }
    if (taken) lastScript_ = script;
  });
  return -1;
}

void TMapController::ClearLastScript() {
  ForgetMarker();
  lastScript_.clear();
  acceptedTrack_.clear();
  pendingTrack_.clear();
}

// ---- operations ------------------------------------------------------------------

bool TMapController::DrawTracks(const std::vector<const TMovingInfo *> &records,
                                const std::vector<bool> &selected, TDrawTracksOptions options) {
  if (!MapShown() || !mapReady_ || records.empty()) return false;
  TTrackScriptInput in;
  in.Records = records;
  in.Selected = selected;
  in.Connect = options.Connect;
  in.Interval = TimePointInterval();
  const TTrackScript t = BuildTrackScript(in);
  QString script = t.Paths;
  if (t.Start.Present() && !options.FitBounds && !view_.StrictlyInside(t.Start))
    CenterMapAt(t.Start.Lon, t.Start.Lat, -1);
  if (options.FitBounds) {
    if (t.HasArea()) {
      if (savedZoom_ <= 0) savedZoom_ = view_.Zoom;
      script += MapBoundsScript(t);
    }
  } else {
    const TMapPoint c = vehicle_.Valid() ? vehicle_.Point() : t.Start;
    if (c.Present() && !view_.StrictlyInside(c)) CenterMapAt(c.Lon, c.Lat, -1);
  }
  script += t.TimePoints;
  if (script != acceptedTrack_) {
    // Sent once; the page's answer makes it the accepted track.
    if (script != pendingTrack_) {
      pendingTrack_ = script;
      RunMapScript(script);
    }
    return false;
  }
  if (options.Temporary) {
    trackDrawn_ = false;
  } else {
    trackStart_ = t.Start;
    trackEnd_ = t.End;
    trackDrawn_ = true;
  }
  return true;
}

bool TMapController::DrawTrip(bool fitBounds) {
  if (previewHeld_) return false;
  std::vector<const TMovingInfo *> records;
  for (const TMapRecording &r : trip_) records.push_back(r.Info);
  TDrawTracksOptions o;
  o.FitBounds = fitBounds;
  o.Connect = true;
  return DrawTracks(records, {}, o);
}

void TMapController::Tick(const TMapTickState &s) {
  if (s.Gps.Time > 0) {
    const TMapVehicle v{s.Gps.Time, s.Gps.Lon, s.Gps.Lat, s.Gps.Course, s.Gps.Speed, s.FixValid};
    ShowVehicleMarker(v);
    // A preview shows other tracks: the view stays where it put it.
    if (s.TimerTick && MapShown() && !previewHeld_) FollowVehicle(v, s.Playing);
    if (s.ControlPanelVisible) DrawInstruments(s.Gps);
  } else {
    ShowVehicleMarker({});
  }
  if (s.Gsensor.Time > 0 && s.ControlPanelVisible) DrawGSensor(s.Gsensor);
}

void TMapController::ShowVehicleMarker(const TMapVehicle &v) {
  vehicle_ = v;
  if (!MapShown() || !mapReady_) return;
  if (markerTimer_->isActive()) return;  // the held-back send takes this one
  const qint64 since = markerClock_.isValid() ? markerClock_.elapsed() : kMarkerIntervalMs;
  if (since < kMarkerIntervalMs)
    markerTimer_->start(static_cast<int>(kMarkerIntervalMs - since));
  else
    SendMarker();
}

void TMapController::SendMarker() {
  if (!MapShown() || !mapReady_) return;
  const TMapVehicle &v = vehicle_;
  if (!v.Valid()) {
    if (markerCleared_) return;
    ClearVehicle();
    drawnMarker_.reset();
    markerCleared_ = true;
  } else {
    const TMarkerLook look{v.Point(), v.Course, v.Speed, v.FixValid, view_.MarkerSize, ArrowSize()};
    if (drawnMarker_ && !MarkerChanged(view_, *drawnMarker_, look)) return;
    drawnMarker_ = look;
    markerCleared_ = false;
    if (look.FixValid && browser_->DrawsVehicle()) {
      // The arrow goes over the page; the page's circle, if any, goes.
      if (pageMarker_) RunMapScript(QStringLiteral("ClearMarkers()"));
      pageMarker_ = false;
      PlaceVehicle();
    } else {
      browser_->HideVehicle();
      RunMapScript(VehicleMarkerScript(look.Point, look.Course, look.Speed, look.FixValid,
                                       look.Size, look.Arrow));
      pageMarker_ = true;
    }
  }
  markerClock_.start();
}

void TMapController::ForgetMarker() {
  drawnMarker_.reset();
  markerCleared_ = false;
}

void TMapController::ClearVehicle() {
  RunMapScript(QStringLiteral("ClearMarkers()"));
  pageMarker_ = false;
  if (browser_) browser_->HideVehicle();
}

void TMapController::PlaceVehicle() {
  if (!browser_ || !browser_->DrawsVehicle() || !drawnMarker_ || !drawnMarker_->FixValid ||
      !MapShown() || !mapReady_)
    return;
  const TMarkerLook &m = *drawnMarker_;
  QPolygonF pixels;
  for (const TMapPoint &p : VehicleArrow(m.Point, m.Course, m.Speed, m.Size, m.Arrow)) {
    const std::optional<QPointF> q = MapPixel(view_, p.Lon, p.Lat);
    if (!q) {
      browser_->HideVehicle();
      return;
    }
    pixels << *q;
  }
  browser_->ShowVehicle(pixels);
}

void TMapController::FollowVehicle(const TMapVehicle &v, bool playing) {
  if (!v.Valid()) return;
  const TMapPoint p = v.Point();
  if (playing && savedZoom_ > 0) {
    CenterMapAt(p.Lon, p.Lat, -1);
    if (view_.Zoom < savedZoom_) {
      RunMapScript("map.setZoom(" + QString::number(savedZoom_) + ")");
      view_.Zoom = savedZoom_;
    }
    savedZoom_ = -1;
    follow_ = true;
  }
  if (view_.Inside(p))
    follow_ = true;
  else if (follow_)
    CenterMapAt(p.Lon, p.Lat, v.Course);
}

void TMapController::CenterMapAt(long double lon, long double lat, long double course) {
  if (!MapShown()) return;
  const TMapPoint c = CentreAhead(view_, lon, lat, course);
  if (!mapReady_) return;
  view_.MoveCentre(c.Lon, c.Lat);
  RunMapScript(MapCenterScript(c.Lon, c.Lat));
  PlaceVehicle();
}

void TMapController::ShowABMarkers(
    long double a, long double b,
    const std::function<std::optional<TMapPoint>(long double)> &pointAt) {
  const TABPins pins = ABPins(a, b, pointAt, trackStart_, trackEnd_);
  RunMapScript(ABMarkersScript(pins.A, pins.B));
}

void TMapController::ZoomMapBy(int notches) {
  RunMapScript("SetMapZoom(" + QString::number(notches) + ")");
}

void TMapController::ClearMap() {
  RunMapScript(QStringLiteral("ClearPath()"));
  RunMapScript(QStringLiteral("ClearMarkersAB()"));
  ClearVehicle();
  ClearLastScript();
  trackStart_ = trackEnd_ = TMapPoint{};
}

// ---- callbacks -------------------------------------------------------------------

void TMapController::HandleCallback(const QString &command, const QString &query) {
  if (command == u"loaded")
    OnLoaded();
  else if (command == u"inited")
    OnInited();
  else if (command == u"zoom")
    OnZoom(query);
  else if (command == u"view" || command == u"bounds")
    OnView(command, query);
  else if (command == u"routeClick")
    OnRouteClick(query);
}

void TMapController::OnLoaded() {
  // A new page: nothing of the old one's vehicle stays.
  browser_->HideVehicle();
  pageMarker_ = false;
  const TTileSource source = TileSourceOf(settings::kMapTiles.Get());
  MapTileHandler()->SetSource(source);
  RunMapScript(TileSourceScript(source), true);
  RunMapScript(InitializeScript(settings::kMapY.Get(), settings::kMapX.Get(),
                                settings::kMapZoom.Get(), settings::kMapType.Get()),
               true);
}

void TMapController::OnInited() {
  mapReady_ = true;
  ClearLastScript();
  trackDrawn_ = false;
  MarkTiming("map-loaded");
  emit RefreshRequested(true);
  emit MapInited();
}

void TMapController::OnZoom(const QString &query) {
  const int old = view_.Zoom;
  QString q = query, key, value;
  while (NextParam(q, key, value))
    if (key == u"z") view_.Zoom = ParseIntOr0(value);
  if (!follow_ || !vehicle_.Valid()) return;
  if (const auto c = ZoomRecentre(view_, old, vehicle_.Point())) CenterMapAt(c->Lon, c->Lat, -1);
}

void TMapController::OnView(const QString &command, const QString &query) {
  const long double oldSize = view_.MarkerSize;
  const QSize control = panel_.WebBrowser ? panel_.WebBrowser->size() : QSize();
  if (const auto mapType = view_.ApplyReport(query, control)) settings::kMapType.Set(*mapType);
  follow_ = view_.Inside(vehicle_.Point());
  const long double newSize = view_.MarkerSize;
  if (std::min(oldSize, newSize) / std::max({oldSize, newSize, 1.0L}) < 0.9L) {
    ClearVehicle();
    ForgetMarker();
  } else {
    // The arrow over the page stays on its spot of the map.
    PlaceVehicle();
  }
  if (savedZoom_ < 0) SaveView();
  if (command == u"view") emit RefreshRequested(false);
}

void TMapController::SaveView() {
  settings::kMapX.Set(CoordText(view_.CenterX));
  settings::kMapY.Set(CoordText(view_.CenterY));
  settings::kMapZoom.Set(QString::number(std::clamp(view_.Zoom, 10, 17)));
}

void TMapController::OnRouteClick(const QString &query) {
  long double x = 0, y = 0;
  QString q = query, key, value;
  while (NextParam(q, key, value)) {
    if (key == u"x") x = ParseFloatDot(value, 0);
    if (key == u"y") y = ParseFloatDot(value, 0);
  }
  if (const auto target = RouteClickTarget(x, y, trip_))
    emit SeekRequested(static_cast<double>(*target));
}

// ---- instruments -----------------------------------------------------------------

void TMapController::ResetInstruments() {
  if (speed_) speed_->Draw(-1, -1, 0);
  if (azimut_) azimut_->Draw(-1);
  if (gsensor_) gsensor_->Draw(10, 10, 10, 0);
}

void TMapController::DrawInstruments(const TGpsPoint &p) {
  if (speed_) speed_->Draw(p.Speed, p.Distance, p.Altitude);
  if (azimut_) azimut_->Draw(p.Course);
}

void TMapController::DrawGSensor(const TGsensorPoint &g) {
  if (gsensor_) gsensor_->Draw(g.X, g.Y, g.Z, g.A);
}

}  // namespace tachora
