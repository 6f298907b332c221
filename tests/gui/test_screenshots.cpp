// Pictures of every window for a person to look at: runs only when
// TACHORA_SCREENSHOT_DIR names a folder (and TACHORA_DEMO_CARD a demo card
// to list), e.g. under xvfb-run with TACHORA_TEST_DISPLAY=1.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormFileProperty.h"
#include "gui_test_helpers.h"
#include "tools/UnitFormAbout.h"
#include "tools/UnitFormWhatsNew.h"
#include "tools/UnitToolsController.h"

using namespace tachora;

namespace {

void Save(QWidget *w, const QString &name) {
  QApplication::processEvents();
  QTest::qWait(100);
  w->grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/" + name + ".png");
}

void SaveMenu(QMenu *menu, const QPoint &at, const QString &name) {
  menu->popup(at);
  QTest::qWait(150);
  Save(menu, name);
  menu->hide();
}

}  // namespace

TEST(Screenshots, EveryWindowInBothLanguages) {
  if (qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR"))
    GTEST_SKIP() << "TACHORA_SCREENSHOT_DIR not set";
  DeleteAllSettings();
  TFormMain::AutoFirstShow = false;
  for (int lang = 0; lang < 2; ++lang) {
    InitLanguages(lang == 0 ? 1033 : 1049);
    TFormMain form;
    form.resize(1280, 760);
    form.move(20, 20);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QString card = qEnvironmentVariable("TACHORA_DEMO_CARD");
    if (!card.isEmpty()) test::Open(form, {card});
    form.List()->SelectRow(0);
    const QString suffix = lang == 0 ? "_en" : "_ru";
    Save(&form, "main" + suffix);
    TMainMenu &m = *form.Menu();
    for (const char *name : {"N_File", "N_View", "N_Playback", "N_VideoZoom"})
      SaveMenu(m.SubMenu(name), form.mapToGlobal(QPoint(10, 30)),
               QString("menu_%1").arg(name) + suffix);
    form.List()->UpdateListMenu();
    SaveMenu(m.PopupMenuListView(), form.mapToGlobal(QPoint(900, 100)), "popup_list" + suffix);
    SaveMenu(m.PopupMenuVideoWindow(), form.mapToGlobal(QPoint(200, 100)), "popup_video" + suffix);
    SaveMenu(m.PopupMenuGraphics(), form.mapToGlobal(QPoint(200, 500)), "popup_graphics" + suffix);
    form.Tools()->FormAbout()->show();
    Save(form.Tools()->FormAbout(), "about" + suffix);
    form.Tools()->FormAbout()->hide();
    form.Tools()->FormWhatsNew()->show();
    Save(form.Tools()->FormWhatsNew(), "whatsnew" + suffix);
    form.Tools()->FormWhatsNew()->hide();
    if (form.List()->FileManager() && form.List()->FileManager()->RowCount() > 0) {
      auto *props = new TFormFileProperty(form.List()->FileManager()->GetItem(0), &form);
      props->show();
      Save(props, "properties" + suffix);
      props->close();
    }
    form.close();
  }
  InitLanguages(1033);
  DeleteAllSettings();
}
