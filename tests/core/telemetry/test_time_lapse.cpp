// Telemetry of a time-lapse recording mapped onto its playing time.
#include <gtest/gtest.h>

#include "telemetry/UnitTimeLapse.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400.0;
const double kT0 = EncodeDate(2024, 5, 1) + 0.5;

// A fix and a sample every second for `seconds` seconds from kT0.
TMovingInfo Track(int seconds) {
  TMovingInfo mi;
  for (int i = 0; i <= seconds; ++i) {
    TGpsPoint p;
    p.Time = kT0 + i * kSec;
    mi.GpsPoints.push_back(p);
    TGsensorPoint s;
    s.Time = p.Time;
    mi.GsensorPoints.push_back(s);
  }
  mi.StartTime = kT0;
  mi.EndTime = kT0 + seconds * kSec;
  mi.GsensorPeriod = kSec;
  return mi;
}

}  // namespace

TEST(TimeLapse, RatioAndProportionalMapping) {
  // 30 minutes of telemetry for a minute of picture ending with it.
  const double start = kT0 + 1740 * kSec, end = kT0 + 1800 * kSec;
  EXPECT_NEAR(TimeLapseRatio(Track(1800), start, end), 30, 1e-6);
  // Up to 1.5 times the playing time is an ordinary recording.
  EXPECT_EQ(TimeLapseRatio(Track(90), kT0, kT0 + 60 * kSec), 1);
  EXPECT_NE(TimeLapseRatio(Track(91), kT0, kT0 + 60 * kSec), 1);
  EXPECT_EQ(TimeLapseRatio(Track(1800), 0, end), 1);  // unknown start
  EXPECT_EQ(TimeLapseRatio(TMovingInfo{}, start, end), 1);

  TMovingInfo mi = Track(1800);
  EXPECT_NEAR(MapTimeLapse(mi, start, end), 30, 1e-6);
  EXPECT_DOUBLE_EQ(mi.StartTime, start);
  EXPECT_NEAR((mi.EndTime - end) / kSec, 0, 1e-6);
  // Minute 15 of the drive is half-way through the picture.
  EXPECT_NEAR((mi.GpsPoints[900].Time - start) / kSec, 30, 1e-6);
  EXPECT_NEAR((mi.GsensorPoints[900].Time - start) / kSec, 30, 1e-6);
  EXPECT_NEAR(mi.GsensorPeriod / kSec, 1.0 / 30, 1e-9);

  // Fitting it to the recording afterwards keeps every point.
  mi.FitTo(start, end);
  EXPECT_EQ(mi.GpsPoints.size(), 1801u);

  TMovingInfo normal = Track(60);
  EXPECT_EQ(MapTimeLapse(normal, kT0, kT0 + 60 * kSec), 1);
  EXPECT_DOUBLE_EQ(normal.GpsPoints[30].Time, kT0 + 30 * kSec);
}
