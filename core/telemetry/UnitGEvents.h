// G-force events: the moments a recording's accelerometer saw a hard brake,
// a sharp turn or a bump. The acceleration of a sample is its vector minus
// the recording's mean vector (gravity on whichever axis the camera holds
// down, plus the sensor's own bias); where its magnitude exceeds the
// threshold an event begins, and samples above it less than 2 seconds apart
// belong to the same event.
//
// Units: times TDateTime (local), accelerations g. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

struct TGEvent {
  double Start = 0;     // first sample above the threshold
  double End = 0;       // last one
  double PeakTime = 0;  // the strongest sample
  float PeakG = 0;      // its magnitude, gravity and bias removed
};

// The sensitivities of View -> Event Sensitivity, in g: high, normal, low.
constexpr float kEventThresholds[3] = {0.3f, 0.5f, 0.8f};
constexpr int kDefaultEventLevel = 1;
// Samples above the threshold closer than this make one event.
constexpr double kEventMergeGap = 2.0 / 86400.0;
// Next/Previous Event lands this long before the event's start.
constexpr double kEventLeadIn = 3.0 / 86400.0;

// Events of one recording's samples (ascending time; untimed samples, time
// 0, are skipped), in time order.
std::vector<TGEvent> DetectGEvents(const std::vector<TGsensorPoint> &samples, float thresholdG);

// Events of a trip: every recording on its own mean, then merged across
// the joins in time order.
std::vector<TGEvent> DetectTripGEvents(const std::vector<const TMovingInfo *> &recordings,
                                       float thresholdG);

// The number of events at each of the three sensitivities.
struct TGEventCounts {
  int32_t Count[3] = {0, 0, 0};
};
TGEventCounts CountGEvents(const std::vector<TGsensorPoint> &samples);

}  // namespace tachora
