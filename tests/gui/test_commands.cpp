// The command registry over the real menus: what binding enables, what stays
// off, the pop-up copies, and enabling by a controller's state.
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"

using namespace tachora;

namespace {

QAction *CopyIn(QMenu *popup, const QString &name) {
  QAction *found = nullptr;
  TMainMenu::ForEachItem(popup, [&](QAction *a) {
    if (a->objectName() == name) found = a;
  });
  return found;
}

}  // namespace

TEST(CommandRegistry, BindingEnablesUnboundStaysOffAndCopiesFollow) {
  DeleteAllSettings();
  QMainWindow window;
  TMainMenu menu(&window);
  menu.CaptureDefaults();
  menu.BuildLanguageMenu();
  TCommands commands(&menu);
  menu.BuildPopupCopies();

  // Nothing bound: every item is off but the menu bar's own menus.
  EXPECT_TRUE(menu.Item("N_File")->isEnabled());
  EXPECT_TRUE(menu.Item("N_Playback")->isEnabled());
  for (const char *name : {"N_File_Open", "N_File_Exit", "N_View_Time", "N_View_Time_SetA",
                           "N_FileList_Open", "N_View_FileList"})
    EXPECT_FALSE(menu.Item(name)->isEnabled()) << name;

  int runs = 0;
  ASSERT_TRUE(commands.Bind("N_View_Time_SetA", [&runs]() { ++runs; }));
  EXPECT_TRUE(commands.IsBound("N_View_Time_SetA"));
  EXPECT_TRUE(menu.Item("N_View_Time_SetA")->isEnabled());
  // The sub-menu leading to it opens; its siblings stay off.
  EXPECT_TRUE(menu.Item("N_View_Time")->isEnabled());
  EXPECT_FALSE(menu.Item("N_View_Time_SetB")->isEnabled());
  // The copies in the graphs' pop-up and the video pop-up's View copy follow,
  // and a click on a copy runs the source's handler once.
  QAction *graphsCopy = CopyIn(menu.PopupMenuGraphics(), "N_View_Time_SetA4");
  ASSERT_NE(graphsCopy, nullptr);
  EXPECT_TRUE(graphsCopy->isEnabled());
  QAction *videoCopy = CopyIn(menu.PopupMenuVideoWindow(), "N_View_Time_SetA");
  ASSERT_NE(videoCopy, nullptr);
  EXPECT_TRUE(videoCopy->isEnabled());
  graphsCopy->trigger();
  menu.Item("N_View_Time_SetA")->trigger();
  EXPECT_EQ(runs, 2);

  // State switches a bound item and its copies off and on again.
  commands.SetEnabled("N_View_Time_SetA", false);
  EXPECT_FALSE(menu.Item("N_View_Time_SetA")->isEnabled());
  EXPECT_FALSE(graphsCopy->isEnabled());
  EXPECT_FALSE(commands.Run("N_View_Time_SetA"));
  graphsCopy->trigger();
  EXPECT_EQ(runs, 2);
  commands.SetEnabled("N_View_Time_SetA", true);
  EXPECT_TRUE(graphsCopy->isEnabled());
  EXPECT_TRUE(commands.Run("N_View_Time_SetA"));
  EXPECT_EQ(runs, 3);

  // An unbound item never comes on, whatever its owner's state says.
  commands.SetEnabled("N_Playback_Play", true);
  EXPECT_FALSE(menu.Item("N_Playback_Play")->isEnabled());
  EXPECT_FALSE(commands.Run("N_Playback_Play"));
  EXPECT_FALSE(commands.Bind("N_NoSuchItem", []() {}));

  // A second Bind replaces the handler; list pop-up items bind the same way.
  int other = 0;
  commands.Bind("N_View_Time_SetA", [&other]() { ++other; });
  menu.Item("N_View_Time_SetA")->trigger();
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(other, 1);
  commands.Bind("N_FileList_Property", [&other]() { ++other; });
  EXPECT_TRUE(menu.Item("N_FileList_Property")->isEnabled());
  menu.Item("N_FileList_Property")->trigger();
  EXPECT_EQ(other, 2);
}

TEST(CommandRegistry, CheckableItemsRunAfterTheirMarkIsStored) {
  DeleteAllSettings();
  QMainWindow window;
  TMainMenu menu(&window);
  menu.CaptureDefaults();
  TCommands commands(&menu);
  bool seen = true;
  commands.Bind("N_View_ControlPanel",
                [&]() { seen = menu.Item("N_View_ControlPanel")->isChecked(); });
  menu.Item("N_View_ControlPanel")->trigger();
  EXPECT_FALSE(seen);  // the handler sees the new mark
  EXPECT_EQ(ReadSetting("N_View_ControlPanel"), "false");
  DeleteAllSettings();
}
