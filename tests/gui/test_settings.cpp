#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "map/UnitMapScript.h"

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

TEST_F(SettingsStore, TypedEntriesStoreOnlyWhatDiffersFromTheirDefault) {
  using namespace settings;
  // Defaults come from the table, not from the caller.
  EXPECT_EQ(kVolume.Get(), 100);
  EXPECT_DOUBLE_EQ(kPanelBrowser.Get(), 0.5);
  EXPECT_TRUE(kColSortAscending.Get());
  EXPECT_EQ(kMapX.Get(), "30.315");
  EXPECT_EQ(kMapZoom.Get(), "14");
  EXPECT_EQ(ColumnWidth(2, 95).Get(), 95);
  EXPECT_EQ(ColumnAt(3).Get(), 3);

  kVolume.Set(40);
  EXPECT_EQ(ReadSetting("volume"), "40");
  EXPECT_EQ(kVolume.Get(), 40);
  kVolume.Set(100);
  EXPECT_FALSE(HasSetting("volume"));
  // Floating point counts as equal at the three decimals it is stored with.
  kPanelBrowser.Set(0.5004);
  EXPECT_FALSE(kPanelBrowser.Stored());
  kPanelBrowser.Set(0.25);
  EXPECT_EQ(ReadSetting("panel_Browser"), "0.250");
  kColSortAscending.Set(false);
  EXPECT_EQ(ReadSetting("col_sort_dur"), "false");
  ColumnAt(3).Set(3);
  EXPECT_FALSE(HasSetting("col3_i"));
  ColumnAt(3).Set(5);
  EXPECT_EQ(ReadIntSetting("col3_i", -1), 5);
  MenuCheck("N_View_Details", true).Set(true);
  EXPECT_FALSE(HasSetting("N_View_Details"));
  MenuCheck("N_View_Details", true).Set(false);
  EXPECT_EQ(ReadSetting("N_View_Details"), "false");

  // Values whose default is worked out at run time are always written, and
  // read with the caller's default when missing or unreadable.
  EXPECT_EQ(kPosLeft.Get(256), 256);
  kPosLeft.Write(0);
  EXPECT_TRUE(kPosLeft.Stored());
  EXPECT_EQ(kPosLeft.Get(256), 0);
  WriteSetting("pos_Top", "x");
  EXPECT_EQ(kPosTop.Get(135), 135);
  kPosLeft.Reset();
  EXPECT_FALSE(kPosLeft.Stored());
}

// Values typed into the settings file by hand, without the quotes the store
// writes around a comma, and numbers that are no numbers for the program.
TEST_F(SettingsStore, HandEditedFileReadsAsTheUserMeantIt) {
  DeleteAllSettings();
  {
    QFile f(SettingsFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(
        "[General]\n"
        "panel_Browser=0,6\n"
        "copyFolder=/media/card,2/DCIM\n"
        "volume=40\n"
        "pos_Left=inf\n"
        "gm_X=inf\n"
        "gm_Y=nan\n"
        "gm_Z=14\n");
  }
  EXPECT_DOUBLE_EQ(settings::kPanelBrowser.Get(), 0.6);
  EXPECT_EQ(settings::kCopyFolder.Get(), "/media/card,2/DCIM");
  EXPECT_EQ(settings::kVolume.Get(), 40);
  EXPECT_EQ(settings::kPosLeft.Get(7), 7);
  const struct {
    const char *text;
    double read;  // 0.5: the default
  } floats[] = {{"0,6", 0.6},  {"0.6", 0.6}, {" 0,25 ", 0.25}, {"inf", 0.5},
                {"-inf", 0.5}, {"nan", 0.5}, {"1e999", 0.5},   {"0,6,1", 0.5}};
  for (const auto &c : floats) {
    QFile f(SettingsFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray("[General]\npanel_Browser=") + c.text + "\n");
    f.close();
    EXPECT_DOUBLE_EQ(settings::kPanelBrowser.Get(), c.read) << c.text;
  }
  // The map starts at its default place rather than with a script that
  // cannot run.
  EXPECT_EQ(InitializeScript("nan", "inf", "-inf", "folder"),
            "initialize(59.939, 30.315, 14, 'folder')");
  EXPECT_EQ(InitializeScript("60.5", "30.25", "12", ""), "initialize(60.5, 30.25, 12, '')");
}
