// What every tachora-cli command shares: --help, exit codes, progress only
// on a terminal, and JSON that a JSON reader takes.
#include <gtest/gtest.h>

#include <fstream>

#include "CliRun.h"
#include "TestMedia.h"

using namespace tachora::test;

namespace {

// Python's JSON reader, the strict judge of what scripts will parse: prints
// the value at `expr` (Python syntax over `d`) of the command's output.
TRun JsonQuery(const std::string &args, const std::string &expr) {
  TRun r;
  r.status =
      RunCommand(std::string(TACHORA_CLI) + " " + args + " | python3 -c " +
                     ShellQuote("import json,sys; d=json.load(sys.stdin); print(" + expr + ")"),
                 &r.out, &r.err);
  return r;
}

}  // namespace

// Each command answers --help and -h on stdout with exit 0, and an unknown
// option on stderr with exit 2 and nothing on stdout.
TEST(CliConventions, HelpAndBadUsageForEveryCommand) {
  for (const char *command : {"list", "copy", "info", "cut", "render", "telemetry", "convert",
                              "export", "state", "repair"}) {
    SCOPED_TRACE(command);
    for (const char *flag : {"--help", "-h"}) {
      const TRun h = Cli(std::string(command) + " " + flag);
      EXPECT_EQ(h.status, 0);
      EXPECT_EQ(h.out.rfind(std::string("Usage: tachora-cli ") + command + " ", 0), 0u) << h.out;
      EXPECT_TRUE(h.err.empty()) << h.err;
    }
    EXPECT_EQ(Cli(std::string("help ") + command).out, Cli(std::string(command) + " -h").out);
    const TRun bad = Cli(std::string(command) + " --no-such-option x");
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.out.empty()) << bad.out;
    EXPECT_FALSE(bad.err.empty());
  }
  const TRun all = Cli("--help");
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find("Exit status"), std::string::npos);
  EXPECT_EQ(Cli("--version").out, "tachora-cli " TACHORA_VERSION "\n");
  EXPECT_EQ(Cli("").status, 2);
  EXPECT_EQ(Cli("frobnicate").status, 2);
  EXPECT_EQ(Cli("cut --quiet --progress x").status, 2);
  // A failure is 1: a file that is not there.
  EXPECT_EQ(Cli("info /nonexistent/x.mov").status, 1);
}

// A cut into a log writes no carriage-return updates; --progress forces
// them, --quiet keeps standard error to what went wrong.
TEST(CliConventions, NoProgressIntoAPipe) {
  TMediaRecipe s;
  const auto trip = GenerateTrip("cli-progress", {2}, "2026-05-01 12:30:00", s);
  const std::string dir = MakeTempDir("cli-progress");
  struct TCase {
    const char *option;
    bool progress;
  } cases[] = {{"", false}, {"--progress", true}, {"--quiet", false}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.option);
    const TRun cut =
        Cli(std::string("cut ") + c.option + " --overwrite --from 0 --to 0.5 --no-meta -o " +
            ShellQuote(dir + "/cut.mov") + " " + ShellQuote(trip[0]));
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.err.find('\r') != std::string::npos, c.progress) << cut.err;
    const TRun copy = Cli(std::string("copy ") + c.option + " --overwrite --to " +
                          ShellQuote(dir + "/copy") + " " + ShellQuote(trip[0]));
    ASSERT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(copy.err.find('\r') != std::string::npos, c.progress) << copy.err;
    if (std::string(c.option) == "--quiet") {
      EXPECT_EQ(copy.err, "");
    }
  }
}

// One object with the documented keys; names that are no UTF-8 and carry
// quotes, tabs and backslashes still give valid JSON.
TEST(CliConventions, JsonOutputParses) {
  TMediaRecipe s;
  const auto trip = GenerateTrip("cli-json", {2}, "2026-05-01 12:30:00", s);
  const std::string dir = MakeTempDir("cli-json");
  const std::string odd = dir + "/a\"b\\c\td\xff.MOV";
  {
    std::ifstream in(trip[0], std::ios::binary);
    std::ofstream out(odd, std::ios::binary);
    out << in.rdbuf();
  }
  const TRun list = JsonQuery("list --json " + ShellQuote(odd),
                              "len(d['recordings']), sorted(d['recordings'][0].keys()), "
                              "d['recordings'][0]['files'][0].endswith('d\\ufffd.MOV'), "
                              "d['recordings'][0]['duration_ms']");
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(
      list.out,
      "1 ['average_speed_kmh', 'channels', 'date_time', 'duration', 'duration_ms', 'end', "
      "'events', 'files', 'kind', 'location', 'locked', 'name', 'picture', 'size', 'size_bytes', "
      "'speed', 'start', 'track', 'track_length_m'] True 2000\n");
  const TRun info = JsonQuery("info --json " + ShellQuote(odd),
                              "d['has_movie'], d['duration_ms'], d['width'], len(d['tracks']), "
                              "d['tracks'][0]['codec']");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out, "True 2000 320 2 AVC1\n");
  const TRun tel =
      JsonQuery("telemetry --json --points " +
                    ShellQuote(std::string(TACHORA_TEST_DATA) + "/telemetry/sample.dat"),
                "d['gps_points'], len(d['gps']), d['gps'][0]['lat'], d['track_length_m'] > 0, "
                "len(d['gsensor']) == d['gsensor_points']");
  EXPECT_EQ(tel.status, 0) << tel.err;
  EXPECT_EQ(tel.out, "6 6 55.75 True True\n");
}
