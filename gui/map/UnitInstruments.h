// The three instrument pictures of the control panel: the speedometer with
// the track length and altitude (TSpeedBitmap, 134 x 100, over our own
// dial), the bearing needle (TAzimutBitmap, 73 x 49) and the three-axis
// G-sensor (TGSensorBitmap, 65 x 65). Each redraws from its Background on
// every Draw: one copy plus a few shapes, cheap enough for every playback
// tick.
//
// Each picture is drawn at its image's pixel ratio and made again when the
// ratio changes (it remembers the values last drawn).
//
// Units: km/h, metres, degrees clockwise from north, g. Values that mean
// "not shown": a negative speed, length or course, an altitude of 0; G
// values of 10 put the dots outside the picture. Nothing is rejected:
// values off the picture are clipped.
//
// UI thread only; the images belong to the window.
#pragma once

#include <QPoint>
#include <array>

#include "app/UnitDisplayUnits.h"
#include "app/UnitMyBitmap.h"

namespace tachora {

// Track length text: rounded, a blank before the last three digits when the
// number has 4 to 6 characters ("12 345", "1234567").
QString TrackLengthText(long double metres);
// The speed needle about (67, 67): 0 km/h points left, 90 up, 180 right.
std::array<QPoint, 3> SpeedNeedle(long double speed);
// Where a speed (km/h) stands on the dial, in the needle's degrees: the
// metric dial reads 0-180 km/h, the imperial one 0-120 mph.
long double SpeedDialDegrees(long double kmh, TUnits units);
// The bearing needle of a W x H picture: the red half's polygon; the blue
// half shares P0 and P2 and has the mirrored tip.
struct TAzimutNeedle {
  QPoint P0, Tip, P2, BlueTip;
};
TAzimutNeedle AzimutNeedle(int w, int h, long double course);

class TSpeedBitmap : public TMyBitmap {
  Q_OBJECT
 public:
  explicit TSpeedBitmap(TMyImage *image, QObject *parent = nullptr);
  // km/h and metres; shown in the window's units (View -> Units).
  void Draw(long double speed, long double length, long double altitude);
  void PixelRatioChanged() override;
  // The dial for the units: the km/h one, or the mph face drawn over it.
  void SetUnits(TUnits units);

 private:
  void MakeBackground();
  long double speed_ = -1, length_ = -1, altitude_ = 0;
  TUnits units_ = TUnits::Metric;
  QString dialLabel_;
};

class TAzimutBitmap : public TMyBitmap {
  Q_OBJECT
 public:
  explicit TAzimutBitmap(TMyImage *image, QObject *parent = nullptr);
  void Draw(long double course);
  void PixelRatioChanged() override;

 private:
  void MakeBackground();
  long double course_ = -1;
};

class TGSensorBitmap : public TMyBitmap {
  Q_OBJECT
 public:
  explicit TGSensorBitmap(TMyImage *image, QObject *parent = nullptr);
  // total is accepted for the callers' convenience and not shown.
  void Draw(long double x, long double y, long double z, long double total);

  // Axis geometry (pixels).
  int XAxisCenterX = 0, XAxisY = 0, YAxisCenterX = 0, YAxisCenterY = 0;
  int ZAxisX = 0, ZAxisCenterY = 0, Scale = 0, DiagonalScale = 0;

  void PixelRatioChanged() override;

 private:
  void MakeBackground();
  std::array<long double, 3> last_{10, 10, 10};
};

}  // namespace tachora
