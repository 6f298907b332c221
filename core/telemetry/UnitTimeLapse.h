// Time-lapse and parking-lapse recordings: the camera films a frame now and
// then and plays them at the normal rate, so an hour of telemetry belongs to
// a few minutes of picture. Such telemetry is mapped onto the recording's
// playing time proportionally, so that the vehicle, the graphs and the
// instruments keep in step with the picture.
//
// Units: times TDateTime (local). Pure functions, any thread.
#pragma once

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

// Telemetry spanning more than this many times the playing time is a lapse.
constexpr double kTimeLapseMinRatio = 1.5;

// The telemetry's span over the recording's playing time [start, end] when
// that exceeds kTimeLapseMinRatio; 1 otherwise (also for unknown times).
double TimeLapseRatio(const TMovingInfo &mi, double start, double end);

// Moves every GPS point and sample time proportionally from the telemetry's
// span onto [start, end]. Returns the ratio applied (1: nothing was done).
double MapTimeLapse(TMovingInfo &mi, double start, double end);

}  // namespace tachora
