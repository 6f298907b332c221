// The telemetry of a recording: where it comes from (a file beside it, else
// what the camera embedded in the recording itself), and when a recording began, from what the
// camera wrote into and around it: the date and time many cameras put into a recording's file name
// (20231015_143022_F.MP4, 2023_1015_143022_0012.MP4, NO20231015-143022.MP4),
// and the check of the clock of GPS fixes embedded in a recording against
// that name.
//
// Times are TDateTime, local. Pure functions apart from the local-time
// offset (UnitUtils).
#pragma once

#include <string>

#include "app/UnitUtils.h"

namespace tachora {

class TMovingInfo;
class TNoCaseDirCache;
struct TEmbeddedReport;

// The telemetry source of a recording: its telemetry file (FindTelemetryFor:
// beside it, or in the card's INFO folder), which wins; else the recording
// itself when it embeds telemetry in a layout we read. Empty when neither;
// the report then tells whether unreadable telemetry was found.
std::string TelemetrySourceFor(const std::string &videoPath, TNoCaseDirCache *cache = nullptr,
                               TEmbeddedReport *report = nullptr);

// The date and time stamped into the file name (the camera's clock, taken
// as local time): 14 digits YYYYMMDDhhmmss, possibly split into groups by
// "_" or "-" (YYYYMMDD_hhmmss, YYYY_MMDD_hhmmss, YYYY-MM-DD-hh-mm-ss), or
// YYMMDD_hhmmss; a run of digits longer than the stamp is no stamp. 0 when
// the name holds none or the date or time is impossible.
TDateTime NameStampTime(const std::string &path);

// Days to add to the times of GPS fixes that a camera embedded in a
// recording so that they read in the local clock: some firmware writes the
// camera's local clock into the fields meant for UTC, so that after the
// UTC -> local conversion the fixes lie one local-time offset after the
// time in the file name. `firstFix` is the first fix as read (local), the
// stamp the name's. The difference is snapped to quarter hours (zones are
// whole quarter hours; the first fix may come a few minutes after the
// recording began); only a difference equal to the local-time offset is
// corrected. A camera whose clock runs in another zone than this computer
// keeps its true UTC fixes. 0 when nothing is to be corrected.
double LocalClockCorrection(TDateTime nameStamp, TDateTime firstFix);

// Applies LocalClockCorrection to the telemetry embedded in the recording
// at `path` (all points and samples and the span move); true when moved.
bool CorrectLocalClock(TMovingInfo &mi, const std::string &path);

}  // namespace tachora
