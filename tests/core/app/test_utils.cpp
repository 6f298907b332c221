#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "app/UnitUtils.h"

using namespace tachora;

namespace {
struct TzGuard {
  explicit TzGuard(const char *tz) {
    setenv("TZ", tz, 1);
    InitLocalTimeOffset();
  }
  ~TzGuard() {
    setenv("TZ", "UTC", 1);
    InitLocalTimeOffset();
  }
};
}  // namespace

TEST(DateTime, EncodeDecodeRoundTripAndKnownDays) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), kUnixEpochDate);
  EXPECT_DOUBLE_EQ(EncodeDate(1904, 1, 1), kMacEpochDate);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);  // leap year
  const TDateTime dt = EncodeDateTime({2024, 2, 29, 23, 59, 59, 999});
  const TDateParts p = DecodeDateTime(dt);
  EXPECT_EQ(p.year, 2024);
  EXPECT_EQ(p.month, 2);
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.hour, 23);
  EXPECT_EQ(p.minute, 59);
  EXPECT_EQ(p.second, 59);
  EXPECT_EQ(p.msec, 999);
  EXPECT_EQ(FormatDateTimeMs(dt), "2024-02-29 23:59:59.999");
  EXPECT_FALSE(IsValidDate(2023, 2, 29));
  EXPECT_FALSE(IsValidTime(24, 0, 0, 0));
}

TEST(DateTime, UnixConversionsUseTheStartUpOffset) {
  {
    TzGuard tz("Europe/Moscow");  // +3 h all year since 2014
    EXPECT_EQ(LocalTimeOffsetSeconds(), 3 * 3600);
    const TDateTime local = DateTimeFromUnix(0);
    EXPECT_EQ(FormatDateTime(local), "1970-01-01 03:00:00");
    EXPECT_NEAR(UnixFromDateTime(local), 0.0, 1e-6);
    const timespec ts = TimespecFromDateTime(EncodeDateTime({2020, 5, 1, 12, 0, 0, 250}));
    EXPECT_EQ(ts.tv_sec, 1588323600);  // 09:00 UTC
    EXPECT_EQ(ts.tv_nsec, 250000000);
    EXPECT_DOUBLE_EQ(UtcToLocal(1.0), 1.125);
    EXPECT_DOUBLE_EQ(LocalToUtc(1.125), 1.0);
  }
  TzGuard tz("UTC");
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(86400 + 61)), "1970-01-02 00:01:01");
}

TEST(DateTime, TextFormatsAndParsing) {
  const TDateTime dt = EncodeDateTime({2021, 7, 4, 5, 6, 7, 80});
  EXPECT_EQ(FormatDate(dt), "2021-07-04");
  EXPECT_EQ(FormatTime(dt), "05:06:07");
  EXPECT_EQ(FormatDateTime(dt), "2021-07-04 05:06:07");
  EXPECT_EQ(FormatDateTimeOrEmpty(0), "");
  TDateTime back = 0;
  ASSERT_TRUE(ParseDateTime("2021-07-04 05:06:07.080", back));
  EXPECT_NEAR(back, dt, 1e-9);
  ASSERT_TRUE(ParseDateTime("2021-07-04T05:06", back));
  EXPECT_EQ(FormatDateTime(back), "2021-07-04 05:06:00");
  ASSERT_TRUE(ParseDateTime("2021-07-04", back));
  for (const char *bad : {"", "2021-13-01", "2021-02-30", "2021-07-04 25:00", "2021-07-04 05",
                          "x021-07-04", "2021-07-04 05:06:07.0800", "2021-07-04 05:06:07junk"})
    EXPECT_FALSE(ParseDateTime(bad, back)) << bad;
}

TEST(Durations, CatalogueAndSeekBarTexts) {
  EXPECT_EQ(DurationText(45000), "0:45");
  EXPECT_EQ(DurationText(3 * 60000 + 7000), "3:07");
  EXPECT_EQ(DurationText(3600000 + 2 * 60000 + 3000), "1:02:03");
  EXPECT_EQ(DurationText(26LL * 3600000), "1d02:00:00");
  EXPECT_EQ(DurationText(999), "0:00");
  EXPECT_EQ(DurationText(-5), "0:00");
  EXPECT_EQ(DurationText(3 * 60000 + 7000, false), "3");
  EXPECT_EQ(DurationText(3600000 + 2 * 60000, false), "1:02");
  EXPECT_EQ(DurationText(26LL * 3600000 + 60000, false), "1d02:01");
}

// Makes a Russian numeric locale (decimal comma) available without touching
// the system: compiled once into the build tree and found through LOCPATH.
static bool UseCommaLocale() {
  const std::string dir = std::string(TACHORA_BUILD_DIR) + "/test-locale";
  const std::string loc = dir + "/ru_RU.UTF-8";
  if (access((loc + "/LC_NUMERIC").c_str(), R_OK) != 0) {
    const std::string cmd =
        "mkdir -p '" + dir + "' && localedef -i ru_RU -f UTF-8 '" + loc + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && access((loc + "/LC_NUMERIC").c_str(), R_OK) != 0)
      return false;
  }
  setenv("LOCPATH", dir.c_str(), 1);
  return std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr;
}

TEST(Numbers, CoordinatesAndFixedTextsIgnoreTheLocale) {
  if (!UseCommaLocale()) GTEST_SKIP() << "no localedef to build a decimal-comma locale";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5");  // the C library really writes a comma now
  EXPECT_EQ(FormatCoord(59.939), "59.939000");
  EXPECT_EQ(FormatCoord(-0.0000001), "0.000000");
  EXPECT_EQ(FormatCoord(-30.3150004), "-30.315000");
  EXPECT_EQ(FormatFixed(1.25, 1), "1.2");  // binary 1.25 is exact; to_chars rounds to even
  EXPECT_EQ(FormatFixed(2.0 / 3.0, 3), "0.667");
  EXPECT_EQ(FormatFixed(12, 0), "12");
  EXPECT_DOUBLE_EQ(static_cast<double>(ParseFloatDot("59.939")), 59.939);
  EXPECT_DOUBLE_EQ(static_cast<double>(ParseFloatDot("59,939")), 59.939);
  std::setlocale(LC_NUMERIC, "C");
}

TEST(Numbers, ParseFloatDotAcceptsCommaAndDot) {
  EXPECT_DOUBLE_EQ(static_cast<double>(ParseFloatDot("59,939")), 59.939);
  EXPECT_DOUBLE_EQ(static_cast<double>(ParseFloatDot(" -30.315 ")), -30.315);
  EXPECT_DOUBLE_EQ(static_cast<double>(ParseFloatDot("+1e3")), 1000.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(ParseFloatDot(",5")), 0.5);
  for (const char *bad : {"", "abc", "1.2.3", "1,2,3", "12km", "nan", "inf", "-"})
    EXPECT_EQ(ParseFloatDot(bad, 7), 7) << bad;
  EXPECT_EQ(ParseInt(" 42 "), 42);
  EXPECT_EQ(ParseInt("-7"), -7);
  EXPECT_EQ(ParseInt("4x", -1), -1);
  EXPECT_EQ(ParseInt("99999999999999999999", -1), -1);
  EXPECT_EQ(RoundHalfAway(2.5), 3);
  EXPECT_EQ(RoundHalfAway(-2.5), -3);
  // Values from damaged files beyond the counter are held at its limits.
  EXPECT_EQ(RoundHalfAway(1e300L), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RoundHalfAway(-5.5e23L), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(DecodeDateTime(1.2e304).year, 0);
  EXPECT_EQ(DecodeDateTime(-5.5e23 / 86400000).year, 0);
}

TEST(Geometry, DistanceBearingEllipseDestination) {
  // One degree of latitude on the 6371 km sphere.
  EXPECT_NEAR(static_cast<double>(Distance(0, 0, 1, 0)), 111194.93, 0.01);
  EXPECT_EQ(Distance(59.9, 30.3, 59.9, 30.3), 0);
  // St Petersburg to Moscow, about 634 km on the sphere.
  EXPECT_NEAR(static_cast<double>(Distance(59.939, 30.315, 55.7558, 37.6173)), 634000, 3000);
  // Nearly equal points must not give NaN from acos rounding above 1.
  EXPECT_GE(Distance(59.9390001, 30.315, 59.939, 30.315), 0);
  EXPECT_FALSE(std::isnan(static_cast<double>(Distance(59.9390001, 30.315, 59.939, 30.315))));
  EXPECT_NEAR(static_cast<double>(Bearing(0, 0, 1, 0)), 0, 1e-9);
  EXPECT_NEAR(static_cast<double>(Bearing(0, 0, 0, 1)), 90, 1e-9);
  EXPECT_NEAR(static_cast<double>(Bearing(0, 0, -1, 0)), 180, 1e-9);

  EXPECT_NEAR(static_cast<double>(EllipseRadius(4, 2, 0)), 2, 1e-12);   // up: vertical axis
  EXPECT_NEAR(static_cast<double>(EllipseRadius(4, 2, 90)), 4, 1e-12);  // right: horizontal
  EXPECT_NEAR(static_cast<double>(EllipseRadius(-1, 0, 45)), 1, 1e-12);

  const TLonLat north = DestinationPoint(30, 60, 0, 111194.93);
  EXPECT_NEAR(static_cast<double>(north.lat), 61, 1e-6);
  EXPECT_NEAR(static_cast<double>(north.lon), 30, 1e-9);
  const TLonLat east = DestinationPoint(179.9, 0, 90, 111194.93 * 0.2);
  EXPECT_NEAR(static_cast<double>(east.lon), -179.9, 1e-6);  // wrapped into -180..180
}

TEST(Strings, SplitFirstAndNextParam) {
  std::string s = "view?x=1&y=2";
  EXPECT_EQ(SplitFirst(s, "?"), "view");
  EXPECT_EQ(s, "x=1&y=2");
  std::string k, v;
  ASSERT_TRUE(NextParam(s, k, v));
  EXPECT_EQ(k, "x");
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(NextParam(s, k, v));
  EXPECT_EQ(k, "y");
  EXPECT_EQ(v, "2");
  EXPECT_FALSE(NextParam(s, k, v));
  std::string whole = "abc";
  EXPECT_EQ(SplitFirst(whole, "&"), "abc");
  EXPECT_EQ(whole, "");
  std::string flag = "novalue&a=b=c";
  ASSERT_TRUE(NextParam(flag, k, v));
  EXPECT_EQ(k, "novalue");
  EXPECT_EQ(v, "");
  ASSERT_TRUE(NextParam(flag, k, v));
  EXPECT_EQ(v, "b=c");

  EXPECT_TRUE(EqualsNoCase("FILE0001.DAT", "file0001.dat"));
  EXPECT_TRUE(EndsWithNoCase("a.MoV", ".mov"));
  EXPECT_FALSE(EndsWithNoCase("mov", ".mov"));
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(SplitString("a,,b", ',').size(), 3u);
}

#include "app/UnitCallStack.h"

TEST(CallStack, ListsTheCallersOneFramePerLine) {
  const std::string text = CallStackText();
  EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 3);  // test body, gtest, main at least
  EXPECT_EQ(text.back(), '\n');
}
