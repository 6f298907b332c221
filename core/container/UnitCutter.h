// Cutting an A-B fragment of a trip into one new MOV file, without
// re-encoding, with the telemetry of the fragment in a ".dat" file beside
// it and, in the movie, as a subtitle track (off by default) showing the
// time and speed each second. This is the engine that the cutting dialog and `tachora-cli cut`
// drive: the trip comes in as plain data, progress and cancelling go
// through one callback, the fragment's telemetry text through another
// (TCutMetaSource), so this library knows nothing of telemetry.
//
// Positions A and B are trip fractions (0 = start of the first recording,
// 1 = end of the last); each recording carries its own start and end (and
// its telemetry's) as trip fractions. Date-times are TDateTime, local.
//
// The movie is written to a file without a name (a hidden temporary one
// on FAT) and named only when complete, so a failed or cancelled cut never
// leaves a file that looks finished; an existing file of that name stays
// as it was. Neither the movie nor its ".dat" may replace a recording of
// the trip or one of its files (telemetry, GPS log).
//
// The copied samples keep their offsets within a file-system block (see
// TMOVWriter), so that on XFS and Btrfs the fragment shares the
// recordings' blocks (a cut takes milliseconds and next to no new space)
// and elsewhere the kernel copies whole pages.
//
// Progress stages, errors and notes are values with the path concerned;
// the caller words them (CutStageText, CutErrorText and CutNoteText give
// the English texts).
//
// Runs on the caller's thread; the callbacks are called on it too.
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
  // Other files of the recording (its telemetry, its GPS log) that the
  // output must never replace.
  std::vector<std::string> companions = {};
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
  // A cancelled cut is finished as a playable movie of what was copied
  // (else nothing is written).
  bool keepOnCancel = false;
  // Existing files of the movie's or its ".dat"'s name may be replaced
  // (the caller has asked). Off: the cut is refused (WouldReplace).
  bool overwrite = true;
};

enum class TCutStage { Opening, Copying, Meta, WritingHeaders };

struct TCutProgress {
  size_t recording = 0;  // 0-based index in the trip
  size_t recordings = 0;
  std::string fileName;
  TCutStage stage = TCutStage::Opening;
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
  // The subtitles of the same part when it plays for `count` seconds: one
  // text per second (the time and the speed), empty when it has none.
  virtual std::vector<std::string> Captions(const TCutRecording &, long double, long double,
                                            size_t) {
    return {};
  }
};

// Why nothing was written (path and detail say more where given).
enum class TCutError {
  None,
  NoOutput,         // no output file name
  EmptySelection,   // B does not lie after A
  NoTrackChosen,    // neither video nor sound asked for
  ReplacesSource,   // path would replace detail, a file the cut is made from
  NothingReadable,  // no recording of the selection could be read
  NoTrackToCopy,    // no track of a known kind (the video codec unknown)
  Cancelled,        // the user stopped it
  CannotCreate,     // path: the output; detail: the system's message
  CannotWrite,      // path: the output; detail: the system's message
  SourceChanged,    // path: a recording that was truncated or changed while it
                    // was copied; detail: what was missing
  WouldReplace,     // path: an existing file the cut would replace (overwrite off)
};

// Something that went wrong for one recording while the cut went on.
enum class TCutNoteKind {
  Unreadable,      // path: the recording; detail: why
  VideoLeftOut,    // path: the recording whose picture is in another format
  SoundLeftOut,    // path: the recording whose sound is in another format
  SoundAfterGap,   // path: a recording whose sound would play early after a
                   // recording without (usable) sound
  CopyFailed,      // path: the recording; detail: why
  MetaFailed,      // path: the recording; detail: why
  MetaNotWritten,  // path: the ".dat"; detail: the system's message
};

struct TCutNote {
  TCutNoteKind kind;
  std::string path;
  std::string detail;
};

struct TCutResult {
  bool written = false;    // the movie exists at moviePath
  bool cancelled = false;  // the user stopped it
  std::string moviePath, metaPath;
  int64_t mediaBytes = 0;
  int64_t copyCalls = 0;  // kernel copy calls, for benchmarks
  double outputSeconds = 0;
  std::vector<TCutNote> notes;  // per recording
  TCutError error = TCutError::None;
  std::string errorPath, errorDetail;
};

TCutResult CutFragment(const TCutTrip &trip, const TCutOptions &options, TCutMetaSource *meta,
                       const TCutProgressFn &progress);

// The existing files a cut with these options would replace: the movie,
// and its ".dat" when telemetry is asked for and a recording has some.
std::vector<std::string> CutWouldReplace(const TCutTrip &trip, const TCutOptions &options);

// English texts for the command line (the GUI translates the values).
const char *CutStageText(TCutStage stage);
std::string CutErrorText(const TCutResult &result);
std::string CutNoteText(const TCutNote &note);

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
