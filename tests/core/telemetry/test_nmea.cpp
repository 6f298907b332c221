// NMEA 0183: the sentence parser, the fix decoder and the epoch builder
// that other readers share, then the .nmea reader and writer.
#include <gtest/gtest.h>

#include <cmath>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverterNMEA.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitNmea.h"

using namespace tachora;
using namespace tachora::test;

namespace {

class NmeaTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimeZone("UTC"); }
};

// The sentence with its checksum appended.
std::string Sum(const std::string &body) {
  uint8_t x = 0;
  for (const char c : body.substr(1)) x ^= static_cast<uint8_t>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", x);
  return body + tail;
}

}  // namespace

TEST_F(NmeaTest, SentenceLines) {
  const std::string rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";
  struct {
    std::string line;
    TNmeaLine kind;
    TNmeaType type;
    int64_t stamp;
    size_t fields;
  } cases[] = {
      {Sum(rmc), TNmeaLine::Sentence, TNmeaType::RMC, -1, 11},
      {rmc, TNmeaLine::Sentence, TNmeaType::RMC, -1, 11},  // no checksum
      {rmc + "*00", TNmeaLine::BadChecksum, TNmeaType::RMC, -1, 11},
      {rmc + "*6", TNmeaLine::BadChecksum, TNmeaType::RMC, -1, 11},
      {"  " + Sum(rmc) + "\r\n", TNmeaLine::Sentence, TNmeaType::RMC, -1, 11},
      {"[1234567]" + Sum(rmc), TNmeaLine::Sentence, TNmeaType::RMC, 1234567, 11},
      {"[12a]" + Sum(rmc), TNmeaLine::NotNmea, TNmeaType::Other, -1, 0},
      {"[5]" + Sum(rmc) + "[6]\r\n", TNmeaLine::Sentence, TNmeaType::RMC, 5, 11},  // BlackVue
      {rmc + "[6]", TNmeaLine::Sentence, TNmeaType::RMC, -1, 11},
      {Sum(rmc) + "[]", TNmeaLine::BadChecksum, TNmeaType::RMC, -1, 11},
      {Sum("$GNGGA,000001.50,3351.5,S,15112.2,E,1,08,0.9,12.0,M,,M,,"), TNmeaLine::Sentence,
       TNmeaType::GGA, -1, 14},
      {Sum("$BDGLL,3351.5,S,15112.2,E,000001,A,A"), TNmeaLine::Sentence, TNmeaType::GLL, -1, 7},
      {Sum("$GPGSV,3,1,11,03,03,111,00"), TNmeaLine::Sentence, TNmeaType::Other, -1, 7},
      {Sum("$IIRMC,123519,A,4807.038,N,01131.000,E,,,230394,,"), TNmeaLine::Sentence,
       TNmeaType::Other, -1, 11},  // not a satellite receiver
      {Sum("$PGRME,15.0,M,45.0,M,25.0,M"), TNmeaLine::Sentence, TNmeaType::Other, -1, 6},
      {"GPRMC,123519,A", TNmeaLine::NotNmea, TNmeaType::Other, -1, 0},
      {"$gprmc,123519,A", TNmeaLine::NotNmea, TNmeaType::Other, -1, 0},
      {std::string("$GPRMC,1\x01,2", 11), TNmeaLine::NotNmea, TNmeaType::Other, -1, 0},
      {"$GP", TNmeaLine::NotNmea, TNmeaType::Other, -1, 0},
      {"$GPRMC" + std::string(100, ','), TNmeaLine::Sentence, TNmeaType::RMC, -1, kMaxNmeaFields},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    TNmeaSentence s;
    EXPECT_EQ(ParseNmeaSentence(c.line, s), c.kind);
    if (c.kind == TNmeaLine::NotNmea) continue;
    EXPECT_EQ(s.Type, c.type);
    EXPECT_EQ(s.StampMs, c.stamp);
    EXPECT_EQ(s.FieldCount, c.fields);
  }
  TNmeaSentence s;
  const std::string line = "[77]" + Sum(rmc) + "[78]";  // the fields point into it
  ASSERT_EQ(ParseNmeaSentence(line, s), TNmeaLine::Sentence);
  EXPECT_EQ(s.Talker, "GP");
  EXPECT_EQ(s.Formatter, "RMC");
  EXPECT_EQ(s.Field(0), "123519");
  EXPECT_EQ(s.Field(10), "W");
  EXPECT_EQ(s.Field(11), "");
}

TEST_F(NmeaTest, DecodedFixes) {
  TNmeaSentence s;
  TNmeaFix f;
  auto decode = [&](const std::string &line) {
    EXPECT_NE(ParseNmeaSentence(line, s), TNmeaLine::NotNmea) << line;
    return DecodeNmeaFix(s, f);
  };

  ASSERT_TRUE(decode("$GPRMC,235959.25,A,3351.500,S,15112.200,W,10.0,359.9,311299,,,A"));
  EXPECT_TRUE(f.Valid);
  EXPECT_EQ(f.TimeMs, 86399250);
  EXPECT_EQ(f.Date, static_cast<int32_t>(EncodeDate(1999, 12, 31)));
  EXPECT_NEAR(static_cast<double>(f.Lat), -(33 + 51.5 / 60), 1e-12);
  EXPECT_NEAR(static_cast<double>(f.Lon), -(151 + 12.2 / 60), 1e-12);
  EXPECT_NEAR(static_cast<double>(f.Speed), 18.52, 1e-9);
  EXPECT_NEAR(static_cast<double>(f.Course), 359.9, 1e-9);

  // A tunnel: well-formed, no fix.
  ASSERT_TRUE(decode("$GPRMC,000000,V,3351.500,S,15112.200,E,,,010180,,,N"));
  EXPECT_FALSE(f.Valid);
  EXPECT_EQ(f.Date, static_cast<int32_t>(EncodeDate(2080, 1, 1)));  // 81..99 are 19xx
  ASSERT_TRUE(decode("$GPRMC,000000,A,3351.500,S,15112.200,E,,,010181,,,N"));
  EXPECT_FALSE(f.Valid);  // mode N
  EXPECT_EQ(f.Date, static_cast<int32_t>(EncodeDate(1981, 1, 1)));
  ASSERT_TRUE(decode("$GPGGA,120000,5545.1234,N,03736.0000,E,0,00,,,M,,M,,"));
  EXPECT_FALSE(f.Valid);
  EXPECT_FALSE(f.HasAltitude);

  ASSERT_TRUE(decode("$GNGGA,120000.5,5545.1234,N,03736.0000,E,2,11,0.8,-12.5,M,14.0,M,,"));
  EXPECT_TRUE(f.Valid);
  EXPECT_EQ(f.TimeMs, 43200500);
  EXPECT_EQ(f.Date, 0);
  EXPECT_NEAR(static_cast<double>(f.Lat), 55.752056667, 1e-9);
  EXPECT_EQ(f.Quality, 2);
  EXPECT_EQ(f.Satellites, 11);
  EXPECT_NEAR(static_cast<double>(f.Hdop), 0.8, 1e-12);
  EXPECT_TRUE(f.HasAltitude);
  EXPECT_NEAR(static_cast<double>(f.Altitude), -12.5, 1e-12);

  ASSERT_TRUE(decode("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"));
  EXPECT_TRUE(f.Valid);
  EXPECT_NEAR(static_cast<double>(f.Speed), 10.2, 1e-9);
  EXPECT_NEAR(static_cast<double>(f.Course), 54.7, 1e-9);
  ASSERT_TRUE(decode("$GPVTG,,T,,M,005.5,N,,K"));
  EXPECT_NEAR(static_cast<double>(f.Speed), 5.5 * 1.852, 1e-9);

  ASSERT_TRUE(decode("$GPZDA,201530.00,04,07,2002,00,00"));
  EXPECT_EQ(f.Date, static_cast<int32_t>(EncodeDate(2002, 7, 4)));
  EXPECT_EQ(f.TimeMs, 72930000);

  // Impossible positions and times are no position or time.
  ASSERT_TRUE(decode("$GPRMC,246000,A,9100.000,N,01131.000,E,,,230394,,"));
  EXPECT_FALSE(f.HasPosition);
  EXPECT_FALSE(f.Valid);
  EXPECT_EQ(f.TimeMs, -1);
  ASSERT_TRUE(decode("$GPRMC,120000,A,4807.038,X,01131.000,E,,,320394,,"));
  EXPECT_FALSE(f.HasPosition);
  EXPECT_EQ(f.Date, 0);
  EXPECT_FALSE(decode("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"));
}

TEST_F(NmeaTest, EpochsJoinAcrossMidnightAndTunnels) {
  // GGA before RMC, GGA alone over midnight (the date carried), a tunnel
  // of V fixes, VTG where RMC is missing, and sentences before the first
  // dated one.
  const char *lines[] = {
      "$GPGGA,235958,3351.500,S,15112.200,W,1,08,0.9,10.0,M,,M,,",
      "$GPGGA,235959,3351.510,S,15112.210,W,1,08,0.9,11.0,M,,M,,",
      "$GPRMC,235959,A,3351.510,S,15112.210,W,10.0,90.0,311299,,,A",
      "$GPGGA,000000,3351.520,S,15112.220,W,1,08,0.9,12.0,M,,M,,",
      "$GPVTG,45.0,T,,M,,N,20.0,K,A",
      "$GPRMC,000001,V,,,,,,,010100,,,N",
      "$GPGGA,000001,,,,,0,00,,,M,,M,,",
      "$GPGLL,3351.530,S,15112.230,W,000002,A,A",
  };
  TNmeaTrackBuilder b;
  b.SeedDate(static_cast<int32_t>(EncodeDate(1999, 12, 31)), 86399000);
  std::vector<TTrackRecord> out;
  TNmeaSentence s;
  TNmeaFix f;
  TTrackRecord r;
  for (const char *l : lines) {
    ASSERT_EQ(ParseNmeaSentence(l, s), TNmeaLine::Sentence) << l;
    if (DecodeNmeaFix(s, f) && b.Add(f, r)) out.push_back(r);
  }
  if (b.Finish(r)) out.push_back(r);
  ASSERT_EQ(out.size(), 4u);
  const double day = EncodeDate(1999, 12, 31);
  EXPECT_NEAR(out[0].Time, day + 86398 * kSec, 1e-9);
  EXPECT_NEAR(static_cast<double>(out[0].Altitude), 10, 1e-12);
  EXPECT_EQ(out[0].Speed, -1);
  EXPECT_NEAR(out[1].Time, day + 86399 * kSec, 1e-9);
  EXPECT_NEAR(static_cast<double>(out[1].Speed), 18.52, 1e-9);
  EXPECT_NEAR(static_cast<double>(out[1].Altitude), 11, 1e-12);
  EXPECT_NEAR(out[2].Time, day + 1, 1e-9);                   // GGA alone after midnight
  EXPECT_NEAR(static_cast<double>(out[2].Speed), 20, 1e-9);  // from VTG
  EXPECT_NEAR(static_cast<double>(out[2].Course), 45, 1e-9);
  EXPECT_NEAR(out[3].Time, day + 1 + 2 * kSec, 1e-9);  // GLL after the tunnel
  EXPECT_NEAR(static_cast<double>(out[3].Lon), -(151 + 12.23 / 60), 1e-12);
}

namespace {

struct TRead {
  bool ok = false;
  std::string reader;
  TTrackInfo info;
};

TRead Read(const std::string &text, const std::string &path = "drive.nmea",
           double modified = EncodeDate(2010, 5, 1) + EncodeTime(18, 0, 0, 0)) {
  TRead r;
  r.ok = ReadTrackText(text, path, 0, modified, r.info, &r.reader);
  return r;
}

// A drive of `n` fixes a second from hh:mm:ss UTC on 2010-05-01, as a
// receiver sends it: GGA, RMC (and a GSV that no reader uses).
std::string Drive(int n, int hh, int mm, int ss, const std::string &end = "\r\n",
                  bool checksums = true, bool gsv = true) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    const int t = (hh * 60 + mm) * 60 + ss + i;
    char time[16], lat[32];
    std::snprintf(time, sizeof time, "%02d%02d%02d", t / 3600 % 24, t / 60 % 60, t % 60);
    std::snprintf(lat, sizeof lat, "5545.%04d,N,03736.1000,E", 1000 + i);
    const std::string gga = std::string("$GPGGA,") + time + "," + lat + ",1,08,0.9,150.0,M,,M,,";
    const std::string rmc = std::string("$GPRMC,") + time + ",A," + lat + ",10.0,45.0,010510,,,A";
    const std::string sats = "$GPGSV,3,1,11,03,03,111,00";
    for (const auto &s : {gga, rmc, sats})
      if (gsv || s[3] != 'G' || s[4] != 'S') out += (checksums ? Sum(s) : s) + end;
  }
  return out;
}

}  // namespace

TEST_F(NmeaTest, ReaderTakesNmeaLogs) {
  struct {
    const char *what;
    std::string text;
    std::string path;
    size_t points;
  } cases[] = {
      {"CR LF", Drive(40, 12, 0, 0), "a.nmea", 40},
      {"LF", Drive(40, 12, 0, 0, "\n"), "a.NMEA", 40},
      {"CR", Drive(40, 12, 0, 0, "\r"), "a.txt", 40},
      {"no checksums", Drive(40, 12, 0, 0, "\r\n", false), "a.log", 40},
      // An hour and minute that read as a day and month: the recorders' own
      // comma-separated .log dialect would take the RMC lines.
      {"at 10:05", Drive(40, 10, 5, 0, "\r\n", false, false), "a.log", 40},
      {"camera stamps", "[0]" + Drive(1, 10, 5, 0) + "[1000]" + Drive(1, 10, 5, 1), "a.txt", 2},
      {"a wrong checksum drops its sentence",
       Drive(2, 12, 0, 0) + "$GPRMC,120002,A,5545.2000,N,03736.1000,E,10.0,45.0,010510,,,A*00\r\n",
       "a.nmea", 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const TRead r = Read(c.text, c.path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.reader, "NMEA 0183");
    EXPECT_EQ(r.info.Items.size(), c.points);
  }
  // The recorders' own comma-separated .log keeps its reader.
  const TRead dvr = Read("0,010510,120000,5545.1234,N,03736.1000,E,20.0\r\n", "FILE0001.log");
  EXPECT_EQ(dvr.reader, "GPS Log (DVR DS103, GPS100)");
}

TEST_F(NmeaTest, TunnelsAndForeignText) {
  std::string tunnel;
  for (int i = 0; i < 600; ++i)
    tunnel += Sum("$GPRMC,1201" + std::to_string(10 + i % 50) + ",V,,,,,,,010510,,,N") + "\r\n" +
              Sum("$GPGGA,1201" + std::to_string(10 + i % 50) + ",,,,,0,00,,,M,,M,,") + "\r\n";
  // Ten minutes without a fix between two stretches: still an NMEA log.
  const TRead r = Read(tunnel + Drive(5, 12, 30, 0), "a.nmea");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.info.Items.size(), 5u);

  std::string prose;
  for (int i = 0; i < 40; ++i) prose += "Some notes, not a log, with $GPRMC mentioned.\n";
  EXPECT_FALSE(Read(Drive(1, 12, 0, 0) + prose, "a.nmea").ok);
  EXPECT_FALSE(Read(prose + Drive(40, 12, 0, 0), "a.nmea").ok);
  EXPECT_FALSE(Read(tunnel, "a.nmea").ok);  // no fix at all

  // Positions under status V count only in a text where no sentence has a
  // fix (a converter's track whose fix it did not know).
  std::string unknown;
  for (int i = 0; i < 5; ++i)
    unknown +=
        Sum("$GPRMC,12000" + std::to_string(i) + ",V,5545.1000,N,03736.1000,E,10.0,45.0,010510,,") +
        "\r\n";
  EXPECT_EQ(Read(unknown).info.Items.size(), 5u);
  EXPECT_EQ(Read(unknown + Drive(2, 12, 30, 0)).info.Items.size(), 2u);
}

TEST_F(NmeaTest, DateOfLogsWithoutOne) {
  std::string gga;
  for (const char *t : {"235958", "235959", "000000", "000001"})
    gga += Sum(std::string("$GPGGA,") + t + ",5545.1000,N,03736.1000,E,1,08,0.9,150.0,M,,M,,") +
           "\r\n";
  // The recording's time in the name; else the file's last-write time.
  const TRead named = Read(gga, "/card/GPS/2023_0512_235950.NMEA", 0);
  ASSERT_EQ(named.info.Items.size(), 4u);
  EXPECT_NEAR(named.info.Items[0].Time, EncodeDate(2023, 5, 12) + 86398 * kSec, 1e-9);
  EXPECT_NEAR(named.info.Items[3].Time, EncodeDate(2023, 5, 13) + 1 * kSec, 1e-9);
  const TRead dated = Read(gga, "drive.nmea", EncodeDate(2023, 5, 13) + EncodeTime(0, 0, 5, 0));
  ASSERT_EQ(dated.info.Items.size(), 4u);
  EXPECT_NEAR(dated.info.Items[0].Time, EncodeDate(2023, 5, 12) + 86398 * kSec, 1e-9);
  EXPECT_NEAR(dated.info.Items[3].Time, EncodeDate(2023, 5, 13) + 1 * kSec, 1e-9);

  struct {
    const char *name;
    double stamp;
  } names[] = {
      {"2023_0512_143000.nmea", EncodeDate(2023, 5, 12) + EncodeTime(14, 30, 0, 0)},
      {"/x/REC_2023-05-12_14-30-00_F.txt", EncodeDate(2023, 5, 12) + EncodeTime(14, 30, 0, 0)},
      {"230512_143000_0001.log", EncodeDate(2023, 5, 12) + EncodeTime(14, 30, 0, 0)},
      {"FILE0001.nmea", 0},
      {"/2023_0512_143000/FILE0001.nmea", 0},
      {"20231345_143000.nmea", 0},
  };
  for (const auto &n : names) EXPECT_EQ(DateTimeFromFileName(n.name), n.stamp) << n.name;
}
