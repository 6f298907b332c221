// The reader selection and each recorder reader: what it accepts, what it
// rejects, and what it makes of the fields. Also hostile input.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "TelemetryTestUtil.h"
#include "telemetry/UnitGpsConverterDatDOD.h"
#include "telemetry/UnitGpsConverterDatSamoon.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitTrackText.h"

using namespace tachora;
using namespace tachora::test;

namespace {

const double kModified = EncodeDate(2010, 5, 1) + EncodeTime(18, 0, 0, 0);

struct TParsed {
  bool ok = false;
  std::string reader;
  TTrackInfo info;
};

TParsed Parse(const std::string &text, const std::string &path = "x.txt") {
  TParsed p;
  p.ok = ReadTrackText(text, path, 0, kModified, p.info, &p.reader);
  return p;
}

std::string Shifted(const std::string &plain, int shift) {
  std::string s = plain;
  for (char &c : s)
    if (c != '\n') c = static_cast<char>(static_cast<unsigned char>(c) + shift);
  return s;
}

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimeZone("UTC"); }
};

}  // namespace

TEST_F(ReadersTest, RecorderDatLines) {
  const auto p = Parse(
      "[G]\t2010-05-01 12:00:00\tN55.750000\tE37.600000\r\n"
      "[S]\t12\t-40\t1010\r\n"
      "[B]\r\n"
      "[G]\t2010-05-01 12:00:01\tS55.750000\tW37.600000\t45,5\t180\r\n"
      "[G]\t2010-13-01 12:00:02\tN55.750000\tE37.600000\t45\t180\r\n",
      "FILE0001.DAT");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.reader, "DOD GS600, Carcam Q3");
  ASSERT_EQ(p.info.Items.size(), 3u);  // [B] ignored, month 13 has no valid time
  const auto &g = p.info.Items[0];
  EXPECT_EQ(g.Kind, kRecordGps);
  EXPECT_DOUBLE_EQ(g.Time, EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0));
  EXPECT_DOUBLE_EQ(static_cast<double>(g.Lat), 55.75);
  EXPECT_DOUBLE_EQ(static_cast<double>(g.Lon), 37.6);
  EXPECT_EQ(g.Speed, -1);  // four fields: no speed, no course
  EXPECT_EQ(g.Course, -1);
  const auto &s = p.info.Items[1];
  EXPECT_EQ(s.Kind, kRecordGsensor);
  EXPECT_EQ(s.Time, 0);
  // Axes are kept as floats: a millionth of g is far below the sensor's noise.
  EXPECT_NEAR(static_cast<double>(s.X), 0.012, 1e-6);
  EXPECT_NEAR(static_cast<double>(s.Y), -0.040, 1e-6);
  EXPECT_NEAR(static_cast<double>(s.Z), 1.010, 1e-6);
  const auto &h = p.info.Items[2];
  EXPECT_DOUBLE_EQ(static_cast<double>(h.Lat), -55.75);
  EXPECT_DOUBLE_EQ(static_cast<double>(h.Lon), -37.6);
  EXPECT_DOUBLE_EQ(static_cast<double>(h.Speed), 45.5);  // "," as decimal separator
  EXPECT_EQ(h.Course, 180);
  // The file's times come through for the G-sensor timing.
  EXPECT_EQ(p.info.EndTime, kModified);
}

TEST_F(ReadersTest, RecorderDateTimeAndCoordinateNotations) {
  // Extra leading digits of the year are dropped; a short text is no time.
  EXPECT_DOUBLE_EQ(ParseRecorderDateTime("002010-05-01 12:00:00"),
                   EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0));
  EXPECT_EQ(ParseRecorderDateTime("2010-05-01 12:00"), 0);
  EXPECT_EQ(ParseRecorderDateTime("1900-05-01 12:00:00"), 0);
  EXPECT_EQ(ParseRecorderDateTime("2010-00-01 12:00:00"), 0);
  EXPECT_EQ(ParseRecorderDateTime("2010-02-30 12:00:00"), 0);
  EXPECT_EQ(ParseHemisphereCoord("N5", 'N', 7), 7);
  EXPECT_EQ(ParseHemisphereCoord("X55.5", 'N', 0), -55.5);
  EXPECT_NEAR(static_cast<double>(ParseNmeaCoord("5545.1234")), 55.752056666666, 1e-9);
  EXPECT_NEAR(static_cast<double>(ParseNmeaCoord("03736.5")), 37.608333333333, 1e-9);
  EXPECT_EQ(ParseNmeaCoord("junk"), 0);
  // Two-digit years: up to 2080 in this century.
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010510", "120000.50"),
                   EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0));
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010585", "000000"), EncodeDate(1985, 5, 1));
  EXPECT_EQ(ParseNmeaDateTime("320510", "120000"), 0);
  // Parts are read at their places; what a short field lacks counts as 0.
  const double may1 = EncodeDate(2010, 5, 1);
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010510", "1230"), may1 + EncodeTime(12, 30, 0, 0));
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010510", "12"), may1 + EncodeTime(12, 0, 0, 0));
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010510", ""), may1);
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010510", "1230xx"), may1 + EncodeTime(12, 30, 0, 0));
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("0105101", "1200001"), may1 + EncodeTime(12, 0, 0, 0));
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("0105", "120000"), EncodeDate(2000, 5, 1) + 0.5);
  EXPECT_EQ(ParseNmeaDateTime("01", "120000"), 0);  // no month
  EXPECT_EQ(ParseNmeaDateTime("", "120000"), 0);
  EXPECT_EQ(ParseNmeaDateTime("0x0510", "120000"), 0);
}

TEST_F(ReadersTest, NmeaTimesAreUtcAndBecomeLocal) {
  SetTimeZone("Europe/Moscow");
  EXPECT_DOUBLE_EQ(ParseNmeaDateTime("010510", "090000"),
                   EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0));
  SetTimeZone("UTC");
}

TEST_F(ReadersTest, LogFormatsAreToldApartByTheirCharacters) {
  // TAB-separated with a date-time: the recorder's .log ("-" and ":" rule
  // out the NMEA-style one).
  const auto dod = Parse(
      "2010-05-01 12:00:00\tN55.750000\tE37.600000\t150.5\t36\t90\r\n"
      "2010-05-01 12:00:01\tN55.750100\tE37.600000\r\n",
      "track.log");
  ASSERT_TRUE(dod.ok);
  EXPECT_EQ(dod.reader, "GPS Log (DOD GS600, Carcam Q3)");
  ASSERT_EQ(dod.info.Items.size(), 2u);
  EXPECT_DOUBLE_EQ(static_cast<double>(dod.info.Items[0].Altitude), 150.5);
  EXPECT_EQ(dod.info.Items[0].Speed, 36);
  EXPECT_EQ(dod.info.Items[1].Speed, -1);
  EXPECT_EQ(dod.info.Items[1].Course, -1);
  EXPECT_EQ(dod.info.Items[1].Altitude, 0);

  // Comma-separated NMEA fields: the DVR log; 10 knots are 18.5325 km/h.
  const auto dvr = Parse(
      "1,010510,120000,5545.1234,N,03736.0000,E,10.0\r\n"
      "2;010510;120001;5545.1300;S;03736.0000;W\r\n",
      "track.log");
  ASSERT_TRUE(dvr.ok);
  EXPECT_EQ(dvr.reader, "GPS Log (DVR DS103, GPS100)");
  ASSERT_EQ(dvr.info.Items.size(), 2u);
  EXPECT_NEAR(static_cast<double>(dvr.info.Items[0].Speed), 18.5325, 1e-12);
  EXPECT_NEAR(static_cast<double>(dvr.info.Items[0].Lat), 55.752056666, 1e-8);
  EXPECT_NEAR(static_cast<double>(dvr.info.Items[0].Lon), 37.6, 1e-12);
  EXPECT_DOUBLE_EQ(dvr.info.Items[0].Time, EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0));
  EXPECT_LT(dvr.info.Items[1].Lat, 0);
  EXPECT_LT(dvr.info.Items[1].Lon, 0);
  EXPECT_EQ(dvr.info.Items[1].Speed, -1);  // seven fields: no speed

  // A logger that writes the time without seconds still gives its fixes.
  const auto shortTime = Parse(
      "1,010510,1200,5545.1234,N,03736.0000,E\r\n"
      "2,010510,1201,5545.1300,N,03736.0000,E\r\n",
      "track.log");
  ASSERT_TRUE(shortTime.ok);
  ASSERT_EQ(shortTime.info.Items.size(), 2u);
  EXPECT_DOUBLE_EQ(shortTime.info.Items[1].Time, EncodeDate(2010, 5, 1) + EncodeTime(12, 1, 0, 0));
}

TEST_F(ReadersTest, SamoonHeaderShiftAndSentences) {
  const std::string plain =
      "12\t-40\t1010\t$GPRMC,120000,A,5545.1234,N,03736.0000,E,10.0,90.0,010510,,*6A\n"
      "11\t-41\t1011\t$GPGGA,120001,5545.1300,N,03736.0100,E,1,08,0.9,150.5,M,,*47\n"
      "10\t-42\t1012\t$GPGSV,3,1,12*70\n"
      "9\t-43\t1013\t$GPRMC,120002,V,,,,,,,010510,,*00\n";
  for (const auto &h : TGpsInfoConverterDatSamoon::kHeaderShifts) {
    const std::string text = std::to_string(h.Header) + "\n" + Shifted(plain, h.Shift);
    ASSERT_EQ(text.find('\t'), std::string::npos) << "shift " << h.Shift << " keeps a TAB";
    ASSERT_EQ(text.find('\r'), std::string::npos) << "shift " << h.Shift << " makes a CR";
    const auto p = Parse(text, "REC0001.dat");
    ASSERT_TRUE(p.ok) << h.Header;
    EXPECT_EQ(p.reader, "Samoon");
    // Four samples, two of them with a fix; the GSV and the void RMC give none.
    ASSERT_EQ(p.info.Items.size(), 6u) << h.Header;
    EXPECT_EQ(p.info.Items[0].Kind, kRecordGsensor);
    EXPECT_NEAR(static_cast<double>(p.info.Items[0].Z), 1.010, 1e-6);
    const auto &rmc = p.info.Items[1];
    EXPECT_EQ(rmc.Kind, kRecordGps);
    EXPECT_NEAR(static_cast<double>(rmc.Speed), 18.5325, 1e-12);
    EXPECT_EQ(rmc.Course, 90);
    EXPECT_DOUBLE_EQ(rmc.Time, EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0));
    EXPECT_EQ(p.info.Items[0].Time, rmc.Time);  // the sample takes the fix's time
    const auto &gga = p.info.Items[3];
    EXPECT_EQ(gga.Kind, kRecordGps);
    EXPECT_DOUBLE_EQ(static_cast<double>(gga.Altitude), 150.5);
    // GGA has no date: the file's last-write date stands in.
    EXPECT_DOUBLE_EQ(gga.Time, EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 1, 0));
    EXPECT_EQ(p.info.Items[4].Kind, kRecordGsensor);
    EXPECT_EQ(p.info.Items[5].Kind, kRecordGsensor);
  }
  // An unknown header: the shift is found on the first data line.
  const auto found = Parse("123456789\n" + Shifted(plain, 9), "a.dat");
  ASSERT_TRUE(found.ok);
  EXPECT_EQ(found.reader, "Samoon");
  EXPECT_EQ(found.info.Items.size(), 6u);
  // The recorder .dat reader never takes it (no "[", no TAB).
  TGpsInfoConverterDatDOD dod;
  EXPECT_FALSE(dod.CanRead("100200301\n" + Shifted(plain, 2)));
  // A zero header is no Samoon file.
  TGpsInfoConverterDatSamoon samoon;
  EXPECT_FALSE(samoon.CanRead("0\n" + Shifted(plain, 2)));
  EXPECT_FALSE(samoon.CanRead("1234567890123456\n" + Shifted(plain, 2)));
}

TEST_F(ReadersTest, SamoonLineNeedsNumericAxes) {
  // A picture saved as .DAT reaches the Samoon reader through the extension;
  // its TAB-holding binary lines are no G-sensor samples.
  static const char kPng[] =
      "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x18\x08\x06\0\0\0\xe0w=\xf8"
      "\0\0\0\tpHYs\0\0\x0b\x12\x07\xe9\t\x16\x07-\x16TLs\t\xe3\0\x01"
      "\tIDAT\x08\xd7"
      "c\xf8\xff\0\0\0IEND\xae"
      "B`\x82";
  const std::string png(kPng, sizeof kPng - 1);
  EXPECT_FALSE(Parse(png, "ICON.DAT").ok);
  // Empty or garbled axes drop the sample but keep the fix of that line.
  const auto p = Parse(
      "123456789\n"
      "12\t-40\t1010\t$GPRMC,120000,A,5545.1234,N,03736.0000,E,10.0,90.0,010510,,*6A\n"
      "\t\t\t$GPRMC,120001,A,5545.1300,N,03736.0100,E,10.0,90.0,010510,,*6A\n"
      "1x\t2\t3\t$GPGSV,3,1,12*70\n"
      "13\t-41\t1011\t$GPGSV,3,1,12*70\n",
      "REC0002.dat");
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.info.Items.size(), 4u);
  EXPECT_EQ(p.info.Items[0].Kind, kRecordGsensor);
  EXPECT_EQ(p.info.Items[1].Kind, kRecordGps);
  EXPECT_EQ(p.info.Items[2].Kind, kRecordGps);
  EXPECT_DOUBLE_EQ(p.info.Items[2].Time, EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 1, 0));
  EXPECT_EQ(p.info.Items[3].Kind, kRecordGsensor);
  EXPECT_NEAR(static_cast<double>(p.info.Items[3].Z), 1.011, 1e-6);
}

namespace {

// The shift search as a plain trial per shift (slow on long lines).
int ReferenceShift(std::string_view raw) {
  auto allowed = [](int c) {
    return c == '\t' || c == '$' || c == '*' || c == ',' || c == '-' || c == '.' || c == '/' ||
           (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
  };
  for (int s = 0; s <= 128; ++s) {
    bool passed = true, tab = false, comma = false;
    for (const char ch : raw) {
      const int b = static_cast<unsigned char>(ch);
      if (b <= s) return 0;
      if (!allowed(b - s)) {
        passed = false;
        break;
      }
      tab |= b - s == '\t';
      comma |= b - s == ',';
    }
    if (passed && tab && comma) return s;
  }
  return 0;
}

}  // namespace

TEST_F(ReadersTest, SamoonShiftSearchIsOnePassAndAgreesWithTrials) {
  std::mt19937 rng(7);
  const std::string plain = "12\t-40\t1010\t$GPRMC,120000,A,5545.1234,N,03736.0000,E,10.0,,*6A";
  for (int round = 0; round < 3000; ++round) {
    const int shift = static_cast<int>(rng() % 140);
    std::string line = Shifted(plain, shift);
    // Now and then a stray byte anywhere: low, high or just off the set.
    for (int k = static_cast<int>(rng() % 3); k > 0; --k)
      line[rng() % line.size()] = static_cast<char>(rng() % 4 ? rng() % 256 : shift + rng() % 40);
    ASSERT_EQ(TGpsInfoConverterDatSamoon::FindShift(line), ReferenceShift(line))
        << "round " << round << " shift " << shift;
  }
  // A long line is one scan: 64 MiB of letters that pass dozens of trials.
  const std::string hostile(64 << 20, 'Z');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TGpsInfoConverterDatSamoon::FindShift(hostile), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(ReadersTest, PltAndGpxReaders) {
  // Numbers in the header are never points.
  const auto plt = Parse(
      "OziExplorer Track Point File Version 2.1\r\nWGS 84\r\nAltitude is in Feet\r\n"
      "55.1,37.1,0,100,40299.5,\r\n0,2,255,Name,0,0,2,8421376\r\n2\r\n"
      "55.750000,37.600000,1,405,40299.5000000,\r\n"
      "55.750100,37.600000,0,-777,40299.5000116,01-May-10, 12:00:01\r\n",
      "t.plt");
  ASSERT_TRUE(plt.ok);
  EXPECT_EQ(plt.reader, "Ozi Explorer");
  ASSERT_EQ(plt.info.Items.size(), 2u);
  EXPECT_NEAR(static_cast<double>(plt.info.Items[0].Altitude), 405 * 0.3048, 1e-9);
  EXPECT_EQ(plt.info.Items[1].Altitude, 0);
  EXPECT_DOUBLE_EQ(plt.info.Items[0].Time, 40299.5);

  // Attributes or elements, either order; the last point within the last 16
  // characters of the file is lost (the scan stops there).
  const std::string gpx =
      "<gpx><trk><trkseg>\n"
      "<trkpt lon=\"37.6\" lat=\"55.75\"><ele>120.5</ele><time>2010-05-01T12:00:00Z</time>"
      "<speed>10</speed></trkpt>\n"
      "<trkpt lat=\"0\" lon=\"37.6\"><time>2010-05-01T12:00:01Z</time></trkpt>\n"
      "<trkpt lat=\"55.76\" lon=\"37.61\"><time>2010-05-01T12:00:02Z</time></trkpt>";
  auto g = Parse(gpx + "\n</trkseg></trk></gpx>\n", "t.gpx");
  ASSERT_TRUE(g.ok);
  EXPECT_EQ(g.reader, "GPS eXchange Format");
  ASSERT_EQ(g.info.Items.size(), 2u);  // the zero latitude is dropped
  EXPECT_DOUBLE_EQ(static_cast<double>(g.info.Items[0].Altitude), 120.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(g.info.Items[0].Speed), 36);  // m/s -> km/h
  EXPECT_EQ(g.info.Items[0].Course, -1);
  EXPECT_EQ(g.info.Items[1].Speed, -1);
  g = Parse(gpx + "</gpx>\n", "t.gpx");
  ASSERT_TRUE(g.ok);
  EXPECT_EQ(g.info.Items.size(), 1u);

  // A value ends at the first quote, "<", "=" or ">", or with its block:
  // values shorter and longer than sixteen characters, the time running to
  // the closing tag, and the first place a name appears wins ("ele" in the
  // description).
  std::string many = "<gpx><trk><trkseg>\n";
  for (int i = 0; i < 20; ++i)
    many += "<trkpt lat=\"55." + std::string(static_cast<size_t>(i + 1), '5') +
            "\" lon=37.25><desc>lat=1 ele=3</desc><ele>7</ele>time=2010-05-01T12:00:" +
            (i < 10 ? "0" : "") + std::to_string(i) + "Z</trkpt>\n";
  g = Parse(many + "</trkseg></trk></gpx>\n", "t.gpx");
  ASSERT_TRUE(g.ok);
  ASSERT_EQ(g.info.Items.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    const TTrackRecord &r = g.info.Items[static_cast<size_t>(i)];
    EXPECT_EQ(static_cast<double>(r.Lat),
              std::stod("55." + std::string(static_cast<size_t>(i + 1), '5')))
        << i;
    EXPECT_EQ(r.Lon, 37.25L) << i;
    EXPECT_EQ(r.Altitude, 3) << i;
    EXPECT_NEAR((r.Time - g.info.Items[0].Time) * 86400, i, 1e-3) << i;
  }
}

TEST_F(ReadersTest, FixesOffTheGlobeOrCalendarAreDropped) {
  // Each file: one good fix and fixes whose latitude, longitude or time no
  // real fix can have; only the good one is taken.
  const auto dat = Parse(
      "[G]\t2010-05-01 12:00:00\tN91.000000\tE37.600000\r\n"
      "[G]\t2010-05-01 12:00:01\tN55.750000\tW180.500000\r\n"
      "[G]\t2010-05-01 12:00:02\tN1e300\tE1e300\r\n"
      "[G]\t2010-05-01 12:00:03\tS90.000000\tW180.000000\r\n",
      "a.dat");
  ASSERT_TRUE(dat.ok);
  ASSERT_EQ(dat.info.Items.size(), 1u);
  EXPECT_EQ(dat.info.Items[0].Lat, -90);
  const auto plt = Parse(
      "OziExplorer Track Point File Version 2.1\r\nWGS 84\r\nAltitude is in Feet\r\n"
      "Reserved 3\r\n0,2,255,Name,0,0,2,8421376\r\n3\r\n"
      "1e300,37.6,0,-777,40299.5,\r\n"
      "55.75,37.6,0,-777,1e300,\r\n"
      "55.75,37.6,0,-777,40299.5,\r\n",
      "t.plt");
  ASSERT_TRUE(plt.ok);
  ASSERT_EQ(plt.info.Items.size(), 1u);
  EXPECT_DOUBLE_EQ(plt.info.Items[0].Time, 40299.5);
  const auto gpx = Parse(
      "<gpx><trk><trkseg>\n"
      "<trkpt lat=\"95\" lon=\"37.6\"><time>2010-05-01T12:00:00Z</time></trkpt>\n"
      "<trkpt lat=\"55.75\" lon=\"-200\"><time>2010-05-01T12:00:01Z</time></trkpt>\n"
      "<trkpt lat=\"55.75\" lon=\"37.6\"><time>2010-05-01T12:00:02Z</time></trkpt>\n"
      "</trkseg></trk></gpx>\n",
      "t.gpx");
  ASSERT_TRUE(gpx.ok);
  EXPECT_EQ(gpx.info.Items.size(), 1u);
  const auto samoon = Parse(
      "123456789\n"
      "1\t2\t3\t$GPRMC,120000,A,9545.1234,N,03736.0000,E,10.0,90.0,010510,,*6A\n"
      "1\t2\t3\t$GPRMC,120001,A,5545.1234,N,03736.0000,E,10.0,90.0,010510,,*6A\n",
      "s.dat");
  ASSERT_TRUE(samoon.ok);
  ASSERT_EQ(samoon.info.Items.size(), 3u);  // two samples, one fix
  EXPECT_EQ(samoon.info.Items[2].Kind, kRecordGps);
}

TEST_F(ReadersTest, RejectionAndExtensionFallback) {
  // More than 8 lines without a record: not this dialect at all.
  std::string junk;
  for (int i = 0; i < 9; ++i) junk += "[X]\tnothing here\r\n";
  const std::string good = "[G]\t2010-05-01 12:00:00\tN55.750000\tE37.600000\r\n";
  EXPECT_FALSE(Parse(junk + good, "a.dat").ok);
  // After 32 lines, fewer than half parsing rejects the file.
  std::string mixed = good;
  for (int i = 0; i < 40; ++i) mixed += "[X]\tnothing\r\n";
  EXPECT_FALSE(Parse(mixed, "a.dat").ok);
  // A head with lower-case letters fails the character test, but the .dat
  // extension still brings the recorder reader.
  const std::string comment = "[C]\tcomment line\r\n" + good;
  EXPECT_TRUE(Parse(comment, "a.dat").ok);
  EXPECT_FALSE(Parse(comment, "a.txt").ok);
  EXPECT_FALSE(Parse("", "a.dat").ok);
}

TEST_F(ReadersTest, HostileInputIsRejectedCleanly) {
  std::mt19937 rng(42);
  std::string random(1 << 20, '\0');
  for (char &c : random) c = static_cast<char>(rng());
  for (const char *path : {"r.dat", "r.log", "r.gpx", "r.plt"}) {
    TTrackInfo t;
    ReadTrackText(random, path, 0, 0, t);  // must simply return
  }
  // One huge line, a million separators of every dialect, a million
  // unclosed point tags: each is linear work and gives nothing.
  EXPECT_FALSE(Parse(std::string(4 << 20, 'x'), "h.dat").ok);
  for (const char sep : {'\t', ',', ';', '\n', '\r'})
    EXPECT_FALSE(Parse(std::string(1000000, sep), "s.dat").ok) << int(sep);
  std::string tags;
  for (int i = 0; i < 200000; ++i) tags += "<trkpt ";
  EXPECT_FALSE(Parse("<gpx a=\"1\"/>" + tags, "t.gpx").ok);
  std::string opens;
  for (int i = 0; i < 100000; ++i) opens += "<trkpt lat=\"55\" lon=\"37\"></trkpt>";
  EXPECT_FALSE(Parse("<gpx a=\"1\"/>" + opens + "              ", "t.gpx").ok);
  // A line of a million TAB fields for the .dat reader.
  EXPECT_FALSE(Parse("[G]" + std::string(1000000, '\t') + "\r\n", "g.dat").ok);
}

namespace {

// Exposes the field splitter of a reader.
struct TSplitProbe : TGpsInfoConverterDatDOD {
  size_t Split(std::string_view line, char separator) {
    TCharSet set;
    set[static_cast<unsigned char>(separator)] = true;
    SplitFields(line, set);
    return Fields.size();
  }
  std::string_view At(size_t i) const { return Field(i); }
};

}  // namespace

TEST_F(ReadersTest, FieldSplittingIsBoundedOnSeparatorFloods) {
  TSplitProbe probe;
  EXPECT_EQ(probe.Split("a,,b,", ','), 4u);  // empty fields are kept
  EXPECT_EQ(probe.At(2), "b");
  EXPECT_EQ(probe.At(3), "");
  // A line of a million separators holds a bounded field array (16 bytes a
  // field would otherwise make a 512 MiB file cost gigabytes).
  EXPECT_LE(probe.Split(std::string(1000000, ','), ','), 64u);
  // The fields that the readers read are still there.
  EXPECT_TRUE(Parse("[G]\t2010-05-01 12:00:00\tN55.750000\tE37.600000\t40\t45" +
                        std::string(100000, '\t') + "\r\n",
                    "a.dat")
                  .ok);
}

TEST_F(ReadersTest, DialogFilters) {
  EXPECT_EQ(OpenDialogFilter(),
            "All files|*.*|All supported formats  ( *.dat  *.gpx  *.plt  *.log  *.nmea  *.gps  "
            "*.3gf  )|*.dat;*.gpx;*.plt;*.log;*.nmea;*.gps;*.3gf;|*.dat|*.dat|*.gpx|*.gpx|*.plt|"
            "*.plt|*.log|*.log|*.nmea|*.nmea|*.gps|*.gps|*.3gf|*.3gf|");
  EXPECT_EQ(SaveDialogFilter(),
            "Google Earth (.kml)|*.kml|Ozi Explorer (.plt)|*.plt|"
            "GPS eXchange Format (.gpx)|*.gpx|DOD GS600, Carcam Q3 (.dat)|*.dat|"
            "NMEA 0183 (.nmea)|*.nmea|");
  ASSERT_NE(FindGpsWriter(".GPX"), nullptr);
  EXPECT_EQ(FindGpsWriter("gpx")->Name(), "GPS eXchange Format");
  EXPECT_EQ(FindGpsWriter("log"), nullptr);
  EXPECT_EQ(DefaultGpsWriter().Extension(), "dat");
}

// The readers' number parser takes a short way for plain decimals; it must
// give the general parser's value to the last bit (sign of zero included)
// for every text, plain or not.
TEST(TrackNumbers, ShortWayGivesTheGeneralParsersValue) {
  auto same = [](const std::string &s) {
    const long double a = ParseNumber(s, -999), b = ParseFloatDot(s, -999);
    return (a == b && std::signbit(a) == std::signbit(b)) || (std::isnan(a) && std::isnan(b));
  };
  for (const char *s : {"",
                        "-",
                        "+",
                        ".",
                        "1.",
                        ".5",
                        "-.5",
                        "1,2,3",
                        "1e5",
                        " 12 ",
                        "12 ",
                        "0",
                        "-0",
                        "+0",
                        "-0.0",
                        "+-5",
                        "-+5",
                        "--5",
                        "007.50",
                        "55,750166667",
                        "123456789012345",
                        "1234567890123456",
                        "9007199254740993",
                        "0.000000000000001",
                        "0.0000000000000001",
                        "99999999999999.9",
                        "5.144444",
                        "-37.600000000",
                        "1.7976931348623157e308",
                        "0x10",
                        "1_0",
                        "１"})
    EXPECT_TRUE(same(s)) << "'" << s << "'";
  std::mt19937 rng(7);
  const char kChars[] = "0123456789000.,-+";
  for (int i = 0; i < 200000; ++i) {
    std::string s;
    const int len = static_cast<int>(rng() % 20);
    for (int k = 0; k < len; ++k) s += kChars[rng() % (sizeof kChars - 1)];
    ASSERT_TRUE(same(s)) << "'" << s << "'";
  }
  for (int i = 0; i < 200000; ++i) {  // plain decimals of every length
    std::string s = rng() % 2 ? "-" : "";
    const int whole = 1 + static_cast<int>(rng() % 9), frac = static_cast<int>(rng() % 12);
    for (int k = 0; k < whole; ++k) s += static_cast<char>('0' + rng() % 10);
    if (frac > 0) s += rng() % 4 ? '.' : ',';
    for (int k = 0; k < frac; ++k) s += static_cast<char>('0' + rng() % 10);
    ASSERT_TRUE(same(s)) << "'" << s << "'";
  }
}
