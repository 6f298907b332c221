// TMOVWriter on hand-made movies: header versions, which tracks make it
// into the new movie, and sample positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "MovBuilder.h"
#include "TestMedia.h"
#include "container/UnitMOV.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

struct TTrackSpec {
  uint32_t id;
  std::string format;
  uint32_t scale;
  uint32_t samples;
  uint32_t size;
  uint32_t duration;           // per sample
  std::vector<uint32_t> sync;  // 1-based; empty = no stss
};

// A movie whose sample bytes are (track id, sample index low byte) pairs,
// so that copies can be recognised. Version-1 headers when `wide`; each
// track's samples lie in the media data from the last to the first when
// `backwards`.
std::vector<uint8_t> MakeMovie(const std::vector<TTrackSpec> &tracks, bool wide,
                               bool backwards = false) {
  TMovBuilder b;
  b.Ftyp();
  b.Open("mdat");
  std::vector<std::vector<uint32_t>> offsets(tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t)
    for (uint32_t k = 0; k < tracks[t].samples; ++k) {
      offsets[t].push_back(static_cast<uint32_t>(b.bytes.size()));
      for (uint32_t i = 0; i < tracks[t].size; ++i)
        b.U8(static_cast<uint8_t>(i % 2 ? k : tracks[t].id));
    }
  if (backwards)
    for (auto &o : offsets) std::reverse(o.begin(), o.end());
  b.Close();
  b.Open("moov");
  if (wide)
    b.MvhdV1(1000, 5000);
  else
    b.Mvhd(1000, 5000);
  for (size_t t = 0; t < tracks.size(); ++t) {
    const TTrackSpec &s = tracks[t];
    const uint32_t units = s.samples * s.duration;
    b.Open("trak");
    if (wide)
      b.TkhdV1(s.id, units, 64, 48);
    else
      b.Tkhd(s.id, units, 64, 48);
    b.Open("mdia");
    if (wide)
      b.MdhdV1(s.scale, units);
    else
      b.Mdhd(s.scale, units);
    b.Open("minf").Open("stbl").Stsd(s.format).Stts({{s.samples, s.duration}});
    b.Stsc({{1, 1}}).StszConst(s.size, s.samples).Stco(offsets[t]);
    if (!s.sync.empty()) b.Stss(s.sync);
    b.Close().Close().Close().Close();
  }
  b.Close();
  return b.bytes;
}

std::string Save(const std::string &dir, const std::string &name,
                 const std::vector<uint8_t> &bytes) {
  const std::string p = dir + "/" + name;
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return p;
}

const TTrackSpec kVideo{1, "avc1", 600, 20, 50, 30, {1, 11}};
const TTrackSpec kAudio{2, "sowt", 8000, 4000, 2, 1, {}};
const TTrackSpec kCode{3, "tmcd", 600, 1, 4, 600, {}};

}  // namespace

TEST(MOVWriter, VersionOneHeaders) {
  const std::string dir = MakeTempDir("writer-v1");
  const std::string src = Save(dir, "v1.mov", MakeMovie({kVideo, kAudio}, true));
  const TMOVReader in(src, false);
  ASSERT_TRUE(in.HasMovie());
  EXPECT_EQ(in.TimeScale(), 1000);
  // The movie header's 5 s disagree with the 1 s of samples: the samples win.
  EXPECT_EQ(in.DurationMs(), 1000);
  EXPECT_EQ(in.Tracks()[1].timeScale, 8000);
  EXPECT_EQ(in.Tracks()[1].durationMs, 500);
  const std::string out = dir + "/out.mov";
  {
    TMOVWriter w(out);
    // From sample 10 (a key frame) to the end: 10 frames, 2000 sound samples.
    EXPECT_TRUE(w.CopySamples(in, 0.5L, 1));
    w.WriteMovie(in);
  }
  const TMOVReader r(out, false);
  ASSERT_TRUE(r.HasMovie());
  ASSERT_EQ(r.Tracks().size(), 2u);
  EXPECT_EQ(r.Tracks()[0].SampleCount(), 10u);
  EXPECT_EQ(r.Tracks()[1].SampleCount(), 2000u);
  // The movie takes the longest track's scale; every duration is rewritten.
  EXPECT_EQ(r.TimeScale(), 600);
  EXPECT_EQ(r.DurationMs(), 500);
  EXPECT_EQ(r.Tracks()[0].duration, 300);
  EXPECT_EQ(r.Tracks()[1].duration, 2000);
  EXPECT_EQ(r.Tracks()[1].durationMs, 250);
  EXPECT_EQ(r.Tracks()[0].KeySamples(), (std::vector<uint32_t>{0}));
}

TEST(MOVWriter, TracksOfTheNewMovie) {
  const std::string dir = MakeTempDir("writer-tracks");
  const std::string first = Save(dir, "a.mov", MakeMovie({kCode, kVideo}, false));
  const std::string second = Save(dir, "b.mov", MakeMovie({kCode, kVideo, kAudio}, false));
  const TMOVReader a(first, false), b(second, false);
  const std::string out = dir + "/out.mov";
  {
    TMOVWriter w(out);
    EXPECT_TRUE(w.CopySamples(a, 0, 1));
    // Sound appears only in the second recording: the movie atom is the
    // first one's and has no track for it, so it is left out.
    EXPECT_TRUE(w.CopySamples(b, 0, 1));
    w.WriteMovie(a);
    EXPECT_EQ(w.MediaBytes(), 2 * 20 * 50);
  }
  const TMOVReader r(out, false);
  ASSERT_EQ(r.Tracks().size(), 1u);  // no time-code track either
  const TMOVTrack &v = r.Tracks()[0];
  EXPECT_EQ(v.trackId, 1u);
  ASSERT_EQ(v.SampleCount(), 40u);
  EXPECT_EQ(v.KeySamples(), (std::vector<uint32_t>{0, 10, 20, 30}));
  // The frames lie back to back in each source: one chunk per recording.
  EXPECT_EQ(v.BuiltChunkCount(), 2u);
  // Each sample is the source's, in order: bytes (id, index).
  std::ifstream f(out, std::ios::binary);
  for (uint32_t k = 0; k < 40; ++k) {
    const TMOVSample s = v.Sample(k);
    EXPECT_EQ(s.time, 30 * k);
    char two[2];
    f.seekg(s.offset);
    f.read(two, 2);
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(static_cast<uint8_t>(two[1]), k % 20);
  }
}

// Each copied run lies at its source offset within a block, which a damaged
// file with one-byte samples each just before the previous one would turn
// into ~4 KiB of gap per byte: the output stays within the source's size.
TEST(MOVWriter, ScatteredSamplesCannotInflateTheOutput) {
  const std::string dir = MakeTempDir("writer-scattered");
  const TTrackSpec bytes{1, "avc1", 600, 3000, 1, 1, {1}};
  const std::string src = Save(dir, "back.mov", MakeMovie({bytes}, false, true));
  const TMOVReader in(src, false);
  ASSERT_TRUE(in.HasMovie());
  const std::string out = dir + "/out.mov";
  {
    TMOVWriter w(out);
    w.CopySamples(in, 0, 1);
    w.WriteMovie(in);
  }
  EXPECT_LE(fs::file_size(out), fs::file_size(src) + 8192);
  EXPECT_TRUE(TMOVReader(out, false).HasMovie());
}

TEST(MOVWriter, SampleAt) {
  const std::vector<uint8_t> bytes = MakeMovie({kVideo}, false);
  const TMOVReader r(bytes.data(), bytes.size(), false);
  const TMOVTrack &v = r.Tracks()[0];  // 20 samples of 30 units, 600 units
  EXPECT_EQ(TMOVWriter::SampleAt(v, 0), 0u);
  EXPECT_EQ(TMOVWriter::SampleAt(v, -1), 0u);
  EXPECT_EQ(TMOVWriter::SampleAt(v, 0.05L), 1u);   // t = 30
  EXPECT_EQ(TMOVWriter::SampleAt(v, 0.049L), 0u);  // t = 29.4 -> 29
  EXPECT_EQ(TMOVWriter::SampleAt(v, 0.5L), 10u);
  EXPECT_EQ(TMOVWriter::SampleAt(v, 1), 19u);
  EXPECT_EQ(TMOVWriter::SampleAt(v, 2), 19u);
}
