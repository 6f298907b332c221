// The main window's menus: structure and keys, the check-mark store, the
// pop-up copies, the language switch and the extra zoom keys.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "app/UnitCommands.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitTranslate.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordListController.h"

using namespace tachora;

namespace {

QString Ru(const char *key) {
  return QString::fromStdString(Languages()[1].Lookup(key));
}
QString En(const char *key) {
  return QString::fromStdString(Languages()[0].Lookup(key));
}

class MainMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
    TFormMain::AutoFirstShow = false;
  }
  void TearDown() override {
    DeleteAllSettings();
    InitLanguages(1033);
  }
};

QStringList Names(QMenu *menu) {
  QStringList out;
  for (QAction *a : menu->actions()) out << (a->isSeparator() ? QString("-") : a->objectName());
  return out;
}

}  // namespace

TEST_F(MainMenu, ItemsKeysSeparatorsAndRadioGroups) {
  TFormMain form;
  TMainMenu &m = *form.Menu();
  EXPECT_EQ(Names(m.SubMenu("N_File")),
            QStringList({"N_File_Open", "N_File_OpenFolder", "N_File_Recent", "N_FileList_Refresh2",
                         "N_FileList_Clear2", "N_File_Save_Video", "-", "N_File_Convert_GPS", "-",
                         "N_SetupDevice", "-", "N_Settings_Clear", "-", "N_File_Exit"}));
  EXPECT_EQ(
      Names(m.SubMenu("N_Playback")),
      QStringList({"N_Playback_Play", "N_Playback_Stop", "N_FullScreen", "N_Playback_PauseOnClick",
                   "-", "N_Playback_Left", "N_Playback_Right", "N_Playback_Frame_Prev",
                   "N_Playback_Frame_Next", "N_Playback_Event_Prev", "N_Playback_Event_Next", "-",
                   "N_Playback_Save_Frame", "N_Playback_Save_Wind", "-", "N_Playback_Renderer",
                   "N_Playback_Cameras"}));
  EXPECT_EQ(Names(m.PopupMenuListView()), QStringList({"N_FileList_Open",
                                                       "-",
                                                       "N_FileList_Add",
                                                       "N_FileList_Del",
                                                       "N_FileList_Refresh",
                                                       "N_FileList_Clear",
                                                       "-",
                                                       "N_FileList_Copy",
                                                       "N_FileList_DelDisk",
                                                       "N_FileList_DelDiskAll",
                                                       "-",
                                                       "N_FileList_SetLock",
                                                       "N_FileList_UnsetLock",
                                                       "-",
                                                       "N_FileList_Group_With",
                                                       "N_FileList_Ungroup",
                                                       "N_FileList_Group_Auto",
                                                       "N_FileList_Ungroup_All",
                                                       "-",
                                                       "N_FileList_Track_Google",
                                                       "N_FileList_Track_Export",
                                                       "N_FileList_Track_Set",
                                                       "N_FileList_Track_GPSLog",
                                                       "N_FileList_Track_Move",
                                                       "-",
                                                       "N_FileList_ShowExplorer",
                                                       "N_FileList_Property",
                                                       "N_FileList_Repair"}));

  const std::pair<const char *, const char *> keys[] = {{"N_File_Open", "Ctrl+O"},
                                                        {"N_FileList_Refresh2", "Ctrl+R"},
                                                        {"N_File_Convert_GPS", "Ctrl+G"},
                                                        {"N_View_FileList", "F2"},
                                                        {"N_View_Time_ZoomIn", "Ctrl+="},
                                                        {"N_View_Time_SetB", "Ctrl+End"},
                                                        {"N_View_Graphics_Z", "Z"},
                                                        {"N_Playback_Play", "Space"},
                                                        {"N_Playback_Stop", "Esc"},
                                                        {"N_FullScreen", "Alt+Return"},
                                                        {"N_VideoZoom_NotLinear", "Alt+4"},
                                                        {"N_VideoZoom_FlipH", "F10"},
                                                        {"N_Help_About", "F1"},
                                                        {"N_FileList_Add", "Ins"},
                                                        {"N_FileList_DelDisk", "Shift+Del"},
                                                        {"N_FileList_Copy", "Shift+C"},
                                                        {"N_Playback_Event_Prev", "Ctrl+Left"},
                                                        {"N_Playback_Event_Next", "Ctrl+Right"},
                                                        {"N_Playback_Cameras_Swap", "C"}};
  for (auto [name, key] : keys) EXPECT_EQ(m.Item(name)->shortcut(), QKeySequence(key)) << name;

  // Radio groups: one checked, the design's choice.
  for (auto [item, group] :
       {std::pair{"N_View_Arrow_Big", 3}, std::pair{"N_View_TimePoints_1m", 4},
        std::pair{"N_View_Refresh_Fast", 3}, std::pair{"N_Playback_Renderer_EVR", 3},
        std::pair{"N_VideoZoom_Letterbox", 5}, std::pair{"N_View_Show_All", 4},
        std::pair{"N_View_Sensitivity_Normal", 3}, std::pair{"N_Playback_Cameras_PiP", 3}}) {
    ASSERT_NE(m.Item(item)->actionGroup(), nullptr) << item;
    EXPECT_EQ(m.Item(item)->actionGroup()->actions().size(), group) << item;
    EXPECT_TRUE(m.DefaultChecked(item)) << item;
    // Without OpenGL (offscreen) the player's start-up probe chose the
    // software renderer instead of the design's.
    if (QString(item) != "N_Playback_Renderer_EVR") {
      EXPECT_EQ(m.Item(item)->actionGroup()->checkedAction(), m.Item(item)) << item;
    }
  }
  EXPECT_EQ(m.DefaultCheckedNames().size(), 15);
  EXPECT_TRUE(m.DefaultChecked("N_View_Graphics_G"));
  EXPECT_FALSE(m.DefaultChecked("N_View_Graphics_H"));
  // The language menu: one radio item per table, the current one checked.
  QMenu *lang = m.SubMenu("N_View_Language");
  ASSERT_EQ(lang->actions().size(), 2);
  EXPECT_EQ(TMainMenu::Caption(lang->actions()[0]), "(en) English");
  EXPECT_TRUE(lang->actions()[0]->isChecked());
}

TEST_F(MainMenu, PopupCopiesFollowTheirSource) {
  TFormMain form;
  TMainMenu &m = *form.Menu();
  QMenu *video = m.PopupMenuVideoWindow();
  const QStringList names = Names(video);
  EXPECT_EQ(names.first(), "N_Playback_Play");
  EXPECT_EQ(names.mid(names.indexOf("N_Playback_Cameras") + 1),
            QStringList({"-", "N_File", "N_View", "N_VideoZoom", "N_Help", "-", "N_File_Exit"}));
  // The File copy has no Exit of its own: the pop-up's last item is it.
  QMenu *fileCopy = video->actions()[names.indexOf("N_File")]->menu();
  ASSERT_NE(fileCopy, nullptr);
  EXPECT_FALSE(Names(fileCopy).contains("N_File_Exit"));

  EXPECT_EQ(Names(m.PopupMenuGraphics()),
            QStringList({"N_View_Time_ZoomIn4", "N_View_Time_ZoomOut4", "N_View_Time_SetA4",
                         "N_View_Time_SetB4", "N_File_Save_Video4", "-", "N_View_Graphics_S4",
                         "N_View_Graphics_H4", "N_View_Graphics_G4", "N_View_Graphics_X4",
                         "N_View_Graphics_Y4", "N_View_Graphics_Z4", "-", "N_View_Graphics_Hide4",
                         "N_View_Graphics_Show4", "-", "N_View_Details4"}));

  // A click on a copy works on its source; the mark is saved under the
  // source's name and every copy follows.
  QAction *src = m.Item("N_View_FileList");
  QAction *viewCopy = nullptr;
  TMainMenu::ForEachItem(video, [&](QAction *a) {
    if (a->objectName() == "N_View_FileList") viewCopy = a;
  });
  ASSERT_NE(viewCopy, nullptr);
  EXPECT_EQ(m.MenuOriginal(viewCopy), src);
  viewCopy->trigger();
  EXPECT_FALSE(src->isChecked());
  EXPECT_FALSE(viewCopy->isChecked());
  EXPECT_EQ(ReadSetting("N_View_FileList"), "false");
  EXPECT_FALSE(HasSetting("N_View_FileList4"));
  EXPECT_TRUE(form.Panels()->ListView->isHidden());
  // A copy never fires its key on its own.
  EXPECT_EQ(viewCopy->shortcutContext(), Qt::WidgetShortcut);

  m.SetMenuSuffix(m.Item("N_VideoZoom_Stretch"), "EVR only", true);
  m.SetMenuSuffix(m.Item("N_VideoZoom_Stretch"), "VMR only", true);
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_VideoZoom_Stretch")),
            En("N_VideoZoom_Stretch") + " (VMR only)");
  m.SetMenuSuffix(m.Item("N_VideoZoom_Stretch"), "VMR only", false);
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_VideoZoom_Stretch")), En("N_VideoZoom_Stretch"));
}

TEST_F(MainMenu, CheckMarksStoredOnlyWhenTheyDifferFromTheDesign) {
  {
    TFormMain form;
    TMainMenu &m = *form.Menu();
    m.Item("N_View_ControlPanel")->trigger();  // design: on
    EXPECT_EQ(ReadSetting("N_View_ControlPanel"), "false");
    m.Item("N_View_ControlPanel")->trigger();  // back to the design state
    EXPECT_FALSE(HasSetting("N_View_ControlPanel"));

    // A radio group saves every item of the group; the design choice deletes all.
    m.SetMenuChecked(m.Item("N_View_Refresh_Slow"), true);
    EXPECT_EQ(ReadSetting("N_View_Refresh_Slow"), "true");
    EXPECT_EQ(ReadSetting("N_View_Refresh_Fast"), "false");
    EXPECT_FALSE(HasSetting("N_View_Refresh_Norm"));
    m.SetMenuChecked(m.Item("N_View_Refresh_Fast"), true);
    EXPECT_FALSE(HasSetting("N_View_Refresh_Slow"));
    EXPECT_FALSE(HasSetting("N_View_Refresh_Fast"));

    m.SetMenuChecked(m.Item("N_View_Graphics_H"), true);
    m.SetMenuChecked(m.Item("N_View_Arrow_Small"), true);
    m.Item("N_View_GoogleMaps")->trigger();
    EXPECT_TRUE(form.Panels()->WebBrowser->isHidden());
  }
  // The next start restores them (and the copies show the same).
  TFormMain form;
  TMainMenu &m = *form.Menu();
  EXPECT_TRUE(m.Item("N_View_Graphics_H")->isChecked());
  EXPECT_TRUE(m.Item("N_View_Arrow_Small")->isChecked());
  EXPECT_FALSE(m.Item("N_View_Arrow_Big")->isChecked());
  EXPECT_FALSE(m.Item("N_View_GoogleMaps")->isChecked());
  EXPECT_TRUE(m.Item("N_View_Refresh_Fast")->isChecked());
  EXPECT_TRUE(m.CopiesOf(m.Item("N_View_Graphics_H")).first()->isChecked());
  EXPECT_TRUE(form.Panels()->WebBrowser->isHidden());
  // The design state is captured before the stored marks are applied.
  EXPECT_TRUE(m.DefaultChecked("N_View_Arrow_Big"));
  EXPECT_FALSE(m.DefaultChecked("N_View_Arrow_Small"));
}

TEST_F(MainMenu, ViewSwitchesCollapseTheRightSide) {
  TFormMain form;
  form.resize(1200, 800);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  TMainMenu &m = *form.Menu();
  TMainLayout &p = *form.Panels();
  for (const char *name : {"N_View_FileList", "N_View_GoogleMaps", "N_View_ControlPanel"})
    m.Item(name)->trigger();
  EXPECT_TRUE(p.PanelRight->isHidden());
  m.Item("N_View_ControlPanel")->trigger();
  QApplication::processEvents();
  EXPECT_TRUE(p.PanelRight->isVisible());
  EXPECT_EQ(p.PanelRight->width(), TMainLayout::kRightWidth);
  EXPECT_TRUE(p.PanelRight2->isHidden());
  form.close();
}

TEST_F(MainMenu, LanguageSwitchTranslatesEverythingAtOnce) {
  TFormMain form;
  TMainMenu &m = *form.Menu();
  ASSERT_EQ(TMainMenu::Caption(m.Item("N_File_Open")), En("N_File_Open"));
  QMenu *lang = m.SubMenu("N_View_Language");
  lang->actions()[1]->trigger();  // Russian
  EXPECT_EQ(CurrentLanguage(), 1);
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_File")), Ru("N_File"));
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_File_Open")), Ru("N_File_Open"));
  // Names ending in a digit take their source item's text.
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_FileList_Refresh2")), Ru("N_FileList_Refresh"));
  EXPECT_EQ(TMainMenu::Caption(m.CopiesOf(m.Item("N_View_Details")).last()), Ru("N_View_Details"));
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_FileList_Group_With")),
            Ru("N_FileList_Group_With") + " . . .");
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_VideoZoom_ZoomIn")), Ru("N_VideoZoom_ZoomIn") + "  \t+");
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_Playback_PauseOnClick")),
            " " + Ru("N_Playback_PauseOnClick"));
  // The software renderer (offscreen) serves flips: no "(... only)" hint.
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_VideoZoom_FlipV")), Ru("N_VideoZoom_FlipV"));
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_VideoZoom_200")), "200%");  // never translated
  EXPECT_EQ(TMainMenu::Caption(lang->actions()[0]), "(en) English");
  // Copies in the video pop-up follow.
  EXPECT_EQ(TMainMenu::Caption(m.CopiesOf(m.Item("N_Playback_Stop")).first()),
            Ru("N_Playback_Stop"));
  // Columns and hints.
  EXPECT_EQ(form.List()->Model()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
            Ru("AvgSpeed") + ", " + Ru("KmetersPerH"));
  EXPECT_EQ(form.Panels()->TrackBarVolume->toolTip(), Ru("Volume"));
  EXPECT_TRUE(
      form.Panels()->ButtonFramePrev->toolTip().startsWith(Ru("N_Playback_Frame_Prev") + " ("));
  // The choice is stored and wins over the system language at the next start.
  EXPECT_EQ(ReadSetting("N_View_Language_ru"), "true");

  lang->actions()[0]->trigger();
  EXPECT_EQ(CurrentLanguage(), 0);
  EXPECT_EQ(TMainMenu::Caption(m.Item("N_File_Open")), En("N_File_Open"));
  EXPECT_EQ(form.List()->Model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
            En("Name"));
  EXPECT_EQ(ReadSetting("N_View_Language_en"), "true");

  lang->actions()[1]->trigger();
  TFormMain second;
  EXPECT_EQ(CurrentLanguage(), 1);
  EXPECT_EQ(TMainMenu::Caption(second.Menu()->Item("N_Help_About")), Ru("N_Help_About"));
}

TEST_F(MainMenu, MissingKeysFallBackToEnglishThenToTheName) {
  EXPECT_EQ(MenuItemCaption("N_VideoZoom_800"), QString());  // keeps "800%"
  EXPECT_EQ(MenuItemCaption("N_NoSuchItem"), "N_NoSuchItem");
  EXPECT_EQ(MenuItemCaption("N_NoSuchItem4"), "N_NoSuchItem");
  EXPECT_EQ(MenuItemCaption("N_VideoZoom_Other4"), En("N_VideoZoom_Other") + " . . .");
}

TEST_F(MainMenu, UnbuiltCommandsStayDisabled) {
  TFormMain form;
  TMainMenu &m = *form.Menu();
  for (const char *name : {"N_Playback_Play"}) EXPECT_FALSE(m.Item(name)->isEnabled()) << name;
  for (const char *name :
       {"N_File_Open", "N_Settings_Clear", "N_View_FileList", "N_Help_About", "N_Help_WhatsNew",
        "N_View_Graphics_S", "N_View_Details", "N_File_Convert_GPS", "N_SetupDevice"})
    EXPECT_TRUE(m.Item(name)->isEnabled()) << name;
  for (QAction *copy : m.CopiesOf(m.Item("N_Playback_Play"))) EXPECT_FALSE(copy->isEnabled());
  EXPECT_FALSE(form.Panels()->ButtonPlay->isEnabled());
}

TEST_F(MainMenu, NumericKeypadZoomKeys) {
  TFormMain form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.activateWindow();
  QApplication::setActiveWindow(&form);
  TMainMenu &m = *form.Menu();
  // The zoom commands come with the player; enable them here to watch the keys.
  for (const char *name :
       {"N_VideoZoom_ZoomIn", "N_VideoZoom_ZoomOut", "N_View_Time_ZoomIn", "N_View_Time_ZoomOut",
        "N_VideoZoom_100", "N_VideoZoom_PanAndScan", "N_VideoZoom_Letterbox"})
    m.SetEnabled(name, true);
  QSignalSpy videoIn(m.Item("N_VideoZoom_ZoomIn"), &QAction::triggered);
  QSignalSpy timeIn(m.Item("N_View_Time_ZoomIn"), &QAction::triggered);
  QSignalSpy videoOut(m.Item("N_VideoZoom_ZoomOut"), &QAction::triggered);
  QSignalSpy timeOut(m.Item("N_View_Time_ZoomOut"), &QAction::triggered);
  QSignalSpy hundred(m.Item("N_VideoZoom_100"), &QAction::triggered);
  QWidget *target = form.Panels()->ListView;
  QTest::keyClick(target, Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(target, Qt::Key_Equal);
  QTest::keyClick(target, Qt::Key_Plus, Qt::ShiftModifier);  // "=" with Shift
  EXPECT_EQ(videoIn.count(), 3);
  EXPECT_EQ(timeIn.count(), 0);
  QTest::keyClick(target, Qt::Key_Plus, Qt::KeypadModifier | Qt::ControlModifier);
  EXPECT_EQ(timeIn.count(), 1);
  EXPECT_EQ(videoIn.count(), 3);
  QTest::keyClick(target, Qt::Key_Underscore, Qt::ShiftModifier);  // "-" with Shift
  EXPECT_EQ(videoOut.count(), 1);
  QTest::keyClick(target, Qt::Key_Minus, Qt::KeypadModifier);
  QTest::keyClick(target, Qt::Key_Minus, Qt::KeypadModifier | Qt::ControlModifier);
  EXPECT_EQ(videoOut.count(), 2);
  EXPECT_EQ(timeOut.count(), 1);
  QTest::keyClick(target, Qt::Key_Asterisk, Qt::KeypadModifier);
  EXPECT_EQ(hundred.count(), 1);
  // "*" left a custom zoom: "/" goes to Letterbox, then to Pan and Scan.
  QTest::keyClick(target, Qt::Key_Slash, Qt::KeypadModifier);
  EXPECT_TRUE(m.Item("N_VideoZoom_Letterbox")->isChecked());
  QTest::keyClick(target, Qt::Key_Slash, Qt::KeypadModifier);
  EXPECT_TRUE(m.Item("N_VideoZoom_PanAndScan")->isChecked());
  form.close();
}

// Every command of the main menu and of the list's pop-up menu has its
// handler: an item nobody binds would stay disabled for good.
TEST_F(MainMenu, EveryCommandIsBound) {
  TFormMain form;
  TMainMenu &m = *form.Menu();
  QStringList unbound;
  auto check = [&](QAction *a) {
    if (a->menu() || a->objectName().startsWith("N_View_Language_") ||
        a->objectName().startsWith("N_File_Recent_"))
      return;
    if (!form.Commands()->IsBound(a->objectName())) unbound << a->objectName();
  };
  m.ForEachMainItem(check);
  TMainMenu::ForEachItem(m.PopupMenuListView(), check);
  EXPECT_TRUE(unbound.isEmpty()) << unbound.join(", ").toStdString();
}
