// A recording cut off by power loss in the list: shown as damaged, repaired
// from the list's menu with the reference found in its folder, on a worker,
// and the repaired file joins the list beside it. With
// TACHORA_SCREENSHOT_DIR set, pictures of the window in English and Russian.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "TestMedia.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "catalogue/UnitFormFileProperty.h"
#include "catalogue/UnitFormRepair.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordListController.h"
#include "container/UnitMOV.h"
#include "gui_test_helpers.h"

using namespace tachora;
namespace fs = std::filesystem;

namespace {

// The recording with its movie atom gone and its media-data size zeroed,
// cut at 60 % of its media data.
void Break(const std::string &from, const std::string &to) {
  TMOVReader r(from, true);
  std::ifstream in(from, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), {});
  const size_t mdat = data.find("mdat") - 4;
  data.resize(mdat + size_t((r.MovieAtomOffset() - int64_t(mdat)) * 0.6));
  data.replace(mdat, 4, std::string(4, '\0'));
  std::ofstream(to, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

}  // namespace

TEST(FormRepair, DamagedRowIsRepairedFromTheListMenu) {
  DeleteAllSettings();
  TFormMain::AutoFirstShow = false;
  test::TMediaRecipe recipe;
  recipe.seconds = 6;
  const std::string original = test::GenerateMovie("repair-gui", recipe);
  recipe.seconds = 3;
  const std::string reference = test::GenerateMovie("repair-gui-ref", recipe);
  const std::string dir = test::MakeTempDir("form-repair");
  fs::copy_file(reference, dir + "/FILE0001.MOV");
  fs::last_write_time(dir + "/FILE0001.MOV",
                      fs::file_time_type::clock::now() - std::chrono::minutes(3));
  const std::string broken = dir + "/FILE0002.MOV";
  Break(original, broken);
  const bool shots = !qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR");

  for (int lang = 0; lang < (shots ? 2 : 1); ++lang) {
    InitLanguages(lang == 0 ? 1033 : 1049);
    const QString suffix = lang == 0 ? "_en" : "_ru";
    fs::remove(dir + "/FILE0002_repaired.MOV");
    TFormMain form;
    form.resize(1280, 760);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(test::Open(form, {QString::fromStdString(broken)}));
    TRecordListController *list = form.List();
    ASSERT_EQ(list->Model()->rowCount(), 1);
    list->SelectRow(0);
    const TListRow *row = list->Model()->Row(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Images[1], kImgDamaged);
    const TFileItem item = list->FileManager()->GetItem(0);
    EXPECT_TRUE(item.Summary.Damaged);
    EXPECT_TRUE(ListMenuEnabling(&item, 1).value("N_FileList_Repair"));

    if (shots)
      form.grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/list_damaged" + suffix +
                       ".png");
    bool damagedLine = false;
    for (const auto &[label, value] : PropertyRows(item))
      damagedLine =
          damagedLine || label.trimmed() == QString::fromStdString(LangText("Property_Damaged"));
    EXPECT_TRUE(damagedLine);
    if (shots) {
      TFormFileProperty properties(item, &form);
      properties.show();
      QTest::qWait(100);
      properties.grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/properties" +
                             suffix + ".png");
    }
    form.Menu()->Item("N_FileList_Repair")->trigger();
    auto *repair = form.findChild<TFormRepair *>();
    ASSERT_NE(repair, nullptr);
    // The reference is found on a worker: the window answers meanwhile.
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !repair->EditReference->text().isEmpty(); }, 20000));
    EXPECT_EQ(QDir::fromNativeSeparators(repair->EditReference->text()),
              QString::fromStdString(dir + "/FILE0001.MOV"));
    if (shots)
      repair->grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/repair" + suffix +
                          ".png");
    QSignalSpy finished(repair, &TFormRepair::Finished);
    QSignalSpy listed(list, &TRecordListController::FilesOpened);
    repair->ButtonStart->click();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_TRUE(finished.at(0).at(0).toBool()) << repair->LabelStatus->text().toStdString();
    EXPECT_TRUE(fs::exists(dir + "/FILE0002_repaired.MOV"));
    ASSERT_TRUE(listed.count() > 0 || listed.wait(20000));
    bool found = false;
    for (int i = 0; i < list->FileManager()->RowCount(); ++i)
      for (const auto &r : list->FileManager()->GetItem(i).Items)
        found = found ||
                (QFileInfo(QString::fromStdString(r.Path)).fileName() == "FILE0002_repaired.MOV" &&
                 !r.Damaged);
    EXPECT_TRUE(found);
    EXPECT_TRUE(fs::exists(broken));  // the original stays
    if (shots)
      repair->grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/repair_done" + suffix +
                          ".png");
    repair->close();
    form.close();
  }
  DeleteAllSettings();
}
