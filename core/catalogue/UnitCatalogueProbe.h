// The catalogue's calls into the telemetry and container subsystems, in one
// place: the quick statistics of a telemetry file and the header of a movie.
// Both take hostile files: failures give false and the defaults.
//
// Units: times TDateTime (local), lengths metres, speeds km/h, durations
// milliseconds, picture sizes pixels. Thread-safe (each call uses its own
// reader objects; a thread keeps the movie header of the recording its
// last LoadEmbeddedTelemetryStats opened, for the ReadMovieHeader of the
// same file that follows).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/UnitUtils.h"
#include "telemetry/UnitEmbeddedTelemetry.h"

namespace tachora {

struct TTelemetryStats {
  long double TrackLength = 0;
  long double AvgSpeed = -1;
  int GpsCount = 0, GsensorCount = 0;
  TDateTime First = 0, Last = 0;         // first and last sample time
  std::array<int32_t, 3> EventCounts{};  // G-force events at each sensitivity
};
// Loads a telemetry file in quick mode and takes its statistics.
bool LoadTelemetryStats(const std::string &path, TTelemetryStats &out);
// The same over the file's part within [from, to] (a recording's own time
// range of a GPS log that covers other recordings too). A file that lies
// wholly apart from the range gives the statistics of all of it: the
// recording is then moved onto its track, not left without one.
bool LoadTelemetryStats(const std::string &path, TDateTime from, TDateTime to,
                        TTelemetryStats &out);

// The statistics of the telemetry a recording carries inside, probed and
// read through one opening of the file (a listing's look at a recording
// without a telemetry file). Returns what the probe found; `read` tells
// whether `out` holds the statistics of records read.
TEmbeddedPresence LoadEmbeddedTelemetryStats(const std::string &path, TTelemetryStats &out,
                                             bool &read, TEmbeddedReport *report = nullptr);

struct TMovieHeader {
  bool HasMovie = false;
  int64_t DurationMs = -1;
  int Width = 0, Height = 0;
  // The movie header's creation time as stored (UTC; 0 when unset or
  // implausible: before 2000 or more than a day ahead of now).
  TDateTime CreationTime = 0;
  // Media data without a movie atom: a recording cut off by power loss,
  // which the repair can rebuild.
  bool Damaged = false;
};
// Reads the container header only (no sample tables); right after
// LoadEmbeddedTelemetryStats of the same file, unchanged since, the header
// that look read.
bool ReadMovieHeader(const std::string &path, TMovieHeader &out);
// Whether ReadMovieHeader can examine containers in this build.
bool MovieProbeAvailable();

// Extensions of the track readers in registration order, each once, lower
// case without dot (for the "Attach Track" dialog filter).
std::vector<std::string> TrackReaderExtensions();

// The "Attach Track" open dialog's filter as (description, pattern) pairs:
// "All files" (*.*), then "All supported formats  (*.dat  *.gpx  ...  )"
// with the pattern "*.dat;*.gpx;...;", then one entry per pattern. The
// dialog opens on the second entry.
std::vector<std::pair<std::string, std::string>> AttachTrackFilters(
    const std::vector<std::string> &extensions);

}  // namespace tachora
