// Cutting an A-B fragment of a trip into one new MOV file, without
// re-encoding, with the telemetry of the fragment in a ".dat" file beside
// it. This is the engine that the cutting dialog and `tachora-cli cut`
// drive: the trip comes in as plain data, progress and cancelling go
// through one callback.
//
// Positions A and B are trip fractions (0 = start of the first recording,
// 1 = end of the last); each recording carries its own start and end (and
// its telemetry's) as trip fractions. Date-times are TDateTime, local.
//
// The movie is written to "<output>.part" and renamed when complete, so an
// interrupted cut never leaves a file that looks finished. A cancelled cut
// is still finished as a playable file with what was copied.
//
// Runs on the caller's thread; the callback is called on it too.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/UnitUtils.h"

namespace tachora {

struct TCutRecording {
  std::string path;
  long double start = 0, end = 1;  // on the trip time line
  bool hasTelemetry = false;
  long double telemetryStart = 0, telemetryEnd = 1;  // on the trip time line
  // Opaque handle for the meta source (e.g. the recording's TMovingInfo).
  const void *telemetry = nullptr;
};

struct TCutTrip {
  std::string caption;
  std::vector<TCutRecording> recordings;
};

struct TCutOptions {
  long double a = 0, b = 1;
  bool video = true, audio = true, meta = true;
  std::string output;  // the movie's path
  // Date-times of A and B; when both are positive the written files get
  // them as their times (access and modification time = B).
  TDateTime startDate = 0, endDate = 0;
  // Media-data size limit of the writer (tests use small ones).
  int64_t mediaDataLimit = 0;
};

struct TCutProgress {
  size_t recording = 0;  // 0-based index in the trip
  size_t recordings = 0;
  std::string fileName;
  std::string action;   // "Opening file", "Copying data", ...
  double fraction = 0;  // of the current recording
  double outputSeconds = 0;
};
// Returns false to cancel.
using TCutProgressFn = std::function<bool(const TCutProgress &)>;

// Writes the telemetry of one recording between two fractions of its
// telemetry span as recorder ".dat" text (empty when there is none).
class TCutMetaSource {
 public:
  virtual ~TCutMetaSource() = default;
  virtual std::string MetaText(const TCutRecording &recording, long double from,
                               long double to) = 0;
};

struct TCutResult {
  bool written = false;    // the movie exists at moviePath
  bool cancelled = false;  // the user stopped it; what was copied is kept
  std::string moviePath, metaPath;
  int64_t mediaBytes = 0;
  double outputSeconds = 0;
  std::vector<std::string> errors;  // per recording, "file: message"
  std::string message;              // why nothing was written
};

TCutResult CutFragment(const TCutTrip &trip, const TCutOptions &options, TCutMetaSource *meta,
                       const TCutProgressFn &progress);

// The fraction of a recording at trip position x.
long double RecordingFraction(long double x, long double start, long double end);

// "Fragment of <caption> (hh-mm-ss - hh-mm-ss).mov" in `folder`, with the
// characters that cannot stand in a file name replaced by "_".
std::string DefaultFragmentName(const std::string &caption, TDateTime start, TDateTime end,
                                const std::string &folder);

// The path with its extension (after the last ".") replaced by "dat"; a
// path that already ends in ".dat" gets ".dat" added, so that the movie and
// its telemetry never share one name.
std::string MetaFileName(const std::string &moviePath);

}  // namespace tachora
