// The recording list's controller in the main window: files dropped while
// others open, commands that act on the highlighted row while a search
// re-sorts the catalogue, the newest selection winning the telemetry load,
// and the hand-over of a prepared row to the player.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <thread>

#include "TestProtect.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordListController.h"
#include "gui_test_helpers.h"
#include "playback/UnitPlaybackController.h"

using namespace tachora;
using namespace tachora::test;

namespace {

class RecordListController : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
    TFormMain::AutoFirstShow = false;
    card_ = DemoCard();
    ASSERT_FALSE(card_.isEmpty()) << "ffmpeg could not make the demo card";
    // Commands here lock and delete: they work on a copy.
    std::filesystem::copy(card_.toStdString(), copy_.path().toStdString(),
                          std::filesystem::copy_options::recursive);
  }
  void TearDown() override { DeleteAllSettings(); }

  QString card_;
  QTemporaryDir copy_;
};

int FindCaption(TFormMain &form, const QString &caption) {
  for (int i = 0; i < form.List()->Model()->rowCount(); ++i)
    if (form.List()->Model()->Caption(i) == caption) return i;
  return -1;
}

TFileItem ByCaption(TFileManager &fm, const std::string &caption) {
  for (const TFileItem &r : fm.Items())
    if (r.Summary.DisplayName == caption) return r;
  return {};
}

void Drop(TFormMain &form, const QString &path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &enter);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &drop);
}

}  // namespace

TEST_F(RecordListController, FilesDroppedWhileOthersOpenAreQueued) {
  TFormMain form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QSignalSpy opened(form.List(), &TRecordListController::FilesOpened);
  Drop(form, copy_.filePath("DCIM/100MEDIA/FILE0005.MOV"));
  EXPECT_TRUE(form.List()->Opening());
  // Two more drops while the first is still being read: both wait their turn.
  Drop(form, copy_.filePath("DCIM/100MEDIA/FILE0006.MOV"));
  Drop(form, copy_.filePath("DCIM"));
  ASSERT_TRUE(QTest::qWaitFor([&opened]() { return opened.count() == 3; }, 60000));
  EXPECT_FALSE(form.List()->Opening());
  EXPECT_EQ(form.List()->Model()->rowCount(), 2);
  EXPECT_GE(FindCaption(form, "FILE0001-4"), 0);
  EXPECT_GE(FindCaption(form, "FILE0005-6"), 0);
  // A close asked for while files open waits for them, then is granted.
  Drop(form, copy_.filePath("DCIM/100MEDIA/FILE0001.MOV"));
  form.close();
  EXPECT_TRUE(form.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&form]() { return !form.isVisible(); }, 60000));
  EXPECT_EQ(form.List()->FileManager(), nullptr);
}

TEST_F(RecordListController, CommandsActOnTheHighlightedRowWhileASearchReSorts) {
  TFormMain form;
  form.Ask = [](const QString &, bool) { return true; };
  ASSERT_TRUE(Open(form, {copy_.path()}));
  TFileManager &fm = *form.List()->FileManager();
  fm.SortBy(kColName);
  if (!fm.Ascending()) fm.SortBy(kColName);
  ASSERT_EQ(form.List()->Model()->Caption(0), "FILE0001-4");
  form.List()->SelectRow(0);
  ASSERT_TRUE(WaitPrepared(form));
  const uint8_t otherLock = ByCaption(fm, "FILE0005-6").Summary.Locked;

  // The catalogue is re-sorted on another thread, as a search does; the list
  // has not been refreshed yet, so its first row is still FILE0001-4.
  std::thread([&fm]() { fm.SortBy(kColName); }).join();
  ASSERT_EQ(fm.GetItem(0).Summary.DisplayName, "FILE0005-6");
  ASSERT_EQ(form.List()->Model()->Caption(0), "FILE0001-4");
  form.Menu()->Item("N_FileList_SetLock")->trigger();
  EXPECT_EQ(ByCaption(fm, "FILE0001-4").Summary.Locked, 1);
  EXPECT_EQ(ByCaption(fm, "FILE0005-6").Summary.Locked, otherLock);

  // Commands keep arriving while the search keeps re-sorting.
  std::atomic<bool> stop{false};
  std::thread sorter([&]() {
    while (!stop) {
      fm.SortBy(kColName);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  for (int i = 0; i < 40; ++i) {
    form.List()->SelectRow(FindCaption(form, "FILE0001-4"));
    form.Menu()->Item(i % 2 ? "N_FileList_SetLock" : "N_FileList_UnsetLock")->trigger();
    QTest::qWait(1);
  }
  stop = true;
  sorter.join();
  EXPECT_EQ(ByCaption(fm, "FILE0001-4").Summary.Locked, 1);  // the last command: lock
  EXPECT_EQ(ByCaption(fm, "FILE0005-6").Summary.Locked, otherLock);
  EXPECT_FALSE(QFile::permissions(copy_.filePath("DCIM/100MEDIA/FILE0001.MOV")) &
               QFileDevice::WriteOwner);

  // Ungroup and Remove from List go by id too.
  form.List()->SelectRow(FindCaption(form, "FILE0005-6"));
  std::thread([&fm]() { fm.SortBy(kColName); }).join();
  form.Menu()->Item("N_FileList_Ungroup")->trigger();
  EXPECT_EQ(ByCaption(fm, "FILE0001-4").Items.size(), 4u);
  EXPECT_EQ(ByCaption(fm, "FILE0005").Items.size(), 1u);
  EXPECT_EQ(ByCaption(fm, "FILE0006").Items.size(), 1u);
  form.List()->SelectRow(FindCaption(form, "FILE0001-4"));
  std::thread([&fm]() { fm.SortBy(kColName); }).join();
  form.Menu()->Item("N_FileList_Del")->trigger();
  EXPECT_EQ(ByCaption(fm, "FILE0001-4").Items.size(), 0u);
  EXPECT_EQ(fm.RowCount(), 2);
}

TEST_F(RecordListController, NewestSelectionIsPreparedAndOpenHandsItToThePlayer) {
  TFormMain form;
  ASSERT_TRUE(Open(form, {copy_.path()}));
  ASSERT_TRUE(WaitPrepared(form));
  QSignalSpy prepared(form.List(), &TRecordListController::RowPrepared);
  const int trip = FindCaption(form, "FILE0001-4");
  const int other = FindCaption(form, "FILE0005-6");
  // Two selections before either load ends: only the second is prepared.
  form.List()->SelectRow(trip);
  form.List()->SelectRow(other);
  ASSERT_TRUE(WaitPrepared(form));
  QTest::qWait(50);  // the first load's end, had it been kept, would be here
  ASSERT_EQ(prepared.count(), 1);
  EXPECT_EQ(form.List()->CurrentRow().Summary.DisplayName, "FILE0005-6");
  EXPECT_EQ(form.List()->CurrentTracks().size(), 2u);

  // Open (the pop-up's default item, Enter and double click run it) hands
  // the prepared row over; a row still loading is handed over when ready.
  QSignalSpy opened(form.Playback(), &TPlaybackController::RowOpened);
  form.Menu()->Item("N_FileList_Open")->trigger();
  ASSERT_EQ(opened.count(), 1);
  EXPECT_EQ(form.Playback()->Row()->Row.Summary.DisplayName, "FILE0005-6");
  form.List()->SelectRow(trip);
  form.Menu()->Item("N_FileList_Open")->trigger();
  ASSERT_TRUE(opened.wait(20000));
  EXPECT_EQ(form.Playback()->Row()->Row.Summary.DisplayName, "FILE0001-4");
  EXPECT_EQ(form.Playback()->Row()->Tracks.size(), 4u);
}

TEST_F(RecordListController, CommandLinePathsAreOpenedAndTheFirstRowPrepared) {
  QTemporaryDir data;  // the first show registers the desktop entry here
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  TFormMain::AutoFirstShow = true;
  TFormMain form({copy_.filePath("DCIM/100MEDIA/FILE0005.dat"), copy_.filePath("DCIM")});
  TFormMain::AutoFirstShow = false;
  QSignalSpy opened(form.List(), &TRecordListController::FilesOpened);
  form.show();
  ASSERT_TRUE(opened.wait(60000));
  EXPECT_EQ(form.List()->Model()->rowCount(), 2);
  EXPECT_EQ(form.List()->SelectedRow(), 0);
  ASSERT_TRUE(WaitPrepared(form));
  EXPECT_EQ(form.List()->CurrentRow().Summary.DisplayName,
            form.List()->Model()->Caption(0).toStdString());
  form.close();
  qunsetenv("XDG_DATA_HOME");
}

TEST(OpenDialog, FirstFilterTakesMovAndMp4InEitherCase) {
  const QStringList filters = TRecordListController::OpenDialogFilters();
  ASSERT_EQ(filters.size(), 3);
  const QString first = filters[0];
  const QString patterns = first.mid(first.lastIndexOf('(') + 1).chopped(1);
  auto matched = [&patterns](const QString &name) {
    for (const QString &p : patterns.split(' ', Qt::SkipEmptyParts))
      if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p))
              .match(name)
              .hasMatch())
        return true;
    return false;
  };
  for (const char *name : {"FILE0001.MOV", "file0001.mov", "20240501_0800.MP4", "clip.mp4"})
    EXPECT_TRUE(matched(name)) << name;
  EXPECT_FALSE(matched("FILE0001.DAT"));
  EXPECT_TRUE(filters[2].endsWith("(*)"));
}

// A delete from disk that fails (a write-protected card) keeps the rows of
// the files still on the disk and says which could not be deleted and why:
// the single delete and "Delete All Unlocked" alike.
TEST_F(RecordListController, FailedDeletesKeepTheRowsAndSayWhy) {
  TFormMain form;
  QStringList questions, messages;
  form.Ask = [&](const QString &text, bool) {
    questions << text;
    return true;
  };
  form.List()->Inform = [&](const QString &text) { messages << text; };
  ASSERT_TRUE(Open(form, {copy_.path()}));
  TFileManager &fm = *form.List()->FileManager();
  const std::vector<TFileItem> unlocked = UnlockedRows(fm.Items());
  ASSERT_FALSE(unlocked.empty());
  const QString video = QString::fromStdString(unlocked[0].Items[0].Path);
  const QString caption = QString::fromStdString(unlocked[0].Summary.DisplayName);
  TProtectedFolder protect(QFileInfo(video).absolutePath().toStdString());
  if (!protect.Ok()) GTEST_SKIP() << "cannot protect a folder here";

  form.List()->SelectRow(FindCaption(form, caption));
  form.Menu()->Item("N_FileList_DelDisk")->trigger();
  // The question named every file the delete takes.
  ASSERT_EQ(questions.size(), 1);
  for (const std::string &f : fm.FilesToDelete(unlocked[0]))
    EXPECT_TRUE(questions[0].contains(QString::fromStdString(f))) << f;
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith(QString::fromStdString(LangText("Mes_CannotDelete"))));
  EXPECT_TRUE(messages[0].contains(video + ": ")) << messages[0].toStdString();
  EXPECT_TRUE(QFile::exists(video));
  form.List()->RefreshRecordList();
  EXPECT_GE(FindCaption(form, caption), 0);

  QSignalSpy done(form.List(), &TRecordListController::DeletionDone);
  form.Menu()->Item("N_FileList_DelDiskAll")->trigger();
  ASSERT_TRUE(done.count() == 1 || done.wait(30000));
  ASSERT_EQ(messages.size(), 2);
  EXPECT_TRUE(messages[1].contains(video + ": "));
  for (const TFileItem &row : unlocked)
    for (const TFileItemSubitem &rec : row.Items)
      if (QFile::exists(QString::fromStdString(rec.Path))) {
        EXPECT_GE(fm.FindRecording(rec.Path), 0) << rec.Path;
      }
  EXPECT_GE(FindCaption(form, caption), 0);
}
