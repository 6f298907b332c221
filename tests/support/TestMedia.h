// Test media made at test time with ffmpeg, and outside checks with
// ffprobe/ffmpeg. Files go under <build dir>/test-media/ and are made once:
// a file that already exists under its name is reused, so a name must say
// everything that differs between two files (the helpers add a hash of the
// settings to it). Generation writes a temporary file and renames it, so
// test programs running in parallel never see half-written media.
//
// All functions throw std::runtime_error when ffmpeg fails; they may be
// called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tachora::test {

struct TMediaRecipe {
  std::string video = "h264";       // "h264", "mjpeg" or "none"
  std::string audio = "pcm_s16le";  // "pcm_s16le" (sowt), "pcm_s16be" (twos), "aac" or "none"
  double seconds = 3;
  int width = 320, height = 240;
  int fps = 25;
  int gop = 25;          // key-frame interval in frames
  bool bframes = false;  // H.264 with B-frames (needs composition offsets)
  int sampleRate = 48000;
  int channels = 1;
  bool faststart = false;    // movie atom before the media data
  std::string creationTime;  // "YYYY-MM-DD hh:mm:ss" (UTC) or empty
  std::string extraArgs;     // appended to the ffmpeg output options
};

// Folder of generated media (created on demand).
std::string TestMediaDir();
// A MOV file made as `media` describes; `name` is a readable prefix of the file name.
std::string GenerateMovie(const std::string &name, const TMediaRecipe &media);

// A trip of consecutive clips: clip i lasts durations[i] seconds and starts
// where clip i-1 ended, the first at `start` ("YYYY-MM-DD hh:mm:ss", UTC).
// Each clip carries its creation time; its modification time is its end
// (as recorders write them). Returns the paths in order.
std::vector<std::string> GenerateTrip(const std::string &name, const std::vector<double> &durations,
                                      const std::string &start, TMediaRecipe media);

// Runs a shell command; returns its exit status and, when asked, its
// standard output (stderr is captured into `errors` when given).
int RunCommand(const std::string &command, std::string *output = nullptr,
               std::string *errors = nullptr);
std::string ShellQuote(const std::string &s);

struct TProbeStream {
  std::string type;      // "video", "audio", ...
  std::string codec;     // ffprobe codec_name ("h264", "pcm_s16le", ...)
  std::string tag;       // codec_tag_string ("avc1", "sowt", ...)
  double duration = -1;  // seconds, -1 when unknown
  int64_t frames = -1;   // nb_frames, -1 when unknown
};
// The streams of a file as ffprobe sees them (empty when it cannot read it).
std::vector<TProbeStream> ProbeStreams(const std::string &path);
// Packets of a stream counted by demuxing the whole file (ffprobe
// -count_packets); -1 when ffprobe fails.
int64_t CountPackets(const std::string &path, int streamIndex);
// Decodes the whole file with ffmpeg; true when ffmpeg reports no error.
bool DecodesCleanly(const std::string &path, std::string *errors = nullptr);

// A fresh empty folder under the build tree for one test's output.
std::string MakeTempDir(const std::string &name);
// The whole file's bytes (empty when it cannot be read).
std::string ReadFileBytes(const std::string &path);

// ISO ".mp4" files (file type "isom") as recorders made since about 2018
// write them; otherwise as GenerateMovie and GenerateTrip.
std::string GenerateMp4(const std::string &name, const TMediaRecipe &media);
std::vector<std::string> GenerateMp4Trip(const std::string &name,
                                         const std::vector<double> &durations,
                                         const std::string &start, TMediaRecipe media);
// TMediaRecipe::extraArgs for H.265 (libx265) with a key frame every `gop`
// frames, with or without B-frames, under the sample entry `tag` ("hvc1"
// or "hev1").
std::string HevcArgs(int gop, bool bframes, const std::string &tag);
// The start time (seconds) of each stream as ffprobe gives it (empty when
// it cannot read the file; -1 for a stream without one).
std::vector<double> StreamStartTimes(const std::string &path);

}  // namespace tachora::test

namespace tachora::test {

// Frame `index` of a file decoded by ffmpeg as packed RGB (3 bytes a pixel,
// width x height); empty when ffmpeg fails.
std::vector<uint8_t> DecodeFrameRgb(const std::string &path, int index, int width, int height);

// A copy of `source` whose sound track's sample description says "zzzz", a
// codec nobody decodes (the picture track is untouched). `source` must have
// a "sowt" (pcm_s16le) sound track.
std::string MakeUnknownSoundCodec(const std::string &name, const std::string &source);

}  // namespace tachora::test
