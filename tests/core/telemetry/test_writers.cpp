// The track writers: golden files per writer in two time zones (compared
// byte for byte, CR LF included), number formats, XML well-formedness.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <random>
#include <set>

#include "TelemetryTestUtil.h"
#include "app/UnitFileIO.h"
#include "telemetry/UnitGpsConverterGPX.h"
#include "telemetry/UnitGpsConverterKML.h"
#include "telemetry/UnitGpsConverterPLT.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitTrackText.h"

using namespace tachora;
using namespace tachora::test;

namespace {

// Three fixes at 0 s, 1 s and 10 s (segment codes 1, 0, 1 in PLT), with one
// known and one unknown altitude, speed and course, and a G-sensor sample
// that only the recorder .dat writer keeps.
TTrackInfo GoldenTrack() {
  TMovingInfo mi = Track({Point(0, 55.75, 37.6, 90, 50, 123.46), Point(1, 55.7501, 37.6002),
                          Point(10, 55.751, 37.6015, 359.6, 36, 150)});
  TTrackInfo info;
  BeginTrackInfo(mi, info);
  TTrackRecord s;
  s.Kind = kRecordGsensor;
  s.X = 0.012;
  s.Y = -0.04;
  s.Z = 0.01;
  info.Items.insert(info.Items.begin() + 1, s);
  return info;
}

std::string GoldenPath(const std::string &zone, const std::string &ext) {
  return std::string(TACHORA_TEST_DATA) + "/telemetry/golden/" + zone + "/track." + ext;
}

class WritersTest : public ::testing::TestWithParam<const char *> {
 protected:
  void TearDown() override { SetTimeZone("UTC"); }
};

}  // namespace

TEST_P(WritersTest, GoldenFiles) {
  const std::string zone = GetParam();
  SetTimeZone(zone == "moscow" ? "Europe/Moscow" : "UTC");
  const TTrackInfo info = GoldenTrack();
  for (const auto &w : MakeGpsWriters()) {
    const std::string text = WriteTrackText(*w, info);
    const std::string path = GoldenPath(zone, w->Extension());
    if (std::getenv("TACHORA_UPDATE_GOLDEN")) WriteFile(path, text);
    EXPECT_EQ(text, ReadFile(path)) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, WritersTest, ::testing::Values("utc", "moscow"));

TEST(WriterFormats, NumberNotations) {
  EXPECT_EQ(CutGeneral(123.46L, 1), "123.4");
  EXPECT_EQ(CutGeneral(0.3L, 1), "0.3");
  EXPECT_EQ(CutGeneral(50 / 3.6L, 2), "13.88");
  EXPECT_EQ(CutGeneral(-1 / 3.6L, 2), "-0.27");
  EXPECT_EQ(CutGeneral(36 / 3.6L, 2), "10");
  EXPECT_EQ(CutGeneral(0, 1), "0");
  EXPECT_EQ(CutGeneral(-0.04L, 1), "0.0");
  EXPECT_EQ(CutGeneral(1e-7L, 2), "0.00");
  EXPECT_EQ(Stamp(EncodeDate(987, 1, 2) + EncodeTime(3, 4, 5, 999)), "987-01-02T03:04:05Z");
  EXPECT_EQ(XmlEscape("a&b<c>\"d\"'e'\x01"), "a&amp;b&lt;c&gt;&quot;d&quot;&apos;e&apos; ");
}

// The fixed notation written from a double's exact value must give the
// digits of to_chars to the last one: coordinates and times of every kind,
// values that lie exactly halfway (ties go to the even digit), tiny and
// negative values (no "-0.000000"), and the edges of the fast path.
TEST(WriterFormats, FixedNotationMatchesToChars) {
  auto reference = [](double d, int decimals) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, decimals);
    std::string s(buf, r.ptr);
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
  };
  auto check = [&](double d) {
    for (int decimals : {0, 1, 2, 3, 6, 7, 9, 10}) {
      std::string out;
      AppendFixed(out, d, decimals);
      ASSERT_EQ(out, reference(d, decimals)) << std::hexfloat << d << " " << decimals;
    }
  };
  for (double d : {0.0,
                   -0.0,
                   0.5,
                   1.5,
                   2.5,
                   -2.5,
                   0.125,
                   0.375,
                   1e-7,
                   -1e-7,
                   5e-8,
                   4.9e-324,
                   55.7501666666667,
                   37.6,
                   40299.5000000578,
                   999999999.99999994,
                   1e9,
                   -1e9,
                   123456789.5,
                   0.0000005,
                   0.00000005,
                   1e40,
                   -1e-300})
    check(d);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coord(-180, 180), days(0, 80000);
  std::uniform_int_distribution<int> exponent(-60, 40);
  for (int i = 0; i < 20000; ++i) {
    check(coord(rng));
    check(days(rng));
    check(std::ldexp(coord(rng), exponent(rng)));
    // Multiples of 2^-k lie exactly halfway between decimals more often.
    check(std::ldexp(static_cast<double>(rng() % 100000), -(static_cast<int>(rng() % 12))));
  }
}

TEST(WriterFormats, KmlRangeHasAMinimum) {
  TGpsInfoConverterKML kml;
  TTrackInfo info = GoldenTrack();
  info.Width = 150;
  info.Height = 100;
  EXPECT_NE(WriteTrackText(kml, info).find("<range>200</range>"), std::string::npos);
  info.Width = 1000;
  info.Height = 400;
  EXPECT_NE(WriteTrackText(kml, info).find("<range>1200</range>"), std::string::npos);
}

TEST(WriterFormats, XmlStaysWellFormedWhateverTheNames) {
  if (!HaveProgram("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  TTempDir dir;
  TTrackInfo info = GoldenTrack();
  info.Name = "Trip <A & B> \"x\" 'y'";
  info.Description = "]]> & <!-- -->";
  TGpsInfoConverterKML kml;
  TGpsInfoConverterGPX gpx;
  for (TGpsInfoConverter *w :
       {static_cast<TGpsInfoConverter *>(&kml), static_cast<TGpsInfoConverter *>(&gpx)}) {
    const std::string path = dir.File("t." + w->Extension());
    WriteFile(path, WriteTrackText(*w, info));
    EXPECT_EQ(RunCommand("xmllint --noout '" + path + "' 2>&1"), 0) << w->Name();
    // The names come back intact through our own reader where there is one.
  }
  TTrackInfo back;
  ASSERT_TRUE(ReadTrackText(ReadFile(dir.File("t.gpx")), "t.gpx", 0, 0, back));
  EXPECT_EQ(back.Items.size(), 3u);
}

TEST(WriterFormats, PltNameCannotBreakTheHeaderLine) {
  TGpsInfoConverterPLT plt;
  TTrackInfo info = GoldenTrack();
  info.Name = "a,b\r\nc";
  const std::string text = WriteTrackText(plt, info);
  EXPECT_NE(text.find("0,2,8323327,a b  c,0,0,2,8421376\r\n3\r\n"), std::string::npos) << text;
}

TEST(WriterFormats, WriteTextFileReplacesWholeOrNothing) {
  TTempDir dir;
  const std::string path = dir.File("out.gpx");
  ASSERT_TRUE(WriteTextFile(path, "first"));
  ASSERT_TRUE(WriteTextFile(path, "second"));
  EXPECT_EQ(ReadFile(path), "second");
  std::string error;
  EXPECT_FALSE(WriteTextFile(dir.File("no/such/dir/x.gpx"), "x", &error));
  EXPECT_FALSE(error.empty());
  // A new file follows the user's mask; a replaced one keeps its mode.
  const mode_t old = ::umask(077);
  const std::string priv = dir.File("private.gpx");
  const bool wrote = WriteTextFile(priv, "x");
  ::umask(old);
  ASSERT_TRUE(wrote);
  struct stat st {};
  ASSERT_EQ(::stat(priv.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteTextFile(path, "third"));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ::unlink(priv.c_str());
  // No temporary files are left behind.
  int files = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir.Path)) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

// The catalogue scans folders while tracks are written into them: a new
// file must show up once, complete, under its own name, never as a
// temporary file beside it (where the file system has unnamed files).
TEST(WriterFormats, WriteTextFileShowsNoOtherName) {
  TTempDir dir;
  const std::string path = dir.File("track.gpx");
  {
    TAtomicFile probe(dir.File("probe"));
    if (!probe.Open() || !probe.TempPath().empty()) GTEST_SKIP() << "no unnamed files here";
  }
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_GE(::inotify_add_watch(fd, dir.Path.c_str(), IN_CREATE | IN_MOVED_TO), 0);
  ASSERT_TRUE(WriteTextFile(path, "first"));
  std::set<std::string> names;
  alignas(inotify_event) char buf[8192];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
    for (char *p = buf; p < buf + n;) {
      const auto *ev = reinterpret_cast<const inotify_event *>(p);
      if (ev->len) names.insert(ev->name);
      p += sizeof(inotify_event) + ev->len;
    }
  ::close(fd);
  EXPECT_EQ(names, std::set<std::string>{"track.gpx"});
  EXPECT_EQ(ReadFile(path), "first");
}
