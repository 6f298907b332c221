// Rendering ffmpeg-made front and rear recordings: every output is probed by
// ffprobe and decoded by ffmpeg; the overlay is checked on decoded pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestMedia.h"
#include "render/UnitRender.h"
#include "render/UnitRenderOverlay.h"
#include "render/UnitRenderTrip.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

// 320x240 at 25 fps with sound; the rear smaller, at 15 fps, silent and
// a second shorter, as a cheap second camera is.
std::string Front() {
  TMediaRecipe m;
  m.audio = "aac";
  m.seconds = 4;
  return GenerateMp4("render_front", m);
}
std::string Rear() {
  TMediaRecipe m;
  m.audio = "none";
  m.seconds = 3;
  m.width = 176;
  m.height = 144;
  m.fps = 15;
  m.gop = 15;
  return GenerateMp4("render_rear", m);
}

TRenderTrip OnePair(const std::string &rear) {
  TRenderTrip trip;
  TRenderRecording rec;
  rec.Main = {Front(), "F"};
  rec.Channels = {{rear, "R"}};
  rec.StartDate = EncodeDateTime({2024, 6, 12, 9, 30, 0, 0});
  trip.Recordings.push_back(rec);
  return trip;
}

TRenderOptions Options(const std::string &out, double from, double to) {
  TRenderOptions o;
  o.Output = out;
  o.From = from;
  o.To = to;
  o.Preset = "ultrafast";
  return o;
}

struct TProbed {
  int width = 0, height = 0;
  std::string codecs;
  double duration = -1;
};

TProbed Probe(const std::string &path) {
  std::string out;
  RunCommand(
      "ffprobe -v error -show_entries stream=codec_name,width,height:format=duration -of "
      "default=nw=1 " +
          ShellQuote(path),
      &out);
  TProbed p;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "codec_name") p.codecs += (p.codecs.empty() ? "" : "+") + value;
    if (key == "width") p.width = std::stoi(value);
    if (key == "height") p.height = std::stoi(value);
    if (key == "duration") p.duration = std::stod(value);
  }
  return p;
}

bool HasNote(const TRenderResult &r, TRenderNoteKind kind) {
  for (const TRenderNote &n : r.Notes)
    if (n.Kind == kind) return true;
  return false;
}

// Mean absolute difference of two RGB frames over a rectangle.
double RegionDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int width,
                        int x0, int y0, int w, int h) {
  double sum = 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3 + c;
        sum += std::abs(a[i] - b[i]);
      }
  return sum / (w * h * 3);
}

}  // namespace

// Each layout gives a clean H.264 + AAC movie of the range's length and
// the layout's size; the rear, shorter than the range, is noted.
TEST(Render, LayoutsDecodeCleanlyWithTheirSize) {
  const std::string dir = MakeTempDir("render_layouts");
  struct TCase {
    TRenderLayout layout;
    int width, height;
  } cases[] = {
      {TRenderLayout::PictureInPicture, 320, 240},
      {TRenderLayout::SideBySide, 320 + 292, 240},  // 176x144 scaled to 240 lines
      {TRenderLayout::MainOnly, 320, 240},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(LayoutName(c.layout));
    const std::string out = dir + "/" + LayoutName(c.layout) + ".mp4";
    TRenderOptions o = Options(out, 0.5, 3.5);
    o.Layout = c.layout;
    const TRenderResult r = RenderTrip(OnePair(Rear()), o, {});
    ASSERT_TRUE(r.Written) << RenderErrorText(r);
    EXPECT_EQ(r.Frames, 75);
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
    const TProbed p = Probe(out);
    EXPECT_EQ(p.codecs, "h264+aac");
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_NEAR(p.duration, 3.0, 0.05);
    EXPECT_EQ(HasNote(r, TRenderNoteKind::ChannelShorter), c.layout != TRenderLayout::MainOnly);
  }
}

// A rear claiming a picture 250 times wider than high is laid out as 4:1,
// not allocated at its own shape.
TEST(Render, AbsurdShapeIsBounded) {
  const std::string dir = MakeTempDir("render_shape");
  TMediaRecipe m;
  m.audio = "none";
  m.seconds = 1;
  m.width = 4000;
  m.height = 16;
  TRenderOptions o = Options(dir + "/wide.mp4", 0, 1);
  o.Layout = TRenderLayout::SideBySide;
  const TRenderResult r = RenderTrip(OnePair(GenerateMp4("render_wide", m)), o, {});
  ASSERT_TRUE(r.Written) << RenderErrorText(r);
  EXPECT_EQ(r.Width, 320 + 4 * 240);
  EXPECT_EQ(r.Height, 240);
  EXPECT_TRUE(DecodesCleanly(o.Output));
}

// The overlay changes the picture's bottom left and nothing else; a
// picture-in-picture inset changes its corner.
TEST(Render, OverlayAndInsetAreDrawn) {
  const std::string dir = MakeTempDir("render_overlay");
  auto render = [&](const std::string &name, TRenderLayout layout, bool overlay) {
    TRenderOptions o = Options(dir + "/" + name, 0, 2);
    o.Layout = layout;
    if (!overlay) o.Overlay = {false, false, false, false};
    EXPECT_TRUE(RenderTrip(OnePair(Rear()), o, {}).Written);
    return DecodeFrameRgb(o.Output, 25, 320, 240);
  };
  const auto bare = render("bare.mp4", TRenderLayout::MainOnly, false);
  const auto drawn = render("overlay.mp4", TRenderLayout::MainOnly, true);
  const auto inset = render("inset.mp4", TRenderLayout::PictureInPicture, false);
  ASSERT_EQ(bare.size(), 320u * 240 * 3);
  ASSERT_EQ(drawn.size(), bare.size());
  ASSERT_EQ(inset.size(), bare.size());
  // The box with four lines of 7-dot text at scale 1 sits above the bottom edge.
  EXPECT_GT(RegionDifference(bare, drawn, 320, 8, 200, 60, 30), 20);
  EXPECT_LT(RegionDifference(bare, drawn, 320, 160, 10, 150, 100), 3);
  EXPECT_GT(RegionDifference(bare, inset, 320, 240, 10, 60, 40), 20);
  EXPECT_LT(RegionDifference(bare, inset, 320, 10, 120, 150, 100), 3);
}

// A missing rear is black with a note, a silent front gives a silent movie;
// a cancelled render and one refused for an existing file leave the folder
// as it was.
TEST(Render, BadRearCancelAndExistingOutput) {
  const std::string dir = MakeTempDir("render_bad");
  TRenderOptions o = Options(dir + "/missing.mp4", 0, 1);
  const TRenderResult missing = RenderTrip(OnePair(dir + "/no_such_R.MP4"), o, {});
  ASSERT_TRUE(missing.Written) << RenderErrorText(missing);
  EXPECT_TRUE(HasNote(missing, TRenderNoteKind::ChannelMissing));
  EXPECT_TRUE(DecodesCleanly(o.Output));

  // A silent front gives a movie without a sound track.
  TRenderTrip silent = OnePair(Front());
  silent.Recordings[0].Main.Path = Rear();
  o.Output = dir + "/silent.mp4";
  const TRenderResult quiet = RenderTrip(silent, o, {});
  ASSERT_TRUE(quiet.Written) << RenderErrorText(quiet);
  EXPECT_FALSE(quiet.HasSound);
  const auto streams = ProbeStreams(o.Output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].codec, "h264");

  o.Output = dir + "/cancelled.mp4";
  const TRenderResult cancelled =
      RenderTrip(OnePair(Rear()), o, [](const TRenderProgress &) { return false; });
  EXPECT_FALSE(cancelled.Written);
  EXPECT_TRUE(cancelled.Cancelled);
  EXPECT_EQ(cancelled.Error, TRenderError::Cancelled);

  { std::ofstream(dir + "/taken.mp4") << "mine"; }
  o.Output = dir + "/taken.mp4";
  const TRenderResult refused = RenderTrip(OnePair(Rear()), o, {});
  EXPECT_EQ(refused.Error, TRenderError::WouldReplace);
  o.Output = Front();
  EXPECT_EQ(RenderTrip(OnePair(Rear()), o, {}).Error, TRenderError::ReplacesSource);

  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"missing.mp4", "silent.mp4", "taken.mp4"}));
  std::ifstream taken(dir + "/taken.mp4");
  std::string text;
  taken >> text;
  EXPECT_EQ(text, "mine");
}

// Two recordings with a gap between them: the output runs on across the
// joint without the gap, sound as long as the picture.
TEST(Render, TripAcrossAGapIsContinuous) {
  const std::string dir = MakeTempDir("render_trip");
  TRenderTrip trip = OnePair(Rear());
  TRenderRecording second = trip.Recordings[0];
  second.Start = 10;  // 6 s after the first ends
  second.Channels.clear();
  trip.Recordings.push_back(second);
  const TRenderOptions o = Options(dir + "/trip.mp4", 2, 12);
  const TRenderResult r = RenderTrip(trip, o, {});
  ASSERT_TRUE(r.Written) << RenderErrorText(r);
  EXPECT_EQ(r.Frames, 100);  // 2..4 of the first, 0..2 of the second
  std::string errors;
  EXPECT_TRUE(DecodesCleanly(o.Output, &errors)) << errors;
  for (const TProbeStream &s : ProbeStreams(o.Output)) EXPECT_NEAR(s.duration, 4.0, 0.07) << s.type;
}

// The overlay's values between two fixes and its texts in both units.
TEST(Render, OverlayValuesAndTexts) {
  TMovingInfo mi;
  const TDateTime t0 = EncodeDateTime({2024, 6, 12, 9, 30, 0, 0});
  const double s = 1.0 / 86400;
  mi.GpsPoints = {{t0, 37.61, 55.75, 0, 0, 50, 0, 0},
                  {t0 + 1 * s, 37.62, 55.76, 0, 0, 60, 0, 1},
                  {t0 + 20 * s, -70.5, -33.4, 0, 0, 10, 0, 2}};
  TGsensorPoint g;
  g.Time = t0 + 0.5 * s;
  g.X = 0.25f;
  g.Y = -0.001f;
  g.Z = 1;
  mi.GsensorPoints = {g};
  const TTelemetryTimeline line(&mi);
  const TRenderOverlay all;
  struct TCase {
    double at;  // seconds after t0
    TUnits units;
    std::vector<std::string> lines;
  } cases[] = {
      {0.5,
       TUnits::Metric,
       {"2024-06-12 09:30:00", "55 km/h", "55.75500\xC2\xB0 N  37.61500\xC2\xB0 E",
        "G X+0.25 Y+0.00 Z+1.00"}},
      {0.5,
       TUnits::Imperial,
       {"2024-06-12 09:30:00", "34 mph", "55.75500\xC2\xB0 N  37.61500\xC2\xB0 E",
        "G X+0.25 Y+0.00 Z+1.00"}},
      // 18 s from either fix: nothing known, no joining across the gap.
      {12, TUnits::Metric, {"2024-06-12 09:30:12", "-- km/h", "-- N  -- E", "G --"}},
      {20,
       TUnits::Metric,
       {"2024-06-12 09:30:20", "10 km/h", "33.40000\xC2\xB0 S  70.50000\xC2\xB0 W", "G --"}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.at);
    EXPECT_EQ(OverlayLines(line.At(t0 + c.at * s), all, c.units), c.lines);
  }
  TRenderOverlay some{false, true, false, false};
  EXPECT_EQ(OverlayLines(line.At(t0), some, TUnits::Metric), std::vector<std::string>{"50 km/h"});
  EXPECT_TRUE(ParseOverlay("speed, gsensor", some));
  EXPECT_EQ(OverlayText(some), "speed,gsensor");
  EXPECT_FALSE(ParseOverlay("speed,altitude", some));
}

// A catalogue row as a render trip: places on the row's time line in
// seconds (gaps kept), the channel files with their labels, the telemetry;
// a recording of unknown start follows the one before it.
TEST(Render, RowBecomesTrip) {
  const TDateTime t0 = EncodeDateTime({2024, 6, 12, 9, 30, 0, 0});
  const double s = 1.0 / 86400;
  TFileItem row;
  row.Summary.Start = t0;
  row.Summary.End = t0 + 190 * s;
  TFileItemSubitem a;
  a.Path = "/card/20240612_093000_F.MP4";
  a.Channel = "F";
  a.Start = t0;
  a.End = t0 + 60 * s;
  a.Duration = 60000;
  a.Channels = {{"/card/20240612_093000_R.MP4", "R"}};
  TFileItemSubitem b = a;
  b.Path = "/card/20240612_093130_F.MP4";
  b.Start = t0 + 90 * s;
  b.End = t0 + 150 * s;
  b.Channels.clear();
  TFileItemSubitem c = b;
  c.Path = "/card/c.MP4";
  c.Start = c.End = 0;
  c.Duration = 40000;
  row.Items = {a, b, c};
  std::vector<std::unique_ptr<TMovingInfo>> tracks;
  tracks.push_back(std::make_unique<TMovingInfo>());

  const TRenderTrip trip = MakeRenderTrip(row, tracks);
  ASSERT_EQ(trip.Recordings.size(), 3u);
  EXPECT_EQ(trip.Recordings[0].Main.Path, a.Path);
  EXPECT_EQ(trip.Recordings[0].Main.Label, "F");
  ASSERT_EQ(trip.Recordings[0].Channels.size(), 1u);
  EXPECT_EQ(trip.Recordings[0].Channels[0].Path, "/card/20240612_093000_R.MP4");
  EXPECT_EQ(trip.Recordings[0].Channels[0].Label, "R");
  EXPECT_EQ(trip.Recordings[0].Telemetry, tracks[0].get());
  EXPECT_EQ(trip.Recordings[1].Telemetry, nullptr);
  const double starts[] = {0, 90, 150}, durations[] = {60, 60, 40};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(trip.Recordings[i].Start, starts[i], 1e-3);
    EXPECT_NEAR(trip.Recordings[i].Duration, durations[i], 1e-3);
  }
  EXPECT_DOUBLE_EQ(trip.Recordings[1].StartDate, b.Start);
  EXPECT_NEAR(TripSeconds(row), 190, 1e-3);
}
