// The GPS log converter's output for sample logs of every dialect, in every
// written format and two time zones, compared byte for byte with files kept
// beside the inputs (TACHORA_UPDATE_GOLDEN=1 rewrites them): the records of a
// fully loaded track, and the loaded points themselves written straight from
// a track loaded only as deep as the writer needs, give the same text.
#include <gtest/gtest.h>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverters.h"

using namespace tachora;
using namespace tachora::test;

namespace {

const char *const kInputs[] = {"dvr.log", "sample.dat", "logger.gpx", "hike.plt"};

std::string DataPath(const std::string &name) {
  return std::string(TACHORA_TEST_DATA) + "/telemetry/convert/" + name;
}

class ConvertTest : public ::testing::TestWithParam<const char *> {
 protected:
  void TearDown() override { SetTimeZone("UTC"); }
};

}  // namespace

TEST_P(ConvertTest, EveryInputToEveryFormat) {
  const std::string zone = GetParam();
  SetTimeZone(zone == "moscow" ? "Europe/Moscow" : "UTC");
  for (const char *input : kInputs) {
    auto mi = TMovingInfo::LoadFromFile(DataPath(input), false);
    ASSERT_TRUE(mi) << input;
    ASSERT_FALSE(mi->GpsPoints.empty()) << input;
    TTrackInfo info;
    BeginTrackInfo(*mi, info);
    for (const auto &w : MakeGpsWriters()) {
      const std::string expected = DataPath(zone + "/" + input + "." + w->Extension());
      const std::string text = WriteTrackText(*w, info);
      if (std::getenv("TACHORA_UPDATE_GOLDEN")) WriteFile(expected, text);
      EXPECT_EQ(text, ReadFile(expected)) << expected;
      auto shallow = LoadTrackFor(DataPath(input), {w.get()});
      ASSERT_TRUE(shallow) << input;
      EXPECT_EQ(WriteTrackText(*w, *shallow), text) << expected << " written from the points";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, ConvertTest, ::testing::Values("utc", "moscow"));

namespace {

// A GPX text of about 3 MB whose point blocks vary in length, then `tail`.
// Spaces between blocks put an opening tag across the end of the first
// megabyte and a closing tag across the end of the second (less the 16
// characters held back): where a file read in pieces is first scanned.
std::string LargeGpx(const std::string &tail) {
  constexpr size_t kMiB = 1u << 20;
  const struct {
    size_t At;
    const char *Tag;
  } straddles[] = {{kMiB - 16 - 3, "<trkpt "}, {2 * kMiB - 16 - 4, "</trkpt>"}};
  std::string t =
      "<?xml version=\"1.0\"?>\n<gpx version=\"1.0\" creator=\"test\">\n<trk><trkseg>\n";
  for (int i = 0; t.size() < 3 * kMiB; ++i) {
    std::string b = "<trkpt lat=\"55." + std::to_string(100000 + i) + "\" lon=\"37." +
                    std::to_string(200000 + i) + "\">";
    b += std::string(static_cast<size_t>(i % 97), ' ');
    if (i % 5 == 0) b += "<ele>" + std::to_string(i % 300) + ".5</ele>";
    b += "<time>2010-05-01T" + std::string(i / 3600 % 24 < 10 ? "0" : "") +
         std::to_string(i / 3600 % 24) + ":" + (i / 60 % 60 < 10 ? "0" : "") +
         std::to_string(i / 60 % 60) + ":" + (i % 60 < 10 ? "0" : "") + std::to_string(i % 60) +
         "Z</time></trkpt>\n";
    for (const auto &s : straddles) {
      const size_t in = b.find(s.Tag);
      if (t.size() + in <= s.At && t.size() + b.size() + in > s.At)
        t.append(s.At - in - t.size(), ' ');
    }
    t += b;
  }
  return t + tail;
}

}  // namespace

TEST(ConvertLargeGpx, ReadAsItComesGivesWhatTheWholeTextGives) {
  SetTimeZone("UTC");
  TTempDir dir;
  const std::string tails[] = {
      "</trkseg></trk>\n</gpx>\n",
      // Cut inside a block: the block is dropped.
      "<trkpt lat=\"56.5\" lon=\"38.5\"><time>2010-05-02T00:00:00Z</time></trk",
      // A closing tag within the last 16 characters is never seen.
      "<trkpt lat=\"56.5\" lon=\"38.5\"><time>2010-05-02T00:00:00Z</time></trkpt>\n</gpx>",
      // A block that never closes ends the scan: what follows is not read.
      "<trkpt lat=\"56.5\" lon=\"38.5\">" + std::string(1500000, 'x') +
          "<trkpt lat=\"56.6\" lon=\"38.6\"><time>2010-05-02T00:00:01Z</time>\n</gpx>\n"};
  // Points far denser after the first megabyte than in it: more than the
  // reader expected from its first piece.
  std::string dense;
  for (int i = 0; i < 40000; ++i)
    dense += "<trkpt lat=\"56." + std::to_string(100000 + i) +
             "\" lon=\"38.5\"><time>2010-05-02T10:00:00Z</time></trkpt>\n";
  const std::string more[] = {dense + "</trkseg></trk>\n</gpx>\n"};
  for (const std::string &tail : {tails[0], tails[1], tails[2], tails[3], more[0]}) {
    const std::string text = LargeGpx(tail);
    const std::string path = dir.File("large.gpx");
    WriteFile(path, text);
    auto whole = TMovingInfo::LoadFromText(text, path, 0, 0, TLoadDepth::Positions);
    auto read = TMovingInfo::LoadFromFile(path, TLoadDepth::Positions);
    ASSERT_TRUE(whole && read) << tail.substr(0, 40);
    EXPECT_EQ(read->ReaderName, "GPS eXchange Format");
    ASSERT_EQ(read->GpsPoints.size(), whole->GpsPoints.size()) << tail.substr(0, 40);
    EXPECT_GT(read->GpsPoints.size(), 10000u);
    for (size_t i = 0; i < whole->GpsPoints.size(); ++i) {
      const TGpsPoint &a = whole->GpsPoints[i], &b = read->GpsPoints[i];
      ASSERT_TRUE(a.Time == b.Time && a.Lat == b.Lat && a.Lon == b.Lon && a.Altitude == b.Altitude)
          << "point " << i;
    }
  }
  // A large file that only looks like GPX at its head is still read by
  // whichever reader takes its text.
  std::string log = "<\"/=>\n";
  while (log.size() < (2u << 20)) log += "1,010510,120000,5545.1234,N,03736.0000,E,10.0\r\n";
  WriteFile(dir.File("odd.log"), log);
  auto odd = TMovingInfo::LoadFromFile(dir.File("odd.log"), TLoadDepth::Positions);
  auto oddWhole = TMovingInfo::LoadFromText(log, dir.File("odd.log"), 0, 0, TLoadDepth::Positions);
  ASSERT_EQ(!odd, !oddWhole);
  if (odd) {
    EXPECT_EQ(odd->ReaderName, oddWhole->ReaderName);
    EXPECT_EQ(odd->GpsPoints.size(), oddWhole->GpsPoints.size());
  }
}
