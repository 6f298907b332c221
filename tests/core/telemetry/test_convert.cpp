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
