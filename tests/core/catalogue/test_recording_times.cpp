// When a recording began: the stamp in its file name, the check of embedded
// GPS clocks against it, and the catalogue placing a recording by the best
// time at hand (name, then movie header, then file time).
#include <gtest/gtest.h>

#include <cstdlib>

#include "CatalogueTestCard.h"
#include "TestEmbedded.h"
#include "TestMedia.h"
#include "catalogue/UnitFileManager.h"
#include "telemetry/UnitMovingInfo.h"
#include "telemetry/UnitRecordingTelemetry.h"

using namespace tachora;
using namespace tachora::test;

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

// Runs with the machine's zone set to `tz` and puts UTC back afterwards.
class TZone {
 public:
  explicit TZone(const char *tz) {
    setenv("TZ", tz, 1);
    InitLocalTimeOffset();
  }
  ~TZone() {
    setenv("TZ", "UTC", 1);
    InitLocalTimeOffset();
  }
};

}  // namespace

TEST(RecordingTimes, NameStamps) {
  const TDateTime t = At(2023, 10, 15, 14, 30, 22);
  const struct {
    const char *name;
    TDateTime want;
  } cases[] = {
      {"/card/DCIM/20231015_143022_NF.mp4", t},
      {"2023_1015_143022_0012F.MP4", t},
      {"NO20231015-143022.MP4", t},
      {"20231015143022.MOV", t},
      {"REC_2023-10-15-14-30-22.mp4", t},
      {"231015_143022_F.MP4", t},
      {"FILE0001.MOV", 0},
      {"20231315_143022.MP4", 0},                 // month 13
      {"20231015_253022.MP4", 0},                 // hour 25
      {"120231015_143022.MP4", 0},                // a longer number is no stamp
      {"20231015_1430221.MP4", 0},                // nor is one running on
      {"/card/20231015_143022/FILE0001.MOV", 0},  // a folder's name is not the file's
  };
  for (const auto &c : cases) EXPECT_DOUBLE_EQ(NameStampTime(c.name), c.want) << c.name;
}

TEST(RecordingTimes, LocalClockInTheGpsFieldsIsTakenBackOut) {
  const TDateTime stamp = At(2023, 10, 15, 14, 30, 0);
  const double minute = 1.0 / 1440;
  {
    TZone zone("EET-2");  // UTC+2
    const double two = 2.0 / 24;
    // Fixes stamped with the local clock read two hours late after the
    // UTC -> local conversion; a first fix up to 12 minutes late or a
    // minute early still tells it.
    EXPECT_DOUBLE_EQ(LocalClockCorrection(stamp, stamp + two), -two);
    EXPECT_DOUBLE_EQ(LocalClockCorrection(stamp, stamp + two + 12 * minute), -two);
    EXPECT_DOUBLE_EQ(LocalClockCorrection(stamp, stamp + two - minute), -two);
    // True UTC fixes agree with the name; a camera set to another zone
    // (an hour apart) keeps its true fixes.
    EXPECT_EQ(LocalClockCorrection(stamp, stamp + 3 * minute), 0);
    EXPECT_EQ(LocalClockCorrection(stamp, stamp + 1.0 / 24), 0);
    EXPECT_EQ(LocalClockCorrection(0, stamp + two), 0);
  }
  {
    TZone zone("IST-5:30");  // UTC+5:30, a zone of half hours
    const double offset = 5.5 / 24;
    EXPECT_DOUBLE_EQ(LocalClockCorrection(stamp, stamp + offset + 2 * minute), -offset);
  }
  TZone utc("UTC");  // nothing to tell apart
  EXPECT_EQ(LocalClockCorrection(stamp, stamp), 0);
}

// Fixes embedded in a 10-second recording place it: from its first fix when
// they cover it, else (a late first fix) up to its last.
TEST(RecordingTimes, EmbeddedFixesPlaceTheirRecording) {
  const TDateTime t = At(2024, 5, 17, 8, 30, 0), s = 1 / kSecPerDay;
  const struct {
    double firstFix, lastFix, start;
  } cases[] = {{0, 9, 0}, {0.5, 9, 0.5}, {6, 9, -1}, {-3, 20, -3}};
  for (const auto &c : cases) {
    TFileItemSubitem rec;
    rec.Path = rec.TelemetryPath = "/card/FILE0001.MP4";
    rec.Duration = 10000;
    rec.Start = At(2024, 6, 1, 12, 0, 0);
    rec.GpsStart = t + c.firstFix * s;
    rec.GpsEnd = t + c.lastFix * s;
    AlignTimes(rec);
    EXPECT_NEAR(rec.Start, t + c.start * s, 0.001 * s) << c.firstFix << " " << c.lastFix;
    EXPECT_NEAR(rec.End - rec.Start, 10 * s, 0.001 * s);
  }
}

// A recording is placed by the stamp in its name over its movie header's
// creation time, and by that over its file's time.
TEST(RecordingTimes, TheCatalogueTakesTheBestStartAtHand) {
  TTestCard card;
  TMediaRecipe recipe;
  recipe.seconds = 2;
  recipe.creationTime = "2024-05-01 08:00:00";
  const std::string movie = GenerateMovie("created-0800", recipe);
  const std::string named = card.CopyOf(movie, "DCIM/Movie/20240501_101500_NF.MP4");
  const std::string plain = card.CopyOf(movie, "DCIM/Movie/FILE0001.MOV");
  TTestCard::SetTimes(named, At(2024, 6, 1, 12, 0, 0));
  TTestCard::SetTimes(plain, At(2024, 6, 1, 12, 0, 0));
  TFileManager fm(false, nullptr);
  const double second = 1 / kSecPerDay;
  const TFileItem byName = fm.OpenRecording(named);
  ASSERT_EQ(byName.Items.size(), 1u);
  EXPECT_NEAR(byName.Summary.Start, At(2024, 5, 1, 10, 15, 0), second);
  EXPECT_NEAR(byName.Summary.End, At(2024, 5, 1, 10, 15, 2), 0.1 * second);
  const TFileItem byHeader = fm.OpenRecording(plain);
  EXPECT_NEAR(byHeader.Summary.Start, At(2024, 5, 1, 8, 0, 0), second);

  recipe.creationTime.clear();
  const std::string bare =
      card.CopyOf(GenerateMovie("created-none", recipe), "DCIM/Movie/FILE0002.MOV");
  TTestCard::SetTimes(bare, At(2024, 6, 1, 12, 0, 0));
  const TFileItem byFile = fm.OpenRecording(bare);
  EXPECT_NEAR(byFile.Summary.End, At(2024, 6, 1, 12, 0, 0), second);
  EXPECT_NEAR(byFile.Summary.Start, At(2024, 6, 1, 11, 59, 58), 0.1 * second);
}

// Through the ordinary loading: a camera two hours east of UTC that writes
// its local clock into the GPS fields, and one that writes true UTC, give
// the same local times.
TEST(RecordingTimes, LoadingTakesALocalClockOutOfEmbeddedFixes) {
  TZone zone("EET-2");
  TTestCard card;
  TEmbeddedClip recipe;
  recipe.media.seconds = 10;
  for (const char *written : {"2024-05-17 11:30:00", "2024-05-17 09:30:00"}) {
    const std::string path =
        card.CopyOf(GenerateEmbedded("clock", MakeDrive(written, 10, 55.75, 37.6, 54, 90), recipe),
                    std::string("DCIM/Movie/20240517_113000_") + written[12] + ".MP4");
    const auto mi = TMovingInfo::LoadFromFile(path, false);
    ASSERT_TRUE(mi) << written;
    EXPECT_NEAR(mi->StartTime, At(2024, 5, 17, 11, 30, 0), 0.01 / kSecPerDay) << written;
    EXPECT_NEAR(mi->GpsPoints.back().Time, At(2024, 5, 17, 11, 30, 9), 0.01 / kSecPerDay)
        << written;
  }
}
