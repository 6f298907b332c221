// Pictures of the grouping, folder and copy windows (and the copy's
// overwrite question) in English and Russian, for a person to look at:
// runs only when TACHORA_SCREENSHOT_DIR names a folder, e.g.
//   TACHORA_SCREENSHOT_DIR=/tmp/shots TACHORA_TEST_DISPLAY=1
//     xvfb-run -a -s "-screen 0 1920x1080x24" tests/gui/gui_test_form_copy_screenshots
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "catalogue/UnitFormCopy.h"
#include "catalogue/UnitFormGroup.h"
#include "catalogue/UnitFormSelectFolder.h"
#include "gui_test_helpers.h"

using namespace tachora;

namespace {

void Save(QWidget *w, const QString &name) {
  QTest::qWait(200);
  w->grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/" + name + ".png");
}

class TStillJob : public ICopyJob {
 public:
  explicit TStillJob(TCopyProgress p) : p_(std::move(p)) {}
  TCopyProgress Progress() const override { return p_; }
  void SetPaused(bool) override {}
  void SetVerify(bool) override {}
  void Terminate() override {}
  TCopyProgress p_;
};

}  // namespace

TEST(Screenshots, GroupingFolderAndCopyWindows) {
  if (qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR"))
    GTEST_SKIP() << "TACHORA_SCREENSHOT_DIR not set";
  DeleteAllSettings();
  TFormMain::AutoFirstShow = false;
  const QString card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  for (int lang = 0; lang < 2; ++lang) {
    InitLanguages(lang == 0 ? 1033 : 1049);
    const QString suffix = lang == 0 ? "_en" : "_ru";
    TFormMain form;
    form.resize(1280, 760);
    form.move(20, 20);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(test::Open(form, {card}));
    form.List()->FileManager()->UngroupAll();
    ASSERT_TRUE(QTest::qWaitFor([&form]() { return form.List()->Model()->rowCount() == 6; }, 5000));
    form.List()->SelectRow(1);
    form.Menu()->Item("N_FileList_Group_With")->trigger();
    auto *group = form.findChild<TFormGroup *>();
    ASSERT_NE(group, nullptr);
    group->SetChecked(form.List()->Model()->Row(2)->Id, true);
    Save(group, "group" + suffix);
    group->reject();

    TFormSelectFolder folder(&form);
    folder.setWindowTitle(QString::fromStdString(LangText("SelectFolderFor")) + " FILE0001-4");
    folder.SetPath(QDir::homePath());
    folder.show();
    Save(&folder, "select_folder" + suffix);
    folder.hide();

    TCopyProgress p;
    p.FileCount = 8;
    p.CurrentIndex = 2;
    p.TotalBytes = 2400ll << 20;
    p.CopiedBytes = 700ll << 20;
    p.Speed = 23ll << 20;
    p.CurrentSource = "/media/user/CARD/DCIM/100MEDIA/FILE0002.MOV";
    p.CurrentDestination = QDir::homePath().toStdString() + "/Videos/FILE0002.MOV";
    auto *copy = new TFormCopy("FILE0001-4", &form);
    copy->Start(std::make_unique<TStillJob>(p));
    Save(copy, "copy" + suffix);
    auto *box = new QMessageBox(QMessageBox::Question, copy->windowTitle(),
                                CopyOverwriteQuestion(QString::fromStdString(p.CurrentDestination)),
                                QMessageBox::Yes | QMessageBox::No, copy);
    box->show();
    Save(box, "copy_overwrite" + suffix);
    copy->close();  // frees the box with it

    p.Finished = true;
    p.CopiedBytes = p.TotalBytes;
    p.CurrentIndex = 8;
    auto *done = new TFormCopy("FILE0001-4", &form);
    done->Start(std::make_unique<TStillJob>(p));
    Save(done, "copy_finished" + suffix);
    done->close();
    form.close();
    EXPECT_TRUE(QTest::qWaitFor([&form]() { return !form.isVisible(); }, 60000));
  }
  DeleteAllSettings();
}
