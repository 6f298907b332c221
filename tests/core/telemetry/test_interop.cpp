// Interoperability with GPSBabel: it reads our GPX, KML and PLT with the same
// coordinates and times, and our readers take the PLT and GPX it writes.
#include <gtest/gtest.h>

#include <cmath>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverters.h"

using namespace tachora;
using namespace tachora::test;

namespace {

struct TBabelPoint {
  double Lat = 0, Lon = 0;
  double Utc = 0;  // TDateTime in UTC; 0 when the format has no time
};

// GPSBabel's unicsv text: a header naming the columns, then one row per point.
std::vector<TBabelPoint> ParseUnicsv(const std::string &text) {
  std::vector<TBabelPoint> out;
  const auto lines = SplitString(text, '\n');
  if (lines.empty()) return out;
  const auto head = SplitString(std::string(Trim(lines[0])), ',');
  auto column = [&](const char *name) {
    for (size_t i = 0; i < head.size(); ++i)
      if (head[i] == name) return static_cast<int>(i);
    return -1;
  };
  const int lat = column("Latitude"), lon = column("Longitude"), date = column("Date"),
            time = column("Time");
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto f = SplitString(std::string(Trim(lines[i])), ',');
    if (f.size() < head.size()) continue;
    TBabelPoint p;
    p.Lat = static_cast<double>(ParseFloatDot(f[static_cast<size_t>(lat)]));
    p.Lon = static_cast<double>(ParseFloatDot(f[static_cast<size_t>(lon)]));
    if (date >= 0 && time >= 0) {
      std::string d = f[static_cast<size_t>(date)];
      for (char &c : d)
        if (c == '/') c = '-';
      ParseDateTime(d + " " + f[static_cast<size_t>(time)], p.Utc);
    }
    out.push_back(p);
  }
  return out;
}

TMovingInfo SampleTrack() {
  std::vector<TGpsPoint> pts;
  for (int i = 0; i < 20; ++i)
    pts.push_back(Point(i < 10 ? i : i + 30, 55.75 + i * 1.5e-4, 37.6 - i * 2.5e-4, 45, 40,
                        i % 3 ? 150 + i : 0));
  return Track(pts);
}

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("gpsbabel")) GTEST_SKIP() << "gpsbabel is not installed";
    SetTimeZone("Europe/Moscow");  // so that a missing UTC conversion shows
  }
  void TearDown() override { SetTimeZone("UTC"); }
  TTempDir Dir;
};

}  // namespace

TEST_F(InteropTest, GpsBabelReadsOurFiles) {
  const TMovingInfo mi = SampleTrack();
  TTrackInfo info;
  BeginTrackInfo(mi, info);
  const struct {
    const char *ext, *babelFormat;
    bool hasTime;
    double timeTolerance;  // seconds
  } cases[] = {
      {"gpx", "gpx", true, 0.001},
      {"kml", "kml", false, 0},
      // PLT keeps 7 decimals of a day (8.6 ms) and GPSBabel rounds those to
      // whole seconds its own way.
      {"plt", "ozi", true, 1.0},
  };
  for (const auto &c : cases) {
    const std::string path = Dir.File(std::string("ours.") + c.ext);
    ASSERT_TRUE(WriteTextFile(path, WriteTrackText(*FindGpsWriter(c.ext), info)));
    std::string csv;
    ASSERT_EQ(RunCommand("gpsbabel -t -i " + std::string(c.babelFormat) + " -f '" + path +
                             "' -o unicsv,utc=0 -F - 2>&1",
                         &csv),
              0)
        << csv;
    const auto pts = ParseUnicsv(csv);
    ASSERT_EQ(pts.size(), mi.GpsPoints.size()) << c.ext << "\n" << csv;
    for (size_t i = 0; i < pts.size(); ++i) {
      EXPECT_NEAR(pts[i].Lat, static_cast<double>(mi.GpsPoints[i].Lat), 1e-6) << c.ext << i;
      EXPECT_NEAR(pts[i].Lon, static_cast<double>(mi.GpsPoints[i].Lon), 1e-6) << c.ext << i;
      if (c.hasTime) {
        EXPECT_NEAR(pts[i].Utc * 86400, LocalToUtc(mi.GpsPoints[i].Time) * 86400, c.timeTolerance)
            << c.ext << i;
      }
    }
  }
}

TEST_F(InteropTest, OurReadersTakeGpsBabelFiles) {
  const TMovingInfo mi = SampleTrack();
  TTrackInfo info;
  BeginTrackInfo(mi, info);
  const std::string src = Dir.File("src.gpx");
  ASSERT_TRUE(WriteTextFile(src, WriteTrackText(*FindGpsWriter("gpx"), info)));
  for (const auto &[ext, format] : {std::pair{"plt", "ozi"}, std::pair{"gpx", "gpx"}}) {
    const std::string out = Dir.File(std::string("babel.") + ext);
    ASSERT_EQ(
        RunCommand("gpsbabel -t -i gpx -f '" + src + "' -o " + format + " -F '" + out + "' 2>&1"),
        0);
    auto back = TMovingInfo::LoadFromFile(out, false);
    ASSERT_TRUE(back) << ext;
    EXPECT_EQ(back->ReaderName, ext == std::string("plt") ? "Ozi Explorer" : "GPS eXchange Format");
    ASSERT_EQ(back->GpsPoints.size(), mi.GpsPoints.size()) << ext;
    for (size_t i = 0; i < mi.GpsPoints.size(); ++i) {
      const auto &a = mi.GpsPoints[i], &b = back->GpsPoints[i];
      EXPECT_NEAR(static_cast<double>(b.Lat), static_cast<double>(a.Lat), 1e-6) << ext << i;
      EXPECT_NEAR(static_cast<double>(b.Lon), static_cast<double>(a.Lon), 1e-6) << ext << i;
      EXPECT_NEAR(b.Time * 86400, a.Time * 86400, 0.01) << ext << i;
      // Altitudes survive (PLT in whole feet).
      EXPECT_NEAR(static_cast<double>(b.Altitude), static_cast<double>(a.Altitude), 0.2)
          << ext << i;
    }
  }
}

namespace {

// Generated drives for the NMEA round trips: one a second from a UTC time,
// with altitude, speed and course.
TMovingInfo Drive(double startUtc, int n, long double lat, long double lon, long double dLat,
                  long double dLon) {
  std::vector<TGpsPoint> pts;
  for (int i = 0; i < n; ++i) {
    TGpsPoint p;
    p.Time = UtcToLocal(startUtc) + i * kSec;
    p.Lat = lat + i * dLat;
    p.Lon = lon + i * dLon;
    p.Altitude = 20 + i;
    p.Speed = 36 + i;
    p.Course = 200 + i;
    pts.push_back(p);
  }
  return Track(pts);
}

struct TNamedDrive {
  const char *name;
  TMovingInfo track;
};

std::vector<TNamedDrive> NmeaDrives() {
  const double day = EncodeDate(2021, 12, 31);
  return {
      {"south-west", Drive(day + EncodeTime(14, 0, 0, 0), 30, -33.8567, -151.2153, -1e-4, 2e-4)},
      {"over midnight", Drive(day + EncodeTime(23, 59, 45, 0), 30, 64.1, -21.9, 1e-4, -1e-4)},
      {"south-east", Drive(day + EncodeTime(3, 0, 0, 0), 30, -41.3, 174.8, 1e-4, 1e-4)},
  };
}

}  // namespace

TEST_F(InteropTest, NmeaRoundTripsWithGpsBabel) {
  for (const auto &d : NmeaDrives()) {
    SCOPED_TRACE(d.name);
    const TMovingInfo &mi = d.track;
    TTrackInfo info;
    BeginTrackInfo(mi, info);

    // Ours -> GPSBabel, point for point.
    const std::string ours = Dir.File(std::string(d.name) + ".nmea");
    ASSERT_TRUE(WriteTextFile(ours, WriteTrackText(*FindGpsWriter("nmea"), info)));
    std::string csv;
    ASSERT_EQ(RunCommand("gpsbabel -t -i nmea -f '" + ours + "' -o unicsv,utc=0 -F - 2>&1", &csv),
              0)
        << csv;
    const auto pts = ParseUnicsv(csv);
    ASSERT_EQ(pts.size(), mi.GpsPoints.size()) << csv;
    for (size_t i = 0; i < pts.size(); ++i) {
      EXPECT_NEAR(pts[i].Lat, static_cast<double>(mi.GpsPoints[i].Lat), 1e-6) << i;
      EXPECT_NEAR(pts[i].Lon, static_cast<double>(mi.GpsPoints[i].Lon), 1e-6) << i;
      EXPECT_NEAR(pts[i].Utc * 86400, LocalToUtc(mi.GpsPoints[i].Time) * 86400, 0.001) << i;
    }

    // GPSBabel -> ours: its NMEA (RMC, GGA, VTG, GSA; minutes to 3
    // decimals) of a logger's GPX. (Points without a <fix> it writes as
    // status V and quality 0, which neither it nor we take as fixes.)
    const std::string src = Dir.File(std::string(d.name) + ".gpx");
    const std::string babel = Dir.File(std::string(d.name) + "-babel.nmea");
    std::string gpx = WriteTrackText(*FindGpsWriter("gpx"), info);
    for (size_t at = 0; (at = gpx.find("</trkpt>", at)) != std::string::npos; at += 22)
      gpx.insert(at, "<fix>3d</fix>");
    ASSERT_TRUE(WriteTextFile(src, gpx));
    ASSERT_EQ(
        RunCommand("gpsbabel -t -i gpx -f '" + src + "' -o nmea -F '" + babel + "' 2>&1", &csv), 0)
        << csv;
    auto back = TMovingInfo::LoadFromFile(babel, false);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ReaderName, "NMEA 0183");
    ASSERT_EQ(back->GpsPoints.size(), mi.GpsPoints.size());
    for (size_t i = 0; i < mi.GpsPoints.size(); ++i) {
      const auto &a = mi.GpsPoints[i], &b = back->GpsPoints[i];
      EXPECT_NEAR(static_cast<double>(b.Lat), static_cast<double>(a.Lat), 2e-5) << i;
      EXPECT_NEAR(static_cast<double>(b.Lon), static_cast<double>(a.Lon), 2e-5) << i;
      EXPECT_NEAR(b.Time * 86400, a.Time * 86400, 0.001) << i;
      EXPECT_NEAR(static_cast<double>(b.Altitude), static_cast<double>(a.Altitude), 0.01) << i;
      // Our GPX cuts m/s to 2 decimals (up to 0.036 km/h).
      EXPECT_NEAR(static_cast<double>(b.Speed), static_cast<double>(a.Speed), 0.04) << i;
      EXPECT_NEAR(static_cast<double>(b.Course), static_cast<double>(a.Course), 0.01) << i;
    }
  }
}

// A log as receivers write it, with what GPSBabel and we must both make the
// same of: no checksums, GGA before RMC, a date change in the RMC at
// midnight, and a tunnel of V fixes and GGA quality 0 in the middle.
TEST_F(InteropTest, NmeaLogReadAsGpsBabelReadsIt) {
  std::string text;
  int fixes = 0;
  for (int i = 0; i < 40; ++i) {
    const int t = 23 * 3600 + 59 * 60 + 40 + i;  // 23:59:40 UTC on 2021-12-31, on over midnight
    char time[16], date[16], pos[64];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00", t / 3600 % 24, t / 60 % 60, t % 60);
    std::snprintf(date, sizeof date, "%s", t < 86400 ? "311221" : "010122");
    std::snprintf(pos, sizeof pos, "3351.%04d,S,15112.%04d,W", 1000 + 7 * i, 2000 + 9 * i);
    const bool tunnel = i >= 12 && i < 22;
    if (tunnel) {
      text += std::string("$GPGGA,") + time + ",,,,,0,00,99.9,,M,,M,,\r\n";
      text += std::string("$GPRMC,") + time + ",V,,,,,,," + date + ",,,N\r\n";
    } else {
      text += std::string("$GPGGA,") + time + "," + pos + ",1,09,0.9," + std::to_string(30 + i) +
              ".0,M,20.0,M,,\r\n";
      text += std::string("$GPRMC,") + time + ",A," + pos + ",12.5,271.3," + date + ",,,A\r\n";
      ++fixes;
    }
  }
  const std::string path = Dir.File("receiver.nmea");
  WriteFile(path, text);
  std::string csv;
  ASSERT_EQ(RunCommand("gpsbabel -t -i nmea -f '" + path + "' -o unicsv,utc=0 -F - 2>&1", &csv), 0);
  const auto babel = ParseUnicsv(csv);
  auto ours = TMovingInfo::LoadFromFile(path, false);
  ASSERT_TRUE(ours);
  ASSERT_EQ(ours->GpsPoints.size(), static_cast<size_t>(fixes));
  ASSERT_EQ(babel.size(), ours->GpsPoints.size()) << csv;
  for (size_t i = 0; i < babel.size(); ++i) {
    const auto &p = ours->GpsPoints[i];
    EXPECT_NEAR(static_cast<double>(p.Lat), babel[i].Lat, 1e-6) << i;
    EXPECT_NEAR(static_cast<double>(p.Lon), babel[i].Lon, 1e-6) << i;
    EXPECT_NEAR(LocalToUtc(p.Time) * 86400, babel[i].Utc * 86400, 0.001) << i;
  }
}
