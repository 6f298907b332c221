// Repairing recordings left without sample tables: broken files are made the
// way a camera leaves them (an ffmpeg recording with its movie atom cut off
// and its media-data size zeroed, cut at several points), repaired, and
// their pictures compared with the original's frame for frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "TestMedia.h"
#include "container/UnitMOV.h"
#include "container/UnitRepair.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

void WriteAll(const std::string &path, const std::string &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
}

// The picture's frames as ffmpeg's framemd5 gives them.
std::vector<std::string> FrameHashes(const std::string &path) {
  std::string out;
  RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0:v -f framemd5 -", &out);
  std::vector<std::string> hashes;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
  return hashes;
}

struct TBreak {
  double cut = 1;            // fraction of the media data kept
  bool zeroSize = true;      // the media-data size left at 0 (else it points past the end)
  bool cameraBlock = false;  // a freeGPS block between two samples half-way
  int64_t zeroTail = 0;      // zero bytes appended after the cut
};

struct TBroken {
  std::string path;
  uint32_t wholeFrames = 0;  // pictures lying wholly before the cut
};

// The recording as a camera that lost power leaves it.
TBroken Break(const std::string &original, const std::string &path, const TBreak &b) {
  TMOVReader r(original, false);
  EXPECT_TRUE(r.HasMovie());
  std::string data = ReadFileBytes(original);
  const int64_t moov = r.MovieAtomOffset();
  EXPECT_GT(moov, 0);
  const int64_t mdat = int64_t(data.find("mdat")) - 4;
  const int64_t payload = mdat + 8;
  const int64_t cut = payload + int64_t((moov - payload) * b.cut);
  TBroken out;
  const TMOVTrack *video = r.VideoTrack();
  for (uint32_t k = 0; k < video->SampleCount(); ++k)
    out.wholeFrames += video->SampleOffset(k) + video->SampleSize(k) <= cut;
  data.resize(size_t(cut));
  if (b.zeroSize) data.replace(size_t(mdat), 4, std::string(4, '\0'));
  if (b.cameraBlock) {
    const uint32_t k = video->SampleCount() / 4;
    const int64_t at = video->SampleOffset(k);
    std::string block = std::string("\0\0\x01\0freeGPS ", 12) + std::string(256 - 12, 'G');
    if (at < cut) data.insert(size_t(at), block);
  }
  data.append(size_t(b.zeroTail), '\0');
  WriteAll(path, data);
  out.path = path;
  return out;
}

struct TPair {
  const char *name;
  std::string video;  // "h264" or "h265"
  std::string audio;
  int sampleRate = 48000;
  int channels = 1;
};

TMediaRecipe RecipeOf(const TPair &p, double seconds) {
  TMediaRecipe s;
  s.seconds = seconds;
  s.audio = p.audio;
  s.sampleRate = p.sampleRate;
  s.channels = p.channels;
  if (p.video == "h265") s.extraArgs = HevcArgs(25, false, "hvc1");
  s.bframes = p.video == "h264b";
  return s;
}

}  // namespace

// Every codec pair, cut at several points: the pictures up to the cut are
// the original's, bit for bit; the sound stays with the picture; ffmpeg
// decodes the result without an error.
TEST(Repair, CodecPairsCutAnywhereKeepTheOriginalFrames) {
  const TPair pairs[] = {
      {"h264-sowt", "h264", "pcm_s16le"},   {"h264-twos", "h264", "pcm_s16be"},
      {"h264b-sowt", "h264b", "pcm_s16le"}, {"h264-sowt-stereo", "h264", "pcm_s16le", 16000, 2},
      {"h265-sowt", "h265", "pcm_s16le"},   {"h264-aac", "h264", "aac"},
      {"h265-aac", "h265", "aac"}};
  const TBreak breaks[] = {{0.37}, {0.81, false}, {1.0}, {0.63, true, true, 200000}};
  const std::string dir = MakeTempDir("repair-pairs");
  for (const TPair &pair : pairs) {
    const std::string original =
        GenerateMovie(std::string("repair-") + pair.name, RecipeOf(pair, 6));
    const std::string reference =
        GenerateMovie(std::string("repair-ref-") + pair.name, RecipeOf(pair, 3));
    const std::vector<std::string> originalFrames = FrameHashes(original);
    for (size_t i = 0; i < std::size(breaks); ++i) {
      SCOPED_TRACE(std::string(pair.name) + " break " + std::to_string(i));
      const TBroken broken =
          Break(original, dir + "/" + pair.name + std::to_string(i) + ".MOV", breaks[i]);
      EXPECT_TRUE(IsDamagedRecording(broken.path));
      const std::string out = RepairedFileName(broken.path);
      const TRepairResult r = RepairRecording(broken.path, reference, out);
      ASSERT_TRUE(r.Ok()) << RepairErrorText(r);
      EXPECT_EQ(r.videoFrames, broken.wholeFrames);
      EXPECT_EQ(r.cameraBlocks, breaks[i].cameraBlock ? 1 : 0);
      const std::vector<std::string> frames = FrameHashes(out);
      ASSERT_EQ(frames.size(), broken.wholeFrames);
      // With B-frames the last pictures before the cut may be shown after
      // ones that were cut off: those (two B-frames and their anchor) differ.
      const size_t compared = pair.video == "h264b" ? frames.size() - 3 : frames.size();
      for (size_t k = 0; k < compared; ++k) ASSERT_EQ(frames[k], originalFrames[k]) << k;
      // Sound within about a chunk of the picture (the interleave's step).
      EXPECT_NEAR(r.soundSeconds, r.videoSeconds, 0.2);
      std::string errors;
      EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
      if (breaks[i].cameraBlock) {
        EXPECT_NE(ReadFileBytes(out).find("freeGPS "), std::string::npos);
      }
      EXPECT_FALSE(IsDamagedRecording(out));
    }
  }
}

// Bad input gives a clear error and leaves no file behind.
TEST(Repair, BadInputIsRefusedWithoutOutput) {
  const std::string dir = MakeTempDir("repair-bad");
  const TPair h264{"h264", "h264", "pcm_s16le"}, h265{"h265", "h265", "pcm_s16le"};
  const std::string original = GenerateMovie("repair-h264-sowt", RecipeOf(h264, 6));
  const std::string reference = GenerateMovie("repair-ref-h264-sowt", RecipeOf(h264, 3));
  TMediaRecipe large = RecipeOf(h264, 3);
  large.width = 640;
  large.height = 480;
  const std::string otherSize = GenerateMovie("repair-ref-640", large);
  TMediaRecipe hevcB = RecipeOf(h265, 3);
  hevcB.extraArgs = HevcArgs(25, true, "hvc1");
  const std::string hevcBframes = GenerateMovie("repair-ref-h265b", hevcB);
  const std::string broken = Break(original, dir + "/broken.MOV", {0.5}).path;
  const std::string brokenHevc =
      Break(GenerateMovie("repair-h265-sowt", RecipeOf(h265, 6)), dir + "/hevc.MOV", {0.5}).path;
  WriteAll(dir + "/zeros.MOV", std::string(1 << 20, '\0'));
  std::string noise(1 << 20, '\0');
  std::mt19937 rng(7);
  for (char &c : noise) c = char(rng());
  WriteAll(dir + "/random.MOV", noise);
  WriteAll(dir + "/random-mdat.MOV", ReadFileBytes(broken).substr(0, 36) + noise);

  struct TCase {
    const char *name;
    std::string broken, reference;
    TRepairError error;
    bool cancel = false;
  } cases[] = {
      {"another camera's picture", brokenHevc, reference, TRepairError::DataDoesNotMatch},
      {"another picture size", broken, otherSize, TRepairError::DataDoesNotMatch},
      {"broken reference", broken, broken, TRepairError::ReferenceUnreadable},
      {"H.265 with B-frames", brokenHevc, hevcBframes, TRepairError::ReferenceUnsupported},
      {"not damaged", original, reference, TRepairError::NotDamaged},
      {"zeros", dir + "/zeros.MOV", reference, TRepairError::NoMediaData},
      {"random bytes", dir + "/random.MOV", reference, TRepairError::NoMediaData},
      {"random media data", dir + "/random-mdat.MOV", reference, TRepairError::DataDoesNotMatch},
      {"missing file", dir + "/none.MOV", reference, TRepairError::BrokenUnreadable},
      {"cancelled", broken, reference, TRepairError::Cancelled, true},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir + "/out.MOV";
    std::atomic<bool> cancel{c.cancel};
    const TRepairResult r = RepairRecording(c.broken, c.reference, out, {}, &cancel);
    EXPECT_EQ(r.error, c.error) << RepairErrorText(r);
    EXPECT_FALSE(RepairErrorText(r).empty());
    EXPECT_FALSE(fs::exists(out));
  }
  // Nothing but the broken file and the inputs above is left in the folder.
  for (const auto &e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

// A file above 4 GiB (sparse: a zero-filled tail, as a preallocating camera
// leaves it, with a 64-bit media-data size past the end) is repaired from
// what lies before the zeros, without reading them all.
TEST(Repair, SparseFileAbove4GiB) {
  const std::string dir = MakeTempDir("repair-large");
  const TPair h264{"h264", "h264", "pcm_s16le"};
  const std::string original = GenerateMovie("repair-h264-sowt", RecipeOf(h264, 6));
  const std::string reference = GenerateMovie("repair-ref-h264-sowt", RecipeOf(h264, 3));
  const TBroken b = Break(original, dir + "/big.MOV", {0.5});
  std::string data = ReadFileBytes(b.path);
  // ftyp (20) + wide (8) + mdat: turn "wide" + mdat header into one 64-bit header.
  const size_t mdat = data.find("mdat") - 4;
  ASSERT_EQ(data.substr(mdat - 4, 4), "wide");
  std::string header("\0\0\0\x01mdat", 8);
  const uint64_t claimed = (uint64_t(5) << 30);
  for (int i = 0; i < 8; ++i) header += char(claimed >> (56 - 8 * i));
  data.replace(mdat - 8, 16, header);
  WriteAll(b.path, data);
  fs::resize_file(b.path, (uint64_t(9) << 29));  // 4.5 GiB
  const std::string out = dir + "/out.MOV";
  const TRepairResult r = RepairRecording(b.path, reference, out);
  ASSERT_TRUE(r.Ok()) << RepairErrorText(r);
  EXPECT_EQ(r.videoFrames, b.wholeFrames);
  EXPECT_LT(fs::file_size(out), uint64_t(1) << 24);
  EXPECT_TRUE(DecodesCleanly(out));
  fs::remove(b.path);
}

// Without a named reference the nearest healthy recording of the same
// formats in the folder is chosen; others of another size or codec are not.
TEST(Repair, ChoosesAMatchingReferenceFromTheFolder) {
  const std::string dir = MakeTempDir("repair-choose");
  const TPair h264{"h264", "h264", "pcm_s16le"}, h265{"h265", "h265", "pcm_s16le"};
  TMediaRecipe large = RecipeOf(h264, 3);
  large.width = 640;
  large.height = 480;
  const auto copy = [&](const std::string &from, const std::string &name, int minutes) {
    const std::string to = dir + "/" + name;
    fs::copy_file(from, to);
    fs::last_write_time(to, fs::file_time_type::clock::now() - std::chrono::minutes(minutes));
    return to;
  };
  const TBroken b =
      Break(GenerateMovie("repair-h264-sowt", RecipeOf(h264, 6)), dir + "/b.MOV", {0.5});
  fs::last_write_time(b.path, fs::file_time_type::clock::now());
  copy(GenerateMovie("repair-ref-640", large), "near-640.MOV", 1);
  copy(GenerateMovie("repair-ref-h265-sowt", RecipeOf(h265, 3)), "near-hevc.MOV", 2);
  const std::string good =
      copy(GenerateMovie("repair-ref-h264-sowt", RecipeOf(h264, 3)), "far.MOV", 9);
  copy(b.path, "other-broken.MOV", 0);
  EXPECT_EQ(ChooseRepairReference(b.path), good);
  fs::remove(good);
  EXPECT_EQ(ChooseRepairReference(b.path), "");
}
