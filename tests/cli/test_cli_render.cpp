// tachora-cli render end to end: a front and rear pair named as a
// two-camera recorder names them, rendered side by side.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliRun.h"

using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

std::string Pair(const std::string &dir) {
  TMediaRecipe front;
  front.audio = "aac";
  front.seconds = 4;
  TMediaRecipe rear;
  rear.audio = "none";
  rear.seconds = 4;
  rear.width = 160;
  rear.height = 120;
  fs::copy_file(GenerateMp4("cli_render_front", front), dir + "/20240612_093000_F.MP4");
  fs::copy_file(GenerateMp4("cli_render_rear", rear), dir + "/20240612_093000_R.MP4");
  return ShellQuote(dir + "/20240612_093000_F.MP4") + " " +
         ShellQuote(dir + "/20240612_093000_R.MP4");
}

}  // namespace

TEST(CliRender, PairRendersSideBySideAndRefusesBadUsage) {
  const std::string dir = MakeTempDir("cli_render");
  const std::string files = Pair(dir);
  const std::string out = dir + "/clip.mp4";
  const TRun r = Cli("render --quiet --from 0:01 --to 3.5 --layout side --overlay speed,time -o " +
                     ShellQuote(out) + " " + files);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n");
  EXPECT_TRUE(r.err.empty()) << r.err;
  std::string errors;
  EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
  std::string probe;
  RunCommand(
      "ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height -of "
      "csv=p=0 " +
          ShellQuote(out),
      &probe);
  EXPECT_EQ(probe, "h264,640,240\n");  // the rear beside the front, both 240 lines
  const auto streams = ProbeStreams(out);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_NEAR(streams[0].duration, 2.5, 0.05);

  // The file exists now: refused without --overwrite, replaced with it.
  const TRun again = Cli("render --quiet --from 0 --to 1 -o " + ShellQuote(out) + " " + files);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("--overwrite"), std::string::npos) << again.err;
  EXPECT_EQ(
      Cli("render --quiet --overwrite --from 0 --to 1 -o " + ShellQuote(out) + " " + files).status,
      0);

  for (const char *bad : {"--from 1:75 --to 2", "--from x --to 2", "--from 0 --to 2 --layout tv",
                          "--from 0 --to 2 --overlay altitude"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Cli(std::string("render ") + bad + " -o " + ShellQuote(dir + "/x.mp4") + " " + files)
                  .status,
              2);
  }
  EXPECT_EQ(Cli("render --from 3 --to 2 -o " + ShellQuote(dir + "/x.mp4") + " " + files).status, 1);
  EXPECT_FALSE(fs::exists(dir + "/x.mp4"));
}

// Two moments in a row, the second without its rear file: the output runs
// across the joint, the missing rear is named and shows black.
TEST(CliRender, TripOfTwoMomentsWithAMissingRear) {
  const std::string dir = MakeTempDir("cli_render_trip");
  TMediaRecipe media;
  media.audio = "aac";
  const auto clips = GenerateMp4Trip("cli_render_trip", {3, 3}, "2024-06-12 09:30:00", media);
  const std::vector<std::string> names = {"20240612_093000_F.MP4", "20240612_093000_R.MP4",
                                          "20240612_093003_F.MP4"};
  std::string files;
  for (size_t i = 0; i < names.size(); ++i) {
    fs::copy_file(clips[i == 2 ? 1 : 0], dir + "/" + names[i]);
    files += " " + ShellQuote(dir + "/" + names[i]);
  }
  const std::string missing = dir + "/20240612_093003_R.MP4";
  const std::string out = dir + "/trip.mp4";
  const TRun r = Cli("render --quiet --from 1 --to 5 -o " + ShellQuote(out) + files + " " +
                     ShellQuote(missing));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(missing + ": no such file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("its picture is black"), std::string::npos) << r.err;
  EXPECT_TRUE(DecodesCleanly(out));
  const auto streams = ProbeStreams(out);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_NEAR(streams[0].duration, 4.0, 0.05);
}
