// The fragment's telemetry as the catalogue gives it to the cutter: where a
// recording's telemetry file is found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestMedia.h"
#include "catalogue/UnitCutterMeta.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

TEST(CutterMeta, TelemetryLookup) {
  const fs::path dir = MakeTempDir("cut-lookup");
  fs::create_directories(dir / "DCIM/100MEDIA");
  fs::create_directories(dir / "DCIM/INFO");
  const std::string video = (dir / "DCIM/100MEDIA/FILE0001.MOV").string();
  std::ofstream(video) << "x";
  EXPECT_EQ(FindTelemetryBeside(video), "");
  std::ofstream(dir / "DCIM/INFO/file0001.DAT") << "x";
  EXPECT_EQ(FindTelemetryBeside(video), (dir / "DCIM/INFO/file0001.DAT").string());
  std::ofstream(dir / "DCIM/100MEDIA/FILE0001.log") << "x";
  EXPECT_EQ(FindTelemetryBeside(video), (dir / "DCIM/100MEDIA/FILE0001.log").string());
}

// A recording without telemetry gives no text, whatever the range.
TEST(CutterMeta, NoTelemetryNoText) {
  TMovingInfoMetaSource source;
  TCutRecording rec;
  rec.path = "/nowhere/FILE0001.MOV";
  EXPECT_EQ(source.MetaText(rec, 0, 1), "");
}
