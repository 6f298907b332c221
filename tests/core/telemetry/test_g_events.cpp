// G-force events found on generated accelerometer data.
#include <gtest/gtest.h>

#include <cmath>

#include "telemetry/UnitGEvents.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400.0;
const double kT0 = EncodeDate(2024, 5, 1) + 0.5;

// A drive at 10 Hz: gravity of 1 g on `down`, a sensor bias, a little road
// noise, and a pulse of `g` (along Y, braking) lasting `width` seconds at
// each of the given seconds.
std::vector<TGsensorPoint> Drive(int seconds, const std::vector<double> &bumps, float g,
                                 double width = 0.3, int down = 2) {
  std::vector<TGsensorPoint> s;
  for (int i = 0; i < seconds * 10; ++i) {
    TGsensorPoint p;
    const double t = i / 10.0;
    p.Time = kT0 + t * kSec;
    float v[3] = {0.02f, -0.03f, 0.01f};
    v[down] += 1.0f;
    v[0] += 0.04f * static_cast<float>(std::sin(i * 1.7));
    v[1] += 0.04f * static_cast<float>(std::cos(i * 2.3));
    for (double b : bumps)
      if (t >= b && t < b + width) v[1] -= g;
    p.X = v[0], p.Y = v[1], p.Z = v[2];
    s.push_back(p);
  }
  return s;
}

}  // namespace

TEST(GEvents, DetectionOnGeneratedDrives) {
  const struct {
    const char *Name;
    std::vector<TGsensorPoint> Samples;
    float Threshold;
    std::vector<double> Starts;  // seconds
  } kCases[] = {
      {"smooth drive, gravity on Z", Drive(600, {}, 0), 0.3f, {}},
      {"smooth drive, gravity on X", Drive(600, {}, 0, 0.3, 0), 0.3f, {}},
      {"two hard brakes", Drive(600, {100, 400}, 0.7f), 0.5f, {100, 400}},
      {"below the threshold", Drive(600, {100, 400}, 0.7f), 0.8f, {}},
      {"1.5 s apart: one event", Drive(600, {100, 101.8}, 0.7f), 0.5f, {100}},
      {"2.5 s apart: two", Drive(600, {100, 102.8}, 0.7f), 0.5f, {100, 102.8}},
      {"no samples", {}, 0.5f, {}},
  };
  for (const auto &c : kCases) {
    const auto events = DetectGEvents(c.Samples, c.Threshold);
    ASSERT_EQ(events.size(), c.Starts.size()) << c.Name;
    for (size_t i = 0; i < events.size(); ++i) {
      EXPECT_NEAR((events[i].Start - kT0) / kSec, c.Starts[i], 0.01) << c.Name;
      EXPECT_GE(events[i].End, events[i].Start) << c.Name;
      // Gravity and bias are gone from the peak: the pulse itself and noise.
      EXPECT_NEAR(events[i].PeakG, 0.7, 0.1) << c.Name;
    }
  }
}

TEST(GEvents, TripAndCounts) {
  // Two recordings, each with its own gravity axis (a camera remounted),
  // one brake each; untimed samples and NaN readings are ignored.
  TMovingInfo a, b;
  a.GsensorPoints = Drive(60, {30}, 1.0f);
  b.GsensorPoints = Drive(60, {10}, 1.0f, 0.3, 0);
  for (auto &p : b.GsensorPoints) p.Time += 60 * kSec;
  b.GsensorPoints.push_back(TGsensorPoint{});
  b.GsensorPoints[5].X = NAN;
  const auto events = DetectTripGEvents({&a, nullptr, &b}, 0.5f);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_NEAR((events[1].Start - kT0) / kSec, 70, 0.01);

  const TGEventCounts counts = CountGEvents(Drive(600, {100, 200, 300}, 0.6f));
  EXPECT_EQ(counts.Count[0], 3);
  EXPECT_EQ(counts.Count[1], 3);
  EXPECT_EQ(counts.Count[2], 0);
}
