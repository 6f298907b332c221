// Catalogue rows as trips for the cutter: recordings and their telemetry
// placed by the catalogue's times, gaps included, and cuts made from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "GapTripCard.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitCutterMeta.h"
#include "catalogue/UnitFileManager.h"

using namespace tachora;
using namespace tachora::test;

namespace {

constexpr double kMs = 1 / kMsPerDay;

class CatalogueTrip : public ::testing::Test {
 protected:
  TTestCard card;
  TGapTrip clips{card};
  TFileManager fm{false, nullptr};

  // Both clips opened and joined, as the list shows them as one trip.
  TFileItem Row() {
    fm.OpenRecording(clips.Second);  // the catalogue orders them by time
    fm.OpenRecording(clips.First);
    fm.MergeItems({0, 1}, false);
    return fm.GetItem(0);
  }

  // Cuts the joined row between two trip fractions into `name` on the card.
  TCutResult Cut(long double a, long double b, const std::string &name, bool meta = true) {
    const TRowTelemetry loaded = LoadRowTelemetry(fm, Row());
    TCutOptions o;
    o.a = a;
    o.b = b;
    o.output = card.Path(name);
    SetCutDates(loaded.Row, o);
    TMovingInfoMetaSource source;
    return CutFragment(MakeCutTrip(loaded.Row, loaded.Tracks), o, meta ? &source : nullptr, {});
  }

  // Times of the GPS fixes in a cut's .dat, in seconds from the trip start.
  std::vector<double> FixSeconds(const std::string &datPath) const {
    std::vector<double> out;
    const auto mi = TMovingInfo::LoadFromFile(datPath, false);
    if (!mi) return out;
    for (const TGpsPoint &p : mi->GpsPoints)
      out.push_back(std::round((p.Time - clips.Start) * kSecPerDay * 10) / 10);
    return out;
  }
};

}  // namespace

TEST_F(CatalogueTrip, RecordingsAndTracksTakeTheirPlacesWithTheGap) {
  const TRowTelemetry loaded = LoadRowTelemetry(fm, Row());
  const TFileItem &row = loaded.Row;
  ASSERT_EQ(row.Items.size(), 2u);
  ASSERT_EQ(loaded.Tracks.size(), 2u);
  EXPECT_NEAR(row.Summary.Start, clips.At(0), kMs);
  EXPECT_NEAR(row.Summary.End, clips.At(12), kMs);

  const TCutTrip trip = MakeCutTrip(row, loaded.Tracks);
  ASSERT_EQ(trip.recordings.size(), 2u);
  EXPECT_EQ(trip.caption, row.Summary.DisplayName);
  const long double third = 1.0L / 3;
  const TCutRecording &a = trip.recordings[0], &b = trip.recordings[1];
  EXPECT_EQ(a.path, clips.First);
  EXPECT_EQ(b.path, clips.Second);
  EXPECT_NEAR(static_cast<double>(a.start), 0, 1e-6);
  EXPECT_NEAR(static_cast<double>(a.end), static_cast<double>(third), 1e-6);
  EXPECT_NEAR(static_cast<double>(b.start), static_cast<double>(2 * third), 1e-6);
  EXPECT_NEAR(static_cast<double>(b.end), 1, 1e-6);
  for (size_t i = 0; i < 2; ++i) {
    const TCutRecording &r = trip.recordings[i];
    EXPECT_TRUE(r.hasTelemetry);
    EXPECT_EQ(r.telemetry, loaded.Tracks[i].get());
    EXPECT_NEAR(static_cast<double>(r.telemetryStart), static_cast<double>(r.start), 1e-6);
    EXPECT_NEAR(static_cast<double>(r.telemetryEnd), static_cast<double>(r.end), 1e-6);
  }

  EXPECT_NEAR(TripDateTime(row, 0.5), clips.At(6), kMs);
  TCutOptions o;
  o.a = 0.25;
  o.b = 1;
  SetCutDates(row, o);
  EXPECT_NEAR(o.startDate, clips.At(3), kMs);
  EXPECT_NEAR(o.endDate, clips.At(12), kMs);
  EXPECT_EQ(TripDateTime(TFileItem{}, 0.5), 0);

  // Without tracks, or with empty ones, nothing claims telemetry.
  std::vector<std::unique_ptr<TMovingInfo>> none;
  none.push_back(std::make_unique<TMovingInfo>());
  for (const TCutRecording &r : MakeCutTrip(row, none).recordings) {
    EXPECT_FALSE(r.hasTelemetry);
    EXPECT_EQ(r.telemetry, nullptr);
  }
}

// 9.4 s ... 11.4 s lies inside the second clip (1.4 s ... 3.4 s of it): the
// copy starts at its key frame at 1 s (frame 25) and holds nothing of the
// first clip; the .dat holds the second clip's fixes of that stretch.
TEST_F(CatalogueTrip, CutInsideTheSecondClipHoldsOnlyItsSamples) {
  const TCutResult res = Cut(9.4 / 12, 11.4 / 12, "second.mov");
  ASSERT_TRUE(res.written) << CutErrorText(res);
  EXPECT_TRUE(res.notes.empty());
  const std::string out = res.moviePath;
  const uint32_t frames = SampleCount(out, 0);
  EXPECT_GE(frames, 60u);
  EXPECT_LE(frames, 62u);
  EXPECT_EQ(SameSamples(out, 0, 0, clips.Second, 0, 25), frames);
  EXPECT_EQ(SameSamples(out, 0, 0, clips.First, 0, 25), 0u);
  const auto probe = ProbeStreams(out);
  ASSERT_EQ(probe.size(), 3u);
  EXPECT_EQ(probe[0].frames, frames);
  EXPECT_NEAR(probe[1].duration, probe[0].duration, 0.1);
  EXPECT_TRUE(DecodesCleanly(out));
  // The time and speed as subtitles, one a second from the movie's start
  // (9 s, the key frame) to its end, switched off until a player is asked.
  EXPECT_EQ(probe[2].type, "subtitle");
  EXPECT_EQ(probe[2].codec, "mov_text");
  std::string srt, shown;
  ASSERT_EQ(RunCommand("ffmpeg -v error -i " + ShellQuote(out) + " -map 0:s:0 -f srt -", &srt), 0);
  EXPECT_NE(srt.find("00:00:02,000 --> 00:00:02,4"), std::string::npos) << srt;
  for (int second : {9, 10, 11})
    EXPECT_NE(srt.find(FormatTime(clips.At(second)) + "  "), std::string::npos) << srt;
  EXPECT_NE(srt.find(" km/h"), std::string::npos) << srt;
  ASSERT_EQ(
      RunCommand("ffprobe -v error -select_streams s -show_entries stream_disposition=default "
                 "-of csv=p=0 " +
                     ShellQuote(out),
                 &shown),
      0);
  EXPECT_EQ(shown, "0\n");

  ASSERT_EQ(res.metaPath, card.Path("second.dat"));
  const std::vector<double> fixes = FixSeconds(res.metaPath);
  ASSERT_FALSE(fixes.empty());
  for (double t : fixes) {
    EXPECT_GE(t, 9);  // at most the fix just before the start
    EXPECT_LE(t, 11.4);
  }
  EXPECT_NE(std::find(fixes.begin(), fixes.end(), 10.0), fixes.end());
  EXPECT_NE(std::find(fixes.begin(), fixes.end(), 11.0), fixes.end());
  // The files carry the fragment's end as their time.
  TFileStat st;
  ASSERT_TRUE(StatFile(out, st));
  EXPECT_NEAR(st.Modified, clips.At(11.4), 2 / kSecPerDay);
}

// 3.2 s ... 9.4 s runs over the stop: the first clip from its key frame at
// 3 s to its end, then the second clip from its start to 1.4 s; the .dat
// holds both clips' fixes of the stretch, in order, and none from the stop.
TEST_F(CatalogueTrip, CutOverTheGapHoldsBothClipsInOrder) {
  const TCutResult res = Cut(3.2 / 12, 9.4 / 12, "gap.mov");
  ASSERT_TRUE(res.written) << CutErrorText(res);
  const std::string out = res.moviePath;
  const uint32_t frames = SampleCount(out, 0);
  ASSERT_GT(frames, 25u);
  EXPECT_EQ(SameSamples(out, 0, 0, clips.First, 0, 75), 25u);
  const uint32_t second = frames - 25;
  EXPECT_GE(second, 34u);
  EXPECT_LE(second, 36u);
  EXPECT_EQ(SameSamples(out, 0, 25, clips.Second, 0, 0), second);
  EXPECT_EQ(ProbeStreams(out).at(0).frames, frames);
  EXPECT_TRUE(DecodesCleanly(out));

  const std::vector<double> fixes = FixSeconds(res.metaPath);
  ASSERT_FALSE(fixes.empty());
  EXPECT_TRUE(std::is_sorted(fixes.begin(), fixes.end()));
  for (double t : fixes) EXPECT_TRUE((t >= 2 && t <= 4) || (t >= 8 && t <= 9.4)) << t;
  for (double t : {3.0, 4.0, 8.0, 9.0})
    EXPECT_NE(std::find(fixes.begin(), fixes.end(), t), fixes.end()) << t;

  // A cut that lies wholly in the stop has nothing to copy.
  const TCutResult stop = Cut(5.0 / 12, 7.0 / 12, "stop.mov");
  EXPECT_FALSE(stop.written);
  EXPECT_FALSE(TTestCard::Exists(card.Path("stop.mov")));
}

// Telemetry three times as long as its recording is a time-lapse: the full
// load lays all of it over the clip, and the cut follows the track's own
// times on the clip, not where its file's statistics placed it.
TEST_F(CatalogueTrip, TrackLongerThanItsRecordingIsCutByItsOwnTimes) {
  // The first clip's telemetry starts 8 s early: the spans overlap but are
  // unlike, so the catalogue keeps the file times.
  card.Dat("DCIM/100MEDIA/FILE0001.dat", clips.At(-8), 12);
  const TRowTelemetry loaded = LoadRowTelemetry(fm, Row());
  const TCutTrip trip = MakeCutTrip(loaded.Row, loaded.Tracks);
  ASSERT_EQ(trip.recordings.size(), 2u);
  EXPECT_NEAR(static_cast<double>(trip.recordings[0].start), 0, 1e-6);
  EXPECT_NEAR(static_cast<double>(trip.recordings[0].telemetryStart), 0, 1e-6);
  ASSERT_EQ(loaded.TimeLapse.size(), 2u);
  EXPECT_NEAR(loaded.TimeLapse[0], 3, 1e-6);
  EXPECT_EQ(loaded.TimeLapse[1], 1);
  EXPECT_EQ(loaded.Tracks[0]->GpsPoints.size(), 13u);  // nothing trimmed

  const TCutResult res = Cut(1.0 / 12, 2.5 / 12, "early.mov");
  ASSERT_TRUE(res.written) << CutErrorText(res);
  const std::vector<double> fixes = FixSeconds(res.metaPath);
  ASSERT_FALSE(fixes.empty());
  for (double t : fixes) {
    EXPECT_GE(t, 0);
    EXPECT_LE(t, 2.5);
  }
  EXPECT_NE(std::find(fixes.begin(), fixes.end(), 2.0), fixes.end());
}
