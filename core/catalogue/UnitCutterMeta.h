// The telemetry of a cut fragment: the records of a recording's
// TMovingInfo between two fractions of its span, as recorder ".dat" text
// (the default track writer), and its subtitles. Used by the cutting engine through
// TCutMetaSource; TCutRecording::telemetry must point to a TMovingInfo.
//
// One object per thread (the writer objects are per thread).
#pragma once

#include "container/UnitCutter.h"

namespace tachora {

class TMovingInfoMetaSource : public TCutMetaSource {
 public:
  std::string MetaText(const TCutRecording &recording, long double from, long double to) override;
  // "14:05:09  52 km/h" (the time alone without a fix).
  std::vector<std::string> Captions(const TCutRecording &recording, long double from,
                                    long double to, size_t count) override;
};

// The telemetry file of a recording the way recorders store it: beside the
// video with the extension .dat, .log, .gpx, .plt or .nmea (or a .txt of
// NMEA sentences), else the card's INFO
// folder (the parent of the video's folder) with the extension .dat; names
// compared without regard to case. Empty when there is none.
std::string FindTelemetryBeside(const std::string &videoPath);

}  // namespace tachora
