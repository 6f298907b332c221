// A catalogue row as a trip for the cutting engine. The cutting dialog and
// `tachora-cli cut` both go through here, so a fragment taken between two
// positions of the main window's time line holds the same samples whichever
// of them made it.
//
// The trip's time line is the row's: 0 is the start of its first recording,
// 1 the end of its last, gaps between recordings included. Every recording
// and its telemetry take their place on it from the catalogue's times (file
// times, container header, telemetry, aligned), not from durations laid end
// to end.
//
// Units: date-times TDateTime days (local, 0 = unknown), positions trip
// fractions.
//
// Ownership: the trip's recordings point to the TMovingInfo objects of the
// track list they were built from; keep that list alive while the trip is
// used. LoadRowTelemetry may be called on any thread (it reads files and
// locks the catalogue only briefly); the others touch no state.
#pragma once

#include <memory>
#include <vector>

#include "app/UnitUtils.h"
#include "catalogue/UnitFileItems.h"
#include "container/UnitCutter.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

class TFileManager;

struct TRowTelemetry {
  // The row as the catalogue holds it after the load (a full load may trim a
  // track and so change the row's telemetry positions).
  TFileItem Row;
  // Parallel to Row.Items and never null: a recording without telemetry
  // gets an empty object spanning the recording.
  std::vector<std::unique_ptr<TMovingInfo>> Tracks;
  // Parallel to Tracks: the ratio a time-lapse recording's telemetry was
  // compressed by onto its playing time; 1 for real time.
  std::vector<double> TimeLapse;
};

// Loads the full telemetry of the row's recordings (own file, else the
// matched GPS logger track), maps the telemetry of a time-lapse recording
// (own telemetry spanning more than 1.5 times the container's playing time)
// onto its playing time, fits each track to its recording and lets the
// catalogue learn what the load found, then reads the recomputed row again.
TRowTelemetry LoadRowTelemetry(TFileManager &catalogue, const TFileItem &row);

// The row's recordings as a cutting trip: the recordings' places on the
// row's time line, and for every recording whose track holds records, the
// track and its place. `tracks` is parallel to row.Items (as
// LoadRowTelemetry gives it); missing or empty entries mean no telemetry.
TCutTrip MakeCutTrip(const TFileItem &row, const std::vector<std::unique_ptr<TMovingInfo>> &tracks);

// The date-time at a trip fraction: the row's start plus the fraction of its
// span; 0 when the row's times are unknown.
TDateTime TripDateTime(const TFileItem &row, long double fraction);

// Sets options.startDate and options.endDate from options.a and options.b.
void SetCutDates(const TFileItem &row, TCutOptions &options);

// One cut of a row per camera: the main files first (with the telemetry),
// then each other camera's files, each output named with the camera's
// marker ("X.mov" -> "X_F.mov", "X_R.mov"). A row of one camera gives one
// cut of `options` as they are.
struct TChannelCut {
  std::string Channel;  // the camera's label; empty for a one-camera row
  TCutTrip Trip;
  TCutOptions Options;
  // The camera's files do not cover the whole selection (a recording of
  // the range without it, or a file shorter than the main one): the cut
  // holds what there is.
  bool Partial = false;
};
std::vector<TChannelCut> MakeChannelCuts(const TFileItem &row, const TCutTrip &trip,
                                         const TCutOptions &options);
// "X.mov" with the camera's label before the extension: "X_R.mov".
std::string ChannelOutputName(const std::string &output, const std::string &channel);

struct TChannelCutResult {
  std::string Channel;
  bool Partial = false;
  TCutResult Result;
};
// Runs the cuts in order. Once one is cancelled (the progress callback said
// no) the rest are not started and report Cancelled; a cut that fails does
// not stop the others.
std::vector<TChannelCutResult> CutChannels(const std::vector<TChannelCut> &cuts,
                                           TCutMetaSource *meta, const TCutProgressFn &progress);

}  // namespace tachora
