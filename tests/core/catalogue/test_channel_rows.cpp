// A card of a front and a rear camera: the files of one moment are one
// recording, trips are drives, and deleting, locking, copying and cutting
// take every camera's file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "CatalogueTestCard.h"
#include "TestMedia.h"
#include "app/UnitLang.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitChannels.h"
#include "catalogue/UnitCopyEngine.h"
#include "catalogue/UnitCutterMeta.h"

using namespace tachora;
using namespace tachora::test;

namespace {

// Small real clips: the catalogue places a recording by the stamp in its
// name once the movie header gives its length.
std::string Clip(double seconds) {
  TMediaRecipe media;
  media.seconds = seconds;
  media.width = 160;
  media.height = 120;
  media.audio = "none";
  return GenerateMovie("channel-clip", media);
}

int64_t FileSize(const std::string &path) {
  return static_cast<int64_t>(TTestCard::Read(path).size());
}

const TFileItem *RowWith(const std::vector<TFileItem> &rows, const std::string &path) {
  for (const auto &r : rows)
    for (const auto &rec : r.Items)
      if (rec.Path == path) return &r;
  return nullptr;
}

// Two drives of a front and a rear camera, the second named one second
// apart (paired by time), a camera-folder layout, and a rear file alone.
struct TTwoCameraCard {
  TTestCard card;
  std::string f1, r1, f2, r2, f3, r3, f4, r4, lone, f5, r5;
  TTwoCameraCard() {
    // Longer than the 5 s within which a row counts as lying inside another.
    const std::string clip = Clip(8), shortClip = Clip(6);
    f1 = card.CopyOf(clip, "DCIM/20240612_093000_F.MOV");
    r1 = card.CopyOf(clip, "DCIM/20240612_093000_R.MOV");
    f2 = card.CopyOf(clip, "DCIM/20240612_093008_F.MOV");
    r2 = card.CopyOf(shortClip, "DCIM/20240612_093008_R.MOV");  // the rear stopped early
    f3 = card.CopyOf(clip, "DCIM/20240612_110000_NF.MOV");
    r3 = card.CopyOf(clip, "DCIM/20240612_110001_NR.MOV");
    f4 = card.CopyOf(clip, "CAM/Front/20240612_140000.MOV");
    r4 = card.CopyOf(clip, "CAM/Rear/20240612_140000.MOV");
    lone = card.CopyOf(clip, "DCIM/20240612_160000_R.MOV");
    // A rear file cut off by power loss: media data, no movie header.
    f5 = card.CopyOf(clip, "DCIM/20240612_170000_F.MOV");
    const std::string data = TTestCard::Read(clip);
    r5 = card.Write("DCIM/20240612_170000_R.MOV", data.substr(0, data.size() / 2));
  }
};

}  // namespace

TEST(ChannelRows, OneRowPerMomentAndOneTripPerDrive) {
  InitLanguages(1033);
  TTwoCameraCard c;
  TFileManager fm(false, nullptr);
  fm.AddFolder(c.card.Root);
  fm.MatchLogFiles();
  fm.AutoGroup();
  const std::vector<TFileItem> rows = fm.Items();
  ASSERT_EQ(rows.size(), 5u);

  struct TCase {
    std::string Main;
    size_t Recordings;
    std::vector<std::string> Others;  // the other cameras' files of the row
    const char *Channels;
  };
  const TCase cases[] = {
      {c.f1, 2, {c.r1, c.r2}, "F+R"},  // the first drive: two moments, one trip
      {c.f3, 1, {c.r3}, "F+R"},        // paired by its start, not its name
      {c.f4, 1, {c.r4}, "F+R"},        // Front/ and Rear/ folders
      {c.lone, 1, {}, ""},             // a marker without a partner
      {c.f5, 1, {c.r5}, "F+R"},        // the damaged rear is still listed
  };
  for (const TCase &t : cases) {
    SCOPED_TRACE(t.Main);
    const TFileItem *row = RowWith(rows, t.Main);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Items.size(), t.Recordings);
    EXPECT_EQ(row->ChannelsText, t.Channels);
    std::vector<std::string> others;
    int64_t bytes = 0;
    for (const auto &rec : row->Items) {
      bytes += FileSize(rec.Path);
      for (const auto &ch : rec.Channels) {
        others.push_back(ch.Path);
        bytes += FileSize(ch.Path);
        EXPECT_EQ(ch.Channel, "R");
        EXPECT_EQ(ch.PictureWidth, ch.Path == c.r5 ? 0 : 160);
        EXPECT_EQ(ch.Damaged, ch.Path == c.r5 ? 1 : 0);
      }
    }
    EXPECT_EQ(others, t.Others);
    EXPECT_EQ(row->Summary.Size, bytes);  // every camera's file counts
    EXPECT_EQ(row->Items[0].Path, t.Main);
  }
  // The row says it holds a damaged file; its main file plays as it is.
  EXPECT_EQ(RowWith(rows, c.f5)->Summary.Damaged, 1);
  EXPECT_NEAR(RowWith(rows, c.f5)->Items[0].Duration, 8000, 100);
  // The rear file that stopped early keeps its own length.
  const TFileItem *first = RowWith(rows, c.f1);
  EXPECT_NEAR(first->Items[1].Channels[0].Duration, 6000, 100);
  EXPECT_NEAR(first->Items[1].Duration, 8000, 100);

  // Scanning again lists nothing twice; opening a rear file finds its row.
  fm.AddFolder(c.card.Root);
  EXPECT_EQ(fm.RowCount(), 5);
  EXPECT_EQ(fm.OpenRecording(c.r3).Items.at(0).Path, c.f3);
  EXPECT_EQ(fm.RowCount(), 5);

  // The list item ends with the Channels column.
  const int r = fm.FindRecording(c.f3);
  EXPECT_EQ(fm.FillListItem(r).SubItems.back(), "F+R");
  // Splitting the trip keeps each moment's cameras together.
  fm.UngroupAll();
  EXPECT_EQ(fm.RowCount(), 6);
  const std::vector<TFileItem> split = fm.Items();
  EXPECT_EQ(RowWith(split, c.f2)->Items[0].Channels.at(0).Path, c.r2);
}

TEST(ChannelRows, LockDeleteAndCopyTakeEveryCamera) {
  InitLanguages(1033);
  TTwoCameraCard c;
  TFileManager fm(false, nullptr);
  fm.AddFolder(c.card.Path("CAM"));
  fm.AddFolder(c.card.Path("DCIM"));
  fm.AutoGroup();
  TFileItem cam = *RowWith(fm.Items(), c.f4);

  // Locking: both files become read-only, and the row says so.
  fm.SetLockedById(cam.Id, true);
  EXPECT_EQ(TTestCard::Mode(c.f4) & 0222, 0u);
  EXPECT_EQ(TTestCard::Mode(c.r4) & 0222, 0u);
  fm.GetItemById(cam.Id, cam);
  EXPECT_EQ(cam.Summary.Locked, 1);
  EXPECT_EQ(cam.Items[0].Channels[0].Locked, 1);
  fm.SetLockedById(cam.Id, false);
  fm.GetItemById(cam.Id, cam);
  EXPECT_EQ(cam.Summary.Locked, 0);

  // Copying keeps the camera folders (the names are the same in both) and
  // verifies every file.
  const std::string target = c.card.Path("copies");
  {
    TFormCopyThread job(cam, target, {}, false);
    EXPECT_EQ(job.Sources(), (std::vector<std::string>{c.f4, c.r4}));
    EXPECT_EQ(job.TotalBytes(), FileSize(c.f4) + FileSize(c.r4));
    job.SetVerify(true);
    job.Start();
    job.WaitFor();
    EXPECT_EQ(job.ErrorCount(), 0);
    EXPECT_EQ(job.VerifiedFiles(), 2);
  }
  EXPECT_EQ(TTestCard::Read(target + "/Front/20240612_140000.MOV"), TTestCard::Read(c.f4));
  EXPECT_EQ(TTestCard::Read(target + "/Rear/20240612_140000.MOV"), TTestCard::Read(c.r4));
  EXPECT_EQ(RunCommand("cd " + ShellQuote(target) + " && sha256sum -c --quiet SHA256SUMS"), 0);

  // Deleting asks about and removes every camera's file of the trip.
  const TFileItem trip = *RowWith(fm.Items(), c.f1);
  EXPECT_EQ(fm.FilesToDelete(trip), (std::vector<std::string>{c.f1, c.r1, c.f2, c.r2}));
  // A rear file that cannot go (here a folder took its name) keeps its
  // recording listed, main file included, and says why.
  std::remove(c.r2.c_str());
  c.card.MakeDirs("DCIM/20240612_093008_R.MOV/x");
  const std::vector<TDeleteFailure> failures = fm.DeleteItemFiles(trip);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].Path, c.r2);
  EXPECT_FALSE(failures[0].Error.empty());
  EXPECT_FALSE(TTestCard::Exists(c.f1));
  EXPECT_FALSE(TTestCard::Exists(c.r1));
  EXPECT_TRUE(TTestCard::Exists(c.f2));
  const std::vector<TFileItem> after = fm.Items();
  const TFileItem *left = RowWith(after, c.f2);
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->Items.size(), 1u);
  EXPECT_EQ(left->Items[0].Channels.at(0).Path, c.r2);
  EXPECT_EQ(RowWith(after, c.f1), nullptr);
}

// The cut of a two-camera moment: one file per camera, each as long as its
// camera filmed, named with the camera's marker.
TEST(ChannelRows, CutWritesOneFilePerCamera) {
  InitLanguages(1033);
  TTwoCameraCard c;
  TFileManager fm(false, nullptr);
  fm.AddFolder(c.card.Path("DCIM"));
  fm.AutoGroup();
  const TFileItem trip = *RowWith(fm.Items(), c.f1);
  const TRowTelemetry loaded = LoadRowTelemetry(fm, trip);
  TCutOptions o;
  o.output = c.card.Path("out/X.mov");
  mkdir(c.card.Path("out").c_str(), 0755);
  o.a = 0;
  o.b = 1;
  SetCutDates(loaded.Row, o);
  const std::vector<TChannelCut> cuts =
      MakeChannelCuts(loaded.Row, MakeCutTrip(loaded.Row, loaded.Tracks), o);
  ASSERT_EQ(cuts.size(), 2u);
  EXPECT_EQ(cuts[0].Options.output, c.card.Path("out/X_F.mov"));
  EXPECT_EQ(cuts[1].Options.output, c.card.Path("out/X_R.mov"));
  EXPECT_FALSE(cuts[0].Partial);
  EXPECT_TRUE(cuts[1].Partial);  // the second rear file is two seconds short

  TMovingInfoMetaSource meta;
  const std::vector<TChannelCutResult> results = CutChannels(cuts, &meta, {});
  ASSERT_EQ(results.size(), 2u);
  const double expected[] = {16, 14};  // 8 + 8 s; 8 + 6 s
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(results[k].Channel);
    ASSERT_TRUE(results[k].Result.written) << CutErrorText(results[k].Result);
    const auto streams = ProbeStreams(results[k].Result.moviePath);
    ASSERT_FALSE(streams.empty());
    EXPECT_NEAR(streams[0].duration, expected[k], 0.15);
    EXPECT_TRUE(DecodesCleanly(results[k].Result.moviePath));
  }

  // A stop during the rear camera's cut leaves no rear file; the front one
  // is kept.
  o.output = c.card.Path("out/Y.mov");
  const std::vector<TChannelCut> again =
      MakeChannelCuts(loaded.Row, MakeCutTrip(loaded.Row, loaded.Tracks), o);
  const std::string rearOut = again[1].Options.output;
  const auto stopRear = [&](const TCutProgress &p) {
    return p.fileName.find("_R") == std::string::npos;
  };
  const auto stopped = CutChannels(again, nullptr, stopRear);
  EXPECT_TRUE(stopped[0].Result.written);
  EXPECT_FALSE(stopped[1].Result.written);
  EXPECT_FALSE(TTestCard::Exists(rearOut));

  // A one-camera row is cut under the name given.
  const TFileItem lone = *RowWith(fm.Items(), c.lone);
  o.output = c.card.Path("out/Z.mov");
  const auto single = MakeChannelCuts(lone, MakeCutTrip(lone, {}), o);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].Options.output, o.output);
}

TEST(ChannelRows, OutputNames) {
  const std::pair<const char *, const char *> cases[] = {
      {"/o/X.mov", "/o/X_R.mov"},
      {"/o/a.b/X", "/o/a.b/X_R"},
      {"/o/.hidden", "/o/.hidden_R"},
      {"X.MOV", "X_R.MOV"},
  };
  for (const auto &[in, out] : cases) EXPECT_EQ(ChannelOutputName(in, "R"), out) << in;
  EXPECT_EQ(ChannelOutputName("/o/X.mov", ""), "/o/X.mov");
}
