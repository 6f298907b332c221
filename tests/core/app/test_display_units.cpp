// Speeds, distances and altitudes in the units the user reads.
#include <gtest/gtest.h>

#include "app/UnitDisplayUnits.h"

using namespace tachora;

TEST(DisplayUnits, ConversionsCutsAndNames) {
  constexpr auto kImp = TUnits::Imperial, kMet = TUnits::Metric;
  EXPECT_DOUBLE_EQ(static_cast<double>(DisplaySpeed(100, kMet)), 100);
  EXPECT_NEAR(static_cast<double>(DisplaySpeed(100, kImp)), 62.1371, 1e-4);
  EXPECT_EQ(DisplaySpeed(-1, kImp), -1);  // unknown stays unknown
  EXPECT_NEAR(static_cast<double>(DisplayDistance(1609.344L, kImp)), 1, 1e-12);
  EXPECT_NEAR(static_cast<double>(DisplayDistance(12345, kMet)), 12.345, 1e-12);
  EXPECT_NEAR(static_cast<double>(DisplayAltitude(100, kImp)), 328.084, 1e-3);
  EXPECT_EQ(DisplayAltitude(0, kImp), 0);  // 0 is the unknown altitude

  // Cut, never rounded up, and exact where binary fractions fall short.
  const struct {
    long double Value;
    int Decimals;
    const char *Text;
  } kCuts[] = {{12.369L, 1, "12.3"}, {12.3L, 1, "12.3"},   {0.999L, 2, "0.99"},
               {62.1371L, 0, "62"},  {1.1184L, 2, "1.11"}, {-0.5L, 1, "-0.5"}};
  for (const auto &c : kCuts) EXPECT_EQ(CutDecimals(c.Value, c.Decimals), c.Text) << c.Text;

  EXPECT_STREQ(SpeedUnitKey(kImp), "MilesPerH");
  EXPECT_STREQ(DistanceUnitKey(kMet), "Kmeters");
  EXPECT_STREQ(AltitudeUnitKey(kImp), "Feet");
  EXPECT_EQ(UnitText("MilesPerH"), "mph");
  TUnits u = kMet;
  EXPECT_TRUE(ParseUnits("imperial", u));
  EXPECT_EQ(u, kImp);
  EXPECT_FALSE(ParseUnits("miles", u));
  EXPECT_EQ(u, kImp);
}
