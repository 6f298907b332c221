// The queries on a loaded track: state at a position, nearest point,
// thinning, trimming, merging over a trip, altitude transfer and ranges.
#include <gtest/gtest.h>

#include <cmath>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverters.h"

using namespace tachora;
using namespace tachora::test;

namespace {

class QueriesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimeZone("UTC"); }
};

long double FractionOf(const TMovingInfo &mi, double t) {
  return (t - mi.StartTime) / (mi.EndTime - mi.StartTime);
}

TGsensorPoint SampleAt(double sec, long double x) {
  TGsensorPoint s;
  s.Time = At(sec);
  s.X = x;
  s.A = std::fabs(x);
  return s;
}

}  // namespace

TEST_F(QueriesTest, StateAtInterpolates) {
  TMovingInfo mi = Track({Point(0, 55.0, 37.0, 350, 10, 100), Point(2, 55.001, 37.002, 10, 20, 0),
                          Point(12, 55.002, 37.004, 10, 20, 120)});
  mi.GsensorPoints = {SampleAt(0, 0), SampleAt(1, 1)};
  // Exactly at a point: its own values.
  TMovingState s = StateAt(mi, 0);
  EXPECT_TRUE(s.FixValid);
  EXPECT_EQ(s.Gps.Lat, 55.0L);
  EXPECT_EQ(s.Gps.Course, 350);
  EXPECT_EQ(s.Gps.Altitude, 100);
  // Halfway between 350 and 10 degrees: north, not south.
  s = StateAt(mi, FractionOf(mi, At(1)));
  const double c = static_cast<double>(s.Gps.Course);
  EXPECT_LT(std::min(c, 360 - c), 1e-4) << c;
  EXPECT_GE(c, 0);
  EXPECT_LT(c, 360);
  EXPECT_NEAR(static_cast<double>(s.Gps.Lat), 55.0005, 1e-8);
  EXPECT_NEAR(static_cast<double>(s.Gps.Speed), 15, 1e-4);
  EXPECT_EQ(s.Gps.Altitude, 100);  // one side unknown: the known one
  EXPECT_NEAR(Seconds(s.Gps.Time), 1, 1e-6);
  EXPECT_NEAR(static_cast<double>(s.Gsensor.X), 1, 1e-9);  // the last sample's time
  s = StateAt(mi, FractionOf(mi, At(0.5)));
  EXPECT_NEAR(static_cast<double>(s.Gsensor.X), 0.5, 1e-5);
  // 10 s between fixes: 4 s from the nearer is no fix, 1 s is.
  EXPECT_FALSE(StateAt(mi, FractionOf(mi, At(6))).FixValid);
  EXPECT_TRUE(StateAt(mi, FractionOf(mi, At(3))).FixValid);
  EXPECT_TRUE(StateAt(mi, FractionOf(mi, At(11))).FixValid);
  // The G-sensor holds its last sample for less than 3 s.
  EXPECT_NEAR(static_cast<double>(StateAt(mi, FractionOf(mi, At(3.5))).Gsensor.X), 1, 1e-9);
  EXPECT_EQ(StateAt(mi, FractionOf(mi, At(4.5))).Gsensor.X, 0);
  // Past the end: the last point within 3 s, nothing farther out.
  s = StateAt(mi, FractionOf(mi, At(14)));
  EXPECT_TRUE(s.FixValid);
  EXPECT_EQ(s.Gps.Time, At(12));
  s = StateAt(mi, FractionOf(mi, At(16)));
  EXPECT_FALSE(s.FixValid);
  EXPECT_EQ(s.Gps.Time, 0);
  // No span: zeroed.
  TMovingInfo flat = Track({Point(0, 55, 37)});
  s = StateAt(flat, 0.5);
  EXPECT_FALSE(s.FixValid);
  EXPECT_EQ(s.Gps.Lat, 0);
}

TEST_F(QueriesTest, NearestPointPicksTimesInsideStretches) {
  TMovingInfo mi = Track({Point(0, 55.0, 37.0), Point(1, 55.001, 37.0), Point(2, 55.002, 37.0),
                          Point(20, 55.010, 37.0), Point(21, 55.011, 37.0)});
  long double best = 1e30L;
  // Inside a stretch: the point's own time.
  EXPECT_NEAR(static_cast<double>(NearestPoint(mi, 55.001, 37.0, best)),
              static_cast<double>(FractionOf(mi, At(1))), 1e-9);
  EXPECT_EQ(best, 0);
  // Nothing beats a best of 0.
  EXPECT_EQ(NearestPoint(mi, 55.002, 37.0, best), -1);
  // The last point of a stretch: 0.5 s earlier; the first one: 0.5 s later.
  best = 1e30L;
  EXPECT_NEAR(static_cast<double>(NearestPoint(mi, 55.0021, 37.0, best)),
              static_cast<double>(FractionOf(mi, At(1.5))), 1e-9);
  best = 1e30L;
  EXPECT_NEAR(static_cast<double>(NearestPoint(mi, 55.0099, 37.0, best)),
              static_cast<double>(FractionOf(mi, At(20.5))), 1e-9);
}

TEST_F(QueriesTest, ThinSpacingAndStretches) {
  auto line = [](int n, double gapAt = -1) {
    std::vector<TGpsPoint> p;
    double t = 0;
    for (int i = 0; i < n; ++i) {
      if (i == gapAt) t += 6;                        // 7 s between two fixes
      p.push_back(Point(t, 55.0 + i * 1e-5, 37.0));  // about 1.1 m apart
      t += 1;
    }
    return Track(p);
  };
  auto minSpacing = [](const TTrack &track) {
    long double m = 1e30L;
    for (const auto &item : track)
      for (size_t i = 1; i + 1 < item.Points.size(); ++i)
        m = std::min(m, item.Points[i].Distance - item.Points[i - 1].Distance);
    return m;
  };
  // 12000 points: 20 m apart; 2000 points: 4 m.
  TTrack t = Thin(line(12000), -1);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_GE(minSpacing(t), 20);
  EXPECT_LT(minSpacing(t), 21.2);
  t = Thin(line(2000), -1);
  EXPECT_GE(minSpacing(t), 4);
  EXPECT_LT(minSpacing(t), 5.2);
  // A 7 s gap: two stretches, each keeping its ends.
  TMovingInfo gap = line(100, 50);
  t = Thin(gap, 50);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].Points.front().Time, gap.GpsPoints[0].Time);
  EXPECT_EQ(t[0].Points.back().Time, gap.GpsPoints[49].Time);
  EXPECT_EQ(t[1].Points.front().Time, gap.GpsPoints[50].Time);
  EXPECT_EQ(t[1].Points.back().Time, gap.GpsPoints[99].Time);
  // A lone point is a stretch of one.
  t = Thin(Track({Point(0, 55, 37)}), -1);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].Points.size(), 1u);
  EXPECT_TRUE(Thin(TMovingInfo(), -1).empty());
}

TEST_F(QueriesTest, TrimRenumbersOnlyWhenSomethingGoes) {
  TMovingInfo mi = Track({Point(0, 55.0, 37.0), Point(1, 55.001, 37.0), Point(2, 55.002, 37.0),
                          Point(3, 55.003, 37.0)});
  mi.GsensorPoints = {SampleAt(0, 0), SampleAt(1.5, 1), SampleAt(3, 2)};
  mi.GsensorPoints[2].GpsIndex = 3;
  mi.GsensorPoints[1].GpsIndex = 1;
  TMovingInfo same = mi;
  same.GpsPoints[1].Number = 7;
  Trim(same, At(0), At(3));
  EXPECT_EQ(same.GpsPoints[1].Number, 7);  // nothing removed, nothing renumbered
  EXPECT_EQ(same.StartTime, mi.StartTime);

  Trim(mi, At(0.5), At(2.5));
  ASSERT_EQ(mi.GpsPoints.size(), 2u);
  EXPECT_EQ(mi.GpsPoints[0].Number, 0);
  EXPECT_EQ(mi.GpsPoints[0].Distance, 0);
  EXPECT_NEAR(static_cast<double>(mi.GpsPoints[1].Distance),
              static_cast<double>(Distance(55.001, 37, 55.002, 37)), 1e-6);
  ASSERT_EQ(mi.GsensorPoints.size(), 1u);
  EXPECT_EQ(mi.GsensorPoints[0].Number, 0);
  EXPECT_EQ(mi.GsensorPoints[0].GpsIndex, 0);  // still the same fix
  EXPECT_EQ(mi.StartTime, At(1));
  EXPECT_EQ(mi.EndTime, At(2));
  // FitTo trims only what reaches outside; an object without times takes
  // the recording's.
  EXPECT_FALSE(mi.FitTo(At(0), At(10)));
  TMovingInfo empty;
  EXPECT_TRUE(empty.FitTo(At(0), At(10)));
  EXPECT_EQ(empty.EndTime, At(10));
}

TEST_F(QueriesTest, MergeNumberingAcrossARecordingWithoutGps) {
  std::vector<TMovingInfo> trip(3);
  trip[0] = Track({Point(0, 55.0, 37.0), Point(1, 55.001, 37.0)});
  trip[0].GsensorPoints = {SampleAt(0, 0), SampleAt(1, 0)};
  trip[0].GsensorPoints[1].Number = 1;
  trip[1].GsensorPoints = {SampleAt(60, 0)};
  trip[2] = Track({Point(120, 55.002, 37.0), Point(121, 55.003, 37.0)});
  const long double d0 = trip[0].GpsPoints[1].Distance;
  MergeNumbering(trip);
  EXPECT_EQ(trip[0].GpsPoints[1].Number, 1);  // the first is unchanged
  EXPECT_EQ(trip[2].GpsPoints[0].Number, 2);
  EXPECT_EQ(trip[2].GpsPoints[1].Number, 3);
  EXPECT_EQ(trip[2].GpsPoints[0].Distance, d0);
  EXPECT_EQ(trip[1].GsensorPoints[0].Number, 2);
  EXPECT_EQ(trip[2].GpsPointCount(), 4);

  // A leading recording without GPS leaves the numbering of the next alone.
  std::vector<TMovingInfo> lead(2);
  lead[1] = Track({Point(0, 55.0, 37.0)});
  MergeNumbering(lead);
  EXPECT_EQ(lead[1].GpsPoints[0].Number, 0);
}

TEST_F(QueriesTest, CopyAltitudeInterpolatesByIndex) {
  TMovingInfo target = Track({Point(0, 55, 37), Point(1, 55, 37.1), Point(2, 55, 37.2),
                              Point(3, 55, 37.3), Point(4, 55, 37.4), Point(5, 55, 37.5)});
  TMovingInfo source = Track({Point(-5, 55, 37, -1, -1, 50), Point(0.5, 55, 37, -1, -1, 100),
                              Point(4, 55, 37, -1, -1, 160), Point(9, 55, 37, -1, -1, 999)});
  CopyAltitude(target, source);
  EXPECT_EQ(target.GpsPoints[0].Altitude, 0);    // before the first match
  EXPECT_EQ(target.GpsPoints[1].Altitude, 100);  // first point at or after 0.5 s
  EXPECT_EQ(target.GpsPoints[2].Altitude, 120);
  EXPECT_EQ(target.GpsPoints[3].Altitude, 140);
  EXPECT_EQ(target.GpsPoints[4].Altitude, 160);
  EXPECT_EQ(target.GpsPoints[5].Altitude, 0);  // the 9 s fix has no target: stop
  TMovingInfo none;
  CopyAltitude(none, source);  // nothing to do, nothing breaks
}

TEST_F(QueriesTest, ExtractRangeInterleavesInTimeOrder) {
  TMovingInfo mi = Track({Point(0, 55.0, 37.0), Point(1, 55.001, 37.0), Point(2, 55.002, 37.0),
                          Point(3, 55.003, 37.0), Point(40, 55.004, 37.0)});
  for (int i = 0; i < 8; ++i) mi.GsensorPoints.push_back(SampleAt(i * 0.5, i));
  mi.EndTime = At(40);
  // A short range keeps the fix before it.
  TTrackInfo info;
  ExtractRange(mi, FractionOf(mi, At(1.2)), FractionOf(mi, At(2.6)), info);
  std::string kinds;
  for (const auto &r : info.Items) kinds += r.Kind == kRecordGps ? 'G' : 'S';
  EXPECT_EQ(kinds, "GSGSS");
  EXPECT_EQ(info.Items[0].Time, At(1));
  EXPECT_EQ(info.Items[2].Time, At(2));
  EXPECT_EQ(info.Items.back().Time, At(2.5));
  // The writer's text: samples get 1 g back on Z, fixes the recorder layout.
  info.Items.resize(2);
  info.Items[1].Z = 0.01;
  EXPECT_EQ(WriteTrackText(DefaultGpsWriter(), info),
            "[G]\t2010-05-01 12:00:01\tN55.001000\tE37.000000\t-1\t-1\r\n"
            "[S]\t3000\t0\t1010\r\n");
  // A long range does not.
  TTrackInfo full;
  ExtractRange(mi, FractionOf(mi, At(0.2)), 1, full);
  EXPECT_EQ(full.Items.front().Kind, kRecordGsensor);
  EXPECT_EQ(full.Items.size(), 4u + 7u);
}

TEST_F(QueriesTest, LoadGroupTelemetryStaysParallelAndMerges) {
  TTempDir dir;
  // Recording 1 has its own .dat; recording 2 has nothing; recording 3 only
  // the logger's GPX, which also gives recording 1 its altitudes.
  WriteFile(dir.File("r1.dat"),
            "[G]\t2010-05-01 12:00:00\tN55.750000\tE37.600000\t36\t0\r\n"
            "[G]\t2010-05-01 12:00:01\tN55.750100\tE37.600000\t36\t0\r\n"
            "[G]\t2010-05-01 12:00:02\tN55.750200\tE37.600000\t36\t0\r\n");
  std::string gpx = "<gpx>\r\n";
  for (int i = 0; i < 200; ++i)
    gpx += "<trkpt lat=\"55." + std::to_string(750000 + i * 100) + "\" lon=\"37.600000\"><ele>" +
           std::to_string(100 + i) + "</ele><time>2010-05-01T12:" + (i / 60 < 10 ? "0" : "") +
           std::to_string(i / 60) + ":" + (i % 60 < 10 ? "0" : "") + std::to_string(i % 60) +
           "Z</time></trkpt>\r\n";
  gpx += "</gpx>\r\n";
  WriteFile(dir.File("logger.gpx"), gpx);
  std::vector<TGroupTelemetrySource> src(3);
  src[0] = {dir.File("r1.dat"), dir.File("logger.gpx"), At(0), At(60)};
  src[1] = {"", "", At(60), At(120)};
  src[2] = {dir.File("missing.dat"), dir.File("logger.gpx"), At(120), At(180)};
  const auto group = LoadGroupTelemetry(src);
  ASSERT_EQ(group.size(), 3u);
  ASSERT_EQ(group[0]->GpsPoints.size(), 3u);
  EXPECT_EQ(group[0]->GpsPoints[1].Altitude, 101);  // from the logger
  EXPECT_TRUE(group[1]->GpsPoints.empty());
  EXPECT_EQ(group[1]->StartTime, At(60));  // the stand-in takes the recording's span
  // The third is the logger's track trimmed to its recording, numbered on
  // from the first.
  ASSERT_FALSE(group[2]->GpsPoints.empty());
  EXPECT_EQ(group[2]->GpsPoints.front().Time, At(120));
  EXPECT_EQ(group[2]->GpsPoints.back().Time, At(180));
  EXPECT_EQ(group[2]->GpsPoints.front().Number, 3);
  EXPECT_NEAR(static_cast<double>(group[2]->GpsPoints.front().Distance),
              static_cast<double>(group[0]->GpsPoints.back().Distance), 1e-6);
}
