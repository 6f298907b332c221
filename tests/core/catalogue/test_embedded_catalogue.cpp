// The catalogue on a card whose recordings carry their telemetry inside:
// the Track and Speed columns filled from it, a trip joined by the fixes'
// times although the file times tell nothing, a telemetry file beside a
// recording winning, telemetry we cannot read noted, a copy taking each
// recording once, and deleting a row leaving the other recordings alone;
// the listing's one look at a recording giving what the probe and a load
// of the recording as a telemetry file give.
#include <gtest/gtest.h>

#include <string>

#include "CatalogueTestCard.h"
#include "TestEmbedded.h"
#include "TestMedia.h"
#include "catalogue/UnitCatalogueProbe.h"
#include "catalogue/UnitCopyEngine.h"
#include "catalogue/UnitFileManager.h"

using namespace tachora;
using namespace tachora::test;

TEST(EmbeddedCatalogue, ACardOfRecordingsWithTelemetryInside) {
  TTestCard card;
  TEmbeddedClip recipe;  // ten-second clips, a fix a second
  recipe.media.seconds = 10;
  auto place = [&](const std::string &name, const std::string &start, TEmbeddedLayout layout) {
    recipe.layout = layout;
    const auto fixes = MakeDrive(start, 10, 55.75, 37.6, 54, 90);
    const std::string path =
        card.CopyOf(GenerateEmbedded("card-" + start, fixes, recipe), "DCIM/Movie/" + name);
    // A copy of the card: every file was written at the same moment.
    TTestCard::SetTimes(path, EncodeDate(2024, 6, 1) + EncodeTime(12, 0, 0, 0));
    return path;
  };
  const std::string first = place("FILE0001.MP4", "2024-05-17 08:30:00", TEmbeddedLayout::FreeGpsA);
  const std::string second =
      place("FILE0002.MP4", "2024-05-17 08:30:10", TEmbeddedLayout::FreeGpsB);
  const std::string locked =
      place("FILE0003.MP4", "2024-05-17 09:00:00", TEmbeddedLayout::Encrypted);
  const std::string both = place("FILE0004.MP4", "2024-05-17 10:00:00", TEmbeddedLayout::FreeGpsA);
  const std::string dat =
      card.Dat("DCIM/Movie/FILE0004.dat", EncodeDate(2024, 5, 17) + EncodeTime(11, 0, 0, 0), 3);

  TFileManager fm(false, nullptr);
  ASSERT_TRUE(fm.AddFolder(card.Path("DCIM")));
  fm.MatchLogFiles();
  fm.AutoGroup();

  // The first two make one trip from 08:30:00, each its own telemetry.
  const TFileItem trip = fm.GetItem(fm.FindRecording(first));
  ASSERT_EQ(trip.Items.size(), 2u);
  EXPECT_NEAR(trip.Summary.Start, EncodeDate(2024, 5, 17) + EncodeTime(8, 30, 0, 0),
              0.5 / kSecPerDay);
  for (const TFileItemSubitem &rec : trip.Items) {
    EXPECT_EQ(rec.TelemetryPath, rec.Path);
    EXPECT_NEAR(rec.End - rec.Start, 10 / kSecPerDay, 0.1 / kSecPerDay);
    EXPECT_EQ(rec.GpsCount, 10);
    EXPECT_TRUE(rec.UnreadableTelemetry.empty());
  }
  EXPECT_FALSE(trip.TrackText.empty());
  EXPECT_NEAR(std::stod(trip.SpeedText), 54, 0.5) << trip.SpeedText;

  const TFileItem unreadable = fm.GetItem(fm.FindRecording(locked));
  ASSERT_EQ(unreadable.Items.size(), 1u);
  EXPECT_TRUE(unreadable.Items[0].TelemetryPath.empty());
  EXPECT_FALSE(unreadable.Items[0].UnreadableTelemetry.empty());
  EXPECT_TRUE(unreadable.TrackText.empty());

  const TFileItem withFile = fm.GetItem(fm.FindRecording(both));
  ASSERT_EQ(withFile.Items.size(), 1u);
  EXPECT_EQ(withFile.Items[0].TelemetryPath, dat);

  // A copy takes each recording once: its telemetry is no file of its own.
  EXPECT_EQ(TFormCopyThread(trip, card.Path("copy"), {}, false).Progress().FileCount, 2);

  // Deleting the trip removes its two recordings and nothing else.
  fm.DeleteItemFiles(trip);
  EXPECT_FALSE(TTestCard::Exists(first));
  EXPECT_FALSE(TTestCard::Exists(second));
  EXPECT_TRUE(TTestCard::Exists(locked));
  EXPECT_TRUE(TTestCard::Exists(both));
  EXPECT_TRUE(TTestCard::Exists(dat));
}

// A recorder that writes its log beside the video names it once for the
// front and the rear camera: both find it, and deleting one keeps it.
TEST(EmbeddedCatalogue, FrontAndRearShareTheirGpsLog) {
  TTestCard card;
  TMediaRecipe media;
  media.seconds = 3;
  media.audio = "aac";
  const std::string clip = GenerateMp4("blackvue-clip", media);
  const std::string front = card.CopyOf(clip, "BlackVue/Record/20240517_083000_NF.mp4");
  const std::string rear = card.CopyOf(clip, "BlackVue/Record/20240517_083000_NR.mp4");
  std::string gps;
  int64_t ms = 1715934600000;
  for (const TEmbeddedFix &f : MakeDrive("2024-05-17 08:30:00", 3, 55.75, 37.6, 54, 90)) {
    gps += "[" + std::to_string(ms) + "]" + NmeaRmc(f) + "\r\n";
    ms += 1000;
  }
  const std::string log = card.Write("BlackVue/Record/20240517_083000_N.gps", gps + '\0');
  TFileManager fm(false, nullptr);
  const TFileItem a = fm.OpenRecording(front);
  const TFileItem b = fm.OpenRecording(rear);
  ASSERT_EQ(a.Items.size(), 1u);
  ASSERT_EQ(b.Items.size(), 1u);
  EXPECT_EQ(a.Items[0].TelemetryPath, log);
  EXPECT_EQ(b.Items[0].TelemetryPath, log);
  EXPECT_EQ(a.Items[0].GpsCount, 3);
  fm.DeleteItemFiles(a);
  EXPECT_FALSE(TTestCard::Exists(front));
  EXPECT_TRUE(TTestCard::Exists(log));
}

// The listing probes and reads a recording through one opening; the
// statistics and the probe's answer must be those of the probe and the
// load of the recording as a telemetry file, in every kind of carrier:
// blocks read by their heads or whole, tracks, boxes, a clock to correct,
// telemetry we cannot read and none at all.
TEST(EmbeddedCatalogue, OneLookGivesWhatProbeAndLoadGive) {
  // Local time apart from UTC, so that a clock to correct shows.
  struct TMoscow {
    TMoscow() { Set("Europe/Moscow"); }
    ~TMoscow() { Set("UTC"); }
    static void Set(const char *tz) {
      setenv("TZ", tz, 1);
      InitLocalTimeOffset();
    }
  } moscow;
  TTestCard card;
  struct TCase {
    TEmbeddedLayout layout;
    const char *start;  // of the fixes as written
    const char *name;
  };
  const TCase cases[] = {
      {TEmbeddedLayout::FreeGpsA, "2024-05-17 08:30:00", "FILE0001.MP4"},
      {TEmbeddedLayout::FreeGpsB, "2024-05-17 08:30:00", "FILE0002.MP4"},
      // The camera's clock in the fields meant for UTC, as its name stamp.
      {TEmbeddedLayout::FreeGpsA, "2024-05-17 11:30:00", "20240517_113000_F.MP4"},
      {TEmbeddedLayout::FreeGpsAnchor, "2024-05-17 08:30:00", "FILE0003.MP4"},
      {TEmbeddedLayout::FreeGpsDollarS, "2024-05-17 08:30:00", "FILE0004.MP4"},
      {TEmbeddedLayout::Gpmf, "2024-05-17 08:30:00", "FILE0005.MP4"},
      {TEmbeddedLayout::NmeaText, "2024-05-17 08:30:00", "FILE0006.MP4"},
      {TEmbeddedLayout::BlackVue, "2024-05-17 08:30:00", "FILE0007.MP4"},
      {TEmbeddedLayout::Encrypted, "2024-05-17 08:30:00", "FILE0008.MP4"},
  };
  TEmbeddedClip recipe;
  recipe.media.seconds = 10;
  std::vector<std::string> paths;
  for (const TCase &c : cases) {
    recipe.layout = c.layout;
    const auto fixes = MakeDrive(c.start, 10, 55.75, 37.6, 54, 90);
    paths.push_back(card.CopyOf(GenerateEmbedded("look", fixes, recipe), c.name));
  }
  TMediaRecipe plain;
  plain.seconds = 3;
  plain.audio = "aac";
  paths.push_back(card.CopyOf(GenerateMp4("look-plain", plain), "FILE0009.MP4"));

  int withStats = 0;
  for (const std::string &path : paths) {
    SCOPED_TRACE(path);
    TEmbeddedReport probed, looked;
    const TEmbeddedPresence expected = ProbeEmbeddedTelemetry(path, &probed);
    TTelemetryStats want, got;
    const bool loads = expected == TEmbeddedPresence::Readable && LoadTelemetryStats(path, want);
    bool read = false;
    EXPECT_EQ(LoadEmbeddedTelemetryStats(path, got, read, &looked), expected);
    EXPECT_EQ(looked.Format, probed.Format);
    ASSERT_EQ(read, loads);
    withStats += read;
    EXPECT_EQ(got.GpsCount, want.GpsCount);
    EXPECT_EQ(got.GsensorCount, want.GsensorCount);
    EXPECT_DOUBLE_EQ(static_cast<double>(got.TrackLength), static_cast<double>(want.TrackLength));
    EXPECT_DOUBLE_EQ(static_cast<double>(got.AvgSpeed), static_cast<double>(want.AvgSpeed));
    EXPECT_EQ(got.First, want.First);
    EXPECT_EQ(got.Last, want.Last);
    EXPECT_EQ(got.EventCounts, want.EventCounts);
    // The movie header the look kept is the one the file gives.
    TMovieHeader kept, fresh;
    LoadEmbeddedTelemetryStats(path, got, read);
    const bool keptRead = ReadMovieHeader(path, kept);
    EXPECT_EQ(ReadMovieHeader(path, fresh), keptRead);
    EXPECT_TRUE(fresh.HasMovie);
    EXPECT_EQ(kept.HasMovie, fresh.HasMovie);
    EXPECT_EQ(kept.DurationMs, fresh.DurationMs);
    EXPECT_EQ(kept.Width, fresh.Width);
    EXPECT_EQ(kept.Height, fresh.Height);
    EXPECT_EQ(kept.CreationTime, fresh.CreationTime);
  }
  EXPECT_EQ(withStats, 8);  // all but the unreadable and the plain recording

  // A recording replaced after the look gives its own header.
  TEmbeddedReport report;
  TTelemetryStats stats;
  bool read = false;
  LoadEmbeddedTelemetryStats(paths[0], stats, read, &report);
  TMediaRecipe longer = plain;
  longer.seconds = 5;
  card.CopyOf(GenerateMp4("look-longer", longer), "FILE0001.MP4");
  TMovieHeader header;
  ASSERT_TRUE(ReadMovieHeader(paths[0], header));
  EXPECT_NEAR(header.DurationMs, 5000, 100);
}
