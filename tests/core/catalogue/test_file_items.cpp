// The catalogue's pure rules: display names, trip names, text columns, time
// alignment, the row summary, the gap between rows, sorting, search roots.
#include <gtest/gtest.h>

#include "app/UnitLang.h"
#include "catalogue/UnitFileItems.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitRecordingKind.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400.0;
constexpr double kMin = 60 * kSec;
const TDateTime kDay = EncodeDate(2024, 5, 1);

TFileItemSubitem Rec(const std::string &name, TDateTime start, TDateTime end) {
  TFileItemSubitem r;
  r.Path = "/card/DCIM/100MEDIA/" + name + ".MOV";
  r.DisplayName = RecordingDisplayName(r.Path);
  r.Start = start;
  r.End = end;
  r.Size = 1048576;
  r.Duration = RoundHalfAway(static_cast<long double>(end - start) * kMsPerDay);
  r.DurationSource = kDurContainer;
  return r;
}

TFileItem Row(std::vector<TFileItemSubitem> recs) {
  TFileItem row;
  row.Items = std::move(recs);
  RecomputeRow(row, "km", kDay + 10);
  return row;
}

}  // namespace

TEST(CatalogueNames, DisplayNames) {
  EXPECT_EQ(RecordingDisplayName("/c/FI000123.MOV"), "FILE0123.00");
  EXPECT_EQ(RecordingDisplayName("/c/FI120001.MOV"), "FILE0001.12");
  EXPECT_EQ(RecordingDisplayName("/c/FI000000.MOV"), "FI000000");  // number must be > 0
  EXPECT_EQ(RecordingDisplayName("/c/FI00012.MOV"), "FI00012");    // not 8 characters
  EXPECT_EQ(RecordingDisplayName("/c/fi000123.MOV"), "fi000123");  // capitals only
  EXPECT_EQ(RecordingDisplayName("/c/FI00A123.MOV"), "FI00A123");
  EXPECT_EQ(RecordingDisplayName("/c/Fragment of FILE0123.MOV"), "FILE0123 fragment");
  EXPECT_EQ(RecordingDisplayName("/c/fragment of trip.mov"), "trip fragment");
  EXPECT_EQ(RecordingDisplayName("/c/a.b.mov"), "a.b");
  EXPECT_EQ(RecordingDisplayName("/c/NODOT"), "NODOT");
}

TEST(CatalogueNames, TripNames) {
  EXPECT_EQ(GroupName({"FILE0001", "FILE0002", "FILE0003", "FILE0010"}), "FILE0001-3, FILE0010");
  EXPECT_EQ(GroupName({"FILE0001", "FILE0003", "FILE0004"}), "FILE0001, FILE0003-4");
  EXPECT_EQ(GroupName({"drive", "other"}), "drive");  // no trailing numbers: first name only
  EXPECT_EQ(GroupName({"FILE0123.00", "FILE0124.00"}), "FILE0123.00-124");
  EXPECT_EQ(GroupName({"FILE0009"}), "FILE0009");
  EXPECT_EQ(TrailingNumber("X1,5"), 1.5L);
  EXPECT_EQ(TrailingNumber("FILE"), -1);
}

TEST(CatalogueColumns, SizesTracksSpeedsDurationsPictures) {
  EXPECT_EQ(SizeColumnText(1048576), "1");
  EXPECT_EQ(SizeColumnText(1293942784), "1`234");
  EXPECT_EQ(SizeColumnText(0), "0");
  EXPECT_EQ(SizeColumnText(-1), "");
  EXPECT_EQ(SizeColumnText(524288), "1");  // half a MiB rounds up

  EXPECT_EQ(TrackColumnText(0, "km"), "");
  EXPECT_EQ(TrackColumnText(1500, "km"), "1.50km");
  EXPECT_EQ(TrackColumnText(2000, "km"), "2.00km");  // two decimals up to 2 km
  EXPECT_EQ(TrackColumnText(12345, "km"), "12.3km");
  EXPECT_EQ(TrackColumnText(123456, "km"), "123km");
  // Decimals are cut, not rounded, without losing a step to binary
  // fractions (12.3 and 1.1 are not exact in binary).
  EXPECT_EQ(TrackColumnText(12369.99L, "km"), "12.3km");
  EXPECT_EQ(TrackColumnText(12300, "km"), "12.3km");
  EXPECT_EQ(TrackColumnText(1999.9L, "km"), "1.99km");
  EXPECT_EQ(TrackColumnText(1100, "km"), "1.10km");
  EXPECT_EQ(TrackColumnText(100600, "km"), "101km");  // whole kilometres still round

  EXPECT_EQ(SpeedColumnText(100), "100");
  EXPECT_EQ(SpeedColumnText(35.94L), "35.9");
  EXPECT_EQ(SpeedColumnText(45.67L), "45.6");
  EXPECT_EQ(SpeedColumnText(99.99L), "99.9");
  EXPECT_EQ(SpeedColumnText(0.3L), "0.3");
  EXPECT_EQ(SpeedColumnText(100.6L), "101");
  EXPECT_EQ(SpeedColumnText(0), "");
  EXPECT_EQ(SpeedColumnText(-1), "");

  EXPECT_EQ(DurationColumnText(45000, kDurContainer), "0:45");
  EXPECT_EQ(DurationColumnText(187000, kDurEstimated), "~3:07");
  EXPECT_EQ(DurationColumnText(3723000, kDurNoHeader), "1:02:03");  // no "~" after the preview
  EXPECT_EQ(DurationColumnText(26 * 3600000LL, kDurContainer), "1d02:00:00");
  EXPECT_EQ(DurationColumnText(0, kDurContainer), "?");
  EXPECT_EQ(DurationColumnText(5000, kDurUnknown), "?");

  EXPECT_EQ(PictureColumnText(1920, 1080), "1920x1080");
  EXPECT_EQ(PictureColumnText(0, 0), "");
}

TEST(CatalogueColumns, DateColumn) {
  InitLanguages(1033);
  const TDateTime now = kDay + 0.5;
  EXPECT_EQ(DateColumnText(kDay + EncodeTime(14, 5, 0, 0), now), "today 14:05");
  EXPECT_EQ(DateColumnText(kDay - 1 + EncodeTime(9, 0, 20, 0), now), "yesterday 09:00");
  EXPECT_EQ(DateColumnText(kDay - 2 + EncodeTime(7, 30, 0, 0), now), "2024-04-29 07:30");
  // Rounding to the minute carries into the next day instead of "24:00".
  EXPECT_EQ(DateColumnText(kDay - 1 + EncodeTime(23, 59, 45, 0), now), "today 00:00");
  EXPECT_EQ(DateColumnText(0, now), "");
}

TEST(CatalogueTimes, AlignmentWithTelemetry) {
  // Spans within 6 s of each other: the recording takes the GPS times.
  TFileItemSubitem a = Rec("A", kDay + 10 * kMin, kDay + 13 * kMin);
  a.GpsStart = kDay + 10 * kMin + 30 * kSec;
  a.GpsEnd = kDay + 13 * kMin + 33 * kSec;
  AlignTimes(a);
  EXPECT_DOUBLE_EQ(a.Start, a.GpsStart);
  EXPECT_DOUBLE_EQ(a.End, a.GpsEnd);

  // Different spans that overlap: the file times stay.
  TFileItemSubitem b = Rec("B", kDay + 10 * kMin, kDay + 13 * kMin);
  b.GpsStart = kDay + 12 * kMin;
  b.GpsEnd = kDay + 20 * kMin;
  AlignTimes(b);
  EXPECT_DOUBLE_EQ(b.Start, kDay + 10 * kMin);

  // Apart: the video is moved to end with the track, keeping its length.
  TFileItemSubitem c = Rec("C", kDay + 10 * kMin, kDay + 13 * kMin);
  c.GpsStart = kDay + 60 * kMin;
  c.GpsEnd = kDay + 70 * kMin;
  AlignTimes(c);
  EXPECT_NEAR(c.End, kDay + 70 * kMin, 1e-9);
  EXPECT_NEAR(c.Start, kDay + 67 * kMin, 1e-9);

  // Without a duration nothing moves.
  TFileItemSubitem d = c;
  d.Duration = -1;
  d.Start = 1;
  AlignTimes(d);
  EXPECT_EQ(d.Start, 1);
}

TEST(CatalogueRows, SummaryOfATrip) {
  auto r1 = Rec("FILE0001", kDay + 10 * kMin, kDay + 13 * kMin);
  auto r2 = Rec("FILE0002", kDay + 13 * kMin, kDay + 16 * kMin);
  auto r3 = Rec("FILE0003", kDay + 16 * kMin, kDay + 19 * kMin);
  r2.Locked = 1;
  r1.TelemetryPath = "/t/1.dat";
  r1.HasTrack = 1;
  r1.TrackLength = 3000;
  r1.AvgSpeed = 60;  // 3 min
  r1.GpsStart = r1.Start;
  r1.GpsEnd = r1.End;
  r1.GpsCount = 180;
  r3.TelemetryPath = "/t/3.dat";
  r3.HasTrack = 1;
  r3.TrackLength = 1000;
  r3.AvgSpeed = 20;  // 3 min
  r3.GpsStart = r3.Start;
  r3.GpsEnd = r3.End;
  r3.GpsCount = 180;
  r3.Size = -1;  // unknown sizes do not shave a byte off the sum
  r3.PictureWidth = 1920;
  r3.PictureHeight = 1080;
  r3.DurationSource = kDurEstimated;
  const TFileItem row = Row({r3, r1, r2});  // any order in, start order out

  ASSERT_EQ(row.Items.size(), 3u);
  EXPECT_EQ(row.Items[0].DisplayName, "FILE0001");
  const auto &s = row.Summary;
  EXPECT_EQ(s.DisplayName, "FILE0001-3");
  EXPECT_EQ(s.Path, r1.Path + ", " + r2.Path + ", " + r3.Path);
  EXPECT_EQ(s.TelemetryPath, "/t/1.dat, /t/3.dat");
  EXPECT_EQ(s.Locked, 2);
  EXPECT_EQ(s.Size, 2 * 1048576);
  EXPECT_EQ(s.Duration, 9 * 60000);
  EXPECT_EQ(s.DurationSource, kDurEstimated);
  EXPECT_DOUBLE_EQ(s.Start, r1.Start);
  EXPECT_DOUBLE_EQ(s.End, r3.End);
  EXPECT_EQ(s.PictureWidth, 1920);
  EXPECT_NEAR(static_cast<double>(s.TrackLength), 4000, 1e-9);
  EXPECT_NEAR(static_cast<double>(s.AvgSpeed), 4.0 / (3.0 / 60 + 1.0 / 20), 1e-9);  // 40 km/h
  EXPECT_EQ(s.GpsCount, 360);
  EXPECT_NEAR(static_cast<double>(row.Items[1].RelStart), 1.0 / 3, 1e-9);
  EXPECT_NEAR(static_cast<double>(row.Items[2].RelEnd), 1.0, 1e-9);
  EXPECT_EQ(row.TrackText, "4.0km");
  EXPECT_EQ(row.SpeedText, "40.0");
  EXPECT_EQ(row.DurationText, "~9:00");
  EXPECT_EQ(row.SizeText, "2");
  EXPECT_EQ(row.PictureText, "1920x1080");

  // All locked / none locked.
  r1.Locked = r2.Locked = r3.Locked = 1;
  EXPECT_EQ(Row({r1, r2, r3}).Summary.Locked, 1);
  // A single recording's summary is the recording; start 0 is filled from
  // end and duration.
  auto lone = Rec("FILE0009", 0, kDay + 13 * kMin);
  lone.Duration = 180000;
  const TFileItem one = Row({lone});
  EXPECT_NEAR(one.Summary.Start, kDay + 10 * kMin, 1e-9);
  EXPECT_EQ(one.DateText, "2024-05-01 00:10");
}

TEST(CatalogueRows, HugeHeaderDurationsAndCountsDoNotOverflowATrip) {
  // Movie headers may claim nearly 2^63 ms (duration 2^53 at time scale 1);
  // a trip of two such recordings holds the largest duration, not a
  // negative one.
  auto r1 = Rec("FILE0001", kDay + 10 * kMin, kDay + 13 * kMin);
  auto r2 = Rec("FILE0002", kDay + 13 * kMin, kDay + 16 * kMin);
  r1.Duration = r2.Duration = std::numeric_limits<int64_t>::max() / 3 * 2;
  for (auto *r : {&r1, &r2}) {
    r->TelemetryPath = "/t/" + r->DisplayName + ".dat";
    r->GpsCount = r->GsensorCount = std::numeric_limits<int32_t>::max() - 5;
  }
  const TFileItem row = Row({r1, r2});
  EXPECT_EQ(row.Summary.Duration, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(row.Summary.GpsCount, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(row.Summary.GsensorCount, std::numeric_limits<int32_t>::max());
  EXPECT_NE(row.DurationText, "?");
}

TEST(CatalogueGrouping, GapRules) {
  // 10:00:00-10:03:00 and 10:03:30-10:06:30: 30 seconds apart.
  const auto a = Row({Rec("A", kDay + EncodeTime(10, 0, 0, 0), kDay + EncodeTime(10, 3, 0, 0))});
  const auto b = Row({Rec("B", kDay + EncodeTime(10, 3, 30, 0), kDay + EncodeTime(10, 6, 30, 0))});
  EXPECT_NEAR(RowGap(a, b), 30 * kSec, 1e-9);
  EXPECT_NEAR(RowGap(b, a), 30 * kSec, 1e-9);
  EXPECT_EQ(RowGap(a, a), 1);

  // Contained within 5 s: never joined.
  const auto inner =
      Row({Rec("C", kDay + EncodeTime(10, 0, 0, 0) - 4 * kSec, kDay + EncodeTime(10, 2, 0, 0))});
  EXPECT_EQ(RowGap(a, inner), 1);
  EXPECT_EQ(RowGap(inner, a), 1);

  // B overlapping the last half of its own length with A: 6 minutes.
  const auto half = Row({Rec("D", kDay + EncodeTime(10, 2, 0, 0), kDay + EncodeTime(10, 4, 0, 0))});
  EXPECT_NEAR(RowGap(a, half), 6 * kMin, 1e-9);

  // Unknown start: cannot be compared.
  const auto unknown = Row({Rec("E", 0, kDay + EncodeTime(10, 9, 0, 0))});
  auto noStart = unknown;
  noStart.Summary.Start = 0;
  EXPECT_EQ(RowGap(a, noStart), 1);

  // An event clip right after a normal one stays apart.
  auto event = b;
  event.Summary.Kind = kKindEvent;
  EXPECT_EQ(RowGap(a, event), 1);
}

TEST(CatalogueKinds, FoldersAndNameMarks) {
  const struct {
    const char *Path;
    TRecordingKind Kind;
  } kCases[] = {
      {"/card/DCIM/100MEDIA/FILE0001.MOV", kKindNormal},
      {"/card/DCIM/EVENT/FILE0001.MOV", kKindEvent},
      {"/card/CARDV/Event/100MEDIA/FILE0001.MP4", kKindEvent},
      {"/card/EMER/x.mp4", kKindEvent},
      {"/card/DCIM/RO/x.mp4", kKindEvent},
      {"/card/Protected/x.mp4", kKindEvent},
      {"/card/PARK/x.mp4", kKindParking},
      {"/card/Parking/x.mp4", kKindParking},
      {"/card/Movie/20240501_101500_E.MP4", kKindEvent},
      {"/card/Movie/2024_0501_101500_EF.MP4", kKindEvent},
      {"/card/Movie/2024_0501_101500_ER.MP4", kKindEvent},
      {"/card/Movie/EV0012.MOV", kKindEvent},
      {"/card/Movie/LOCK_20240501.MP4", kKindEvent},
      {"/card/Movie/sos0001.mp4", kKindEvent},
      {"/card/Movie/20240501_101500_P.MP4", kKindParking},
      {"/card/Movie/PA0001.MOV", kKindParking},
      // Marks need their separators; the first part is a name or a date.
      {"/card/Movie/EVENING.MOV", kKindNormal},
      {"/card/Movie/PARADE.MOV", kKindNormal},
      {"/card/Movie/E_0001.MOV", kKindNormal},
      {"/card/Movie/20240501_101500_NF.MP4", kKindNormal},
      // Only the two folders nearest the file count.
      {"/home/event/trips/2024/x.mp4", kKindNormal},
      {"", kKindNormal},
  };
  for (const auto &c : kCases) EXPECT_EQ(RecordingKind(c.Path), c.Kind) << c.Path;

  // A trip's kind: an event anywhere in it wins, then parking; the list
  // shows it by name and sorts by it.
  auto a = Rec("A", kDay + 1 * kMin, kDay + 2 * kMin);
  auto b = Rec("B", kDay + 2 * kMin, kDay + 3 * kMin);
  b.Kind = kKindParking;
  TFileItem trip = Row({a, b});
  EXPECT_EQ(trip.Summary.Kind, kKindParking);
  EXPECT_EQ(trip.KindText, "Parking");
  b.Kind = kKindEvent;
  trip = Row({a, b});
  EXPECT_EQ(trip.KindText, "Event");
  EXPECT_TRUE(RowLess(Row({a}), trip, kColKind, true));
}

TEST(CatalogueRows, SortingByEveryColumn) {
  auto x = Row({Rec("B", kDay + 1 * kMin, kDay + 5 * kMin)});
  auto y = Row({Rec("A", kDay + 2 * kMin, kDay + 4 * kMin)});
  EXPECT_TRUE(RowLess(y, x, kColName, true));
  EXPECT_TRUE(RowLess(x, y, kColName, false));
  EXPECT_TRUE(RowLess(y, x, kColDuration, true));
  EXPECT_TRUE(RowLess(x, y, kColDate, true));
  EXPECT_TRUE(RowLess(y, x, kColLocation, true));
  EXPECT_FALSE(RowLess(x, y, kColSize, true));
  EXPECT_FALSE(RowLess(y, x, kColSize, true));
}

TEST(CatalogueScan, LogStartEstimateAndSearchRoots) {
  const TDateTime end = kDay + 0.5;
  // 5800 bytes = 100 lines of 58 bytes, one every 2 s.
  EXPECT_NEAR(EstimateLogStart(end + 1, end, 5800), end - 200 * kSec, 1e-9);
  EXPECT_NEAR(EstimateLogStart(end - 3, end, 5800), end - 200 * kSec, 1e-9);
  EXPECT_EQ(EstimateLogStart(end - 0.1, end, 5800), end - 0.1);

  auto roots =
      CollectSearchRoots("/media/card", "/opt/tachora/", "/media/card/", {"/media/usb/"}, "");
  EXPECT_EQ(roots, (std::vector<std::string>{"/media/card/", "/opt/tachora/", "/media/card/DCIM/",
                                             "/media/usb/"}));
  // Inside the desktop folder: neither the current nor the program folder.
  roots = CollectSearchRoots("/home/u/Desktop/x", "/home/u/Desktop/x/", "/", {}, "/home/u/Desktop");
  EXPECT_EQ(roots, (std::vector<std::string>{"/DCIM/"}));
  // A network path adds no DCIM root; a root differing in case only counts once.
  roots = CollectSearchRoots("//server/share", "//SERVER/share/", "/", {}, "");
  EXPECT_EQ(roots, (std::vector<std::string>{"//server/share/"}));
  // Started from the desktop (current folder = home) or from "/", the
  // current folder is not searched; the other roots are.
  for (const char *home : {"/home/u", "/home/u/"}) {
    roots = CollectSearchRoots("/home/u", "/opt/t/", "/", {"/media/usb/"}, "", home);
    EXPECT_EQ(roots, (std::vector<std::string>{"/opt/t/", "/DCIM/", "/media/usb/"}));
  }
  roots = CollectSearchRoots("/", "/opt/t/", "/", {}, "", "/home/u");
  EXPECT_EQ(roots, (std::vector<std::string>{"/opt/t/", "/DCIM/"}));
  roots = CollectSearchRoots("/home/u/card", "/opt/t/", "/", {}, "", "/home/u");
  EXPECT_EQ(roots.front(), "/home/u/card/");  // a folder below home still is
}

TEST(CatalogueScan, MountTableAndCaseInsensitiveLookups) {
  const auto mounts = ParseMounts(
      "/dev/sdb1 /media/u/My\\040Card vfat rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "garbage\n");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].first, "/dev/sdb1");
  EXPECT_EQ(mounts[0].second, "/media/u/My Card");
  EXPECT_EQ(MountPointOf("/"), "/");
  EXPECT_EQ(BaseNameNoExt("/a/b.c/FILE0001.MOV"), "FILE0001");
  EXPECT_EQ(BaseNameNoExt("/a/b.c/NAME"), "NAME");
  EXPECT_EQ(ExtractFileDir("/FILE.MOV"), "/");
  EXPECT_EQ(IncludeTrailingSlash("/a"), "/a/");
  // Nothing is ever found for an empty name or in a missing folder.
  EXPECT_EQ(FindFileNoCase("/nonexistent-folder", "x"), "");
  EXPECT_EQ(FindFileNoCase("/", ""), "");
}
