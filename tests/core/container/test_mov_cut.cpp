// Cutting fragments out of ffmpeg-made recordings; every cut file is read
// back by our reader, probed by ffprobe and decoded by ffmpeg.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "TestMedia.h"
#include "container/UnitCutter.h"
#include "container/UnitMOV.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

// A trip timed by the recordings' container durations laid end to end.
TCutTrip MakeTrip(const std::vector<std::string> &paths) {
  TCutTrip trip;
  trip.caption = "trip";
  std::vector<int64_t> d;
  int64_t total = 0;
  for (const auto &p : paths) {
    TMOVReader r(p, true);
    d.push_back(r.DurationMs());
    total += r.DurationMs();
  }
  int64_t at = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    TCutRecording rec;
    rec.path = paths[i];
    rec.start = static_cast<long double>(at) / total;
    at += d[i];
    rec.end = static_cast<long double>(at) / total;
    trip.recordings.push_back(rec);
  }
  return trip;
}

TCutResult Cut(const std::vector<std::string> &paths, long double a, long double b,
               const std::string &out, TCutOptions o = {}, const TCutProgressFn &progress = {}) {
  o.a = a;
  o.b = b;
  o.output = out;
  return CutFragment(MakeTrip(paths), o, nullptr, progress);
}

std::string WholeFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Output samples of `track` must be the source samples listed, in order,
// byte for byte, each at its source's offset within a block.
void ExpectSameSamples(
    const std::string &out, const TMOVTrack &track,
    const std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> &parts,
    int sourceTrack) {
  const std::string outBytes = WholeFile(out);
  uint32_t o = 0;
  for (const auto &[path, range] : parts) {
    TMOVReader src(path, false);
    const std::string srcBytes = WholeFile(path);
    const TMOVTrack &st = src.Tracks()[sourceTrack];
    for (uint32_t k = range.first; k <= range.second; ++k, ++o) {
      ASSERT_LT(o, track.SampleCount());
      const TMOVSample a = track.Sample(o), b = st.Sample(k);
      ASSERT_EQ(a.size, b.size) << "sample " << o;
      ASSERT_EQ(a.key, b.key) << "sample " << o;
      ASSERT_EQ(a.duration, b.duration) << "sample " << o;
      // At the source's offset within a block (of at least 4 KiB), so
      // that a file system can share the blocks.
      ASSERT_EQ(a.offset % 4096, b.offset % 4096) << "sample " << o;
      ASSERT_LE(a.offset + a.size, static_cast<int64_t>(outBytes.size()));
      ASSERT_EQ(outBytes.compare(a.offset, a.size, srcBytes, b.offset, b.size), 0) << o;
    }
  }
  EXPECT_EQ(o, track.SampleCount());
}

void ExpectPlayable(const std::string &path, size_t streams) {
  const auto probe = ProbeStreams(path);
  EXPECT_EQ(probe.size(), streams) << path;
  std::string errors;
  EXPECT_TRUE(DecodesCleanly(path, &errors)) << path << ": " << errors;
}

TMediaRecipe Media(const std::string &video, const std::string &audio, double seconds = 4) {
  TMediaRecipe s;
  s.video = video;
  s.audio = audio;
  s.seconds = seconds;
  return s;
}

}  // namespace

// A 4 s clip, key frames every second; A-B = 1.2 s - 2.8 s starts the copy
// of every track at the key frame of 1.0 s.
TEST(MOVCut, InsideOneClipStartsAtEarlierKeyFrame) {
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  const std::string dir = MakeTempDir("cut-inside");
  const std::string out = dir + "/inside.mov";
  const TCutResult res = Cut({src}, 0.3L, 0.7L, out);
  ASSERT_TRUE(res.written) << CutErrorText(res);
  EXPECT_FALSE(res.cancelled);
  EXPECT_FALSE(fs::exists(out + ".part"));

  const TMOVReader r(out, false);
  ASSERT_TRUE(r.HasMovie());
  ASSERT_EQ(r.Tracks().size(), 2u);
  const TMOVTrack &v = r.Tracks()[0];
  const TMOVTrack &a = r.Tracks()[1];
  EXPECT_EQ(v.SampleCount(), 46u);  // frames 25 .. 70
  EXPECT_TRUE(v.Sample(0).key);
  EXPECT_EQ(v.BuiltChunkCount(), v.SampleCount());  // one frame per chunk
  EXPECT_EQ(a.SampleCount(), 134400u - 48000u + 1);
  EXPECT_EQ(a.codec, "SOWT");
  EXPECT_TRUE(a.constantSize);
  // PCM goes in chunks of many samples: about one per video frame.
  EXPECT_LT(a.BuiltChunkCount(), 100u);
  EXPECT_EQ(r.DurationMs(), 1840);
  ExpectSameSamples(out, v, {{src, {25, 70}}}, 0);
  ExpectSameSamples(out, a, {{src, {48000, 134400}}}, 1);

  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_EQ(probe[0].frames, 46);
  EXPECT_EQ(probe[1].tag, "sowt");
  EXPECT_NEAR(probe[1].duration, 1.8, 0.01);
  EXPECT_EQ(CountPackets(out, 0), 46);
  std::string errors;
  EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
}

// Two 3 s clips, A-B = 1.5 s - 4.5 s of the trip: one file with clip 1
// from its key frame at 1 s to its end, then clip 2 from 0 to 1.5 s.
TEST(MOVCut, SelectionSpanningTwoClips) {
  const auto trip =
      GenerateTrip("trip2", {3, 3}, "2026-05-01 12:30:00", Media("h264", "pcm_s16le"));
  const std::string out = MakeTempDir("cut-span") + "/span.mov";
  const TCutResult res = Cut(trip, 0.25L, 0.75L, out);
  ASSERT_TRUE(res.written) << CutErrorText(res);
  const TMOVReader r(out, false);
  ASSERT_EQ(r.Tracks().size(), 2u);
  const TMOVTrack &v = r.Tracks()[0];
  EXPECT_EQ(v.SampleCount(), 50u + 38u);
  EXPECT_EQ(v.BuiltChunkCount(), v.SampleCount());
  EXPECT_EQ(v.KeySamples(), (std::vector<uint32_t>{0, 25, 50, 75}));
  ExpectSameSamples(out, v, {{trip[0], {25, 74}}, {trip[1], {0, 37}}}, 0);
  ExpectSameSamples(out, r.Tracks()[1], {{trip[0], {48000, 143999}}, {trip[1], {0, 72000}}}, 1);
  // Decode times run on without a gap across the two clips.
  EXPECT_EQ(v.Sample(50).time, 50 * 512);
  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_EQ(probe[0].frames, 88);
  EXPECT_NEAR(probe[0].duration, 88 / 25.0, 0.01);
  ExpectPlayable(out, 2);
}

// Recordings with different video time scales: the second one's durations
// are converted to the first one's scale.
TEST(MOVCut, DifferentTimeScales) {
  TMediaRecipe a = Media("h264", "pcm_s16le", 2);
  TMediaRecipe b = a;
  b.extraArgs = "-video_track_timescale 90000";
  const std::string first = GenerateMovie("scale-12800", a);
  const std::string second = GenerateMovie("scale-90000", b);
  ASSERT_EQ(TMOVReader(second, true).Tracks()[0].timeScale, 90000);
  const std::string out = MakeTempDir("cut-scales") + "/scales.mov";
  ASSERT_TRUE(Cut({first, second}, 0, 1, out).written);
  const TMOVReader r(out, false);
  const TMOVTrack &v = r.Tracks()[0];
  EXPECT_EQ(v.timeScale, 12800);
  EXPECT_EQ(v.SampleCount(), 100u);
  EXPECT_EQ(v.duration, 100 * 512);
  EXPECT_EQ(v.Sample(99).time, 99 * 512);
  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_NEAR(probe[0].duration, 4.0, 0.01);
  EXPECT_NEAR(probe[1].duration, 4.0, 0.01);
  ExpectPlayable(out, 2);
}

// AAC sound runs a fraction of a frame longer than the picture in each
// clip; at the joint the last frame is held so that the second clip's sound
// and picture start together instead of drifting apart clip by clip.
TEST(MOVCut, TracksStartTogetherAtEachJoint) {
  const auto trip =
      GenerateTrip("trip-aac", {2, 2, 2}, "2026-05-01 12:30:00", Media("h264", "aac"));
  const std::string out = MakeTempDir("cut-joint") + "/joint.mov";
  ASSERT_TRUE(Cut(trip, 0, 1, out).written);
  const TMOVReader r(out, false);
  ASSERT_EQ(r.Tracks().size(), 2u);
  const TMOVTrack &v = r.Tracks()[0], &a = r.Tracks()[1];
  uint32_t videoAt = 0, audioAt = 0;
  for (const std::string &clip : trip) {
    SCOPED_TRACE(clip);
    const TMOVReader src(clip, false);
    ASSERT_LT(videoAt, v.SampleCount());
    ASSERT_LT(audioAt, a.SampleCount());
    const double vt = double(v.Sample(videoAt).time) / v.timeScale;
    const double at = double(a.Sample(audioAt).time) / a.timeScale;
    EXPECT_NEAR(vt, at, 0.002);
    videoAt += src.Tracks()[0].SampleCount();
    audioAt += src.Tracks()[1].SampleCount();
  }
  EXPECT_EQ(videoAt, v.SampleCount());
  EXPECT_EQ(audioAt, a.SampleCount());
  ExpectPlayable(out, 2);
}

// A trip whose picture size changes for one recording: its frames would
// not decode with the first one's description, so its video is left out
// (and said so) and the last frame before it is held while its sound, in
// the same format, plays; the next recording's picture comes in step.
TEST(MOVCut, RecordingInAnotherFormat) {
  TMediaRecipe big = Media("h264", "pcm_s16le", 2);
  big.width = 640;
  big.height = 480;
  const std::string first = GenerateMovie("scale-12800", Media("h264", "pcm_s16le", 2));
  const std::string second = GenerateMovie("h264-640", big);
  const std::string out = MakeTempDir("cut-format") + "/format.mov";
  const TCutResult res = Cut({first, second, first}, 0, 1, out);
  ASSERT_TRUE(res.written) << CutErrorText(res);
  ASSERT_EQ(res.notes.size(), 1u);
  EXPECT_EQ(res.notes[0].kind, TCutNoteKind::VideoLeftOut);
  EXPECT_EQ(res.notes[0].path, second);
  const TMOVReader r(out, false);
  ASSERT_EQ(r.Tracks().size(), 2u);
  const TMOVTrack &v = r.Tracks()[0];
  ASSERT_EQ(v.SampleCount(), 100u);
  EXPECT_EQ(v.width, 320);
  EXPECT_EQ(v.Sample(50).time, 4 * 12800);  // the third clip at 4 s
  EXPECT_EQ(r.Tracks()[1].SampleCount(), 3u * 96000u);
  ExpectPlayable(out, 2);
}

TEST(MOVCut, TrackChoices) {
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  const std::string dir = MakeTempDir("cut-choices");
  TCutOptions noAudio;
  noAudio.audio = false;
  ASSERT_TRUE(Cut({src}, 0.1L, 0.9L, dir + "/video.mov", noAudio).written);
  const TMOVReader rv(dir + "/video.mov", false);
  ASSERT_EQ(rv.Tracks().size(), 1u);
  EXPECT_EQ(rv.Tracks()[0].kind, kKindVideo);
  ExpectPlayable(dir + "/video.mov", 1);
  // Each picture keeps its source offset within a block; where the sound
  // lay between them there are zeros, never the sound itself.
  ExpectSameSamples(dir + "/video.mov", rv.Tracks()[0],
                    {{src, {0, rv.Tracks()[0].SampleCount() - 1}}}, 0);
  const TMOVReader in(src, false);
  const std::string sound = WholeFile(src).substr(in.Tracks()[1].Sample(96000).offset, 512);
  EXPECT_EQ(WholeFile(dir + "/video.mov").find(sound), std::string::npos);

  TCutOptions noVideo;
  noVideo.video = false;
  ASSERT_TRUE(Cut({src}, 0.1L, 0.9L, dir + "/audio.mov", noVideo).written);
  const TMOVReader ra(dir + "/audio.mov", false);
  ASSERT_EQ(ra.Tracks().size(), 1u);
  EXPECT_EQ(ra.Tracks()[0].kind, kKindAudio);
  ExpectPlayable(dir + "/audio.mov", 1);
}

// Other codecs and layouts: each cut plays and keeps its codec.
TEST(MOVCut, CodecsAndLayouts) {
  struct TCase {
    std::string name;
    TMediaRecipe media;
    std::string audioTag;
  };
  TMediaRecipe aac = Media("h264", "aac");
  TMediaRecipe mjpeg = Media("mjpeg", "pcm_s16be");
  TMediaRecipe fast = Media("h264", "pcm_s16le");
  fast.faststart = true;
  TMediaRecipe bframes = Media("h264", "aac");
  bframes.bframes = true;
  TMediaRecipe stereo = Media("h264", "pcm_s16le");
  stereo.channels = 2;
  const std::vector<TCase> cases = {{"h264-aac", aac, "mp4a"},
                                    {"mjpeg-twos", mjpeg, "twos"},
                                    {"h264-faststart", fast, "sowt"},
                                    {"h264-bframes", bframes, "mp4a"},
                                    {"h264-stereo", stereo, "sowt"}};
  const std::string dir = MakeTempDir("cut-codecs");
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string src = GenerateMovie(c.name, c.media);
    const TMOVReader in(src, false);
    ASSERT_TRUE(in.HasMovie());
    const std::string out = dir + "/" + c.name + ".mov";
    const TCutResult res = Cut({src}, 0.3L, 0.8L, out);
    ASSERT_TRUE(res.written) << CutErrorText(res);
    const auto probe = ProbeStreams(out);
    ASSERT_EQ(probe.size(), 2u);
    EXPECT_EQ(probe[1].tag, c.audioTag);
    const int64_t frames = CountPackets(out, 0);
    // 0.3 * 4 s = 1.2 s goes back to the key frame of 1 s; MJPEG has key
    // frames only and starts at 1.2 s. The end is 3.2 s.
    EXPECT_EQ(frames, c.media.video == "mjpeg" ? 51 : 56);
    EXPECT_EQ(probe[0].frames, frames);
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
    if (c.media.bframes) {
      const TMOVReader r(out, false);
      EXPECT_FALSE(r.Tracks()[0].compositionOffsets.empty());
    }
  }
}

// Cancelling leaves nothing under the chosen name (an existing file stays
// as it was), unless the caller asks to keep what was copied: then the
// movie is finished as a playable file of those seconds.
TEST(MOVCut, Cancel) {
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  const std::string dir = MakeTempDir("cut-cancel");
  const std::string out = dir + "/cancel.mov";
  std::ofstream(out) << "older";
  int calls = 0;
  double lastSeconds = 0;
  auto stopSoon = [&](const TCutProgress &p) {
    if (p.stage != TCutStage::Copying) return true;
    lastSeconds = p.outputSeconds;
    return ++calls < 4;
  };
  TCutResult res = Cut({src}, 0, 1, out, {}, stopSoon);
  EXPECT_FALSE(res.written);
  EXPECT_TRUE(res.cancelled);
  EXPECT_EQ(res.error, TCutError::Cancelled);
  EXPECT_EQ(WholeFile(out), "older");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  TCutOptions keep;
  keep.keepOnCancel = true;
  calls = 0;
  res = Cut({src}, 0, 1, out, keep, stopSoon);
  ASSERT_TRUE(res.written) << CutErrorText(res);
  EXPECT_TRUE(res.cancelled);
  EXPECT_GT(lastSeconds, 0.5);
  const TMOVReader r(out, false);
  ASSERT_EQ(r.Tracks().size(), 2u);
  const uint32_t frames = r.Tracks()[0].SampleCount();
  EXPECT_GT(frames, 16u);
  EXPECT_LT(frames, 100u);
  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_EQ(probe[0].frames, frames);
  ExpectPlayable(out, 2);
}

// With a small media-data limit the output holds several mdat atoms and,
// once it is larger than the limit, 64-bit chunk offsets.
TEST(MOVCut, SecondMediaDataAndWideOffsets) {
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  const std::string out = MakeTempDir("cut-limit") + "/limit.mov";
  TCutOptions o;
  o.mediaDataLimit = 200000;
  ASSERT_TRUE(Cut({src}, 0, 1, out, o).written);
  // Walk the top level: ftyp, mdat..., moov.
  std::ifstream f(out, std::ios::binary);
  std::vector<std::string> types;
  int64_t pos = 0, size = static_cast<int64_t>(fs::file_size(out));
  while (pos + 8 <= size) {
    unsigned char h[8];
    f.seekg(pos);
    f.read(reinterpret_cast<char *>(h), 8);
    uint32_t s = uint32_t(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3];
    types.emplace_back(reinterpret_cast<char *>(h + 4), 4);
    EXPECT_LE(s, 200000u + 8 + 1024 * 1024);
    if (s < 8) break;
    pos += s;
  }
  EXPECT_EQ(pos, size);
  ASSERT_GE(types.size(), 4u);
  EXPECT_EQ(types.front(), "ftyp");
  EXPECT_EQ(types.back(), "moov");
  EXPECT_GE(std::count(types.begin(), types.end(), "mdat"), 2);
  std::ifstream whole(out, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("co64"), std::string::npos);
  EXPECT_EQ(all.find("stco"), std::string::npos);
  const TMOVReader r(out, false);
  EXPECT_EQ(r.Tracks()[0].SampleCount(), 100u);
  ExpectPlayable(out, 2);
}

TEST(MOVCut, NothingReadableWritesNothing) {
  const std::string dir = MakeTempDir("cut-none");
  const std::string bad = dir + "/bad.mov";
  std::ofstream(bad) << "not a movie at all";
  const std::string out = dir + "/out.mov";
  TCutTrip trip;
  TCutRecording rec;
  rec.path = bad;
  trip.recordings = {rec};
  TCutOptions o;
  o.a = 0.1L;
  o.b = 0.5L;
  o.output = out;
  const TCutResult res = CutFragment(trip, o, nullptr, {});
  EXPECT_FALSE(res.written);
  EXPECT_EQ(res.error, TCutError::NothingReadable);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out + ".part"));
  // B not after A.
  o.b = 0.1L;
  EXPECT_EQ(CutFragment(trip, o, nullptr, {}).error, TCutError::EmptySelection);
}

namespace {
struct TFakeMeta : TCutMetaSource {
  std::vector<std::pair<long double, long double>> calls;
  std::string MetaText(const TCutRecording &rec, long double from, long double to) override {
    calls.emplace_back(from, to);
    return "[G]" + fs::path(rec.path).filename().string() + "\r\n";
  }
};
}  // namespace

TEST(MOVCut, MetaFileAndTimes) {
  const auto trip =
      GenerateTrip("trip2", {3, 3}, "2026-05-01 12:30:00", Media("h264", "pcm_s16le"));
  const std::string out = MakeTempDir("cut-meta") + "/meta.mov";
  TCutTrip t = MakeTrip(trip);
  for (auto &r : t.recordings) {
    r.hasTelemetry = true;
    r.telemetryStart = r.start;
    r.telemetryEnd = r.end;
  }
  TCutOptions o;
  o.a = 0.25L;
  o.b = 0.75L;
  o.output = out;
  ASSERT_TRUE(ParseDateTime("2026-05-01 12:30:01", o.startDate));
  ASSERT_TRUE(ParseDateTime("2026-05-01 12:30:04", o.endDate));
  TFakeMeta meta;
  const TCutResult res = CutFragment(t, o, &meta, {});
  ASSERT_TRUE(res.written);
  EXPECT_EQ(res.metaPath, MetaFileName(out));
  ASSERT_EQ(meta.calls.size(), 2u);
  EXPECT_NEAR(static_cast<double>(meta.calls[0].first), 0.5, 1e-9);
  EXPECT_NEAR(static_cast<double>(meta.calls[0].second), 1, 1e-9);
  EXPECT_NEAR(static_cast<double>(meta.calls[1].second), 0.5, 1e-9);
  std::ifstream f(res.metaPath, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[G]" + fs::path(trip[0]).filename().string() + "\r\n[B]\r\n[G]" +
                      fs::path(trip[1]).filename().string() + "\r\n");
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, TimespecFromDateTime(o.endDate).tv_sec);
  // Without the meta box no .dat is written.
  TCutOptions noMeta = o;
  noMeta.meta = false;
  noMeta.output = MakeTempDir("cut-nometa") + "/x.mov";
  EXPECT_TRUE(CutFragment(t, noMeta, &meta, {}).metaPath.empty());
  EXPECT_FALSE(fs::exists(MetaFileName(noMeta.output)));
}

TEST(MOVCut, Names) {
  TDateTime a = 0, b = 0;
  ASSERT_TRUE(ParseDateTime("2026-05-01 12:30:00", a));
  ASSERT_TRUE(ParseDateTime("2026-05-01 12:31:00", b));
  EXPECT_EQ(DefaultFragmentName("X", a, b, "/home/u/Videos"),
            "/home/u/Videos/Fragment of X (12-30-00 - 12-31-00).mov");
  EXPECT_EQ(DefaultFragmentName("a:b*c?\"d|<e>/f", a, b, "/v/"),
            "/v/Fragment of a-b_c__d__e__f (12-30-00 - 12-31-00).mov");
  EXPECT_EQ(MetaFileName("/a.b/c.mov"), "/a.b/c.dat");
  EXPECT_EQ(MetaFileName("/a.b/c"), "/a.b/c.dat");
  // Never the movie itself.
  EXPECT_EQ(MetaFileName("/v/c.dat"), "/v/c.dat.dat");
  EXPECT_EQ(MetaFileName("/v/c.DAT"), "/v/c.DAT.dat");
}

// A recording that shrinks while it is copied: the copy reports it, and the
// file written so far keeps the layout its tables describe.
TEST(MOVCut, SourceShrinksDuringCopy) {
  TMediaRecipe media = Media("h264", "pcm_s16le");
  media.faststart = true;
  const std::string dir = MakeTempDir("cut-shrink");
  const std::string src = dir + "/src.mov";
  fs::copy_file(GenerateMovie("h264-faststart", media), src);
  const TMOVReader r(src, false);
  ASSERT_TRUE(r.HasMovie());
  fs::resize_file(src, fs::file_size(src) / 2);
  const std::string out = dir + "/out.mov";
  {
    TMOVWriter w(out);
    EXPECT_THROW(w.CopySamples(r, 0, 1), TMOVError);
    w.WriteMovie(r);
  }
  const TMOVReader back(out, false);
  ASSERT_TRUE(back.HasMovie());
  ASSERT_EQ(back.Tracks().size(), 2u);
  EXPECT_EQ(back.Tracks()[0].SampleCount(), r.Tracks()[0].SampleCount());
  EXPECT_EQ(ProbeStreams(out).size(), 2u);
}

// An output that cannot be written in full (a disk filling up, here a
// file-size limit) fails the cut and leaves nothing behind: never a file
// under the chosen name whose tables point at bytes that are not there.
TEST(MOVCut, OutputThatCannotBeWrittenIsReported) {
  const auto trip =
      GenerateTrip("trip2", {3, 3}, "2026-05-01 12:30:00", Media("h264", "pcm_s16le"));
  const std::string dir = MakeTempDir("cut-full");
  const TCutResult whole = Cut(trip, 0, 1, dir + "/whole.mov");
  ASSERT_TRUE(whole.written) << CutErrorText(whole);
  // Limits inside the media data and inside the movie atom that follows it.
  const int64_t mediaEnd = 24 + 2 * 8 + whole.mediaBytes;
  for (int64_t limit : {mediaEnd / 2, mediaEnd + 200}) {
    SCOPED_TRACE(limit);
    const std::string out = dir + "/full.mov";
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(limit);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const TCutResult res = Cut(trip, 0, 1, out);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(res.written);
    EXPECT_EQ(res.error, TCutError::CannotWrite) << CutErrorText(res);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out + ".part"));
  }
}

// The cut is named at the end by a rename: an output naming one of the
// recordings (by any spelling) is refused before anything is written.
TEST(MOVCut, OutputNeverReplacesARecording) {
  const std::string dir = MakeTempDir("cut-self");
  const std::string src = dir + "/src.mov";
  fs::copy_file(GenerateMovie("h264-sowt", Media("h264", "pcm_s16le")), src);
  const std::string before = WholeFile(src);
  for (const std::string &out : {src, dir + "/./src.mov"}) {
    const TCutResult res = Cut({src}, 0, 0.5L, out);
    EXPECT_FALSE(res.written);
    EXPECT_EQ(res.error, TCutError::ReplacesSource);
  }
  EXPECT_TRUE(WholeFile(src) == before);
  EXPECT_FALSE(fs::exists(src + ".part"));
}

// A cut that would hold no track is refused before anything is named:
// neither video nor sound chosen, or a recording whose picture is in a
// format the reader does not know (and no sound).
TEST(MOVCut, NothingToCopyIsRefused) {
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  TMediaRecipe png = Media("h264", "none", 2);
  png.extraArgs = "-c:v png";
  const std::string unknown = GenerateMovie("png-only", png);
  ASSERT_EQ(TMOVReader(unknown, true).Tracks().at(0).kind, kKindOther);
  const std::string dir = MakeTempDir("cut-nothing");
  TCutOptions neither;
  neither.video = neither.audio = false;
  EXPECT_EQ(Cut({src}, 0.1L, 0.9L, dir + "/a.mov", neither).error, TCutError::NoTrackChosen);
  const TCutResult res = Cut({unknown}, 0.1L, 0.9L, dir + "/b.mov");
  EXPECT_FALSE(res.written);
  EXPECT_EQ(res.error, TCutError::NoTrackToCopy);
  EXPECT_FALSE(CutErrorText(res).empty());
  EXPECT_TRUE(fs::is_empty(dir));
}

// A later recording whose sound was made with other settings would play
// garbled at the wrong speed after the first one's: its sound is left out
// (and said so), its picture kept. The movie header gives what was written.
TEST(MOVCut, SoundInAnotherFormatIsLeftOut) {
  const std::string first = GenerateMovie("scale-12800", Media("h264", "pcm_s16le", 2));
  TMediaRecipe rate = Media("h264", "pcm_s16le", 2);
  rate.sampleRate = 32000;
  TMediaRecipe stereo = Media("h264", "pcm_s16le", 2);
  stereo.channels = 2;
  TMediaRecipe aac = Media("h264", "aac", 2);
  const std::string dir = MakeTempDir("cut-sound");
  for (const auto &[name, media] :
       {std::pair<std::string, TMediaRecipe>{"rate-32k", rate}, {"stereo", stereo}, {"aac", aac}}) {
    SCOPED_TRACE(name);
    const std::string second = GenerateMovie("sound-" + name, media);
    const std::string out = dir + "/" + name + ".mov";
    // The third recording's sound is in the first one's format, but after
    // the gap it would play 2 s ahead of its picture: left out as well.
    const TCutResult res = Cut({first, second, first}, 0, 1, out);
    ASSERT_TRUE(res.written) << CutErrorText(res);
    ASSERT_EQ(res.notes.size(), 2u);
    EXPECT_EQ(res.notes[0].kind, TCutNoteKind::SoundLeftOut);
    EXPECT_EQ(res.notes[0].path, second);
    EXPECT_EQ(res.notes[1].kind, TCutNoteKind::SoundAfterGap);
    EXPECT_EQ(res.notes[1].path, first);
    const TMOVReader r(out, false);
    ASSERT_EQ(r.Tracks().size(), 2u);
    EXPECT_EQ(r.Tracks()[0].SampleCount(), 150u);
    EXPECT_EQ(r.Tracks()[1].SampleCount(), 96000u);
    EXPECT_EQ(r.Tracks()[1].channels, 1u);
    EXPECT_EQ(r.Tracks()[1].sampleBits, 16u);
    EXPECT_EQ(r.Tracks()[1].sampleRate, 48000);
    // The picture runs on for 6 s, and so does the movie.
    ASSERT_GT(r.TimeScale(), 0);
    EXPECT_NEAR(double(r.Duration()) / r.TimeScale(), 6.0, 0.01);
    ExpectPlayable(out, 2);
  }
}

// Recordings with B-frames show their first picture after a delay and AAC
// starts with priming samples; the source's edit lists hide both. The cut
// gets edit lists of its own, so that picture and sound start together.
TEST(MOVCut, PictureAndSoundStartTogether) {
  TMediaRecipe media = Media("h264", "aac");
  media.bframes = true;
  const std::string src = GenerateMovie("h264-bframes", media);
  const TMOVReader in(src, false);
  ASSERT_GT(in.Tracks()[1].editMediaTime, 0);  // the priming
  const std::string dir = MakeTempDir("cut-edits");
  struct TCase {
    long double a;
    bool video;
  };
  for (const TCase c : {TCase{0, true}, TCase{0.3L, true}, TCase{0.55L, true}, TCase{0, false}}) {
    SCOPED_TRACE(static_cast<double>(c.a));
    SCOPED_TRACE(c.video);
    const std::string out = dir + "/cut.mov";
    TCutOptions o;
    o.video = c.video;
    const TCutResult res = Cut({src}, c.a, 0.9L, out, o);
    ASSERT_TRUE(res.written) << CutErrorText(res);
    const std::vector<double> starts = StreamStartTimes(out);
    ASSERT_EQ(starts.size(), c.video ? 2u : 1u);
    for (double s : starts) EXPECT_NEAR(s, 0, 0.0005);
    const TMOVReader r(out, false);
    const TMOVTrack &sound = r.Tracks().back();
    if (c.a == 0) {
      EXPECT_EQ(sound.editMediaTime, in.Tracks()[1].editMediaTime);
    }
    // The header's length is the longest track as shown.
    const auto probe = ProbeStreams(out);
    double longest = 0;
    for (const TProbeStream &p : probe) longest = std::max(longest, p.duration);
    EXPECT_NEAR(double(r.Duration()) / r.TimeScale(), longest, 0.002);
    ExpectPlayable(out, c.video ? 2 : 1);
  }
}

// Recorders made since about 2018 write H.265 in ISO ".mp4" files. Both
// sample entries (hvc1, hev1) are video with a picture size; a cut over two
// clips keeps the entry and the file type, plays, and starts its streams
// together.
TEST(MOVCut, H265Mp4Trip) {
  const std::string dir = MakeTempDir("cut-h265");
  for (const std::string tag : {"hvc1", "hev1"}) {
    SCOPED_TRACE(tag);
    TMediaRecipe media = Media("h264", "aac", 3);
    media.extraArgs = HevcArgs(25, tag == "hev1", tag);
    const auto trip = GenerateMp4Trip("h265-" + tag, {3, 3}, "2026-05-01 12:30:00", media);
    const TMOVReader head(trip[0], true);
    ASSERT_TRUE(head.HasMovie()) << head.Error();
    int32_t w = 0, h = 0;
    head.VideoSize(w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_EQ(head.Tracks()[0].codec, tag == "hvc1" ? "HVC1" : "HEV1");
    EXPECT_EQ(head.Tracks()[1].sampleRate, 48000);

    const std::string out = dir + "/" + tag + ".mp4";
    const TCutResult res = Cut(trip, 0.25L, 0.75L, out);
    ASSERT_TRUE(res.written) << CutErrorText(res);
    EXPECT_TRUE(res.notes.empty());
    EXPECT_EQ(WholeFile(out).substr(4, 8), "ftypisom");
    const auto probe = ProbeStreams(out);
    ASSERT_EQ(probe.size(), 2u);
    EXPECT_EQ(probe[0].codec, "hevc");
    EXPECT_EQ(probe[0].tag, tag);
    EXPECT_EQ(probe[1].codec, "aac");
    // From the key frame at 1 s of the first clip to 1.5 s of the second.
    EXPECT_EQ(CountPackets(out, 0), 50 + 38);
    for (double s : StreamStartTimes(out)) EXPECT_NEAR(s, 0, 0.0005);
    ExpectPlayable(out, 2);
  }
}

// Within a recording the samples go out in the source's order, so that the
// selected range of an interleaved recording is copied in a few pieces (its
// partial first block, its whole blocks, its partial last block; a second
// range where the selection's end leaves out the rest of a chunk), is the
// source's bytes, and lies at the source's offset within a block.
TEST(MOVCut, SelectedRangeIsCopiedInOnePiece) {
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  const std::string out = MakeTempDir("cut-piece") + "/piece.mov";
  const TCutResult res = Cut({src}, 0.1L, 0.9L, out);
  ASSERT_TRUE(res.written) << CutErrorText(res);
  EXPECT_LE(res.copyCalls, 6);
  // 10 % is 0.4 s: the copy starts at the key frame of 0 s, so with the
  // source's bytes from its first sample on.
  const TMOVReader in(src, false), cut(out, false);
  const int64_t from = std::min(in.Tracks()[0].Sample(0).offset, in.Tracks()[1].Sample(0).offset);
  const int64_t at = std::min(cut.Tracks()[0].Sample(0).offset, cut.Tracks()[1].Sample(0).offset);
  EXPECT_EQ(at % 4096, from % 4096);
  const int64_t n = res.mediaBytes / 2;
  EXPECT_TRUE(WholeFile(out).substr(at, n) == WholeFile(src).substr(from, n));
}

// Neither the movie nor its .dat may take the place of a file of the trip:
// here the .dat of the chosen name is a recording's telemetry.
TEST(MOVCut, MetaNeverReplacesTelemetry) {
  const std::string dir = MakeTempDir("cut-companion");
  const std::string src = dir + "/FILE0001.MOV";
  fs::copy_file(GenerateMovie("h264-sowt", Media("h264", "pcm_s16le")), src);
  const std::string telemetry = dir + "/file0001.dat";
  std::ofstream(telemetry) << "[G]\r\n";
  TCutTrip trip = MakeTrip({src});
  trip.recordings[0].companions = {telemetry};
  TFakeMeta meta;
  TCutOptions o;
  o.a = 0.1L;
  o.b = 0.5L;
  o.output = dir + "/file0001.mov";
  const TCutResult res = CutFragment(trip, o, &meta, {});
  EXPECT_EQ(res.error, TCutError::ReplacesSource);
  EXPECT_EQ(res.errorPath, telemetry);
  EXPECT_EQ(WholeFile(telemetry), "[G]\r\n");
  EXPECT_FALSE(fs::exists(o.output));
  // Without telemetry the name is free.
  o.meta = false;
  EXPECT_TRUE(CutFragment(trip, o, &meta, {}).written);
}

// A recording truncated while it is being cut fails the cut with the
// recording named: never a complete-looking fragment that plays zeros.
TEST(MOVCut, RecordingTruncatedDuringTheCutFailsAndLeavesNoFile) {
  const auto made =
      GenerateTrip("trip2", {3, 3}, "2026-05-01 12:30:00", Media("h264", "pcm_s16le"));
  const std::string dir = MakeTempDir("cut-truncated");
  std::vector<std::string> paths;
  for (const auto &p : made) {
    paths.push_back(dir + "/" + fs::path(p).filename().string());
    fs::copy_file(p, paths.back());
  }
  bool truncated = false;
  auto progress = [&](const TCutProgress &p) {
    if (!truncated && p.recording == 1 && p.stage == TCutStage::Copying && p.fraction > 0) {
      fs::resize_file(paths[1], fs::file_size(paths[1]) / 3);
      truncated = true;
    }
    return true;
  };
  const std::string out = dir + "/out.mov";
  const TCutResult res = Cut(paths, 0, 1, out, {}, progress);
  ASSERT_TRUE(truncated);
  EXPECT_FALSE(res.written);
  EXPECT_EQ(res.error, TCutError::SourceChanged) << CutErrorText(res);
  EXPECT_EQ(res.errorPath, paths[1]);
  EXPECT_NE(CutErrorText(res).find("truncated"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));
  size_t entries = 0;
  for ([[maybe_unused]] const auto &e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2u);
}

// With overwriting off (the command line without --overwrite) a cut that
// would replace the movie or an unrelated ".dat" of its name is refused;
// the caller that has asked the user turns it on.
TEST(MOVCut, ExistingMovieOrDatIsReplacedOnlyWhenAllowed) {
  const std::string dir = MakeTempDir("cut-replace");
  const std::string src = GenerateMovie("h264-sowt", Media("h264", "pcm_s16le"));
  TCutTrip trip = MakeTrip({src});
  trip.recordings[0].hasTelemetry = true;
  TFakeMeta meta;
  TCutOptions o;
  o.a = 0.1L;
  o.b = 0.5L;
  o.output = dir + "/X.mov";
  o.overwrite = false;
  const std::string dat = dir + "/X.dat";
  for (const std::string &existing : {o.output, dat}) {
    SCOPED_TRACE(existing);
    std::ofstream(existing) << "keep me";
    EXPECT_EQ(CutWouldReplace(trip, o), std::vector<std::string>{existing});
    const TCutResult res = CutFragment(trip, o, &meta, {});
    EXPECT_EQ(res.error, TCutError::WouldReplace);
    EXPECT_EQ(res.errorPath, existing);
    EXPECT_EQ(WholeFile(existing), "keep me");
    fs::remove(existing);
  }
  std::ofstream(dat) << "keep me";
  o.meta = false;  // no ".dat" written: nothing replaced
  EXPECT_TRUE(CutFragment(trip, o, &meta, {}).written);
  EXPECT_EQ(WholeFile(dat), "keep me");
  o.meta = true;
  o.overwrite = true;
  const TCutResult res = CutFragment(trip, o, &meta, {});
  EXPECT_TRUE(res.written);
  EXPECT_EQ(res.metaPath, dat);
  EXPECT_NE(WholeFile(dat), "keep me");
}
