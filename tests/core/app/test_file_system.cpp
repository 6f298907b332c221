// The shared file-system helpers: the telemetry file that belongs to a
// video (sidecar order, letter case, the card's INFO folder), the folder
// listing cache, and the statx reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/UnitFileSystem.h"

namespace fs = std::filesystem;
using namespace tachora;

namespace {

struct TCard {
  fs::path root;
  TCard() {
    char templ[] = "/tmp/tachora-fs-XXXXXX";
    root = mkdtemp(templ);
  }
  ~TCard() { fs::remove_all(root); }
  std::string Touch(const std::string &rel, const std::string &text = "x") const {
    const fs::path p = root / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
    return p.string();
  }
  std::string Path(const std::string &rel) const { return (root / rel).string(); }
};

}  // namespace

TEST(FileSystem, TelemetryBesideAVideoInEveryCase) {
  TCard card;
  const std::string video = card.Touch("DCIM/100MEDIA/FILE0001.MOV");
  EXPECT_EQ(FindTelemetryFor(video), "");

  // The card's INFO folder, in any letter case, for .MOV and .mp4 alike.
  card.Touch("DCIM/Info/file0001.dat");
  EXPECT_EQ(FindTelemetryFor(video), card.Path("DCIM/Info/file0001.dat"));
  const std::string mp4 = card.Touch("DCIM/100MEDIA/file0001.mp4");
  EXPECT_EQ(FindTelemetryFor(mp4), card.Path("DCIM/Info/file0001.dat"));

  // A sidecar wins over INFO, and .dat over .log, .gpx and .plt.
  card.Touch("DCIM/100MEDIA/FILE0001.plt");
  EXPECT_EQ(FindTelemetryFor(video), card.Path("DCIM/100MEDIA/FILE0001.plt"));
  card.Touch("DCIM/100MEDIA/FILE0001.GPX");
  card.Touch("DCIM/100MEDIA/file0001.Log");
  EXPECT_EQ(FindTelemetryFor(video), card.Path("DCIM/100MEDIA/file0001.Log"));
  card.Touch("DCIM/100MEDIA/File0001.DAT");
  EXPECT_EQ(FindTelemetryFor(video), card.Path("DCIM/100MEDIA/File0001.DAT"));

  // A folder or a pipe under a sidecar's name is not telemetry.
  TCard odd;
  const std::string v = odd.Touch("a/REC.MOV");
  fs::create_directories(odd.root / "a/REC.dat");
  ASSERT_EQ(mkfifo(odd.Path("a/rec.log").c_str(), 0600), 0);
  odd.Touch("a/REC.gpx");
  EXPECT_EQ(FindTelemetryFor(v), odd.Path("a/REC.gpx"));
  TNoCaseDirCache cache;
  EXPECT_EQ(FindTelemetryFor(v, &cache), odd.Path("a/REC.gpx"));

  // A relative video path and a name without a folder.
  const std::string cwd = CurrentFolder();
  ASSERT_EQ(chdir(card.Path("DCIM/100MEDIA").c_str()), 0);
  EXPECT_EQ(FindTelemetryFor("FILE0001.MOV"), "./File0001.DAT");
  EXPECT_EQ(FindTelemetryFor("nothing.mov"), "");
  ASSERT_EQ(chdir(cwd.c_str()), 0);
}

TEST(FileSystem, CachedLookupsMatchTheFolderAndPreferTheExactName) {
  TCard card;
  card.Touch("d/FILE0001.DAT");
  card.Touch("d/file0001.dat");
  card.Touch("d/Other.Dat");
  fs::create_directories(card.root / "d/INFO");
  TNoCaseDirCache cache;
  const std::string d = card.Path("d");
  EXPECT_EQ(cache.Find(d, "file0001.dat"), d + "/file0001.dat");
  EXPECT_EQ(cache.Find(d, "FILE0001.DAT"), d + "/FILE0001.DAT");
  EXPECT_EQ(cache.Find(d, "OTHER.DAT"), d + "/Other.Dat");
  EXPECT_EQ(cache.Find(d, "info", true), d + "/INFO");
  EXPECT_EQ(cache.Find(d, "info"), "");  // a folder is not a file
  EXPECT_EQ(cache.Find(d, "other.dat", true), "");
  EXPECT_EQ(cache.Find(d, ""), "");
  EXPECT_EQ(cache.Find(card.Path("missing"), "x"), "");
  // Without the cache the same answers.
  EXPECT_EQ(FindFileNoCase(d, "OTHER.DAT"), d + "/Other.Dat");
  EXPECT_EQ(FindDirNoCase(d, "Info"), d + "/INFO");
}

TEST(FileSystem, StatReadsTimesSizeAndMode) {
  TCard card;
  const std::string f = card.Touch("f.bin", std::string(1234, 'x'));
  const timespec times[2] = {{1714550400, 0}, {1714554000, 500000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  chmod(f.c_str(), 0444);
  TFileStat st;
  ASSERT_TRUE(StatFile(f, st));
  EXPECT_TRUE(st.IsFile);
  EXPECT_FALSE(st.IsDir);
  EXPECT_TRUE(st.ReadOnly);
  EXPECT_EQ(st.Size, 1234);
  EXPECT_EQ(st.Mode, 0444u);
  EXPECT_EQ(st.Mtime.tv_sec, 1714554000);
  EXPECT_EQ(st.Mtime.tv_nsec, 500000000);
  EXPECT_NEAR(st.Modified, DateTimeFromTimespec(times[1]), 1e-9);
  EXPECT_FALSE(StatFile(card.Path("missing"), st));
  EXPECT_FALSE(st.Exists);
  EXPECT_EQ(st.Size, -1);
}

TEST(FileSystem, NmeaLogsBesideAVideo) {
  TCard card;
  const std::string mov = card.Touch("a/REC0001.MOV");
  const std::string mp4 = card.Touch("a/rec0002.mp4");
  card.Touch("a/rec0001.NMEA", "$GPRMC,120000,A,5545.1,N,03736.1,E,,,010510,,\r\n");
  card.Touch("a/REC0002.nmea", "anything: the extension says it");
  EXPECT_EQ(FindTelemetryFor(mov), card.Path("a/rec0001.NMEA"));
  EXPECT_EQ(FindTelemetryFor(mp4), card.Path("a/REC0002.nmea"));
  // The recorder's own .log keeps its place before an NMEA log.
  card.Touch("a/REC0001.log", "0,010510,120000,5545.1234,N,03736.1000,E,20.0\r\n");
  EXPECT_EQ(FindTelemetryFor(mov), card.Path("a/REC0001.log"));

  // A .txt only when it holds sentences.
  const std::string v3 = card.Touch("a/REC0003.MOV");
  card.Touch("a/REC0003.txt", "Trip to the coast, with $5 for parking.\n");
  EXPECT_EQ(FindTelemetryFor(v3), "");
  const std::string v4 = card.Touch("a/REC0004.MP4");
  card.Touch("a/rec0004.TXT", "GPS log v1.2\n[1500]$GNGGA,120000,5545.1,N,03736.1,E,1,,,,M,,M,,\n");
  EXPECT_EQ(FindTelemetryFor(v4), card.Path("a/rec0004.TXT"));

  EXPECT_TRUE(TextHoldsNmea("$GPRMC,1\r\n"));
  EXPECT_TRUE(TextHoldsNmea("x\n  $BDGGA,1"));
  EXPECT_FALSE(TextHoldsNmea("$IIRMC,1\n$GPrmc,1\n[12a]$GPRMC,1\n$GPRMC;1\nGPRMC,1"));
}
