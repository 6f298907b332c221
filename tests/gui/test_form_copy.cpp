// The copy window: its lines over a slow fake job (pause left out of the
// time, remaining time, the end), the overwrite question asked on the UI
// thread while the engine's thread waits (also when the window closes
// first), and the whole command from the folder window to verified copies.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>

#include "app/UnitLang.h"
#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "catalogue/UnitFormCopy.h"
#include "catalogue/UnitFormSelectFolder.h"

using namespace tachora;

namespace {

constexpr int64_t kMiB = 1048576;

// A job that moves only when the test says so.
class TFakeJob : public ICopyJob {
 public:
  explicit TFakeJob(TCopyProgress *p) : p_(p) {}
  TCopyProgress Progress() const override { return *p_; }
  void SetPaused(bool paused) override { Paused = paused; }
  void SetVerify(bool verify) override { Verify = verify; }
  void Terminate() override { Terminated = true; }
  static inline bool Paused = false, Verify = false, Terminated = false;

 private:
  TCopyProgress *p_;
};

void WriteFile(const QString &path, const QByteArray &data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
}

QByteArray ReadFile(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <class T>
T *FindTopLevel() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *t = qobject_cast<T *>(w); t && t->isVisible()) return t;
  return nullptr;
}

TFileItem RowOf(const QStringList &videos) {
  TFileItem row;
  for (const QString &v : videos) {
    TFileItemSubitem rec;
    rec.Path = v.toStdString();
    rec.Size = QFileInfo(v).size();
    row.Items.push_back(rec);
  }
  row.Summary.DisplayName = "FILE0001";
  return row;
}

class FormCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
  }
  void TearDown() override {
    for (QWidget *w : QApplication::topLevelWidgets()) w->close();
    DeleteAllSettings();
  }
};

}  // namespace

TEST_F(FormCopy, LinesFollowASlowJobAndPausesAreLeftOutOfTheTime) {
  qint64 now = 1000;
  TCopyProgress p;
  p.FileCount = 2;
  p.TotalBytes = 300 * kMiB;
  p.CurrentSource = "/card/DCIM/FILE0001.MOV";
  p.CurrentDestination = "/home/u/Videos/FILE0001.MOV";
  auto *form = new TFormCopy("FILE0001-2", nullptr, [&now]() { return now; });
  TFakeJob::Paused = TFakeJob::Terminated = false;
  form->Start(std::make_unique<TFakeJob>(&p));
  EXPECT_EQ(form->windowTitle(), "Copying FILE0001-2");
  EXPECT_TRUE(form->TimerProgress->isActive());
  EXPECT_EQ(form->TimerProgress->interval(), 100);
  EXPECT_TRUE(TFakeJob::Verify);            // "Verify copies" is on by default
  EXPECT_EQ(form->ValueSpeed->text(), "");  // no speed measured yet
  EXPECT_EQ(form->ValueRemains->text(), "");

  now += 10000;
  p.CopiedBytes = 100 * kMiB;
  p.Speed = 10 * kMiB;
  form->UpdateDisplay();
  EXPECT_EQ(form->ValueFile->text(), "1 / 2  -  /card/DCIM/FILE0001.MOV");
  EXPECT_EQ(form->ValueSize->text(), "33%  -  100 Mb / 300 Mb");
  EXPECT_EQ(form->ProgressBar->value(), 33);
  EXPECT_EQ(form->ValueSpeed->text(), "10.0 Mbyte/sec");
  EXPECT_EQ(form->ValueRemains->text(), "00:00:20");
  EXPECT_EQ(form->ValueTime->text(), "00:00:10");

  // A minute's pause does not count; the time line stands while paused.
  form->ButtonPause->click();
  EXPECT_TRUE(TFakeJob::Paused);
  now += 60000;
  form->UpdateDisplay();
  EXPECT_EQ(form->ValueTime->text(), "00:00:10");
  form->ButtonPause->click();
  EXPECT_FALSE(TFakeJob::Paused);
  now += 5000;
  p.CurrentIndex = 1;
  p.CopiedBytes = 250 * kMiB;
  form->UpdateDisplay();
  EXPECT_EQ(form->ValueTime->text(), "00:00:15");
  EXPECT_EQ(form->ValueFile->text(), "2 / 2  -  /card/DCIM/FILE0001.MOV");
  EXPECT_EQ(form->ValueRemains->text(), "00:00:05");

  // Unchecking "Verify copies" reaches the job and is stored.
  form->CheckVerify->click();
  EXPECT_FALSE(TFakeJob::Verify);
  EXPECT_FALSE(settings::kCopyVerify.Get());

  // The end: the last copy's path, the amount, no speed and no pause.
  QSignalSpy finished(form, &TFormCopy::CopyFinished);
  p.CopiedBytes = 300 * kMiB;
  p.CurrentIndex = 2;
  p.Finished = true;
  now += 3000;
  form->UpdateDisplay();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(form->TimerProgress->isActive());
  EXPECT_EQ(form->ValueFile->text(), "/home/u/Videos/FILE0001.MOV");
  EXPECT_EQ(form->ValueSize->text(), "300 Mb");
  EXPECT_EQ(form->ValueTime->text(), "00:00:18");
  EXPECT_EQ(form->ProgressBar->value(), 100);
  EXPECT_TRUE(form->ButtonPause->isHidden());
  EXPECT_TRUE(form->ValueSpeed->isHidden());
  form->close();
  EXPECT_TRUE(TFakeJob::Terminated);
}

TEST_F(FormCopy, OverwriteQuestionIsAskedOnTheWindowAndClosingAnswersNo) {
  QTemporaryDir dir;
  const QString src = dir.filePath("card/FILE0001.MOV");
  const QString src2 = dir.filePath("card/FILE0002.MOV");
  WriteFile(src, QByteArray(200000, 'n'));
  WriteFile(src2, QByteArray(1000, 'm'));
  WriteFile(dir.filePath("out/FILE0001.MOV"), "old");
  WriteFile(dir.filePath("out/FILE0002.MOV"), "old");

  // "No" keeps the old file; the copy goes on.
  auto *form = new TFormCopy("FILE0001", nullptr);
  auto job = std::make_unique<TFormCopyThread>(
      RowOf({src, src2}), dir.filePath("out").toStdString(), form->Callbacks(), false);
  TFormCopyThread *engine = job.get();
  engine->Start();
  QSignalSpy finished(form, &TFormCopy::CopyFinished);
  struct TJob : ICopyJob {
    std::unique_ptr<TFormCopyThread> j;
    TCopyProgress Progress() const override { return j->Progress(); }
    void SetPaused(bool p) override { j->SetPaused(p); }
    void SetVerify(bool v) override { j->SetVerify(v); }
    void Terminate() override { j->Terminate(); }
  };
  auto wrapped = std::make_unique<TJob>();
  wrapped->j = std::move(job);
  form->Start(std::move(wrapped));
  QMessageBox *box = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&]() { return (box = form->findChild<QMessageBox *>("BoxOverwrite")) != nullptr; }, 10000));
  EXPECT_TRUE(box->text().startsWith("File already exists\n" + dir.filePath("out/FILE0001.MOV")));
  EXPECT_TRUE(box->text().endsWith("Do you want to replace it ?"));
  box->button(QMessageBox::No)->click();
  // The second question: "Yes" replaces.
  ASSERT_TRUE(QTest::qWaitFor(
      [&]() {
        box = form->findChild<QMessageBox *>("BoxOverwrite");
        return box && box->text().contains("FILE0002");
      },
      10000));
  box->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(finished.wait(10000));
  EXPECT_EQ(ReadFile(dir.filePath("out/FILE0001.MOV")), "old");
  EXPECT_EQ(ReadFile(dir.filePath("out/FILE0002.MOV")), QByteArray(1000, 'm'));
  form->close();

  // A window closed while its question is open stops the copy: nothing
  // hangs and nothing is replaced.
  auto *form2 = new TFormCopy("FILE0001", nullptr);
  auto job2 = std::make_unique<TJob>();
  job2->j = std::make_unique<TFormCopyThread>(RowOf({src}), dir.filePath("out").toStdString(),
                                              form2->Callbacks(), false);
  job2->j->Start();
  form2->Start(std::move(job2));
  ASSERT_TRUE(QTest::qWaitFor(
      [&]() { return form2->findChild<QMessageBox *>("BoxOverwrite") != nullptr; }, 10000));
  form2->close();
  QThreadPool::globalInstance()->waitForDone(10000);
  EXPECT_EQ(ReadFile(dir.filePath("out/FILE0001.MOV")), "old");
}

TEST_F(FormCopy, CommandGoesThroughTheFolderWindowToVerifiedCopies) {
  QTemporaryDir dir;
  const QString src = dir.filePath("card/FILE0001.MOV");
  WriteFile(src, QByteArray(3 * kMiB, 'v'));
  const TFileItem row = RowOf({src});

  // Cancel: nothing copied, nothing stored.
  StartCopyWindow(row, nullptr);
  auto *folder = FindTopLevel<TFormSelectFolder>();
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->windowTitle(), "Select Folder for FILE0001");
  folder->ButtonCancel->click();
  EXPECT_FALSE(settings::kCopyFolder.Stored());
  EXPECT_EQ(FindTopLevel<TFormCopy>(), nullptr);

  // Ok: the folder typed in is made, stored and offered next time.
  const QString target = dir.filePath("copies/2024");
  StartCopyWindow(row, nullptr);
  folder = FindTopLevel<TFormSelectFolder>();
  ASSERT_NE(folder, nullptr);
  folder->EditPath->clear();
  QTest::keyClicks(folder->EditPath, target);
  EXPECT_TRUE(folder->ButtonOk->isEnabled());
  folder->ButtonOk->click();
  EXPECT_EQ(settings::kCopyFolder.Get(), target);
  TFormCopy *form = FindTopLevel<TFormCopy>();
  ASSERT_NE(form, nullptr);
  QSignalSpy finished(form, &TFormCopy::CopyFinished);
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_EQ(ReadFile(target + "/FILE0001.MOV"), ReadFile(src));
  EXPECT_EQ(
      QProcess::execute("sh", {"-c", "cd '" + target + "' && sha256sum --quiet -c SHA256SUMS"}), 0);
  form->close();
  StartCopyWindow(row, nullptr);
  folder = FindTopLevel<TFormSelectFolder>();
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Path(), target);
  folder->ButtonCancel->click();
}

TEST_F(FormCopy, FolderWindowShowsTheNearestFolderAndAddsFolders) {
  QTemporaryDir dir;
  QDir().mkpath(dir.filePath("a/b"));
  EXPECT_EQ(NearestExistingFolder(dir.filePath("a/b/c/d")), dir.filePath("a/b"));
  EXPECT_EQ(NearestExistingFolder("relative/path"), "");

  TFormSelectFolder form;
  form.SetPath(dir.filePath("a/b/missing/deeper"));
  form.ShowPath();
  auto *model = qobject_cast<QFileSystemModel *>(form.TreeView->model());
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->filePath(form.TreeView->currentIndex()), dir.filePath("a/b"));
  // Showing does not overwrite what the user typed.
  EXPECT_EQ(form.Path(), dir.filePath("a/b/missing/deeper"));
  // Picking a folder in the tree puts it into the edit box.
  form.TreeView->setCurrentIndex(model->index(dir.filePath("a")));
  EXPECT_EQ(form.Path(), dir.filePath("a"));

  EXPECT_TRUE(form.AddFolder("New Folder"));
  EXPECT_TRUE(QFileInfo(dir.filePath("a/New Folder")).isDir());
  EXPECT_EQ(form.Path(), dir.filePath("a/New Folder"));
  EXPECT_FALSE(form.AddFolder(".."));

  // "~" is the home folder; a relative or empty path is no choice: Ok is
  // disabled and acts as Cancel.
  form.EditPath->setText("~/Videos");
  EXPECT_EQ(form.Path(), QDir::homePath() + "/Videos");
  EXPECT_TRUE(form.ButtonOk->isEnabled());
  form.EditPath->setText("Videos");
  EXPECT_FALSE(form.ButtonOk->isEnabled());
  form.EditPath->clear();
  EXPECT_FALSE(form.ButtonOk->isEnabled());
  QSignalSpy rejected(&form, &QDialog::rejected);
  form.accept();
  EXPECT_EQ(rejected.count(), 1);
}
