// TFileManager on small cards: telemetry look-up, preview, scanning limits,
// log matching, grouping operations, locking, removal and deletion.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

#include "CatalogueTestCard.h"
#include "TestMedia.h"
#include "TestProtect.h"
#include "app/UnitLang.h"
#include "catalogue/UnitCatalogueProbe.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitRecordingKind.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;
using tachora::test::TTestCard;

namespace {

constexpr double kSec = 1.0 / 86400.0;
constexpr double kMin = 60 * kSec;
const TDateTime kDay = EncodeDate(2024, 5, 1);
TDateTime At(int h, int m, int s = 0) {
  return kDay + EncodeTime(h, m, s, 0);
}

std::string Clip() {
  tachora::test::TMediaRecipe media;
  media.seconds = 3;
  media.width = 160;
  media.height = 120;
  media.audio = "none";
  return tachora::test::GenerateMovie("catalogue-clip", media);
}

const TFileItemSubitem *FindRec(const std::vector<TFileItem> &rows, const std::string &name) {
  for (const auto &r : rows)
    for (const auto &rec : r.Items)
      if (rec.DisplayName == name) return &rec;
  return nullptr;
}

TFileItemSubitem Rec(const std::string &name, TDateTime start, TDateTime end) {
  TFileItemSubitem r;
  r.Path = "/card/" + name + ".MOV";
  r.DisplayName = name;
  r.Start = start;
  r.End = end;
  r.Size = 1000;
  r.Duration = RoundHalfAway(static_cast<long double>(end - start) * kMsPerDay);
  r.DurationSource = kDurContainer;
  return r;
}

}  // namespace

class CatalogueCard : public ::testing::Test {
 protected:
  void SetUp() override { InitLanguages(1033); }
  TTestCard card;
};

TEST_F(CatalogueCard, TelemetryLookupOrderAndPreview) {
  // Sidecar in another letter case wins over the INFO folder.
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0001.MOV"), At(10, 3));
  card.Dat("DCIM/100MEDIA/file0001.dat", At(10, 0), 180);
  card.Dat("DCIM/INFO/FILE0001.DAT", At(11, 0), 60);
  // Only the INFO folder (itself in another case).
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0002.MOV"), At(12, 0));
  card.Dat("DCIM/Info/file0002.dat", At(12, 0), 120);
  // Only a .dat of the same name met elsewhere during the scan.
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0003.MOV"), At(13, 0));
  card.Dat("DCIM/OTHER/FILE0003.DAT", At(13, 0), 60);
  // A telemetry file with a single sample is no telemetry.
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0004.MOV"), At(14, 0));
  card.Write("DCIM/100MEDIA/FILE0004.DAT", TTestCard::DatText(At(14, 0), 0).substr(0, 60));

  TFileManager fm(false, nullptr);
  EXPECT_TRUE(fm.AddFolder(card.Root));
  EXPECT_FALSE(fm.AddFolder(card.Root));  // nothing new the second time
  const auto rows = fm.Items();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(fm.Status(), "");

  const auto *r1 = FindRec(rows, "FILE0001");
  ASSERT_TRUE(r1);
  EXPECT_EQ(r1->TelemetryPath, card.Path("DCIM/100MEDIA/file0001.dat"));
  // No movie in the file: the telemetry's span is taken (source 2 keeps it).
  EXPECT_EQ(r1->DurationSource, kDurNoHeader);
  EXPECT_EQ(r1->Duration, 180000);
  EXPECT_NEAR(r1->Start, At(10, 0), 1e-6);
  EXPECT_NEAR(r1->End, At(10, 3), 1e-6);
  EXPECT_NEAR(static_cast<double>(r1->TrackLength), 1800, 2);
  EXPECT_EQ(FindRec(rows, "FILE0002")->TelemetryPath, card.Path("DCIM/Info/file0002.dat"));
  EXPECT_EQ(FindRec(rows, "FILE0003")->TelemetryPath, card.Path("DCIM/OTHER/FILE0003.DAT"));
  const auto *r4 = FindRec(rows, "FILE0004");
  EXPECT_EQ(r4->TelemetryPath, "");
  EXPECT_EQ(r4->GpsStart, 0);

  const int row1 = fm.FindRecording(card.Path("DCIM/100MEDIA/FILE0001.MOV"));
  ASSERT_GE(row1, 0);
  const TListItem li = fm.FillListItem(row1);
  EXPECT_EQ(li.Caption, "FILE0001");
  ASSERT_EQ(li.SubItems.size(), 10u);
  EXPECT_EQ(li.SubItems[0], "3:00");
  EXPECT_EQ(li.SubItems[1], "2024-05-01 10:00");
  EXPECT_EQ(li.SubItems[2], "1.80km");
  EXPECT_EQ(li.SubItems[4], card.Path("DCIM/100MEDIA/FILE0001.MOV"));
  EXPECT_EQ(li.SubItems[7], "Normal");
  EXPECT_EQ(li.SubItems[8], "0");  // G-sensor samples, no event
  EXPECT_EQ(li.SubImages[0], 3);   // duration not from the container
  EXPECT_EQ(li.SubImages[2], 4);   // has a track
  EXPECT_EQ(li.Image, -1);
}

TEST_F(CatalogueCard, RealClipTakesContainerDurationAndMovesToItsTrack) {
  const std::string mov = card.CopyOf(Clip(), "DCIM/100MEDIA/FILE0001.MOV");
  card.SetTimes(mov, At(9, 0));  // file times far from the track
  card.Dat("DCIM/100MEDIA/FILE0001.DAT", At(10, 0), 180);
  TFileManager fm(false, nullptr);
  const TFileItem row = fm.OpenRecording(mov);
  ASSERT_EQ(row.Items.size(), 1u);
  const auto &r = row.Items[0];
  EXPECT_EQ(r.DurationSource, kDurContainer);
  EXPECT_NEAR(static_cast<double>(r.Duration), 3000, 100);
  EXPECT_EQ(r.PictureWidth, 160);
  EXPECT_EQ(row.PictureText, "160x120");
  // 3 s of video against 180 s of track, apart in time: moved to end with it.
  EXPECT_NEAR(r.End, At(10, 3), 1e-6);
  EXPECT_NEAR(r.Start, At(10, 3) - r.Duration / kMsPerDay, 1e-6);
  EXPECT_EQ(row.DurationText, DurationText(r.Duration));  // no "~" from the container
  // A file that does not exist gives an empty row.
  EXPECT_TRUE(fm.OpenRecording(card.Path("nothing.MOV")).Items.empty());
  EXPECT_EQ(fm.RowCount(), 1);
}

// A parking-lapse clip: 3 s of picture for 3 minutes of telemetry. Loaded
// for playback, all of the telemetry is laid over the 3 s proportionally
// (nothing trimmed), and the ratio is known for the details window.
TEST_F(CatalogueCard, TimeLapseTelemetryIsMappedOntoThePlayingTime) {
  const std::string mov = card.CopyOf(Clip(), "DCIM/PARK/FILE0001.MOV");
  card.SetTimes(mov, At(10, 3));
  card.Dat("DCIM/PARK/FILE0001.DAT", At(10, 0), 180);
  TFileManager fm(false, nullptr);
  const TFileItem row = fm.OpenRecording(mov);
  ASSERT_EQ(row.Items.size(), 1u);
  EXPECT_EQ(row.Summary.Kind, kKindParking);
  const TRowTelemetry loaded = LoadRowTelemetry(fm, row);
  ASSERT_EQ(loaded.Tracks.size(), 1u);
  ASSERT_EQ(loaded.TimeLapse.size(), 1u);
  const auto &r = loaded.Row.Items[0];
  EXPECT_NEAR(loaded.TimeLapse[0], 180 / (r.Duration / 1000.0), 1);
  const TMovingInfo &mi = *loaded.Tracks[0];
  EXPECT_EQ(mi.GpsPoints.size(), 181u);
  EXPECT_NEAR(mi.StartTime, r.Start, 1e-9);
  EXPECT_NEAR(mi.EndTime, r.End, 1e-9);
  // The row keeps the telemetry's real times, so loading again finds the
  // same lapse.
  EXPECT_NEAR(loaded.Row.Items[0].GpsStart, At(10, 0), 1e-6);
  const TRowTelemetry again = LoadRowTelemetry(fm, loaded.Row);
  EXPECT_EQ(again.Tracks[0]->GpsPoints.size(), 181u);
  EXPECT_NEAR(again.TimeLapse[0], loaded.TimeLapse[0], 1e-9);
}

// The preview works on a copy of a row for a while (telemetry files,
// container header); what the user does meanwhile must survive its store,
// and the preview's own findings must survive a user's command.
TEST_F(CatalogueCard, PreviewStoresOnlyWhatItWorkedOut) {
  using A = TFileManagerTestAccess;
  const std::string mov = card.CopyOf(Clip(), "DCIM/100MEDIA/FILE0001.MOV");
  card.SetTimes(mov, At(10, 0));
  const std::string track = card.Dat("t/track.dat", At(10, 0) - 3 * kSec, 3);
  auto row = [](TFileManager &fm) { return fm.GetItem(0).Items[0]; };

  {  // Attach track while the preview works: the attached track stays.
    TFileManager fm(false, nullptr);
    fm.OpenRecording(mov);  // worked out once; the test repeats the preview
    auto work = A::Take(fm, mov);
    fm.AttachTrack(0, track);
    A::Preview(fm, work);
    EXPECT_EQ(row(fm).TelemetryPath, track);
    EXPECT_EQ(row(fm).GpsCount, 4);
  }
  {  // Move video position while the preview works: the shift stays.
    TFileManager fm(false, nullptr);
    fm.OpenRecording(mov);
    const auto before = row(fm);
    auto work = A::Take(fm, mov);
    fm.ShiftItem(0, 1.0 / 24);
    A::Preview(fm, work);
    EXPECT_NEAR(row(fm).End, before.End + 1.0 / 24, 1e-9);
    EXPECT_NEAR(row(fm).Start, before.Start + 1.0 / 24, 1e-9);
  }
  {  // A duration from the player while the preview works stays.
    TFileManager fm(false, nullptr);
    fm.AddFolder(card.Path("DCIM"));
    auto work = A::Take(fm, mov);
    fm.SetDuration(mov, 2500);
    A::Preview(fm, work);
    EXPECT_EQ(row(fm).Duration, 2500);
    EXPECT_EQ(row(fm).DurationSource, kDurContainer);
  }
  {  // The container probe that lands during an attach is not wiped by it.
    TFileManager fm(false, nullptr);
    fm.AddRecording(mov);
    ASSERT_EQ(row(fm).PictureWidth, 0);
    auto attach = A::Take(fm, mov);
    auto preview = A::Take(fm, mov);
    A::Preview(fm, preview);
    ASSERT_EQ(row(fm).PictureWidth, 160);
    A::Attach(fm, attach, track);
    EXPECT_EQ(row(fm).TelemetryPath, track);
    EXPECT_EQ(row(fm).PictureWidth, 160);
    EXPECT_EQ(row(fm).DurationSource, kDurContainer);
  }
}

// Newer recorders write ".MP4" files: catalogued by a search like ".MOV",
// with the same sidecar and INFO look-ups, joined into one trip.
TEST_F(CatalogueCard, Mp4RecordingsFormATripWithTheirTelemetry) {
  tachora::test::TMediaRecipe media;
  media.seconds = 3;
  media.width = 160;
  media.height = 120;
  media.audio = "aac";
  // H.265 in .mp4, as recorders made since about 2018 write them.
  media.extraArgs = tachora::test::HevcArgs(25, false, "hvc1");
  const std::string clip = tachora::test::GenerateMp4("catalogue-mp4", media);
  const char *names[] = {"FILE0001.MP4", "file0002.mp4", "FILE0003.Mp4"};
  for (int i = 0; i < 3; ++i) {
    const std::string p = card.CopyOf(clip, std::string("DCIM/100MEDIA/") + names[i]);
    card.SetTimes(p, At(10, 0, 3 + i * 10));  // 3 s each, 7 s apart
  }
  card.Dat("DCIM/100MEDIA/FILE0001.dat", At(10, 0, 0), 3);
  card.Dat("DCIM/INFO/FILE0002.DAT", At(10, 0, 10), 3);
  card.Write("DCIM/100MEDIA/NOTES.txt", "not a recording");
  card.Write("DCIM/100MEDIA/SONG.mp3", "not a recording");

  TFileManager fm(false, nullptr);
  EXPECT_TRUE(fm.AddFolder(card.Root));
  EXPECT_EQ(fm.RowCount(), 3);
  fm.AutoGroup();
  ASSERT_EQ(fm.RowCount(), 1);
  const TFileItem trip = fm.GetItem(0);
  ASSERT_EQ(trip.Items.size(), 3u);
  EXPECT_EQ(trip.Summary.DisplayName, "FILE0001-3");
  EXPECT_EQ(trip.Items[0].TelemetryPath, card.Path("DCIM/100MEDIA/FILE0001.dat"));
  EXPECT_EQ(trip.Items[1].TelemetryPath, card.Path("DCIM/INFO/FILE0002.DAT"));
  EXPECT_EQ(trip.Items[2].TelemetryPath, "");
  for (const auto &r : trip.Items) {
    EXPECT_EQ(r.DurationSource, kDurContainer) << r.Path;
    EXPECT_NEAR(static_cast<double>(r.Duration), 3000, 100);
  }
  EXPECT_EQ(trip.PictureText, "160x120");
  EXPECT_TRUE(IsRecordingName("A.MOV") && IsRecordingName("a.mp4") && !IsRecordingName(".mp4"));
  EXPECT_EQ(FindRecordingFor(card.Path("DCIM/100MEDIA/FILE0002.DAT")),
            card.Path("DCIM/100MEDIA/file0002.mp4"));
}

// NMEA logs beside .MOV and .MP4 recordings, in other letter cases, give
// their rows a track: the receiver's RMC and GGA sentences (UTC) driving
// east at 10 m/s for `seconds` seconds from `start` (local).
TEST_F(CatalogueCard, NmeaSidecarsGiveTheirRowsATrack) {
  auto nmea = [](TDateTime start, int seconds) {
    std::string text;
    const double degPerMetre = 1.0 / (111194.93 * std::cos(55.75 * M_PI / 180));
    for (int i = 0; i <= seconds; ++i) {
      const TDateParts t = DecodeDateTime(LocalToUtc(start + i * kSec));
      const double lonMinutes = (0.6 + i * 10 * degPerMetre) * 60;
      char time[16], pos[64];
      std::snprintf(time, sizeof time, "%02d%02d%02d", t.hour, t.minute, t.second);
      std::snprintf(pos, sizeof pos, "5545.000000,N,037%09.6f,E", lonMinutes);
      char line[256];
      std::snprintf(line, sizeof line,
                    "$GPGGA,%s,%s,1,08,0.9,150.0,M,,M,,\r\n"
                    "$GPRMC,%s,A,%s,19.438,90.0,%02d%02d%02d,,,A\r\n",
                    time, pos, time, pos, t.day, t.month, t.year % 100);
      text += line;
    }
    return text;
  };
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0001.MOV"), At(10, 3));
  card.Write("DCIM/100MEDIA/file0001.nmea", nmea(At(10, 0), 180));
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0002.MP4"), At(11, 2));
  card.Write("DCIM/100MEDIA/FILE0002.NMEA", nmea(At(11, 0), 120));
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0003.mp4"), At(12, 1));
  card.Write("DCIM/100MEDIA/file0003.txt", "[0]" + nmea(At(12, 0), 60));

  TFileManager fm(false, nullptr);
  EXPECT_TRUE(fm.AddFolder(card.Root));
  const auto rows = fm.Items();
  ASSERT_EQ(rows.size(), 3u);
  const struct {
    const char *name, *telemetry;
    TDateTime start;
    double metres;
  } want[] = {{"FILE0001", "DCIM/100MEDIA/file0001.nmea", At(10, 0), 1800},
              {"FILE0002", "DCIM/100MEDIA/FILE0002.NMEA", At(11, 0), 1200},
              {"FILE0003", "DCIM/100MEDIA/file0003.txt", At(12, 0), 600}};
  for (const auto &w : want) {
    const auto *r = FindRec(rows, w.name);
    ASSERT_TRUE(r) << w.name;
    EXPECT_EQ(r->TelemetryPath, card.Path(w.telemetry));
    EXPECT_EQ(r->HasTrack, 1) << w.name;
    EXPECT_NEAR(r->GpsStart, w.start, 1e-6) << w.name;
    EXPECT_NEAR(static_cast<double>(r->TrackLength), w.metres, 2) << w.name;
  }
}

// A folder is walked in name order whatever order the file system lists it
// in, so what is met first (rows, .dat files of the same name, GPS logs)
// is the same on every copy of a card.
TEST_F(CatalogueCard, FoldersAreWalkedInNameOrder) {
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("REC" + std::to_string(1000 + i * 7 % 40));
  for (const auto &n : names) {
    card.FakeMovie("DCIM/" + n + ".MOV");
    card.Write("gps/" + n + ".log", "x");
  }
  card.Dat("b/SAME.dat", At(10, 0), 60);
  card.Dat("a/SAME.dat", At(11, 0), 60);
  card.SetTimes(card.FakeMovie("DCIM/z/SAME.MOV"), At(10, 1));
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  std::vector<std::string> rows, logs;
  for (const auto &r : fm.Items()) rows.push_back(r.Summary.DisplayName);
  for (const auto &l : fm.GetLogFiles()) logs.push_back(BaseNameNoExt(l));
  std::sort(names.begin(), names.end());
  ASSERT_EQ(rows.size(), names.size() + 1);
  EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.end() - 1), names);
  EXPECT_EQ(logs, names);
  EXPECT_EQ(FindRec(fm.Items(), "SAME")->TelemetryPath, card.Path("a/SAME.dat"));
}

TEST_F(CatalogueCard, ScanDepthLimitLinksAndUnreadableFolders) {
  card.FakeMovie("a/b/c/FILE0003.MOV");    // three levels below the root
  card.FakeMovie("a/b/c/d/FILE0004.MOV");  // four: not searched
  card.FakeMovie("x/FILE0001.MOV");
  ASSERT_EQ(symlink(card.Root.c_str(), card.Path("x/loop").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent/target", card.Path("x/dangling.MOV").c_str()), 0);
  card.FakeMovie("locked/FILE0009.MOV");
  chmod(card.Path("locked").c_str(), 0);
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  std::vector<std::string> names;
  for (const auto &r : fm.Items()) names.push_back(r.Summary.DisplayName);
  std::sort(names.begin(), names.end());
  if (geteuid() == 0)  // root reads the folder anyway
    names.erase(std::remove(names.begin(), names.end(), "FILE0009"), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FILE0001", "FILE0003"}));
}

TEST_F(CatalogueCard, GpsLogsAreMatchedByTimeAndNeverDeletedWithARecording) {
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0001.MOV"), At(10, 3));
  const std::string dat1 = card.Dat("DCIM/100MEDIA/FILE0001.DAT", At(10, 0), 180);
  const std::string mov2 = card.CopyOf(Clip(), "DCIM/100MEDIA/FILE0002.MOV");
  card.SetTimes(mov2, At(10, 5));
  // A recorder GPS log in a "GPS" folder: its file times are unusable (birth
  // now, written earlier), so its start is estimated from its size.
  std::string logText = TTestCard::DatText(At(9, 59), 420);
  const std::string log = card.Write("GPS/track.log", logText);
  card.SetTimes(log, At(10, 6));
  // A .log outside a log or GPS folder is not a GPS log.
  card.Write("misc/other.log", logText);

  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  ASSERT_EQ(fm.GetLogFiles(), (TArrayString{log}));
  const auto logItem = fm.GetLogFileItems()[0];
  EXPECT_NEAR(logItem.End, At(10, 6), 1e-6);
  EXPECT_NEAR(logItem.Start, At(10, 6) - (logText.size() / 58 * 2) * kSec, 1e-6);

  fm.MatchLogFiles();
  fm.MatchLogFiles();  // a second run changes nothing
  auto rows = fm.Items();
  const auto *r1 = FindRec(rows, "FILE0001");
  const auto *r2 = FindRec(rows, "FILE0002");
  EXPECT_EQ(r1->TelemetryPath, dat1);
  EXPECT_EQ(r1->GpsLog.Path, log);
  // The recording without telemetry takes the log as its telemetry, and the
  // log is then not its "matching log" as well.
  EXPECT_EQ(r2->TelemetryPath, log);
  EXPECT_EQ(r2->GpsLog.Path, "");
  EXPECT_EQ(r2->HasTrack, 1);

  // Deleting the recordings deletes their own telemetry, not the shared log.
  for (const auto &row : fm.Items()) fm.DeleteItemFiles(row);
  EXPECT_EQ(fm.RowCount(), 0);
  EXPECT_FALSE(TTestCard::Exists(card.Path("DCIM/100MEDIA/FILE0001.MOV")));
  EXPECT_FALSE(TTestCard::Exists(dat1));
  EXPECT_FALSE(TTestCard::Exists(mov2));
  EXPECT_TRUE(TTestCard::Exists(log));
}

TEST_F(CatalogueCard, ALogSharedByATripsRecordingsCountsOnce) {
  // Three 3-minute recordings without telemetry of their own and one
  // 9-minute log of 5.4 km covering them, matched by time or attached to
  // the trip: each recording takes its own time range of the log.
  const std::string log = card.Dat("GPS/track.log", At(10, 0), 540);
  card.SetTimes(log, At(10, 9));
  for (const bool attach : {false, true}) {
    SCOPED_TRACE(attach ? "attached" : "matched");
    TFileManager fm(false, nullptr);
    fm.AddFolder(card.Root);
    TFileManagerTestAccess::AddRow(
        fm, {Rec("FILE0001", At(10, 0), At(10, 3)), Rec("FILE0002", At(10, 3), At(10, 6)),
             Rec("FILE0003", At(10, 6), At(10, 9))});
    if (attach)
      fm.AttachTrack(0, log);
    else
      fm.MatchLogFiles();
    const TFileItem row = fm.GetItem(0);
    ASSERT_EQ(row.Items.size(), 3u);
    for (const auto &rec : row.Items) {
      EXPECT_EQ(rec.TelemetryPath, log);
      EXPECT_NEAR(static_cast<double>(rec.TrackLength), 1800, 20) << rec.DisplayName;
    }
    EXPECT_NEAR(static_cast<double>(row.Summary.TrackLength), 5400, 50);
    EXPECT_NEAR(static_cast<double>(row.Summary.AvgSpeed), 36, 1);
  }
}

TEST_F(CatalogueCard, DeleteTakesInfoTelemetryAndRemoveKeepsFiles) {
  const std::string mov1 = card.FakeMovie("DCIM/100MEDIA/FILE0001.MOV");
  card.SetTimes(mov1, At(10, 3));
  const std::string info = card.Dat("DCIM/INFO/FILE0001.DAT", At(10, 0), 180);
  const std::string mov2 = card.FakeMovie("DCIM/100MEDIA/FILE0002.MOV");
  const std::string dat2 = card.Dat("DCIM/100MEDIA/FILE0002.dat", At(11, 0), 180);
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  ASSERT_EQ(fm.RowCount(), 2);
  fm.RemoveItem(fm.GetItem(fm.FindRecording(mov2)));
  EXPECT_EQ(fm.RowCount(), 1);
  EXPECT_TRUE(TTestCard::Exists(mov2));
  EXPECT_TRUE(TTestCard::Exists(dat2));
  fm.DeleteItemFiles(fm.GetItem(fm.FindRecording(mov1)));
  EXPECT_EQ(fm.RowCount(), 0);
  EXPECT_FALSE(TTestCard::Exists(mov1));
  EXPECT_FALSE(TTestCard::Exists(info));
}

TEST_F(CatalogueCard, DeleteKeepsTelemetryThatBelongsToAnotherVideo) {
  // The card, and a copy of one video taken without its telemetry: the copy
  // finds the card's INFO file (and a sidecar beside the card's other video)
  // by name. Deleting the copy must leave the card's telemetry alone.
  const std::string mov1 = card.FakeMovie("card/DCIM/100MEDIA/FILE0001.MOV");
  card.SetTimes(mov1, At(10, 3));
  const std::string info = card.Dat("card/DCIM/INFO/FILE0001.DAT", At(10, 0), 180);
  const std::string mov2 = card.FakeMovie("card/DCIM/100MEDIA/FILE0002.MOV");
  card.SetTimes(mov2, At(11, 3));
  const std::string dat2 = card.Dat("card/DCIM/100MEDIA/FILE0002.DAT", At(11, 0), 180);
  const std::string copy1 = card.FakeMovie("copy/FILE0001.MOV");
  const std::string copy2 = card.FakeMovie("copy/FILE0002.MOV");
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Path("card"));
  fm.AddFolder(card.Path("copy"));
  ASSERT_EQ(fm.RowCount(), 4);
  ASSERT_EQ(fm.GetItem(fm.FindRecording(copy1)).Items[0].TelemetryPath, info);
  ASSERT_EQ(fm.GetItem(fm.FindRecording(copy2)).Items[0].TelemetryPath, dat2);
  // Still used by the card's row.
  fm.DeleteItemFiles(fm.GetItem(fm.FindRecording(copy1)));
  EXPECT_FALSE(TTestCard::Exists(copy1));
  EXPECT_TRUE(TTestCard::Exists(info));
  // No longer listed, but the card's own file all the same.
  fm.RemoveItem(fm.GetItem(fm.FindRecording(mov2)));
  fm.DeleteItemFiles(fm.GetItem(fm.FindRecording(copy2)));
  EXPECT_FALSE(TTestCard::Exists(copy2));
  EXPECT_TRUE(TTestCard::Exists(dat2));
  // The card's recording takes its own INFO file with it.
  fm.DeleteItemFiles(fm.GetItem(fm.FindRecording(mov1)));
  EXPECT_FALSE(TTestCard::Exists(mov1));
  EXPECT_FALSE(TTestCard::Exists(info));
}

TEST_F(CatalogueCard, LockAndUnlockKeepOtherModeBits) {
  const std::string a = card.FakeMovie("FILE0001.MOV");
  const std::string b = card.FakeMovie("FILE0002.MOV");
  chmod(a.c_str(), 0754);
  chmod(b.c_str(), 0664);
  card.SetTimes(card.Dat("FILE0001.DAT", At(10, 0), 60), At(10, 1));
  card.Dat("FILE0002.DAT", At(10, 1), 60);
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  fm.AutoGroup();
  ASSERT_EQ(fm.RowCount(), 1);
  fm.SetLocked(0, true);
  EXPECT_EQ(TTestCard::Mode(a), 0554u);
  EXPECT_EQ(TTestCard::Mode(b), 0444u);
  EXPECT_EQ(fm.GetItem(0).Summary.Locked, 1);
  EXPECT_EQ(fm.FillListItem(0).Image, 0);
  fm.SetLocked(0, false);
  EXPECT_EQ(TTestCard::Mode(a), 0754u);
  EXPECT_EQ(TTestCard::Mode(b), 0644u);  // the owner's write bit only
  EXPECT_EQ(fm.GetItem(0).Summary.Locked, 0);
  // A file that was locked outside: the new catalogue sees it; a partly
  // locked trip shows image 2.
  chmod(a.c_str(), 0444);
  TFileManager again(false, nullptr);
  again.AddFolder(card.Root);
  again.AutoGroup();
  EXPECT_EQ(again.GetItem(0).Summary.Locked, 2);
  EXPECT_EQ(again.FillListItem(0).Image, 2);
}

TEST(CatalogueGrouping, AutomaticGroupingFollowsTheGapRules) {
  InitLanguages(1033);
  TFileManager fm(false, nullptr);
  using A = TFileManagerTestAccess;
  A::AddRow(fm, {Rec("FILE0001", At(9, 0), At(10, 0))});     // 60 minutes
  A::AddRow(fm, {Rec("FILE0002", At(10, 10), At(10, 13))});  // 10 min after: joins
  A::AddRow(fm, {Rec("FILE0003", At(12, 0), At(12, 20))});   // 20 minutes
  A::AddRow(fm, {Rec("FILE0004", At(12, 30), At(12, 33))});  // 10 min after: apart
  A::AddRow(fm, {Rec("FILE0005", At(14, 3, 30), At(14, 6, 30))});
  A::AddRow(fm, {Rec("FILE0006", At(14, 0), At(14, 3))});      // 30 s before: joins
  A::AddRow(fm, {Rec("FILE0007", At(14, 1), At(14, 2, 30))});  // inside FILE0006: alone
  auto unknown = Rec("FILE0008", 0, At(14, 7));
  unknown.Duration = -1;
  A::AddRow(fm, {unknown});  // unknown start: alone
  fm.AutoGroup();
  std::vector<std::string> names;
  for (const auto &r : fm.Items()) names.push_back(r.Summary.DisplayName);
  EXPECT_EQ(names, (std::vector<std::string>{"FILE0001-2", "FILE0003", "FILE0004", "FILE0006-5",
                                             "FILE0007", "FILE0008"}));
  const auto trip = fm.GetItem(3);
  EXPECT_EQ(trip.Items[0].DisplayName, "FILE0006");  // recordings in start order
}

// The trips found must not depend on the order the rows were listed in
// (directory order is hash order on ext4).
TEST(CatalogueGrouping, AutomaticGroupingIgnoresTheListingOrder) {
  InitLanguages(1033);
  std::vector<TFileItemSubitem> recs = {
      Rec("LONG", At(9, 0), At(10, 0)),      // 60 minutes
      Rec("AFTER", At(10, 10), At(10, 13)),  // 10 min after its end: joins
      Rec("NEXT", At(10, 13, 30), At(10, 16, 30)),
      Rec("SHORT", At(12, 0), At(12, 3)),   // 3 minutes
      Rec("LATE", At(12, 13), At(12, 16)),  // 10 min after: apart
  };
  auto trips = [&](const std::vector<TFileItemSubitem> &order) {
    TFileManager fm(false, nullptr);
    for (const auto &r : order) TFileManagerTestAccess::AddRow(fm, {r});
    fm.AutoGroup();
    std::set<std::string> names;
    for (const auto &r : fm.Items())
      names.insert(r.Items[0].DisplayName + " x" + std::to_string(r.Items.size()));
    return names;
  };
  const std::set<std::string> expected = {"LONG x3", "SHORT x1", "LATE x1"};
  std::vector<size_t> idx = {0, 1, 2, 3, 4};
  do {  // every one of the 120 orders
    std::vector<TFileItemSubitem> order;
    for (size_t k : idx) order.push_back(recs[k]);
    ASSERT_EQ(trips(order), expected) << idx[0] << idx[1] << idx[2] << idx[3] << idx[4];
  } while (std::next_permutation(idx.begin(), idx.end()));

  // A long card shuffled: 300 one-minute clips 20 s apart are one trip.
  std::vector<TFileItemSubitem> card;
  for (int i = 0; i < 300; ++i)
    card.push_back(
        Rec("C" + std::to_string(i), At(8, 0) + i * 80 * kSec, At(8, 0) + (i * 80 + 60) * kSec));
  std::mt19937 random(9);
  for (int round = 0; round < 3; ++round) {
    std::shuffle(card.begin(), card.end(), random);
    TFileManager fm(false, nullptr);
    for (const auto &r : card) TFileManagerTestAccess::AddRow(fm, {r});
    fm.AutoGroup();
    ASSERT_EQ(fm.RowCount(), 1);
    const TFileItem trip = fm.GetItem(0);
    ASSERT_EQ(trip.Items.size(), 300u);
    for (size_t k = 1; k < trip.Items.size(); ++k)
      EXPECT_LT(trip.Items[k - 1].Start, trip.Items[k].Start);
  }
}

TEST(CatalogueGrouping, MergeSplitAndUngroupAll) {
  InitLanguages(1033);
  TFileManager fm(false, nullptr);
  using A = TFileManagerTestAccess;
  for (int i = 1; i <= 3; ++i)
    A::AddRow(fm, {Rec("FILE000" + std::to_string(i), At(10, 3 * i), At(10, 3 * i + 3))});
  A::AddRow(fm, {Rec("FILE0010", At(11, 0), At(11, 3))});
  const uint64_t firstId = fm.GetItem(0).Id, tenthId = fm.GetItem(3).Id;
  fm.MergeItems({0, 1, 2, 2, 9}, true);  // a repeated or invalid number is skipped
  ASSERT_EQ(fm.RowCount(), 2);
  // The merged row keeps the first row's id; ids follow rows through sorts.
  EXPECT_EQ(fm.GetItem(0).Id, firstId);
  EXPECT_EQ(fm.RowOfId(tenthId), 1);
  TFileItem byId;
  ASSERT_TRUE(fm.GetItemById(firstId, byId));
  EXPECT_EQ(byId.Summary.DisplayName, "FILE0001-3");
  EXPECT_EQ(fm.GetItem(0).Summary.DisplayName, "FILE0001-3");
  EXPECT_EQ(fm.GetItem(0).Items.size(), 3u);
  fm.MergeItems({0, 1}, true);
  EXPECT_EQ(fm.GetItem(0).Summary.DisplayName, "FILE0001-3, FILE0010");
  fm.MergeItems({0}, true);  // fewer than two: nothing
  EXPECT_EQ(fm.RowCount(), 1);

  fm.SortBy(kColDate);  // ascending by start
  fm.SplitItem(0);
  ASSERT_EQ(fm.RowCount(), 4);
  std::set<uint64_t> ids;
  for (int r = 0; r < 4; ++r) ids.insert(fm.GetItem(r).Id);
  EXPECT_EQ(ids.size(), 4u);  // split-off rows get ids of their own
  EXPECT_FALSE(ids.count(0));
  EXPECT_EQ(fm.RowOfId(99999), -1);
  EXPECT_EQ(fm.GetItem(0).Summary.DisplayName, "FILE0001");
  EXPECT_EQ(fm.GetItem(3).Summary.DisplayName, "FILE0010");
  const uint64_t lastId = fm.GetItem(3).Id;
  fm.SortBy(kColDate);  // the same column again: descending
  EXPECT_FALSE(fm.Ascending());
  EXPECT_EQ(fm.GetItem(0).Summary.DisplayName, "FILE0010");
  EXPECT_EQ(fm.RowOfId(lastId), 0);  // the id follows its row through the sort
  fm.SplitItem(0);                   // a single recording: nothing
  EXPECT_EQ(fm.RowCount(), 4);

  fm.MergeItems({0, 3}, true);
  fm.MergeItems({0, 1, 2}, true);
  EXPECT_EQ(fm.RowCount(), 1);
  fm.UngroupAll();
  EXPECT_EQ(fm.RowCount(), 4);
  EXPECT_EQ(fm.FindRecording("/card/FILE0002.MOV") >= 0, true);
}

TEST(CatalogueGrouping, ShiftAndPlayerDuration) {
  InitLanguages(1033);
  TFileManager fm(false, nullptr);
  TFileManagerTestAccess::AddRow(fm, {Rec("FILE0001", At(10, 0), At(10, 3))});
  fm.ShiftItem(0, 1.0 / 24);
  EXPECT_NEAR(fm.GetItem(0).Summary.Start, At(11, 0), 1e-9);
  fm.ShiftItem(0, 0);
  EXPECT_NEAR(fm.GetItem(0).Summary.Start, At(11, 0), 1e-9);
  fm.SetDuration("/card/FILE0001.MOV", 120000);
  const auto r = fm.GetItem(0).Items[0];
  EXPECT_EQ(r.Duration, 120000);
  EXPECT_EQ(r.DurationSource, kDurContainer);
  EXPECT_NEAR(r.Start, At(11, 1), 1e-9);
}

TEST_F(CatalogueCard, AttachTrackShiftsTheRowOntoItsTrackAndFitTrackTrims) {
  TFileManager fm(false, nullptr);
  using A = TFileManagerTestAccess;
  const std::string same = card.Dat("t/same.dat", At(11, 0), 180);    // same length, an hour later
  const std::string before = card.Dat("t/before.dat", At(9, 0), 60);  // ends before the row
  const std::string overlap = card.Dat("t/overlap.dat", At(10, 1), 1740);  // overlaps, other length
  A::AddRow(fm, {Rec("FILE0001", At(10, 0), At(10, 3))});
  fm.AttachTrack(0, same);
  auto r = fm.GetItem(0).Items[0];
  EXPECT_EQ(r.TelemetryPath, same);
  EXPECT_EQ(r.HasTrack, 1);
  EXPECT_NEAR(r.Start, At(11, 0), 1e-6);
  EXPECT_NEAR(r.End, At(11, 3), 1e-6);

  fm.ShiftItem(0, At(10, 0) - At(11, 0));
  fm.AttachTrack(0, before);
  r = fm.GetItem(0).Items[0];
  EXPECT_NEAR(r.End, At(9, 1), 1e-6);
  EXPECT_NEAR(r.Start, At(8, 58), 1e-6);

  fm.ShiftItem(0, At(10, 0) - At(8, 58));
  fm.AttachTrack(0, overlap);
  r = fm.GetItem(0).Items[0];
  EXPECT_NEAR(r.Start, At(10, 0), 1e-6);  // overlapping and unlike: stays
  EXPECT_EQ(r.TelemetryPath, overlap);

  // The player loads the whole file; fitting trims it to the recording.
  auto track = TMovingInfo::LoadFromFile(overlap, false);
  ASSERT_TRUE(track);
  fm.FitTrack(card.Path("..") + "/nothing.MOV", *track);  // unknown recording: ignored
  fm.FitTrack("/card/FILE0001.MOV", *track);
  r = fm.GetItem(0).Items[0];
  EXPECT_GE(r.GpsStart, At(10, 1) - 1e-6);
  EXPECT_LE(r.GpsEnd, At(10, 3) + 1e-6);
  EXPECT_NEAR(static_cast<double>(r.TrackLength), 1200, 20);

  const auto filters = AttachTrackFilters({"dat", "gpx", "dat"});
  ASSERT_EQ(filters.size(), 4u);
  EXPECT_EQ(filters[0], (std::pair<std::string, std::string>{"All files", "*.*"}));
  EXPECT_EQ(filters[1], (std::pair<std::string, std::string>{
                            "All supported formats  (*.dat  *.gpx  )", "*.dat;*.gpx;"}));
  EXPECT_EQ(filters[3].first, "*.gpx");
  EXPECT_FALSE(TrackReaderExtensions().empty());
}

TEST_F(CatalogueCard, HostileFilesAreListedWithoutDetails) {
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    noise += static_cast<char>(x >> 24);
  }
  card.Write("DCIM/100MEDIA/FILE0001.MOV", noise);
  card.Write("DCIM/100MEDIA/FILE0001.DAT", noise.substr(100));
  card.Write("DCIM/100MEDIA/FILE0002.MOV", "");
  card.Write("DCIM/100MEDIA/FILE0002.DAT", "[G]\t2024-99-99 25:61:61\tN999\tE999\r\n[S]\tx\ty\r\n");
  // A movie atom that claims far more than the file holds.
  card.Write("DCIM/100MEDIA/FILE0003.MOV", std::string("\x7f\xff\xff\xffmoov\0\0\0\x10mvhd", 16));
  card.Write("DCIM/INFO/FILE0003.DAT", noise.substr(0, 3));
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  fm.MatchLogFiles();
  fm.AutoGroup();
  ASSERT_EQ(fm.RowCount(), 3);
  for (const auto &row : fm.Items()) {
    EXPECT_EQ(row.Summary.TelemetryPath, "") << row.Summary.Path;
    EXPECT_EQ(row.Summary.DurationSource, kDurNoHeader);
    EXPECT_EQ(row.PictureText, "");
    EXPECT_EQ(fm.FillListItem(0).SubItems.size(), 10u);
  }
}

TEST_F(CatalogueCard, PipesNamedLikeRecordingsAreNeverOpened) {
  // Opening a named pipe for reading blocks until a writer comes: a pipe
  // called FILE0001.MOV, or its sidecar, must neither hang nor be listed.
  card.MakeDirs("DCIM/100MEDIA");
  const std::string pipe = card.Path("DCIM/100MEDIA/FILE0001.MOV");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const std::string mov2 = card.FakeMovie("DCIM/100MEDIA/FILE0002.MOV");
  ASSERT_EQ(mkfifo(card.Path("DCIM/100MEDIA/FILE0002.DAT").c_str(), 0644), 0);
  ASSERT_EQ(symlink(pipe.c_str(), card.Path("DCIM/100MEDIA/FILE0003.MOV").c_str()), 0);
  TFileManager fm(false, nullptr);
  EXPECT_TRUE(fm.OpenRecording(pipe).Items.empty());
  fm.AddFolder(card.Root);
  ASSERT_EQ(fm.RowCount(), 1);
  EXPECT_EQ(fm.GetItem(0).Summary.Path, mov2);
  EXPECT_EQ(fm.GetItem(0).Summary.TelemetryPath, "");
}

TEST_F(CatalogueCard, RetranslateRebuildsTheRowsTextsInTheNewLanguage) {
  // A recording of today with a track: its date and track columns carry
  // language texts ("today", the distance unit). Its times stay inside
  // today even when the test runs in the minutes around midnight.
  const TDateTime today = std::floor(NowDateTime());
  const TDateTime now = std::clamp(NowDateTime(), today + 300 * kSec, today + 1 - 300 * kSec);
  card.SetTimes(card.FakeMovie("DCIM/100MEDIA/FILE0001.MOV"), now - 10 * kSec);
  card.Dat("DCIM/100MEDIA/FILE0001.dat", now - 190 * kSec, 180);
  TFileManager fm(false, nullptr);
  ASSERT_TRUE(fm.AddFolder(card.Root));
  const TFileItem before = fm.GetItem(0);
  ASSERT_EQ(before.DateText.rfind("today ", 0), 0u) << before.DateText;
  ASSERT_NE(before.TrackText.find("km"), std::string::npos) << before.TrackText;

  SetCurrentLanguage(1);
  fm.Retranslate();
  const TFileItem after = fm.GetItem(0);
  EXPECT_EQ(after.DateText.rfind(LangText("today") + " ", 0), 0u) << after.DateText;
  EXPECT_NE(after.TrackText.find(LangText("Kmeters")), std::string::npos) << after.TrackText;
  EXPECT_EQ(after.TrackText.find("km"), std::string::npos) << after.TrackText;
  SetCurrentLanguage(0);
}

// A delete that fails (a write-protected card) names the file and the
// reason, and the recording stays listed with its telemetry: the list never
// hides a file that is still on the disk. The row's deletable recordings go.
TEST_F(CatalogueCard, FailedDeleteKeepsTheRecordingListedAndSaysWhy) {
  const std::string locked = card.FakeMovie("wp/FILE0001.MOV");
  card.SetTimes(locked, At(10, 3));
  const std::string lockedDat = card.Dat("wp/FILE0001.dat", At(10, 0), 180);
  const std::string free = card.FakeMovie("rw/FILE0002.MOV");
  card.SetTimes(free, At(10, 6));
  const std::string alone = card.FakeMovie("wp/FILE0003.MOV");
  card.SetTimes(alone, At(14, 0));
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  ASSERT_EQ(fm.RowCount(), 3);
  fm.MergeItems({fm.FindRecording(locked), fm.FindRecording(free)}, true);
  ASSERT_EQ(fm.RowCount(), 2);
  tachora::test::TProtectedFolder protect(card.Path("wp"));
  if (!protect.Ok()) GTEST_SKIP() << "cannot protect a folder here";

  const auto failures = fm.DeleteItemFiles(fm.GetItem(fm.FindRecording(locked)));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].Path, locked);
  EXPECT_FALSE(failures[0].Error.empty());
  EXPECT_FALSE(TTestCard::Exists(free));
  EXPECT_TRUE(TTestCard::Exists(locked));
  EXPECT_TRUE(TTestCard::Exists(lockedDat));
  const int row = fm.FindRecording(locked);
  ASSERT_GE(row, 0);
  EXPECT_EQ(fm.GetItem(row).Items.size(), 1u);
  EXPECT_EQ(fm.FindRecording(free), -1);

  EXPECT_EQ(fm.DeleteItemFiles(fm.GetItem(fm.FindRecording(alone))).size(), 1u);
  EXPECT_EQ(fm.RowCount(), 2);
  EXPECT_TRUE(TTestCard::Exists(alone));

  // The question lists what goes; what it did not list stays.
  const std::string other = card.FakeMovie("rw/FILE0004.MOV");
  card.SetTimes(other, At(16, 3));
  const std::string otherDat = card.Dat("rw/FILE0004.dat", At(16, 0), 180);
  fm.AddFolder(card.Path("rw"));
  const TFileItem row4 = fm.GetItem(fm.FindRecording(other));
  EXPECT_EQ(fm.FilesToDelete(row4), (std::vector<std::string>{other, otherDat}));
  const std::vector<std::string> shown{other};
  EXPECT_TRUE(fm.DeleteItemFiles(row4, &shown).empty());
  EXPECT_FALSE(TTestCard::Exists(other));
  EXPECT_TRUE(TTestCard::Exists(otherDat));
}

// clip.mov and CLIP.MOV are two files on a Linux file system: two rows,
// each found, deleted and kept on its own. Names that lead to one file (a
// FAT card; here a second link) are one recording.
TEST_F(CatalogueCard, NamesDifferingInCaseAreTwoFilesUnlessTheyAreOne) {
  const std::string lower = card.FakeMovie("DCIM/clip.mov", 1000);
  const std::string upper = card.FakeMovie("DCIM/CLIP.MOV", 2000);
  const std::string one = card.FakeMovie("DCIM/Same.mov");
  ASSERT_EQ(link(one.c_str(), card.Path("DCIM/SAME.MOV").c_str()), 0);
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Root);
  EXPECT_EQ(fm.RowCount(), 3);
  const int a = fm.FindRecording(lower), b = fm.FindRecording(upper);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(fm.GetItem(b).Items[0].Path, upper);
  EXPECT_GE(fm.FindRecording(card.Path("DCIM/SAME.MOV")), 0);
  EXPECT_EQ(fm.FindRecording(card.Path("DCIM/Clip.mov")), -1);
  EXPECT_EQ(fm.AddRecording(card.Path("DCIM/SAME.MOV")), fm.FindRecording(one));

  EXPECT_TRUE(fm.DeleteItemFiles(fm.GetItem(b)).empty());
  EXPECT_FALSE(TTestCard::Exists(upper));
  EXPECT_TRUE(TTestCard::Exists(lower));
  EXPECT_GE(fm.FindRecording(lower), 0);
  EXPECT_EQ(fm.FindRecording(upper), -1);
}
