// Loading a TMovingInfo: time repair, G-sensor timing and bias, derived
// values, statistics and the track summary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverters.h"

using namespace tachora;
using namespace tachora::test;

namespace {

TTrackRecord GpsRecord(double sec, long double lat = 55.75, long double lon = 37.6) {
  TTrackRecord r;
  r.Kind = kRecordGps;
  r.Time = At(sec);
  r.Lat = lat;
  r.Lon = lon;
  return r;
}

TTrackRecord Sample(long double x, long double y, long double z) {
  TTrackRecord r;
  r.Kind = kRecordGsensor;
  r.X = x;
  r.Y = y;
  r.Z = z;
  return r;
}

std::vector<double> GpsSeconds(const TMovingInfo &mi) {
  std::vector<double> s;
  for (const auto &p : mi.GpsPoints)
    s.push_back(std::round((p.Time - At(0)) * 86400 * 1000) / 1000);
  return s;
}

class MovingInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimeZone("UTC"); }
};

}  // namespace

TEST_F(MovingInfoTest, SinglePoint) {
  auto mi = TMovingInfo::LoadFromText("[G]\t2010-05-01 12:00:00\tN55.750000\tE37.600000\r\n",
                                      "a.dat", 0, 0, false);
  ASSERT_TRUE(mi);
  ASSERT_EQ(mi->GpsPoints.size(), 1u);
  const auto &p = mi->GpsPoints[0];
  EXPECT_EQ(p.Distance, 0);
  EXPECT_EQ(p.Course, 0);  // atan2(0, 0)
  EXPECT_EQ(p.Speed, 0);
  EXPECT_EQ(mi->TrackLength(), 0);
  EXPECT_EQ(mi->AverageSpeed(), -1);
  EXPECT_EQ(mi->GpsPointCount(), 1);
  EXPECT_EQ(mi->GsensorPointCount(), 0);
  EXPECT_EQ(mi->StartTime, At(0));
  EXPECT_EQ(mi->EndTime, At(0));
  EXPECT_EQ(mi->ReaderName, "DOD GS600, Carcam Q3");
  // No record at all: nothing.
  EXPECT_FALSE(TMovingInfo::LoadFromText("[B]\r\n", "a.dat", 0, 0, false));
}

TEST_F(MovingInfoTest, DuplicateGpsTimesAreRepaired) {
  auto load = [](std::vector<double> secs) {
    TTrackInfo t;
    for (size_t i = 0; i < secs.size(); ++i)
      t.Items.push_back(GpsRecord(secs[i], 55.75 + i * 1e-4));
    return GpsSeconds(*TMovingInfo::FromTrackInfo(t, true));
  };
  // Room after the pair: the second moves forward.
  EXPECT_EQ(load({0, 1, 2, 3, 3, 5, 6, 7}), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7}));
  // Room before it: the first moves back.
  EXPECT_EQ(load({0, 1, 2, 4, 4, 5, 6}), (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
  // No room on either side: both stay.
  EXPECT_EQ(load({0, 1, 2, 2, 3, 4}), (std::vector<double>{0, 1, 2, 2, 3, 4}));
  // At the very start and the very end.
  EXPECT_EQ(load({5, 5, 6, 7}), (std::vector<double>{4, 5, 6, 7}));
  EXPECT_EQ(load({0, 1, 2, 3, 3}), (std::vector<double>{0, 1, 2, 3, 4}));
}

TEST_F(MovingInfoTest, GsensorTimedFromGpsLines) {
  TTrackInfo t;
  t.Items.push_back(Sample(0, 0, 1));  // before the first fix: counted back
  t.Items.push_back(GpsRecord(0));
  for (int i = 0; i < 4; ++i) t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(GpsRecord(1, 55.7501));
  for (int i = 0; i < 4; ++i) t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(GpsRecord(2, 55.7502));
  t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(Sample(0, 0, 1));  // after the last fix: counted forward
  auto mi = TMovingInfo::FromTrackInfo(t, false);
  ASSERT_TRUE(mi);
  const auto &s = mi->GsensorPoints;
  ASSERT_EQ(s.size(), 11u);
  // Only the first sample after a GPS line is tied to it.
  EXPECT_EQ(s[0].GpsIndex, -1);
  EXPECT_EQ(s[1].GpsIndex, 0);
  EXPECT_EQ(s[2].GpsIndex, -1);
  EXPECT_EQ(s[5].GpsIndex, 1);
  EXPECT_EQ(s[9].GpsIndex, 2);
  // Samples between two fixes share the second evenly.
  EXPECT_NEAR(Seconds(s[1].Time), 0, 1e-6);
  EXPECT_NEAR(Seconds(s[2].Time), 0.25, 1e-6);
  EXPECT_NEAR(Seconds(s[4].Time), 0.75, 1e-6);
  EXPECT_NEAR(Seconds(s[5].Time), 1, 1e-6);
  EXPECT_NEAR(Seconds(s[9].Time), 2, 1e-6);
  // The period: (0.1015 s + 2 s) over 9 steps, less 1 %.
  const double p = (0.1015 + 2.0) / 9 * 0.99;
  EXPECT_NEAR(mi->GsensorPeriod * 86400, p, 1e-6);  // date-times carry ~1 us
  EXPECT_NEAR(Seconds(s[0].Time), -p, 1e-6);
  EXPECT_NEAR(Seconds(s[10].Time), 2 + p, 1e-6);
  EXPECT_NEAR(Seconds(mi->StartTime), -p, 1e-6);
  EXPECT_NEAR(Seconds(mi->EndTime), 2 + p, 1e-6);
  for (size_t i = 0; i < s.size(); ++i) EXPECT_EQ(s[i].Number, static_cast<int>(i));
  EXPECT_EQ(mi->GsensorPointCount(), 11);
}

TEST_F(MovingInfoTest, OnlyTheFirstSampleTimedStillTimesTheRest) {
  // The only tied sample is the very first: the rest follow it at the
  // default period instead of keeping no time.
  TTrackInfo t;
  t.Items.push_back(GpsRecord(0));
  for (int i = 0; i < 3; ++i) t.Items.push_back(Sample(0, 0, 1));
  auto mi = TMovingInfo::FromTrackInfo(t, true);
  ASSERT_TRUE(mi);
  const double p = 0.1015 * 0.99;
  EXPECT_NEAR(Seconds(mi->GsensorPoints[2].Time), 2 * p, 1e-6);
}

TEST_F(MovingInfoTest, ClockBackJumpIsLaidInFront) {
  // The recorder's clock jumped back 50 s: the stretch before the jump is
  // moved, with its fixes, to end just before the stretch after it.
  TTrackInfo t;
  t.Items.push_back(GpsRecord(100));
  t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(GpsRecord(50, 55.7501));
  t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(GpsRecord(51, 55.7502));
  t.Items.push_back(Sample(0, 0, 1));
  t.Items.push_back(Sample(0, 0, 1));
  auto mi = TMovingInfo::FromTrackInfo(t, true);
  ASSERT_TRUE(mi);
  const double p = (0.1015 + 1.0) / 3 * 0.99;
  const auto &s = mi->GsensorPoints;
  EXPECT_NEAR(Seconds(s[0].Time), 50 - 2 * p, 1e-6);
  EXPECT_NEAR(Seconds(s[1].Time), 50 - p, 1e-6);
  EXPECT_NEAR(Seconds(s[2].Time), 50, 1e-6);
  EXPECT_NEAR(Seconds(s[3].Time), 50.5, 1e-6);
  EXPECT_NEAR(Seconds(mi->GpsPoints[0].Time), 50 - 2 * p, 1e-6);
  for (size_t i = 1; i < s.size(); ++i) EXPECT_LT(s[i - 1].Time, s[i].Time) << i;
  EXPECT_NEAR(Seconds(mi->StartTime), 50 - 2 * p, 1e-6);

  // Two jumps: both earlier stretches end up in front of the last one, which
  // keeps its own times.
  for (const double sec : {20.0, 21.0}) {
    t.Items.push_back(GpsRecord(sec, 55.7503));
    t.Items.push_back(Sample(0, 0, 1));
    t.Items.push_back(Sample(0, 0, 1));
  }
  mi = TMovingInfo::FromTrackInfo(t, true);
  ASSERT_TRUE(mi);
  for (size_t i = 1; i < mi->GsensorPoints.size(); ++i)
    EXPECT_LT(mi->GsensorPoints[i - 1].Time, mi->GsensorPoints[i].Time) << i;
  for (size_t i = 1; i < mi->GpsPoints.size(); ++i)
    EXPECT_LT(mi->GpsPoints[i - 1].Time, mi->GpsPoints[i].Time) << i;
  EXPECT_NEAR(Seconds(mi->GpsPoints[3].Time), 20, 1e-6);
  EXPECT_NEAR(Seconds(mi->GpsPoints[4].Time), 21, 1e-6);
}

TEST_F(MovingInfoTest, GsensorOnlyFileTimedFromFileTimes) {
  const double modified = At(3600);
  TTrackInfo t;
  for (int i = 0; i < 6000; ++i) t.Items.push_back(Sample(0, 0, 1));
  t.StartTime = modified - 600 * kSec;  // written in 10 minutes
  t.EndTime = modified;
  auto mi = TMovingInfo::FromTrackInfo(t, false);
  ASSERT_TRUE(mi);
  EXPECT_EQ(mi->GsensorPoints.back().Time, modified);
  EXPECT_NEAR((mi->GsensorPoints[1].Time - mi->GsensorPoints[0].Time) * 86400, 0.1, 1e-6);
  EXPECT_EQ(mi->EndTime, modified);
  EXPECT_EQ(mi->StartTime, mi->GsensorPoints.front().Time);
  EXPECT_EQ(mi->GsensorPeriod, 0);  // set only with GPS
  EXPECT_EQ(mi->GpsPointCount(), 0);
  // Five hours between creation and last write: the nominal period.
  t.StartTime = modified - 5 * 3600 * kSec;
  mi = TMovingInfo::FromTrackInfo(t, false);
  EXPECT_NEAR((mi->GsensorPoints[1].Time - mi->GsensorPoints[0].Time) * 86400, 0.1015, 1e-6);
  EXPECT_EQ(mi->GsensorPoints.back().Time, modified);
}

TEST_F(MovingInfoTest, BiasIsRemovedPerAxis) {
  TTrackInfo t;
  t.Items.push_back(GpsRecord(0));
  // Lying flat: Z about 1 g, X and Y small; one bump.
  const long double zs[] = {1.01, 0.99, 1.0, 1.0, 1.02, 1.5, 0.98};
  for (const long double z : zs) t.Items.push_back(Sample(0.02, -0.01, z));
  auto mi = TMovingInfo::FromTrackInfo(t, true);
  ASSERT_TRUE(mi);
  const auto &s = mi->GsensorPoints;
  EXPECT_NEAR(static_cast<double>(s[2].Z), 0, 1e-12);  // the median was 1.0
  EXPECT_NEAR(static_cast<double>(s[2].A), 0, 1e-12);  // at rest
  EXPECT_NEAR(static_cast<double>(s[5].Z), 0.5, 1e-12);
  EXPECT_NEAR(static_cast<double>(s[5].A), 0.5, 1e-12);
  EXPECT_NEAR(static_cast<double>(s[0].X), 0, 1e-12);
  // Upper median of an even count.
  TTrackInfo e;
  e.Items.push_back(GpsRecord(0));
  for (const long double z : {1.0L, 2.0L, 3.0L, 4.0L}) e.Items.push_back(Sample(0, 0, z));
  mi = TMovingInfo::FromTrackInfo(e, true);
  EXPECT_NEAR(static_cast<double>(mi->GsensorPoints[0].Z), -2, 1e-12);
}

TEST_F(MovingInfoTest, DerivedCourseSpeedAndDistance) {
  TTrackInfo t;
  // Eastwards along a parallel, one point a second, then a 4 s pause with no
  // fix, then northwards.
  for (int i = 0; i < 5; ++i) t.Items.push_back(GpsRecord(i, 55.75, 37.6 + i * 1e-4));
  for (int i = 0; i < 6; ++i) t.Items.push_back(GpsRecord(8 + i, 55.75 + i * 1e-4, 37.6004));
  auto mi = TMovingInfo::FromTrackInfo(t, false);
  ASSERT_TRUE(mi);
  const auto &g = mi->GpsPoints;
  const long double step = Distance(55.75, 37.6, 55.75, 37.6001);
  EXPECT_NEAR(static_cast<double>(g[1].Distance), static_cast<double>(step), 1e-6);
  EXPECT_NEAR(static_cast<double>(g[0].Course), 90, 1e-9);
  EXPECT_NEAR(static_cast<double>(g[10].Course), 0, 1e-9);
  EXPECT_NEAR(static_cast<double>(g[0].Speed), static_cast<double>(step * 3.6L), 1e-4);
  EXPECT_NEAR(static_cast<double>(g[2].Speed), static_cast<double>(step * 3.6L), 1e-4);
  EXPECT_NEAR(static_cast<double>(mi->TrackLength()), static_cast<double>(g.back().Distance), 1e-9);
  EXPECT_NEAR(static_cast<double>(mi->AverageSpeed()),
              static_cast<double>(mi->TrackLength() / 1000 / (13.0 / 3600)), 1e-5);
  // Quick loading leaves them unknown; known values are never replaced.
  t.Items[3].Course = 45;
  t.Items[3].Speed = 50;
  mi = TMovingInfo::FromTrackInfo(t, true);
  EXPECT_EQ(mi->GpsPoints[0].Course, -1);
  EXPECT_EQ(mi->GpsPoints[0].Speed, -1);
  mi = TMovingInfo::FromTrackInfo(t, false);
  EXPECT_EQ(mi->GpsPoints[3].Course, 45);
  EXPECT_EQ(mi->GpsPoints[3].Speed, 50);
}

TEST_F(MovingInfoTest, DistancesAreThoseOfTheSharedFormula) {
  // Loading steps through the points with its own copy of Distance()'s
  // arithmetic: it must agree to the last bit, everywhere on the globe
  // (standing still, across the date line, near the poles, far jumps).
  TTrackInfo t;
  const long double lats[] = {55.75, 55.75, 55.750013, -33.9, 89.9999, -89.5, 0.000001, 41.2};
  const long double lons[] = {37.6, 37.6, 37.600021, 179.99, -179.99, 12.5, -0.000001, 2.1};
  for (int i = 0; i < 64; ++i) t.Items.push_back(GpsRecord(i, lats[i % 8], lons[(i * 3) % 8]));
  auto mi = TMovingInfo::FromTrackInfo(t, true);
  ASSERT_TRUE(mi);
  const auto &g = mi->GpsPoints;
  for (size_t i = 1; i < g.size(); ++i)
    ASSERT_EQ(g[i].Distance,
              g[i - 1].Distance + Distance(g[i - 1].Lat, g[i - 1].Lon, g[i].Lat, g[i].Lon))
        << "point " << i;
}

TEST_F(MovingInfoTest, TrackSummary) {
  TMovingInfo a = Track({Point(0, 55.75, 37.6), Point(754, 55.76, 37.62)});
  a.GpsPoints[1].Distance = 5123;
  TTrackInfo info;
  BeginTrackInfo(a, info);
  ASSERT_EQ(info.Items.size(), 2u);
  EXPECT_EQ(info.Name, "Track 2010-05-01 12:00:00");
  EXPECT_EQ(info.Description, "Duration: 00:12:34. Length: 5123m. AvgSpeed: 24.5km/h.");
  EXPECT_EQ(info.MinLat, static_cast<long double>(55.75));
  EXPECT_EQ(info.MaxLon, static_cast<long double>(37.62));
  EXPECT_NEAR(static_cast<double>(info.CenterLat), 55.755, 1e-12);
  EXPECT_NEAR(static_cast<double>(info.Height),
              static_cast<double>(Distance(55.75, 37.61, 55.76, 37.61)), 1e-6);
  EXPECT_NEAR(static_cast<double>(info.Width),
              static_cast<double>(Distance(55.755, 37.62, 55.755, 37.6)), 1e-6);

  // An object without GPS changes nothing.
  const TTrackInfo before = info;
  TMovingInfo empty;
  empty.GsensorPoints.resize(3);
  AppendToTrackInfo(empty, info);
  EXPECT_EQ(info.Items.size(), before.Items.size());
  EXPECT_EQ(info.Description, before.Description);
  TTrackInfo none;
  BeginTrackInfo(empty, none);
  EXPECT_EQ(none.MinLon, 1000);
  EXPECT_EQ(none.MaxLat, -1000);
  EXPECT_TRUE(none.Items.empty());

  // A second recording extends it; lengths add up.
  TMovingInfo b = Track({Point(1000, 55.76, 37.62), Point(1100, 55.77, 37.63)});
  AppendToTrackInfo(b, info);
  EXPECT_EQ(info.Items.size(), 4u);
  EXPECT_NEAR(static_cast<double>(info.Length), static_cast<double>(5123 + b.TrackLength()), 1e-6);
  EXPECT_EQ(info.StartTime, At(0));
  EXPECT_EQ(info.EndTime, At(1100));

  // A trip over a day long counts its hours on.
  TTrackInfo longTrip;
  BeginTrackInfo(Track({Point(0, 55.75, 37.6), Point(25 * 3600 + 61, 55.76, 37.6)}), longTrip);
  EXPECT_EQ(longTrip.Description.substr(0, 20), "Duration: 25:01:01. ");

  // One instant: no speed.
  TTrackInfo one;
  BeginTrackInfo(Track({Point(5, 55.75, 37.6)}), one);
  EXPECT_EQ(one.AvgSpeed, 0);
}

TEST_F(MovingInfoTest, LoadFromFileUsesTheFileAndItsTimes) {
  TTempDir dir;
  const std::string path = dir.File("s.dat");
  std::string text;
  for (int i = 0; i < 50; ++i) text += "[S]\t0\t0\t1000\r\n";
  WriteFile(path, text);
  timespec times[2] = {{0, UTIME_OMIT}, {1272715200, 0}};  // 2010-05-01 12:00:00 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  auto mi = TMovingInfo::LoadFromFile(path, true);
  ASSERT_TRUE(mi);
  EXPECT_NEAR(Seconds(mi->GsensorPoints.back().Time), 0, 1e-3);
  EXPECT_FALSE(TMovingInfo::LoadFromFile(dir.File("missing.dat"), true));
  EXPECT_FALSE(TMovingInfo::LoadFromFile(dir.Path, true));  // a folder
}

TEST_F(MovingInfoTest, ParallelLoadsGiveTheSameResults) {
  // The catalogue's scan and the window thread load at the same time; each
  // load has its own readers.
  const std::string data = std::string(TACHORA_TEST_DATA) + "/telemetry/";
  const std::vector<std::string> files = {data + "sample.dat", data + "dvr.log",
                                          data + "golden/utc/track.gpx",
                                          data + "golden/utc/track.plt"};
  std::vector<std::string> expected;
  auto describe = [](const TMovingInfo &mi) {
    std::string s = mi.ReaderName;
    for (const auto &p : mi.GpsPoints) s += FormatCoord(p.Lat) + FormatFixed(p.Speed, 3);
    for (const auto &p : mi.GsensorPoints) s += FormatFixed(p.Z, 4);
    return s;
  };
  for (const auto &f : files) {
    auto mi = TMovingInfo::LoadFromFile(f, false);
    ASSERT_TRUE(mi) << f;
    expected.push_back(describe(*mi));
  }
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        const size_t i = static_cast<size_t>(t + round) % files.size();
        auto mi = TMovingInfo::LoadFromFile(files[i], false);
        if (!mi || describe(*mi) != expected[i]) ++mismatches;
      }
    });
  for (auto &th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(MovingInfoTest, FifoIsRefusedWithoutWaiting) {
  TTempDir dir;
  const std::string fifo = dir.File("pipe.dat");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(TMovingInfo::LoadFromFile(fifo, true));  // would hang if it waited for a writer
}
