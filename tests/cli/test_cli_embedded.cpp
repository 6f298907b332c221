// tachora-cli on recordings whose camera put the telemetry inside them:
// telemetry and export read it, a telemetry file beside the recording wins,
// a cut keeps its part's fixes, and unreadable telemetry is named.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "TestEmbedded.h"
#include "TestMedia.h"

using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

struct TRun {
  int status = -1;
  std::string out, err;
};

TRun Cli(const std::string &args) {
  TRun r;
  r.status = RunCommand("TZ=UTC " + ShellQuote(TACHORA_CLI) + " " + args, &r.out, &r.err);
  return r;
}

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The seconds after 08:30 of the G lines of `telemetry --points`.
std::vector<int> FixSeconds(const std::string &out) {
  std::vector<int> seconds;
  const std::regex line(R"(G\t2024-05-17 08:30:(\d\d))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
       ++it)
    seconds.push_back(std::stoi((*it)[1]));
  return seconds;
}

}  // namespace

TEST(CliEmbedded, ReadsExportsAndCutsTelemetryInsideARecording) {
  const std::string dir = MakeTempDir("cli-embedded");
  TEmbeddedClip recipe;
  recipe.layout = TEmbeddedLayout::FreeGpsB;
  recipe.media.seconds = 10;
  const auto fixes = MakeDrive("2024-05-17 08:30:00", 10, 55.75, 37.6, 54, 90);
  const std::string video = dir + "/FILE0001.MP4";
  fs::copy_file(GenerateEmbedded("cli-embedded", fixes, recipe), video);

  TRun r = Cli("telemetry --points " + ShellQuote(video));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("gps_points: 10\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("start: 2024-05-17 08:30:00"), std::string::npos) << r.out;

  // GPX with every fix at its UTC time.
  r = Cli("export --format gpx -o " + ShellQuote(dir + "/track") + " " + ShellQuote(video));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir + "/track.gpx\n");
  const std::string gpx = Read(dir + "/track.gpx");
  EXPECT_EQ(Count(gpx, "<trkpt"), 10u);
  EXPECT_NE(gpx.find("2024-05-17T08:30:00Z"), std::string::npos);
  EXPECT_NE(gpx.find("2024-05-17T08:30:09Z"), std::string::npos);
  EXPECT_NE(gpx.find("lat=\"55.75"), std::string::npos);

  // A cut of 3 s ... 7 s: its telemetry file gives that part's fixes, and
  // the movie carries them as subtitles.
  const std::string cut = dir + "/cut.mov";
  r = Cli("cut --from 0.3 --to 0.7 -o " + ShellQuote(cut) + " " + ShellQuote(video));
  ASSERT_EQ(r.status, 0) << r.err;
  r = Cli("telemetry --points " + ShellQuote(cut));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int> kept = FixSeconds(r.out);
  ASSERT_GE(kept.size(), 3u) << r.out;
  EXPECT_LE(kept.size(), 6u) << r.out;
  for (int s : kept) {
    EXPECT_GE(s, 2);
    EXPECT_LE(s, 8);
  }
  const auto streams = ProbeStreams(cut);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[1].type, "subtitle");

  // A telemetry file beside the recording wins over what is inside.
  std::ofstream(dir + "/FILE0001.dat", std::ios::binary)
      << "[G]\t2024-05-17 09:00:00\tN55.800000\tE37.700000\t30\t90\r\n"
         "[G]\t2024-05-17 09:00:01\tN55.800100\tE37.700000\t30\t90\r\n";
  r = Cli("telemetry " + ShellQuote(video));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("gps_points: 2\n"), std::string::npos) << r.out;

  // Telemetry in a layout we cannot read is named as such.
  recipe.layout = TEmbeddedLayout::Encrypted;
  const std::string locked = dir + "/FILE0002.MP4";
  fs::copy_file(GenerateEmbedded("cli-embedded-locked", fixes, recipe), locked);
  r = Cli("telemetry " + ShellQuote(locked));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("telemetry present but not readable"), std::string::npos) << r.err;
}
