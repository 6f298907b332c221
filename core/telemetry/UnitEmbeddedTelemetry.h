// Telemetry that cameras write inside their recordings (MOV/MP4): GPS fixes
// and accelerometer samples in blocks inside mdat, in boxes beside it, or in
// a track of their own. The container layer finds the boxes, tracks and
// samples; the readers here turn their bytes into the same records the
// sidecar readers give, through a TTrackSink.
//
// Units and times as for every reader: TDateTime in local time (fixes the
// camera stamps in UTC are moved by the start-up local-time offset), km/h,
// metres, g.
//
// Threads: no global state; every call opens and reads the file itself.
#pragma once

#include <string>
#include <vector>

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TMOVStream;
struct TBox;

enum class TEmbeddedPresence {
  None,        // the recording holds no telemetry we know of
  Readable,    // telemetry in a layout we read
  Unreadable,  // telemetry present, but in a layout we cannot read (encrypted, unknown)
};

struct TEmbeddedReport {
  TEmbeddedPresence Presence = TEmbeddedPresence::None;
  std::string Format;  // the layout found, for notes and `tachora-cli info`; empty when none
  std::string Note;    // what the user is told when it cannot be read
  double FirstFixUtc =
      0;  // TDateTime (UTC) of the first valid fix when a read found one; 0 = unknown
  // The fixes carry the camera's own clock instead of UTC (firmware that
  // writes a full year): their times were taken as local, unshifted, and
  // FirstFixUtc stays 0.
  bool FixTimesLocal = false;
};

// Whether the file is a QuickTime/MP4 recording (by its first box), so that
// a telemetry look-up should read it as a video and not as a text log.
bool IsRecordingFile(const std::string &path);

// Which embedded telemetry the recording holds, from its headers (indexes,
// boxes, track descriptions); cheap enough for every row of a card.
TEmbeddedPresence ProbeEmbeddedTelemetry(const std::string &path,
                                         TEmbeddedReport *report = nullptr);

// Reads the recording's embedded telemetry into the sink (cleared first, its
// Created and Modified set to the file's times). True when a record was
// taken.
bool ReadEmbeddedTelemetryInto(const std::string &path, TTrackSink &sink,
                               TEmbeddedReport *report = nullptr);

// The probe and, when it finds telemetry in a layout we read, the read,
// through one opening of the file: what a listing asks of each recording.
// Returns the probe's answer (its report in `report`); `read` tells whether
// the sink took a record, as ReadEmbeddedTelemetryInto fills it.
TEmbeddedPresence ProbeAndReadEmbeddedTelemetry(const std::string &path, TTrackSink &sink,
                                                bool &read, TEmbeddedReport *report = nullptr);
// The same on the recording open in `stream`, with its top-level boxes
// (TopLevelBoxes): a caller that reads more of the file opens it once.
TEmbeddedPresence ProbeAndReadEmbeddedTelemetry(const std::string &path, TMOVStream &stream,
                                                const std::vector<TBox> &top, TTrackSink &sink,
                                                bool &read, TEmbeddedReport *report = nullptr);

}  // namespace tachora
