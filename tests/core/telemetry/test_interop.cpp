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
