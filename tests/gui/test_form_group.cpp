// The grouping window over the demo card's two trips: the copied list with
// the highlighted row checked, the preview timer's delays and rows, one
// checked row changing nothing, two joined into one trip, Cancel.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormGroup.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordListController.h"
#include "gui_test_helpers.h"

using namespace tachora;
using namespace tachora::test;

namespace {

TFormGroup *OpenGroupWindow(TFormMain &form) {
  form.Menu()->Item("N_FileList_Group_With")->trigger();
  return form.findChild<TFormGroup *>();
}

}  // namespace

TEST(FormGroup, OneCheckedRowChangesNothingAndTwoAreJoined) {
  DeleteAllSettings();
  InitLanguages(1033);
  TFormMain::AutoFirstShow = false;
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty()) << "ffmpeg could not make the demo card";
  TFormMain form;
  form.show();
  ASSERT_TRUE(Open(form, {card}));
  TFileManager &fm = *form.List()->FileManager();
  ASSERT_EQ(fm.RowCount(), 2);
  form.List()->SelectRow(1);
  const uint64_t selected = form.List()->SelectedId();
  const uint64_t other = form.List()->Model()->Row(0)->Id;
  ASSERT_TRUE(form.Menu()->Item("N_FileList_Group_With")->isEnabled());

  TFormGroup *group = OpenGroupWindow(form);
  ASSERT_NE(group, nullptr);
  EXPECT_TRUE(group->isVisible());
  EXPECT_EQ(group->windowTitle(), "Grouping");
  EXPECT_EQ(group->ButtonGroup->text(), "Group");
  // The list's rows and columns, each column 8 pixels wider.
  ASSERT_EQ(group->ListView->topLevelItemCount(), 2);
  ASSERT_EQ(group->ListView->columnCount(), kListColumns);
  const QHeaderView *header = form.findChild<QTableView *>()->horizontalHeader();
  EXPECT_EQ(group->ListView->columnWidth(0), header->sectionSize(header->logicalIndex(0)) + 8);
  EXPECT_EQ(group->ListView->topLevelItem(1)->text(0), form.List()->Model()->Caption(1));
  // The highlighted row is checked and focused; the preview shows it alone.
  EXPECT_EQ(group->CheckedIds(), std::vector<uint64_t>{selected});
  EXPECT_EQ(group->FocusedId(), selected);
  EXPECT_EQ(group->PreviewDelayMs(), 100);
  QSignalSpy preview(group, &TFormGroup::PreviewRequested);
  ASSERT_TRUE(preview.wait(2000));
  EXPECT_EQ(preview.last().at(0).value<std::vector<uint64_t>>(), std::vector<uint64_t>{selected});
  EXPECT_EQ(preview.last().at(1).toULongLong(), 0u);  // one track: none highlighted

  // One row checked: "Group" changes nothing.
  group->ButtonGroup->click();
  EXPECT_FALSE(group->isVisible());
  EXPECT_EQ(fm.RowCount(), 2);

  // Cancel changes nothing either.
  group = OpenGroupWindow(form);
  ASSERT_NE(group, nullptr);
  group->SetChecked(other, true);
  group->ButtonCancel->click();
  EXPECT_EQ(fm.RowCount(), 2);

  // Two rows: joined into the first, and the list follows.
  group = OpenGroupWindow(form);
  ASSERT_NE(group, nullptr);
  group->SetChecked(other, true);
  EXPECT_EQ(group->PreviewDelayMs(), 500);
  EXPECT_EQ(group->CheckedIds(), (std::vector<uint64_t>{other, selected}));
  group->ButtonGroup->click();
  ASSERT_EQ(fm.RowCount(), 1);
  EXPECT_EQ(fm.GetItem(0).Items.size(), 6u);
  ASSERT_TRUE(QTest::qWaitFor([&]() { return form.List()->Model()->rowCount() == 1; }, 5000));
  form.close();
  ASSERT_TRUE(QTest::qWaitFor([&form]() { return !form.isVisible(); }, 60000));
  DeleteAllSettings();
}
