// The map's part of the main window: the map page on the right (a web view
// in the layout's WebBrowser frame) and the three instrument pictures of
// the control panel (speed, bearing, G-sensor).
//
// The playback tick calls the plain methods here: DrawTracks once per trip,
// then each tick ShowVehicleMarker, FollowVehicle and the instruments' Draw;
// ShowABMarkers when the time line's visible window changes; ClearMap when
// the recording closes. The page answers through callbacks: a click on the
// route asks for a seek (SeekRequested), "inited" and "view" ask for a
// refresh of the panels (RefreshRequested).
//
// Scripts run asynchronously in the browser: RunMapScript returns -1 at
// once and LastScript becomes the script only when the page has run it
// without error. DrawTracks therefore reports success on the tick after the
// page took the track (a script equal to LastScript is not sent again, and
// one still on its way is not sent twice).
//
// UI thread only; the widgets belong to the window.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"
#include "map/UnitMapScript.h"

class QTimer;

namespace tachora {

class TCommands;
class TMapBrowser;
class TMyImage;
class TSpeedBitmap;
class TAzimutBitmap;
class TGSensorBitmap;

// The vehicle as the tick knows it: the current telemetry point.
struct TMapVehicle {
  double Time = 0;  // 0: no valid point
  long double Lon = 0, Lat = 0;
  long double Course = -1, Speed = -1;
  bool FixValid = false;
  TMapPoint Point() const { return {Lon, Lat}; }
  bool Valid() const { return Time > 0; }
};

// What one playback tick hands the map and the instruments.
struct TMapTickState {
  TGpsPoint Gps;           // Time 0: no point at the position
  bool FixValid = false;   // a real fix (arrow), else approximate (circle)
  TGsensorPoint Gsensor;   // Time 0: no sample
  bool TimerTick = false;  // a real timer tick (following runs only then)
  bool Playing = false;    // the Play button is down
  bool ControlPanelVisible = true;
};

struct TDrawTracksOptions {
  bool FitBounds = false;  // fit the map to the track
  bool Temporary = false;  // a dialog's preview: the tick redraws the trip later
  bool Connect = false;    // grey links across gaps
};

class TMapController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  TMapController(QObject *parent, const TMapPanel &panel, TCommands &commands);
  ~TMapController() override;
  void Translate() override;

  // ---- the page --------------------------------------------------------------
  // Loads the page when shown, "about:blank" when hidden (follows the
  // WebBrowser frame's visibility by itself).
  void SetMapShown(bool shown);
  bool MapShown() const;
  // While held, the web view and its page are not made (starting the
  // browser takes the UI thread for a while); a release makes them if the
  // map is shown. The window holds the page until it and the first video
  // frame are on screen.
  void HoldPage(bool held);
  bool PageHeld() const { return pageHeld_; }
  bool MapReady() const { return mapReady_; }
  // Runs script text in the page when the map is ready (or forced) and
  // shown. Returns -1: the page's answer comes later and sets LastScript.
  int RunMapScript(const QString &script, bool force = false);
  const QString &LastScript() const { return lastScript_; }
  // Forgets the last script and the accepted track (the next DrawTracks
  // sends the track again).
  void ClearLastScript();

  // ---- operations for the playback loop --------------------------------------
  // The open trip's recordings, for route clicks (and the tick's track).
  void SetTrip(std::vector<TMapRecording> trip) { trip_ = std::move(trip); }
  bool HasTrip() const { return !trip_.empty(); }
  // True when the track script was sent and taken, or already current.
  bool DrawTracks(const std::vector<const TMovingInfo *> &records,
                  const std::vector<bool> &selected, TDrawTracksOptions options);
  // The open trip's track (SetTrip): connected, nothing selected. False
  // while a tool window's preview holds the map.
  bool DrawTrip(bool fitBounds);
  void SetPreviewHeld(bool held) { previewHeld_ = held; }
  bool PreviewHeld() const { return previewHeld_; }
  bool TrackDrawn() const { return trackDrawn_; }
  void SetTrackDrawn(bool drawn) { trackDrawn_ = drawn; }
  // The current point (kept for zoom re-centring and fitted centring).
  void SetVehicle(const TMapVehicle &v) { vehicle_ = v; }
  const TMapVehicle &Vehicle() const { return vehicle_; }
  // Sets the current point and places the arrow (valid fix) or the circle;
  // clears the markers when the point is not valid. The page is told only
  // what it does not show yet (MarkerChanged), at most once per
  // kMarkerIntervalMs; a change held back is sent when the interval ends.
  void ShowVehicleMarker(const TMapVehicle &v);
  // Four moves a second keep the vehicle's motion readable; each move costs
  // the browser a new picture of the map.
  static constexpr int kMarkerIntervalMs = 250;
  // One tick's share, in the loop's order: the vehicle marker (or none),
  // following on timer ticks, the speed and bearing pictures, the G-sensor.
  void Tick(const TMapTickState &s);
  // Keeps the vehicle in view on timer ticks.
  void FollowVehicle(const TMapVehicle &v, bool playing);
  bool Following() const { return follow_; }
  void SetFollowing(bool on) { follow_ = on; }
  // Centres the map on a point, ahead of it along course in 0..360.
  void CenterMapAt(long double lon, long double lat, long double course);
  // The pins of the time line's visible window [a, b] (0..1); pointAt gives
  // the telemetry point at a trip position, if any.
  void ShowABMarkers(long double a, long double b,
                     const std::function<std::optional<TMapPoint>(long double)> &pointAt);
  // Wheel notches over the map (delta / 120, signed).
  void ZoomMapBy(int notches);
  // Clears track, pins and vehicle, and forgets the last script.
  void ClearMap();

  const TMapView &View() const { return view_; }
  int SavedZoom() const { return savedZoom_; }
  TMapPoint TrackStart() const { return trackStart_; }
  TMapPoint TrackEnd() const { return trackEnd_; }

  // The page's callback (public so that tests drive it without a browser).
  void HandleCallback(const QString &command, const QString &query);

  // ---- instruments ---------------------------------------------------------
  TSpeedBitmap *Speed() const { return speed_; }
  TAzimutBitmap *Azimut() const { return azimut_; }
  TGSensorBitmap *GSensor() const { return gsensor_; }
  // The three pictures showing nothing (start-up, recording closed).
  void ResetInstruments();
  // Speed, length and altitude, and the course of the current point.
  void DrawInstruments(const TGpsPoint &p);
  void DrawGSensor(const TGsensorPoint &g);

  // The page's browser (null until the map first shows).
  TMapBrowser *Browser() const { return browser_; }

 signals:
  // A click on the route: seek there and refresh at once.
  void SeekRequested(double position);
  // "inited" (a timer tick: redraw track, vehicle, pins) or "view" (a plain
  // refresh, after which the window hands the keyboard focus back from the
  // browser to the video or the list).
  void RefreshRequested(bool timerTick);
  // The page reported "inited" (the network may work: a good moment for
  // the update check).
  void MapInited();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void BindCommands();
  void OnLoaded();
  void OnInited();
  void OnZoom(const QString &query);
  void OnView(const QString &command, const QString &query);
  void OnRouteClick(const QString &query);
  TArrowSize ArrowSize() const;
  double TimePointInterval() const;
  bool Checked(const char *item) const;
  void SaveView();
  void SendMarker();
  // The page's marker is unknown (reloaded, cleared): the next one is sent.
  void ForgetMarker();
  // Clears the vehicle from the page and from over it.
  void ClearVehicle();
  // The arrow drawn over the page follows the view (the Quick view only).
  void PlaceVehicle();

  TMapPanel panel_;
  TCommands &commands_;
  TMapBrowser *browser_ = nullptr;
  QPointer<QObject> wheelTarget_;
  TMyImage *speedImage_ = nullptr, *azimutImage_ = nullptr, *gsensorImage_ = nullptr;
  TSpeedBitmap *speed_ = nullptr;
  TAzimutBitmap *azimut_ = nullptr;
  TGSensorBitmap *gsensor_ = nullptr;

  TMapView view_;
  bool shown_ = false;
  bool pageHeld_ = false;
  bool mapReady_ = false;
  bool trackDrawn_ = false;
  bool previewHeld_ = false;
  bool follow_ = true;
  QString lastScript_;
  QString pendingTrack_;   // a track script sent and not answered yet
  QString acceptedTrack_;  // the track script the page last took
  int wheelRest_ = 0;      // wheel delta short of a notch
  int savedZoom_ = -1;
  TMapPoint trackStart_, trackEnd_;
  TMapVehicle vehicle_;
  std::optional<TMarkerLook> drawnMarker_;  // the look last drawn, in the page or over it
  bool markerCleared_ = false;              // the page was last told to clear it
  bool pageMarker_ = false;                 // the page may show a vehicle of its own
  QElapsedTimer markerClock_;               // since the last marker script
  QTimer *markerTimer_ = nullptr;           // sends a change held back
  std::vector<TMapRecording> trip_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tachora
