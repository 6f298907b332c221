// tachora-cli info and cut, run as a program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "../core/catalogue/GapTripCard.h"
#include "../core/container/MovBuilder.h"
#include "CliRun.h"
#include "TestMedia.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

std::string Movie() {
  TMediaRecipe s;
  s.seconds = 4;
  s.creationTime = "2026-05-01 12:30:00";
  return GenerateMovie("cli-h264-sowt", s);
}

}  // namespace

TEST(CliContainer, Info) {
  const TRun r = Cli("info " + ShellQuote(Movie()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("has_movie: true\nduration_ms: 4000\ntime_scale: 1000\n"
                       "creation_time: 2026-05-01 12:30:00\nvideo_size: 320x240\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("tracks: 2\ntrack 0: id=1 kind=1 codec=AVC1 timescale=12800 "
                       "duration_units=51200 duration_ms=4000 width=320 height=240 "
                       "samples=100 keyframes=4\ntrack 1: id=2 kind=2 codec=SOWT "
                       "timescale=48000 duration_units=192000 duration_ms=4000 width=0 "
                       "height=0 samples=192000 keyframes=0\n"),
            std::string::npos)
      << r.out;

  const TRun h = Cli("info --headers-only " + ShellQuote(Movie()));
  EXPECT_NE(h.out.find("samples=0 keyframes=0"), std::string::npos);
  EXPECT_NE(h.out.find("duration_ms: 4000"), std::string::npos);

  const TRun s = Cli("info --samples " + ShellQuote(Movie()));
  EXPECT_NE(s.out.find("\nsample 0 0 offset=36 size="), std::string::npos) << s.out.substr(0, 800);
  EXPECT_NE(s.out.find(" time=0 duration=512 key=1\nsample 0 1 offset="), std::string::npos);
  EXPECT_NE(s.out.find("\nsample 1 191999 offset="), std::string::npos);
  EXPECT_NE(s.out.find(" size=2 time=191999 duration=1 key=0\n"), std::string::npos);
}

TEST(CliContainer, InfoOnOddFiles) {
  const std::string dir = MakeTempDir("cli-info");
  // A sound format with zero bytes in it.
  TMovBuilder b;
  b.Ftyp().Open("moov").Mvhd(1000, 1000).Open("trak").Tkhd(1, 1000, 0, 0);
  b.Open("mdia").Mdhd(8000, 8000).Open("minf").Open("stbl").Stsd(std::string("ms\0\x11", 4));
  b.Close().Close().Close().Close().Close();
  const std::string odd = dir + "/odd.mov";
  std::ofstream(odd, std::ios::binary)
      .write(reinterpret_cast<const char *>(b.bytes.data()),
             static_cast<std::streamsize>(b.bytes.size()));
  const TRun r = Cli("info " + ShellQuote(odd));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("kind=2 codec=MS\\0\x11 "), std::string::npos) << r.out;

  const TRun bad =
      Cli("info " + ShellQuote(std::string(TACHORA_TEST_DATA) + "/container/ftyp_then_random.mov"));
  EXPECT_EQ(bad.status, 0);
  EXPECT_NE(bad.out.find("has_movie: false\n"), std::string::npos);
  EXPECT_NE(bad.out.find("creation_time: \n"), std::string::npos);
  EXPECT_NE(bad.out.find("tracks: 0\n"), std::string::npos);

  EXPECT_EQ(Cli("info " + dir + "/missing.mov").status, 1);
  EXPECT_EQ(Cli("info").status, 2);
  // A named pipe or a folder is refused at once, never waited on.
  const std::string fifo = dir + "/pipe.mov";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string &path : {fifo, dir}) {
    TRun p;
    p.status = RunCommand("timeout 10 " + std::string(TACHORA_CLI) + " info " + ShellQuote(path),
                          &p.out, &p.err);
    EXPECT_EQ(p.status, 1) << path;
    EXPECT_NE(p.err.find("not a regular file"), std::string::npos) << p.err;
  }
}

TEST(CliContainer, Cut) {
  TMediaRecipe s;
  const auto trip = GenerateTrip("cli-trip", {3, 3}, "2026-05-01 12:30:00", s);
  const std::string dir = MakeTempDir("cli-cut");
  const std::string out = dir + "/cut.mov";
  const TRun r = Cli("cut --progress --from 0.25 --to 0.75 -o " + ShellQuote(out) + " " +
                     ShellQuote(trip[0]) + " " + ShellQuote(trip[1]));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n");
  EXPECT_NE(r.err.find("Copying data"), std::string::npos);
  auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_EQ(probe[0].frames, 88);
  EXPECT_TRUE(DecodesCleanly(out));

  const std::string video = dir + "/video.mov";
  ASSERT_EQ(Cli("cut --from 0 --to 0.5 --no-audio --no-meta -o " + ShellQuote(video) + " " +
                ShellQuote(trip[0]) + " " + ShellQuote(trip[1]))
                .status,
            0);
  probe = ProbeStreams(video);
  ASSERT_EQ(probe.size(), 1u);
  EXPECT_EQ(probe[0].type, "video");
}

TEST(CliContainer, CutErrors) {
  const std::string dir = MakeTempDir("cli-cut-errors");
  const std::string bad = std::string(TACHORA_TEST_DATA) + "/container/ftyp_then_random.mov";
  const TRun r = Cli("cut --from 0 --to 1 -o " + dir + "/x.mov " + ShellQuote(bad));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("none of the files"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir + "/x.mov"));
  EXPECT_EQ(Cli("cut --from 0.6 --to 0.5 -o " + dir + "/y.mov " + ShellQuote(Movie())).status, 1);
  EXPECT_EQ(Cli("cut --from x --to 0.5 -o " + dir + "/y.mov " + ShellQuote(Movie())).status, 2);
  EXPECT_EQ(Cli("cut --from 0 --to 0.5 " + ShellQuote(Movie())).status, 2);
  EXPECT_FALSE(fs::exists(dir + "/y.mov"));
}

// Telemetry beside a recording goes into OUT's .dat; --no-meta leaves it out.
TEST(CliContainer, CutWithTelemetry) {
  const std::string dir = MakeTempDir("cli-cut-meta");
  // As long as the track, so that the catalogue lays the two over each other.
  TMediaRecipe s;
  s.seconds = 10;
  fs::copy_file(GenerateMovie("cli-meta", s), dir + "/FILE0001.MOV");
  fs::copy_file(std::string(TACHORA_TEST_DATA) + "/telemetry/sample.dat", dir + "/file0001.dat");
  const std::string out = dir + "/cut.mov";
  const TRun r = Cli("cut --from 0.2 --to 0.6 -o " + ShellQuote(out) + " " +
                     ShellQuote(dir + "/FILE0001.MOV"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n" + dir + "/cut.dat\n");
  std::ifstream f(dir + "/cut.dat", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("[G]\t", 0), 0u) << text;
  EXPECT_NE(text.find("\r\n[S]\t"), std::string::npos);

  const std::string out2 = dir + "/plain.mov";
  const TRun n = Cli("cut --from 0.2 --to 0.6 --no-meta -o " + ShellQuote(out2) + " " +
                     ShellQuote(dir + "/FILE0001.MOV"));
  EXPECT_EQ(n.out, out2 + "\n");
  EXPECT_FALSE(fs::exists(dir + "/plain.dat"));

  // Neither the movie nor its .dat may take the place of a source file:
  // "file0001.mov" is a new name, but its .dat is the recording's telemetry.
  const std::string telemetry = dir + "/file0001.dat";
  const auto telemetrySize = fs::file_size(telemetry);
  for (const std::string name : {"/file0001.mov", "/FILE0001.MOV"}) {
    const TRun self = Cli("cut --from 0.2 --to 0.6 -o " + ShellQuote(dir + name) + " " +
                          ShellQuote(dir + "/FILE0001.MOV"));
    EXPECT_EQ(self.status, 1) << name;
    EXPECT_NE(self.err.find("would replace"), std::string::npos) << self.err;
  }
  EXPECT_EQ(fs::file_size(telemetry), telemetrySize);
  EXPECT_FALSE(fs::exists(dir + "/file0001.mov"));
  EXPECT_GT(fs::file_size(dir + "/FILE0001.MOV"), 100000u);

  // An unrelated X.dat beside the chosen X.mov is kept unless --overwrite.
  std::ofstream(dir + "/X.dat") << "my notes";
  const std::string x = ShellQuote(dir + "/X.mov") + " " + ShellQuote(dir + "/FILE0001.MOV");
  const TRun kept = Cli("cut --from 0.2 --to 0.6 -o " + x);
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find(dir + "/X.dat"), std::string::npos) << kept.err;
  EXPECT_NE(kept.err.find("--overwrite"), std::string::npos) << kept.err;
  EXPECT_FALSE(fs::exists(dir + "/X.mov"));
  EXPECT_EQ(fs::file_size(dir + "/X.dat"), 8u);
  EXPECT_EQ(Cli("cut --from 0.2 --to 0.6 --overwrite -o " + x).status, 0);
  EXPECT_GT(fs::file_size(dir + "/X.dat"), 8u);
}

// The fractions refer to the trip as the catalogue times it: two 4-second
// clips with a 4-second stop between them make a 12-second trip, so 0.75 ...
// 0.95 (9 s ... 11.4 s) lies wholly in the second clip, from its key frame
// at 1 s on. A file that cannot be read is named and left out.
TEST(CliContainer, CutFollowsTheCatalogueTimeLine) {
  TTestCard card;
  const TGapTrip clips(card);
  const std::string out = card.Path("cut.mov");
  const std::string missing = card.Path("DCIM/100MEDIA/FILE0009.MOV");
  const TRun r =
      Cli("cut --from 0.75 --to 0.95 -o " + ShellQuote(out) + " " + ShellQuote(clips.First) + " " +
          ShellQuote(missing) + " " + ShellQuote(clips.Second));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n" + card.Path("cut.dat") + "\n");
  EXPECT_NE(r.err.find(missing + ": no such file"), std::string::npos) << r.err;
  const uint32_t frames = SampleCount(out, 0);
  EXPECT_GE(frames, 60u);
  EXPECT_LE(frames, 62u);
  EXPECT_EQ(SameSamples(out, 0, 0, clips.Second, 0, 25), frames);
  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 3u);  // picture, sound, the telemetry's subtitles
  EXPECT_EQ(probe[0].frames, frames);
  EXPECT_EQ(probe[2].type, "subtitle");

  // Over the stop: the end of the first clip, then the start of the second.
  const std::string gap = card.Path("gap.mov");
  ASSERT_EQ(Cli("cut --from 0.27 --to 0.78 --no-meta -o " + ShellQuote(gap) + " " +
                ShellQuote(clips.Second) + " " + ShellQuote(clips.First))
                .status,
            0);
  EXPECT_FALSE(TTestCard::Exists(card.Path("gap.dat")));
  const uint32_t all = SampleCount(gap, 0);
  ASSERT_GT(all, 25u);
  EXPECT_EQ(SameSamples(gap, 0, 0, clips.First, 0, 75), 25u);
  EXPECT_EQ(SameSamples(gap, 0, 25, clips.Second, 0, 0), all - 25);
  EXPECT_EQ(ProbeStreams(gap).at(0).frames, all);

  const TRun none =
      Cli("cut --from 0 --to 1 -o " + ShellQuote(card.Path("x.mov")) + " " + ShellQuote(missing));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("none of the files"), std::string::npos) << none.err;
}

// A cut that would hold no track is refused with a message and no file:
// neither video nor audio chosen, or a picture in a format not known.
TEST(CliContainer, CutOfNothingIsRefused) {
  const std::string dir = MakeTempDir("cli-cut-nothing");
  const TRun none = Cli("cut --from 0 --to 0.5 --no-video --no-audio -o " +
                        ShellQuote(dir + "/a.mov") + " " + ShellQuote(Movie()));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Neither video nor audio"), std::string::npos) << none.err;
  TMediaRecipe png;
  png.audio = "none";
  png.seconds = 2;
  png.extraArgs = "-c:v png";
  const TRun unknown = Cli("cut --from 0 --to 0.5 --no-meta -o " + ShellQuote(dir + "/b.mov") +
                           " " + ShellQuote(GenerateMovie("png-only", png)));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("no video or audio in a known format"), std::string::npos)
      << unknown.err;
  EXPECT_TRUE(fs::is_empty(dir));
}

// H.265 recordings in ".mp4" files cut like any other; the cut plays.
TEST(CliContainer, CutOfH265Mp4) {
  TMediaRecipe s;
  s.audio = "aac";
  s.extraArgs = HevcArgs(25, true, "hvc1");
  const auto trip = GenerateMp4Trip("cli-h265", {3, 3}, "2026-05-01 12:30:00", s);
  const std::string out = MakeTempDir("cli-cut-h265") + "/cut.mp4";
  const TRun r = Cli("cut --from 0.25 --to 0.75 -o " + ShellQuote(out) + " " + ShellQuote(trip[0]) +
                     " " + ShellQuote(trip[1]));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_EQ(probe[0].codec, "hevc");
  EXPECT_EQ(CountPackets(out, 0), 88);
  EXPECT_TRUE(DecodesCleanly(out));
}
