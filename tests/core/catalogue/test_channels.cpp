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
