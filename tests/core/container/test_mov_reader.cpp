// TMOVReader on hand-made atoms, damaged files and large sparse files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "MovBuilder.h"
#include "container/UnitMOV.h"

using namespace tachora;
using tachora::test::TMovBuilder;

namespace {

// One video track of `n` samples of 100 bytes, one per chunk, stored in an
// mdat right after ftyp; `extraTrak` adds atoms at the end of the trak.
struct TVideoMovie {
  uint32_t samples = 10;
  std::string format = "avc1";
  uint32_t mdhdDuration = 5120;
  uint32_t tkhdDuration = 400;
  uint32_t mvhdScale = 1000, mvhdDuration = 400;
  uint32_t width = 320, height = 240;
  std::vector<uint32_t> sync = {1, 6};
  std::function<void(TMovBuilder &)> extraTrak = nullptr;
  std::function<void(TMovBuilder &)> extraMoov = nullptr;
};

std::vector<uint8_t> Build(const TVideoMovie &m) {
  TMovBuilder b;
  b.Ftyp();
  const uint32_t mdatStart = static_cast<uint32_t>(b.bytes.size());
  b.Open("mdat").Zeros(100 * m.samples).Close();
  std::vector<uint32_t> offsets;
  for (uint32_t i = 0; i < m.samples; ++i) offsets.push_back(mdatStart + 8 + 100 * i);
  b.Open("moov").Mvhd(m.mvhdScale, m.mvhdDuration, 3000000000u);
  b.Open("trak").Tkhd(1, m.tkhdDuration, m.width, m.height, 3000000000u);
  b.Open("mdia").Mdhd(12800, m.mdhdDuration).Open("minf").Open("stbl");
  b.Stsd(m.format).Stts({{m.samples, 512}}).Stsc({{1, 1}}).StszConst(100, m.samples);
  b.Stco(offsets).Stss(m.sync);
  b.Close().Close().Close();  // stbl minf mdia
  if (m.extraTrak) m.extraTrak(b);
  b.Close();  // trak
  if (m.extraMoov) m.extraMoov(b);
  b.Close();  // moov
  return b.bytes;
}

TMOVReader Read(const std::vector<uint8_t> &bytes, bool headersOnly = false) {
  return TMOVReader(bytes.data(), bytes.size(), headersOnly);
}

}  // namespace

TEST(MOVReader, FileMustStartWithFileType) {
  auto good = Build({});
  EXPECT_TRUE(Read(good).HasMovie());
  // The same atoms without the leading ftyp: a movie atom first, or mdat.
  std::vector<uint8_t> noFtyp(good.begin() + 24, good.end());
  EXPECT_FALSE(Read(noFtyp).HasMovie());
  TMovBuilder m;
  m.Open("moov").Mvhd(1000, 400).Close();
  EXPECT_FALSE(Read(m.bytes).HasMovie());
  EXPECT_FALSE(Read({}).HasMovie());
  EXPECT_FALSE(TMOVReader("/nonexistent/file.mov", false).HasMovie());
}

TEST(MOVReader, HeaderValues) {
  auto bytes = Build({});
  TMOVReader r = Read(bytes);
  ASSERT_TRUE(r.HasMovie());
  EXPECT_EQ(r.TimeScale(), 1000);
  EXPECT_EQ(r.DurationMs(), 400);
  // 3 000 000 000 s after 1904-01-01 = 1999-01-24 05:20:00
  EXPECT_EQ(FormatDateTime(r.CreationTime()), "1999-01-24 05:20:00");
  EXPECT_EQ(r.MovieAtomOffset(), 24 + 8 + 1000);
  EXPECT_EQ(r.MovieAtomOffset() + r.MovieAtomSize(), static_cast<int64_t>(bytes.size()));
  ASSERT_EQ(r.Tracks().size(), 1u);
  const TMOVTrack &t = r.Tracks()[0];
  EXPECT_EQ(t.trackId, 1u);
  EXPECT_EQ(t.timeScale, 12800);
  EXPECT_EQ(t.duration, 5120);
  EXPECT_EQ(t.durationMs, 400);
  EXPECT_EQ(t.codec, "AVC1");
  EXPECT_EQ(t.kind, kKindVideo);
  int32_t w, h;
  r.VideoSize(w, h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
}

TEST(MOVReader, CodecKinds) {
  EXPECT_EQ(Read(Build({.format = "sowt"})).Tracks()[0].kind, kKindAudio);
  EXPECT_EQ(Read(Build({.format = "twos"})).Tracks()[0].kind, kKindAudio);
  EXPECT_EQ(Read(Build({.format = "mp4a"})).Tracks()[0].kind, kKindAudio);
  EXPECT_EQ(Read(Build({.format = "jpeg"})).Tracks()[0].kind, kKindVideo);
  const TMOVReader tc = Read(Build({.format = "tmcd"}));
  EXPECT_EQ(tc.Tracks()[0].kind, kKindOther);
  EXPECT_EQ(tc.VideoTrack(), nullptr);
  // Formats with zero bytes keep them.
  EXPECT_EQ(KindOfCodec(std::string("MS\0\x11", 4)), kKindAudio);
  EXPECT_EQ(Read(Build({.format = std::string("ms\0\x11", 4)})).Tracks()[0].codec,
            std::string("MS\0\x11", 4));
}

TEST(MOVReader, TrackDurationsAndSizes) {
  // mdhd without duration: no milliseconds, the tkhd duration stays.
  const TMOVReader zero = Read(Build({.mdhdDuration = 0, .tkhdDuration = 777}));
  EXPECT_EQ(zero.Tracks()[0].durationMs, 0);
  EXPECT_EQ(zero.Tracks()[0].duration, 777);

  // Encoded-pixel dimensions after tkhd replace its size, unless out of range.
  auto withEnof = [](uint32_t w, uint32_t h) {
    return [=](TMovBuilder &b) {
      b.Open("tapt").Open("enof").U32(0).U32(w << 16).U32(h << 16).Close().Close();
    };
  };
  const TMOVReader e1 =
      Read(Build({.width = 1920, .height = 1080, .extraTrak = withEnof(1920, 1088)}));
  EXPECT_EQ(e1.Tracks()[0].height, 1088);
  const TMOVReader e2 =
      Read(Build({.width = 1920, .height = 1080, .extraTrak = withEnof(9000, 1088)}));
  EXPECT_EQ(e2.Tracks()[0].width, 1920);
  EXPECT_EQ(e2.Tracks()[0].height, 1080);

  // tkhd version 1: 64-bit duration, no creation time.
  TMovBuilder b;
  b.Ftyp().Open("moov").Mvhd(1000, 0).Open("trak").TkhdV1(7, 0x123456789ull, 640, 480);
  b.Close().Close();
  const TMOVReader v1 = Read(b.bytes);
  ASSERT_EQ(v1.Tracks().size(), 1u);
  EXPECT_EQ(v1.Tracks()[0].trackId, 7u);
  EXPECT_EQ(v1.Tracks()[0].duration, 0x123456789ll);
  EXPECT_EQ(v1.Tracks()[0].creationTime, 0);
  EXPECT_EQ(v1.Tracks()[0].width, 640);
}

TEST(MOVReader, SampleTables) {
  auto bytes = Build({});
  const TMOVReader r = Read(bytes);
  const TMOVTrack &t = r.Tracks()[0];
  ASSERT_EQ(t.SampleCount(), 10u);
  for (uint32_t k = 0; k < 10; ++k) {
    TMOVSample s = t.Sample(k);
    EXPECT_EQ(s.offset, 24 + 8 + 100 * k);
    EXPECT_EQ(s.size, 100u);
    EXPECT_EQ(s.time, 512 * k);
    EXPECT_EQ(s.duration, 512u);
    EXPECT_EQ(s.key, k == 0 || k == 5);
  }
  // Headers only: everything but the samples.
  const TMOVReader h = Read(bytes, true);
  EXPECT_TRUE(h.HasMovie());
  EXPECT_EQ(h.Tracks()[0].SampleCount(), 0u);
  EXPECT_EQ(h.Tracks()[0].durationMs, 400);
  EXPECT_EQ(h.Tracks()[0].codec, "AVC1");
  EXPECT_TRUE(h.Tracks()[0].chunkOffsets.empty());
}

TEST(MOVReader, ChunkRunsAndConstantSizes) {
  // 16-bit mono PCM: size 2 each; stsc (1,10),(50,5): 10 samples in chunks
  // 1-49, 5 in later ones. 49*10 + 20*5 = 590 samples in 69 chunks.
  TMovBuilder b;
  b.Ftyp();
  const uint32_t data = static_cast<uint32_t>(b.bytes.size()) + 8;
  b.Open("mdat").Zeros(590 * 2 + 1000).Close();
  std::vector<uint32_t> offsets;
  uint32_t at = data;
  for (int c = 0; c < 69; ++c) {
    offsets.push_back(at);
    at += (c < 49 ? 10 : 5) * 2 + 4;  // gaps between chunks
  }
  b.Open("moov").Mvhd(1000, 1000).Open("trak").Tkhd(2, 1000, 0, 0);
  b.Open("mdia").Mdhd(590, 590).Open("minf").Open("stbl");
  b.Stsd("sowt").Stts({{590, 1}}).Stsc({{1, 10}, {50, 5}}).StszConst(2, 590).Stco(offsets);
  b.Stss({3, 1, 3, 5000});  // unsorted, repeated and beyond the count
  b.Close().Close().Close().Close().Close();
  const TMOVReader r = Read(b.bytes);
  const TMOVTrack &t = r.Tracks()[0];
  ASSERT_EQ(t.SampleCount(), 590u);
  EXPECT_EQ(t.BuiltChunkCount(), 69u);
  EXPECT_EQ(t.Sample(9).offset, offsets[0] + 18);
  EXPECT_EQ(t.Sample(10).offset, offsets[1]);
  EXPECT_EQ(t.Sample(489).offset, offsets[48] + 18);
  EXPECT_EQ(t.Sample(490).offset, offsets[49]);
  EXPECT_EQ(t.Sample(589).offset, offsets[68] + 8);
  EXPECT_EQ(t.Sample(589).size, 2u);
  EXPECT_EQ(t.Sample(589).time, 589);
  EXPECT_EQ(t.KeySamples(), (std::vector<uint32_t>{0, 2}));
}

TEST(MOVReader, InconsistentTablesStopAtTheShortest) {
  TMovBuilder b;
  b.Ftyp();
  b.Open("mdat").Zeros(400).Close();
  b.Open("moov").Mvhd(1000, 1000).Open("trak").Tkhd(1, 1000, 8, 8);
  b.Open("mdia").Mdhd(1000, 1000).Open("minf").Open("stbl");
  // 100 samples by time, 6 sizes, chunks of 2 samples: three chunks, the
  // third beyond the end of the file.
  b.Stsd("avc1").Stts({{100, 10}}).Stsc({{1, 2}}).Stsz({10, 10, 10, 10, 10, 10});
  b.Stco({40, 60, 100000});
  b.Close().Close().Close().Close().Close();
  const TMOVReader rb = Read(b.bytes);
  EXPECT_EQ(rb.Tracks()[0].SampleCount(), 4u);

  // A table count far beyond its atom is cut to what the atom holds.
  TMovBuilder c;
  c.Ftyp().Open("mdat").Zeros(64).Close();
  c.Open("moov").Mvhd(1000, 1000).Open("trak").Tkhd(1, 1000, 8, 8);
  c.Open("mdia").Mdhd(1000, 1000).Open("minf").Open("stbl");
  c.Stsd("avc1").Stts({{4, 10}}).Stsc({{1, 1}});
  c.Open("stsz").U32(0).U32(0).U32(0xFFFFFFF0u).U32(8).U32(8).Close();
  c.Stco({32, 40, 48, 56});
  c.Close().Close().Close().Close().Close();
  const TMOVReader rc = Read(c.bytes);
  const TMOVTrack &u = rc.Tracks()[0];
  EXPECT_EQ(u.sampleSizes.size(), 2u);
  EXPECT_EQ(u.SampleCount(), 2u);
}

TEST(MOVReader, WalkStopsAtAtomsPassingTheirParent) {
  // A second trak whose size runs past moov: the first track stays, a
  // later well-formed trak inside the same moov is not read.
  auto bytes = Build({.extraMoov = [](TMovBuilder &b) {
    b.U32(0x100000).Str("trak").Zeros(8);
    b.Open("trak").Tkhd(9, 1, 1, 1).Close();
  }});
  const TMOVReader r = Read(bytes);
  EXPECT_TRUE(r.HasMovie());
  ASSERT_EQ(r.Tracks().size(), 1u);
  EXPECT_EQ(r.Tracks()[0].trackId, 1u);
}

TEST(MOVReader, LargeAndOpenEndedAtoms) {
  // moov first, then a media-data atom of size 0 (to the end of the file).
  TMovBuilder a;
  a.Ftyp().Open("moov").Mvhd(1000, 5000).Close();
  a.U32(0).Str("mdat").Zeros(100);
  EXPECT_TRUE(Read(a.bytes).HasMovie());

  // A 64-bit media-data size, then moov.
  TMovBuilder b;
  b.Ftyp().U32(1).Str("mdat").U64(16 + 3000).Zeros(3000);
  b.Open("moov").Mvhd(1000, 5000).Close();
  const TMOVReader rb = Read(b.bytes);
  EXPECT_TRUE(rb.HasMovie());
  EXPECT_EQ(rb.MovieAtomOffset(), 24 + 16 + 3000);
  EXPECT_EQ(rb.DurationMs(), 5000);

  // A 64-bit size smaller than its header ends the walk.
  TMovBuilder c;
  c.Ftyp().U32(1).Str("mdat").U64(8);
  c.Open("moov").Mvhd(1000, 5000).Close();
  EXPECT_FALSE(Read(c.bytes).HasMovie());
}

// Recordings above 2 and 4 GiB, as sparse files: the media-data atom is
// stepped over by its 32-bit size of 2^31 and more, or by a 64-bit size.
TEST(MOVReader, MoviesAfterHugeMediaData) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(TACHORA_BUILD_DIR) / "test-out";
  fs::create_directories(dir);
  auto write = [&](const std::string &name, int64_t mdatSize, bool wide) {
    TMovBuilder head;
    head.Ftyp();
    if (wide)
      head.U32(1).Str("mdat").U64(static_cast<uint64_t>(mdatSize));
    else
      head.U32(static_cast<uint32_t>(mdatSize)).Str("mdat");
    TMovBuilder moov;
    moov.Open("moov").Mvhd(600, 6000).Close();
    const fs::path p = dir / name;
    int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, head.bytes.data(), head.bytes.size(), 0), (ssize_t)head.bytes.size());
    EXPECT_EQ(::pwrite(fd, moov.bytes.data(), moov.bytes.size(), 24 + mdatSize),
              (ssize_t)moov.bytes.size());
    ::close(fd);
    return p.string();
  };
  const std::string p1 = write("sparse-3g.mov", 3000000000ll, false);
  const TMOVReader r1(p1, true);
  EXPECT_TRUE(r1.HasMovie());
  EXPECT_EQ(r1.MovieAtomOffset(), 24 + 3000000000ll);
  EXPECT_EQ(r1.DurationMs(), 10000);
  const std::string p2 = write("sparse-5g.mov", 5000000000ll, true);
  const TMOVReader r2(p2, true);
  EXPECT_TRUE(r2.HasMovie());
  EXPECT_EQ(r2.MovieAtomOffset(), 24 + 5000000000ll);
  fs::remove(p1);
  fs::remove(p2);
}

// The damaged files of tests/data/container: never a crash, and every
// built sample lies inside the file.
TEST(MOVReader, DamagedFiles) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const auto &e : fs::directory_iterator(fs::path(TACHORA_TEST_DATA) / "container")) {
    if (e.path().extension() != ".mov") continue;
    ++files;
    SCOPED_TRACE(e.path().filename().string());
    const int64_t size = static_cast<int64_t>(fs::file_size(e.path()));
    for (bool headersOnly : {false, true}) {
      const TMOVReader r(e.path().string(), headersOnly);
      if (r.HasMovie()) {
        EXPECT_LE(r.MovieAtomOffset() + r.MovieAtomSize(), size);
      }
      for (const TMOVTrack &t : r.Tracks()) {
        if (headersOnly) {
          EXPECT_EQ(t.SampleCount(), 0u);
        }
        for (uint32_t k = 0; k < t.SampleCount(); ++k) {
          const TMOVSample s = t.Sample(k);
          ASSERT_GE(s.offset, 0);
          ASSERT_LE(s.offset + s.size, size);
        }
      }
    }
  }
  EXPECT_GE(files, 8);
  EXPECT_TRUE(
      TMOVReader(std::string(TACHORA_TEST_DATA) + "/container/valid_small.mov", false).HasMovie());
  EXPECT_FALSE(TMOVReader(std::string(TACHORA_TEST_DATA) + "/container/ftyp_then_random.mov", false)
                   .HasMovie());
}

// Recorders made since about 2018 write H.265 under either sample entry.
TEST(MOVReader, H265IsVideo) {
  for (const std::string format : {"hvc1", "hev1"}) {
    const TMOVReader r = Read(Build({.format = format, .width = 1920, .height = 1080}), true);
    int32_t w = 0, h = 0;
    r.VideoSize(w, h);
    EXPECT_EQ(w, 1920) << format;
    EXPECT_EQ(h, 1080) << format;
  }
}

namespace {
std::vector<uint8_t> SoundMovie(const std::function<void(TMovBuilder &)> &entry) {
  TMovBuilder b;
  b.Ftyp().Open("moov").Mvhd(1000, 400).Open("trak").Tkhd(1, 400, 0, 0);
  b.Open("mdia").Mdhd(48000, 19200).Open("minf").Open("stbl");
  b.Open("stsd").U32(0).U32(1).Open("sowt").Zeros(6).U16(1);
  entry(b);
  b.Close().Close();  // entry, stsd
  b.Close().Close().Close().Close().Close();
  return b.bytes;
}
}  // namespace

// Channels, sample size and rate from the sound description (version 0/1
// and version 2 layouts); a description cut short leaves them unknown.
TEST(MOVReader, SoundDescriptions) {
  const TMOVTrack v0 = Read(SoundMovie([](TMovBuilder &b) {
                              b.U16(0).U16(0).U32(0).U16(2).U16(16).U16(0).U16(0);
                              b.U32(44100u << 16);
                            }),
                            true)
                           .Tracks()[0];
  EXPECT_EQ(v0.channels, 2u);
  EXPECT_EQ(v0.sampleBits, 16u);
  EXPECT_EQ(v0.sampleRate, 44100);
  const TMOVTrack v2 = Read(SoundMovie([](TMovBuilder &b) {
                              b.U16(2).U16(0).U32(0).U16(3).U16(16).U16(0xFFFE).U16(0);
                              b.U32(65536).U32(72);
                              const double rate = 96000;
                              uint64_t bits;
                              std::memcpy(&bits, &rate, sizeof bits);
                              b.U64(bits).U32(6).U32(0x7F000000).U32(24).U32(0).U32(0).U32(0);
                            }),
                            true)
                           .Tracks()[0];
  EXPECT_EQ(v2.channels, 6u);
  EXPECT_EQ(v2.sampleBits, 24u);
  EXPECT_EQ(v2.sampleRate, 96000);
  const TMOVTrack cut = Read(SoundMovie([](TMovBuilder &b) { b.U16(0).U16(0); }), true).Tracks()[0];
  EXPECT_EQ(cut.codec, "SOWT");
  EXPECT_EQ(cut.channels, 0u);
  EXPECT_EQ(cut.sampleRate, 0);
}

// Edit lists: leading empty edits delay the start, the first real edit says
// where the media starts (AAC priming, the delay of B-frames).
TEST(MOVReader, EditLists) {
  const TMOVTrack plain = Read(Build({})).Tracks()[0];
  EXPECT_EQ(plain.editDelay, 0);
  EXPECT_EQ(plain.editMediaTime, 0);
  const TMOVTrack v0 = Read(Build({.extraTrak = [](TMovBuilder &b) {
                         b.Open("edts").Open("elst").U32(0).U32(3);
                         b.U32(250).U32(0xFFFFFFFF).U32(0x10000);
                         b.U32(150).U32(1024).U32(0x10000);
                         b.U32(100).U32(0).U32(0x10000);
                         b.Close().Close();
                       }})).Tracks()[0];
  EXPECT_EQ(v0.editDelay, 250);
  EXPECT_EQ(v0.editMediaTime, 1024);
  const TMOVTrack v1 = Read(Build({.extraTrak = [](TMovBuilder &b) {
                         b.Open("edts").Open("elst").U32(0x01000000).U32(1);
                         b.U64(400).U64(2048).U32(0x10000);
                         b.Close().Close();
                       }})).Tracks()[0];
  EXPECT_EQ(v1.editDelay, 0);
  EXPECT_EQ(v1.editMediaTime, 2048);
  // A count larger than the atom holds reads what is there.
  const TMOVTrack huge = Read(Build({.extraTrak = [](TMovBuilder &b) {
                           b.Open("edts").Open("elst").U32(0).U32(0xFFFFFFFF);
                           b.U32(400).U32(512).U32(0x10000);
                           b.Close().Close();
                         }})).Tracks()[0];
  EXPECT_EQ(huge.editMediaTime, 512);
}

// The samples last 0.4 s. A header that disagrees with them by more than a
// second is not believed (a 4-second clip was listed as 24,855 days), in
// the catalogue's headers-only read as well as in a full one.
TEST(MOVReader, SampleTablesWinOverHeadersThatDisagree) {
  struct TCase {
    const char *what;
    uint32_t mvhdScale, mvhdDuration, mdhdDuration;
    int64_t movieMs, trackMs;
  } cases[] = {
      {"agreeing headers", 1000, 400, 5120, 400, 400},
      {"movie header of 2^31 s", 1, 0x7fffffff, 5120, 400, 400},
      {"track header of 46 hours", 1000, 400, 0x7ffffff0, 400, 400},
      {"both damaged", 1, 0x7fffffff, 0x7fffffff, 400, 400},
      {"within a second: kept", 1000, 1300, 5120, 1300, 400},
  };
  for (const auto &c : cases)
    for (bool headersOnly : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (headersOnly ? ", headers only" : ""));
      const TMOVReader r = Read(Build({.mdhdDuration = c.mdhdDuration,
                                       .mvhdScale = c.mvhdScale,
                                       .mvhdDuration = c.mvhdDuration}),
                                headersOnly);
      ASSERT_TRUE(r.HasMovie());
      EXPECT_EQ(r.DurationMs(), c.movieMs);
      EXPECT_EQ(r.Tracks()[0].durationMs, c.trackMs);
      EXPECT_EQ(r.Tracks()[0].duration, c.trackMs * 12800 / 1000);
    }
}
