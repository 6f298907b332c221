// tachora-cli telemetry, convert, export and state: output layout, exit
// statuses and the files written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct TRun {
  int status = -1;
  std::string out, err;
};

// Runs tachora-cli in TZ=UTC with the arguments (already quoted).
TRun Cli(const std::string &args) {
  static int n = 0;
  const std::string errFile = std::string(TACHORA_BUILD_DIR) + "/cli-telemetry-err-" +
                              std::to_string(getpid()) + "-" + std::to_string(n++);
  const std::string cmd =
      "TZ=UTC '" + std::string(TACHORA_CLI) + "' " + args + " 2>'" + errFile + "'";
  TRun r;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t got;
  while ((got = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, got);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(errFile);
  std::stringstream ss;
  ss << in.rdbuf();
  r.err = ss.str();
  fs::remove(errFile);
  return r;
}

std::string Data(const std::string &name) {
  return std::string(TACHORA_TEST_DATA) + "/telemetry/" + name;
}

class CliTelemetry : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::path(TACHORA_BUILD_DIR) / ("cli-telemetry-" + std::to_string(getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Copy(const std::string &name) {
    const fs::path to = Dir / name;
    fs::copy_file(Data(name), to, fs::copy_options::overwrite_existing);
    return to.string();
  }
  fs::path Dir;
};

}  // namespace

TEST_F(CliTelemetry, StatisticsAndPoints) {
  TRun r = Cli("telemetry '" + Data("sample.dat") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "reader: DOD GS600, Carcam Q3\n"
            "gps_points: 6\n"
            "gsensor_points: 18\n"
            "start: 2010-05-01 12:00:00.000\n"
            "end: 2010-05-01 12:00:11.250\n"
            "track_length_m: 72.760\n"
            "average_speed_kmh: 26.194\n"
            "gsensor_period_s: 0.625030\n");
  r = Cli("telemetry --points '" + Data("sample.dat") + "'");
  ASSERT_EQ(r.status, 0);
  std::istringstream lines(r.out);
  std::string line, firstG, firstS;
  int g = 0, s = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("G\t", 0) == 0 && g++ == 0) firstG = line;
    if (line.rfind("S\t", 0) == 0 && s++ == 0) firstS = line;
  }
  EXPECT_EQ(g, 6);
  EXPECT_EQ(s, 18);
  EXPECT_EQ(firstG,
            "G\t2010-05-01 12:00:00.000\t55.750000\t37.600000\t0.000\t45.000\t40.000\t0.000\t0");
  EXPECT_EQ(firstS, "S\t2010-05-01 12:00:00.000\t-0.0010\t-0.0030\t-0.0050\t0.0059\t0\t0");

  r = Cli("telemetry '" + Data("notrack.txt") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("no telemetry"), std::string::npos) << r.err;
  r = Cli("telemetry '" + (Dir / "missing.dat").string() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
  EXPECT_EQ(Cli("telemetry").status, 2);
}

// Two hard brakes in a minute of recorder telemetry (five samples a fix),
// listed with --events; speeds in mph with --units imperial.
TEST_F(CliTelemetry, EventsAndImperialUnits) {
  const std::string dat = (Dir / "BRAKE.DAT").string();
  {
    std::ofstream out(dat, std::ios::binary);
    for (int i = 0; i < 60; ++i) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "[G]\t2024-05-01 10:00:%02d\tN55.750000\tE37.%06d\t36\t90\r\n", i,
                    600000 + i * 160);
      out << line;
      for (int k = 0; k < 5; ++k)
        out << "[S]\t12\t" << ((i == 20 || i == 40) && k < 2 ? -800 : -40) << "\t1010\r\n";
    }
  }
  TRun r = Cli("telemetry --events '" + dat + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("events: 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("E\t2024-05-01 10:00:20"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("E\t2024-05-01 10:00:40"), std::string::npos) << r.out;
  r = Cli("telemetry --threshold 0.9 --json '" + dat + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"events\":[]"), std::string::npos) << r.out;

  r = Cli("telemetry --units imperial '" + Data("sample.dat") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("track_length_mi: 0.045\naverage_speed_mph: 16.276\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(Cli("telemetry --units furlongs '" + dat + "'").status, 2);
  EXPECT_EQ(Cli("telemetry --threshold -1 '" + dat + "'").status, 2);
}

TEST_F(CliTelemetry, ConvertWritesBesideTheInput) {
  const std::string log = Copy("dvr.log");
  const std::string bad = Copy("notrack.txt");
  const std::string dat = Copy("sample.dat");
  TRun r = Cli("convert --to kml,gpx,dat '" + log + "' '" + bad + "' '" + dat + "'");
  EXPECT_EQ(r.status, 1);  // one file was skipped, one output refused
  const std::string base = (Dir / "dvr.").string();
  const std::string sbase = (Dir / "sample.").string();
  EXPECT_EQ(r.out,
            base + "kml\n" + base + "gpx\n" + base + "dat\n" + sbase + "kml\n" + sbase + "gpx\n");
  EXPECT_NE(r.err.find("notrack.txt"), std::string::npos);
  EXPECT_NE(r.err.find("not overwritten"), std::string::npos);  // sample.dat -> sample.dat
  EXPECT_TRUE(fs::exists(base + "kml"));
  EXPECT_FALSE(fs::exists((Dir / "notrack.kml")));
  // The .dat written from the log reads back with the same points.
  r = Cli("telemetry '" + base + "dat'");
  EXPECT_NE(r.out.find("gps_points: 10\n"), std::string::npos) << r.out;
  EXPECT_EQ(Cli("convert --to xyz '" + log + "'").status, 2);

  // A file of the output's name (here the recorder's G-sensor .dat beside
  // its log) is replaced only with --overwrite.
  std::ofstream(base + "dat") << "[S]\t1\t2\t3\r\n";
  r = Cli("convert --to dat,plt '" + log + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, base + "plt\n");
  EXPECT_NE(r.err.find(base + "dat: exists"), std::string::npos) << r.err;
  EXPECT_EQ(fs::file_size(base + "dat"), 11u);
  r = Cli("convert --to dat --overwrite '" + log + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(fs::file_size(base + "dat"), 11u);
}

// Whichever formats are asked together (and so however deep the track is
// loaded), each file is the one the converter writes for that format alone.
TEST_F(CliTelemetry, ConvertWritesTheSameFilesForAnyChoiceOfFormats) {
  auto read = [](const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  fs::create_directories(Dir / "convert");
  for (const char *input : {"logger.gpx", "hike.plt"}) {
    const std::string name = std::string("convert/") + input;
    const std::string file = Copy(name);
    const std::string stem = file.substr(0, file.rfind('.') + 1);
    for (const std::string formats : {"plt", "kml", "dat", "gpx,plt", "kml,plt,dat", "nmea,gpx"}) {
      // A file of the input's own format would replace the input and is refused.
      const std::string own = file.substr(file.size() - 3);
      const bool refused = formats.find(own) != std::string::npos;
      const TRun run = Cli("convert --to " + formats + " '" + file + "'");
      ASSERT_EQ(run.status, refused ? 1 : 0) << formats << ": " << run.err;
      for (const std::string ext : {"plt", "kml", "dat", "gpx", "nmea"}) {
        if (stem + ext == file) continue;
        EXPECT_EQ(fs::exists(stem + ext), formats.find(ext) != std::string::npos) << formats;
        if (!fs::exists(stem + ext)) continue;
        EXPECT_EQ(read(stem + ext), read(Data("convert/utc/" + std::string(input) + "." + ext)))
            << input << " -> " << ext << " (--to " << formats << ")";
        fs::remove(stem + ext);
      }
    }
  }
}

TEST_F(CliTelemetry, ExportJoinsFilesInOrder) {
  const std::string out = (Dir / "trip").string();
  TRun r = Cli("export --format gpx -o '" + out + "' '" + Data("sample.dat") + "' '" +
               Data("dvr.log") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + ".gpx\n");
  r = Cli("telemetry '" + out + ".gpx'");
  EXPECT_NE(r.out.find("gps_points: 16\n"), std::string::npos) << r.out;
  // A name already ending in the extension gets no second one.
  r = Cli("export --format plt -o '" + out + ".PLT' '" + Data("sample.dat") + "'");
  EXPECT_EQ(r.out, out + ".PLT\n");
  // NMEA reads back with the same points.
  r = Cli("export --format nmea -o '" + out + "' '" + Data("sample.dat") + "' '" + Data("dvr.log") +
          "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + ".nmea\n");
  r = Cli("telemetry '" + out + ".nmea'");
  EXPECT_NE(r.out.find("reader: NMEA 0183\ngps_points: 16\n"), std::string::npos) << r.out;
  // G-sensor data only: nothing to export, nothing written.
  r = Cli("export --format kml -o '" + out + "2' '" + Data("gsensor.dat") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(out + "2.kml"));
}

TEST_F(CliTelemetry, StateAtAFraction) {
  TRun r = Cli("state '" + Data("sample.dat") + "' 0");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 18), "fix_valid: true\nG\t");
  EXPECT_NE(r.out.find("\t55.750000\t37.600000\t"), std::string::npos) << r.out;
  r = Cli("state '" + Data("sample.dat") + "' 5");  // far past the end
  EXPECT_EQ(r.out.substr(0, 18), "fix_valid: false\nG");
  EXPECT_EQ(Cli("state '" + Data("sample.dat") + "' half").status, 2);
}
