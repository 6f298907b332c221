// A catalogue row as a render trip: its recordings' places on the row's
// time line in seconds, their channel files and their telemetry. The
// cutting dialog's export and `tachora-cli render` both go through here.
//
// Ownership: the trip's recordings point to the TMovingInfo objects of the
// track list they were built from; keep that list alive while the trip is
// rendered. Pure functions; any thread.
#pragma once

#include <memory>
#include <vector>

#include "catalogue/UnitFileItems.h"
#include "render/UnitRender.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

// `tracks` is parallel to row.Items (as LoadRowTelemetry gives it); missing
// entries mean no telemetry. A recording of unknown start follows the one
// before it.
TRenderTrip MakeRenderTrip(const TFileItem &row,
                           const std::vector<std::unique_ptr<TMovingInfo>> &tracks);

// The length of the row's time line in seconds (its span, gaps included).
double TripSeconds(const TFileItem &row);

}  // namespace tachora
