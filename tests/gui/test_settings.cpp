#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "app/UnitReg.h"

using namespace tachora;

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override { DeleteAllSettings(); }
};

TEST_F(SettingsStore, KindsReadBackAndDefaultsOnAnythingElse) {
  EXPECT_EQ(ReadSetting("missing", "dflt"), "dflt");
  WriteSetting("copyFolder", "/media/card, 2/DCIM");  // commas must not turn into a list
  EXPECT_EQ(ReadSetting("copyFolder"), "/media/card, 2/DCIM");

  WriteIntSetting("pos_Left", -12);
  EXPECT_EQ(ReadIntSetting("pos_Left", 5), -12);
  WriteSetting("pos_Top", "12px");
  EXPECT_EQ(ReadIntSetting("pos_Top", 5), 5);

  WriteFloatSetting("panel_Browser", 0.6666);
  EXPECT_EQ(ReadSetting("panel_Browser"), "0.667");  // three decimals, "."
  EXPECT_DOUBLE_EQ(ReadFloatSetting("panel_Browser", 0.5), 0.667);
  WriteSetting("panel_Browser", "0,25");  // written by hand with a comma
  EXPECT_DOUBLE_EQ(ReadFloatSetting("panel_Browser", 0.5), 0.25);
  WriteSetting("panel_Browser", "half");
  EXPECT_DOUBLE_EQ(ReadFloatSetting("panel_Browser", 0.5), 0.5);

  WriteBoolSetting("col_sort_dur", false);
  EXPECT_EQ(ReadSetting("col_sort_dur"), "false");
  EXPECT_FALSE(ReadBoolSetting("col_sort_dur", true));
  WriteSetting("col_sort_dur", "TRUE");  // only the exact words count
  EXPECT_TRUE(ReadBoolSetting("col_sort_dur", true));
  EXPECT_FALSE(ReadBoolSetting("col_sort_dur", false));
}

TEST_F(SettingsStore, ValuesEqualToTheirDefaultAreDeleted) {
  WriteIntSettingOrDelete("volume", 40, 100);
  EXPECT_TRUE(HasSetting("volume"));
  WriteIntSettingOrDelete("volume", 100, 100);
  EXPECT_FALSE(HasSetting("volume"));
  WriteBoolSettingOrDelete("N_View_Details", true, false);
  EXPECT_TRUE(HasSetting("N_View_Details"));
  WriteBoolSettingOrDelete("N_View_Details", false, false);
  EXPECT_FALSE(HasSetting("N_View_Details"));
  WriteSetting("a", "1");
  DeleteSetting("a");
  EXPECT_EQ(ReadIntSetting("a", 9), 9);
}

TEST_F(SettingsStore, DeleteAllEmptiesTheFileAndNamesStayFlat) {
  WriteSetting("gm_X", "30.315000");
  WriteIntSetting("col3_w", 80);
  {
    QSettings raw(SettingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(raw.value("gm_X").toString(), "30.315000");
  }
  DeleteAllSettings();
  EXPECT_FALSE(HasSetting("gm_X"));
  EXPECT_FALSE(HasSetting("col3_w"));
}
