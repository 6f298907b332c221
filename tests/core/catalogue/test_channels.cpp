// Which names mark a camera, and which files form one moment.
#include <gtest/gtest.h>

#include "catalogue/UnitChannels.h"

using namespace tachora;

TEST(Channels, MarkersOfTheRecordersNames) {
  struct TCase {
    const char *Path;
    const char *Channel;  // nullptr: no marker
    const char *Moment;
  };
  const TCase cases[] = {
      {"/c/DCIM/20240612_093000_F.MP4", "F", "/c/dcim/20240612_093000"},
      {"/c/DCIM/20240612_093000_R.MP4", "R", "/c/dcim/20240612_093000"},
      {"/c/Normal/20240612_093000_NF.mp4", "F", "/c/normal/20240612_093000"},
      {"/c/Event/20240612_093000_ER.mp4", "R", "/c/event/20240612_093000"},
      {"/c/Parking/20240612_093000_PR.MP4", "R", "/c/parking/20240612_093000"},
      {"/c/DCIM/2024_0612_093000_0001F.MP4", "F", "/c/dcim/2024_0612_093000_0001"},
      {"/c/DCIM/2024_0612_093000_0001I.MP4", "I", "/c/dcim/2024_0612_093000_0001"},
      {"/c/Normal/NO20231015-143022-000123B.MP4", "B", "/c/normal/no20231015-143022-000123"},
      {"/c/DCIM/Front/20240612_093000.MP4", "F", "/c/dcim/*/20240612_093000"},
      {"/c/DCIM/Rear/20240612_093000.MP4", "R", "/c/dcim/*/20240612_093000"},
      {"/c/DCIM/INSIDE/20240612_093000.MP4", "I", "/c/dcim/*/20240612_093000"},
      // Not markers: a name without a stamp, a letter after a letter, no letter.
      {"/c/DCIM/MY_F.MOV", nullptr, ""},
      {"/c/DCIM/FILE0012.MOV", nullptr, ""},
      {"/c/DCIM/20240612_093000.MP4", nullptr, ""},
      {"/c/DCIM/20240612_093000_XB.MP4", nullptr, ""},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Path);
    const auto marker = ChannelOfPath(c.Path);
    if (!c.Channel) {
      EXPECT_FALSE(marker.has_value());
      continue;
    }
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(marker->Channel, c.Channel);
    EXPECT_EQ(marker->Moment, c.Moment);
  }
}

TEST(Channels, FilesOfOneMomentGroupWithTheFrontFirst) {
  const std::vector<std::string> paths = {
      "/c/20240612_093000_R.MP4", "/c/20240612_093000_F.MP4",    "/c/20240612_093100_F.MP4",
      "/c/FILE0001.MOV",          "/c/Rear/20240612_094000.MP4", "/c/Front/20240612_094000.MP4",
      "/c/20240612_093000_r.mp4",  // a second rear of one moment stays its own row
  };
  const std::vector<std::vector<std::string>> want = {
      {"/c/20240612_093000_F.MP4", "/c/20240612_093000_R.MP4"},
      {"/c/20240612_093100_F.MP4"},
      {"/c/FILE0001.MOV"},
      {"/c/Front/20240612_094000.MP4", "/c/Rear/20240612_094000.MP4"},
      {"/c/20240612_093000_r.mp4"},
  };
  EXPECT_EQ(GroupChannels(paths), want);

  TFileItemSubitem rec;
  EXPECT_EQ(ChannelsText(rec), "");
  rec.Channel = "F";
  rec.Channels = {{.Path = "r", .Channel = "R"}, {.Path = "i", .Channel = "I"}};
  EXPECT_EQ(ChannelsText(rec), "F+R+I");
}

// Files whose names do not pair join by their starts: different cameras at
// one place (a folder, or Front/ and Rear/ beside each other) within 2 s.
TEST(Channels, FilesOfOneMomentByTheirStarts) {
  constexpr double s = 1.0 / 86400.0;
  const double t = 45000;  // any day
  const std::vector<std::string> paths = {
      "/c/20240612_093000_F.MP4",
      "/c/20240612_093001_R.MP4",  // 1 s apart: one
      "/c/20240612_100000_F.MP4",
      "/c/20240612_100003_R.MP4",  // 3 s: two
      "/c/20240612_110000_F.MP4",
      "/c/20240612_110001_F.MP4",  // one camera: two
      "/c/A/20240612_120000_F.MP4",
      "/c/B/20240612_120000_R.MP4",  // other folders: two
      "/c/Front/20240612_130000.MP4",
      "/c/Rear/20240612_130001.MP4",  // camera folders: one
      "/c/20240612_140000_R.MP4",
      "/c/20240612_140001_F.MP4",  // the front leads
      "/c/FILE0001.MOV",           // no marker
  };
  const std::vector<double> starts = {
      t,       t + 1 * s, t + 100,     t + 100 + 3 * s, t + 200,     t + 200 + s, t + 300,
      t + 300, t + 400,   t + 400 + s, t + 500,         t + 500 + s, t + 600};
  std::vector<std::vector<std::string>> got;
  for (const auto &g : GroupChannelsByTime(paths, starts)) {
    got.emplace_back();
    for (size_t i : g) got.back().push_back(paths[i]);
  }
  const std::vector<std::vector<std::string>> want = {
      {paths[0], paths[1]}, {paths[2]},           {paths[3]},
      {paths[4]},           {paths[5]},           {paths[6]},
      {paths[7]},           {paths[8], paths[9]}, {paths[11], paths[10]},
      {paths[12]},
  };
  EXPECT_EQ(got, want);
}
