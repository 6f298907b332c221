// Re-encoded export of a part of a trip: the cameras of each recording laid
// out in one picture (the rear as an inset, side by side, or the front
// alone), the time, speed, position and G-force burned in, written as an
// H.264 + AAC MP4 through the FFmpeg libraries. The cutting dialog's
// "Export Video" and `tachora-cli render` drive it.
//
// The trip comes in as plain data: recordings in order, each with its main
// (front) file, the other cameras' files and its place on the trip time
// line. The range is in seconds of that time line, gaps included; the
// output is continuous: a gap between recordings is left out.
//
// The output grid (frame rate, size) is the first readable main file's; the
// other cameras are scaled and resampled to it. A camera whose file is
// missing, damaged or shorter shows black with its label; the sound is the
// main file's, silence where it has none. Such things go into the notes and
// the render goes on.
//
// The movie is written to a file without a name (a hidden temporary one on
// FAT) and named only when complete: a failed or cancelled render leaves no
// file, and an existing file stays as it was.
//
// Units: times seconds (trip time line, or a file's own from its start),
// date-times TDateTime (local, 0 = unknown), speeds km/h until shown.
//
// Ownership: the recordings' telemetry pointers belong to the caller and
// must live while RenderTrip runs.
//
// Threads: RenderTrip runs on the caller's thread (a worker, never the UI
// thread) and calls the progress callback there; separate calls may run at
// once on different threads.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/UnitDisplayUnits.h"
#include "app/UnitUtils.h"

namespace tachora {

class TMovingInfo;

enum class TRenderLayout { PictureInPicture, SideBySide, MainOnly };
// Where the inset of the picture-in-picture layout sits.
enum class TRenderCorner { TopRight, TopLeft, BottomRight, BottomLeft };

// The values burned into the picture.
struct TRenderOverlay {
  bool Time = true;      // local date and time of the frame
  bool Speed = true;     // in the user's units
  bool Position = true;  // latitude and longitude
  bool GSensor = true;   // the accelerometer's X, Y, Z
  bool Any() const { return Time || Speed || Position || GSensor; }
};

struct TRenderSource {
  std::string Path;
  std::string Label;  // camera label shown in the picture ("F", "R"); may be empty
};

struct TRenderRecording {
  TRenderSource Main;                      // front camera: picture grid, sound and telemetry
  std::vector<TRenderSource> Channels;     // the other cameras, in order
  double Start = 0;                        // seconds on the trip time line
  double Duration = -1;                    // seconds; < 0: the main file's own
  TDateTime StartDate = 0;                 // the first frame's local date-time
  const TMovingInfo *Telemetry = nullptr;  // the main file's, may be null
};

struct TRenderTrip {
  std::vector<TRenderRecording> Recordings;  // ascending Start
};

struct TRenderOptions {
  double From = 0, To = 0;  // seconds on the trip time line, From < To
  TRenderLayout Layout = TRenderLayout::PictureInPicture;
  TRenderCorner Corner = TRenderCorner::TopRight;
  TRenderOverlay Overlay;
  TUnits Units = TUnits::Metric;
  std::string Output;
  bool Overwrite = false;  // an existing file of that name may be replaced
  // Encoder names to try in turn; empty: hardware encoders, then libx264.
  std::vector<std::string> Encoders;
  // libx264's speed preset (its names); the default keeps a 1080p front
  // with a 1080p rear inset faster than real time on two cores.
  std::string Preset = "superfast";
};

struct TRenderProgress {
  double Fraction = 0;           // of the whole output, 0..1
  double RemainingSeconds = -1;  // estimate; < 0 while unknown
  double OutputSeconds = 0;      // written so far
};
// Returns false to cancel.
using TRenderProgressFn = std::function<bool(const TRenderProgress &)>;

enum class TRenderError {
  None,
  NoOutput,         // no output file name
  EmptySelection,   // To does not lie after From, or no recording in the range
  ReplacesSource,   // path: the output would replace a file of the trip
  WouldReplace,     // path: an existing file (Overwrite off)
  NothingReadable,  // no main file of the range could be read
  NoEncoder,        // no H.264 or AAC encoder could be opened; detail: why
  CannotCreate,     // path: the output; detail: the system's message
  CannotWrite,      // path: the output; detail: the library's message
  Cancelled,
};

enum class TRenderNoteKind {
  Unreadable,      // path: a main file left out; detail: why
  ChannelMissing,  // path: a camera's file that cannot be read (black instead)
  ChannelShorter,  // path: a camera's file ending before its main file (black after)
  NoSound,         // path: a main file without usable sound (silence instead)
  DecodeErrors,    // path: a file with damaged frames; detail: how many
};

struct TRenderNote {
  TRenderNoteKind Kind;
  std::string Path;
  std::string Detail;
};

struct TRenderResult {
  bool Written = false;
  bool Cancelled = false;
  std::string Path;
  std::string Encoder;  // the H.264 encoder used
  int Width = 0, Height = 0;
  double FrameRate = 0;
  int64_t Frames = 0;
  double OutputSeconds = 0;
  bool HasSound = false;
  std::vector<TRenderNote> Notes;
  TRenderError Error = TRenderError::None;
  std::string ErrorPath, ErrorDetail;
};

TRenderResult RenderTrip(const TRenderTrip &trip, const TRenderOptions &options,
                         const TRenderProgressFn &progress);

// "pip", "side", "main" (the command line's and the settings' words).
const char *LayoutName(TRenderLayout layout);
bool ParseLayout(const std::string &word, TRenderLayout &out);
// "speed,time,position,gsensor" in any order and number; false for an
// unknown word (all off for an empty text).
bool ParseOverlay(const std::string &words, TRenderOverlay &out);
std::string OverlayText(const TRenderOverlay &overlay);

// English texts for the command line (the GUI words the values itself).
std::string RenderErrorText(const TRenderResult &result);
std::string RenderNoteText(const TRenderNote &note);

}  // namespace tachora
