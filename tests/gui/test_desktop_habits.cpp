// The habits of a desktop program: recent files and folders, Open Folder,
// the window title, a second start handing its files to the running window,
// and a memory card inserted while the program runs.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <csignal>
#include <cstdlib>
#include <future>

#include "app/UnitCardWatcher.h"
#include "app/UnitCommands.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitQuitSignals.h"
#include "app/UnitRecentFiles.h"
#include "app/UnitReg.h"
#include "app/UnitSingleInstance.h"
#include "app/UnitText.h"
#include "gui_test_helpers.h"
#include "telemetry/UnitFormGpsConverter.h"
#include "telemetry/UnitTrackCommands.h"

using namespace tachora;
using namespace tachora::test;

namespace {

class DesktopHabits : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
    TFormMain::AutoFirstShow = false;
  }
  void TearDown() override { DeleteAllSettings(); }
};

QStringList MenuTexts(QMenu *menu) {
  emit menu->aboutToShow();
  QStringList out;
  for (QAction *a : menu->actions())
    if (!a->isSeparator()) out << a->text();
  return out;
}

void Touch(const QString &path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

int Bookmarks(const QString &xbel) {
  QFile f(xbel);
  if (!f.open(QIODevice::ReadOnly)) return -1;
  QXmlStreamReader xml(&f);
  int n = 0;
  while (!xml.atEnd())
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"bookmark") ++n;
  return xml.hasError() ? -1 : n;
}

}  // namespace

TEST_F(DesktopHabits, OpenedPathsAreRecentAndTheTitleNamesTheTrip) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  TFormMain form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.windowTitle(), "Tachora");
  const QString movie = card + "/DCIM/100MEDIA/FILE0005.MOV";
  ASSERT_TRUE(Open(form, {movie}));
  ASSERT_TRUE(WaitPrepared(form));
  EXPECT_TRUE(
      QTest::qWaitFor([&form]() { return form.windowTitle().startsWith("FILE0005"); }, 20000))
      << form.windowTitle().toStdString();
  ASSERT_TRUE(Open(form, {card + "/DCIM"}));

  // Newest first; the menu offers both and opens what is chosen.
  EXPECT_EQ(form.RecentFiles()->Paths(), QStringList({card + "/DCIM", movie}));
  EXPECT_EQ(RecentFolders(), QStringList({card + "/DCIM", card + "/DCIM/100MEDIA"}));
  QMenu *recent = form.Menu()->SubMenu("N_File_Recent");
  EXPECT_TRUE(recent->menuAction()->isEnabled());
  const QStringList texts = MenuTexts(recent);
  ASSERT_EQ(texts.size(), 3);
  EXPECT_EQ(texts[0], "&1 " + QDir::toNativeSeparators(card + "/DCIM"));
  EXPECT_EQ(texts[2], L("N_File_Recent_Clear"));
  QSignalSpy opened(form.List(), &TRecordListController::FilesOpened);
  recent->actions()[1]->trigger();
  EXPECT_TRUE(opened.wait(30000));
  EXPECT_EQ(form.RecentFiles()->Paths().first(), movie);
  // A path that is gone is no longer offered; Clear empties the list.
  QTemporaryDir gone;
  form.RecentFiles()->Add({gone.path()});
  gone.remove();
  EXPECT_EQ(form.RecentFiles()->Paths().size(), 2);
  recent->actions().last()->trigger();
  EXPECT_TRUE(form.RecentFiles()->Paths().isEmpty());
  EXPECT_EQ(MenuTexts(recent), QStringList({L("N_File_Recent_Clear")}));
  EXPECT_TRUE(form.Commands()->IsBound("N_File_OpenFolder"));
  // The File menu and the card offer in the window, in both languages.
  const QString shots = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  for (const char *lang : {"en", "ru"}) {
    if (shots.isEmpty()) break;
    form.Menu()->Item(QString("N_View_Language_") + lang)->trigger();
    form.CardOffer()->Offer("/media/user/CARD");
    EXPECT_TRUE(form.grab().save(shots + "/main_window_card_" + lang + ".png"))
        << shots.toStdString();
    QMenu *file = form.Menu()->SubMenu("N_File");
    file->popup(form.mapToGlobal(QPoint(0, 0)));
    QTest::qWait(200);
    EXPECT_TRUE(file->grab().save(shots + "/file_menu_" + lang + ".png"));
    file->hide();
    form.CardOffer()->Withdraw("/media/user/CARD");
  }
  form.Menu()->Item("N_View_Language_en")->trigger();

  // A GPX file opened from the file manager goes to the converter window.
  const QString gpx = QDir(card).filePath("track.gpx");
  Touch(gpx);
  form.OpenFiles({gpx});
  EXPECT_TRUE(form.TrackCommands()->Converter()->isVisible());
  form.TrackCommands()->Converter()->close();
  form.close();
}

TEST(RecentList, NewestFirstWithoutDuplicatesAndTheDesktopList) {
  struct TCase {
    QStringList recent, add, want;
  } cases[] = {
      {{}, {"/a"}, {"/a"}},
      {{"/a", "/b"}, {"/b"}, {"/b", "/a"}},
      {{"/a"}, {"/b", "/c"}, {"/b", "/c", "/a"}},
      {{"/1", "/2", "/3"}, {"/4"}, {"/4", "/1", "/2"}},
      {{"/a"}, {"", "/a"}, {"/a"}},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(WithRecent(c.recent, c.add, 3), c.want) << c.add.join(",").toStdString();

  QTemporaryDir dir;
  const QString xbel = dir.filePath("sub/recently-used.xbel");
  const QString a = dir.filePath("a & <b>.MOV");
  Touch(a);
  EXPECT_TRUE(AddToDesktopRecent(a, xbel));
  EXPECT_TRUE(AddToDesktopRecent(dir.path(), xbel));
  EXPECT_TRUE(AddToDesktopRecent(a, xbel));  // listed once
  EXPECT_EQ(Bookmarks(xbel), 2);
  // A file that is no bookmark list is left as it was.
  const QString other = dir.filePath("other.xbel");
  {
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not xml");
  }
  EXPECT_FALSE(AddToDesktopRecent(a, other));
  QFile f(other);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "not xml");
}

TEST(SingleInstance, ASecondStartHandsItsPathsToTheRunningOne) {
  // The message: absolute paths, names with line breaks dropped, an empty
  // line at the end; an unfinished message is no message.
  EXPECT_EQ(TSingleInstance::Decode(TSingleInstance::Encode({"/x/a.MOV", "/y\nz", "/b c"})),
            QStringList({"/x/a.MOV", "/b c"}));
  EXPECT_EQ(TSingleInstance::Decode(TSingleInstance::Encode({})), QStringList());
  EXPECT_FALSE(TSingleInstance::Decode("/x/a.MOV\n").has_value());
  EXPECT_EQ(TSingleInstance::Encode({"rel.MOV"}),
            QDir::current().absoluteFilePath("rel.MOV").toUtf8() + "\n\n");

  const QString name = QString("tachora-test-%1.socket").arg(QCoreApplication::applicationPid());
  TSingleInstance second(name);
  EXPECT_FALSE(second.HandOver({"/x"}, 500));  // nobody runs yet
  // A socket file left by a crashed run does not stop the next one.
  Touch(second.ServerPath());
  TSingleInstance running(name);
  ASSERT_TRUE(running.Listen());
  QSignalSpy received(&running, &TSingleInstance::PathsReceived);
  auto handed = std::async(std::launch::async, [&second]() {
    return second.HandOver({"/card/FILE0001.MOV", "/card/DCIM"});
  });
  ASSERT_TRUE(QTest::qWaitFor([&received]() { return received.size() == 1; }, 5000));
  EXPECT_EQ(received[0][0].toStringList(), QStringList({"/card/FILE0001.MOV", "/card/DCIM"}));
  while (handed.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
    QCoreApplication::processEvents();
  EXPECT_TRUE(handed.get());
  // A window started at the same moment does not take the live socket.
  TSingleInstance twin(name);
  EXPECT_FALSE(twin.Listen());
  EXPECT_TRUE(QFile::exists(running.ServerPath()));
  // A closing window takes nothing more: the next start opens its own.
  running.StopListening();
  EXPECT_FALSE(QFile::exists(running.ServerPath()));
  EXPECT_FALSE(second.HandOver({"/x"}, 500));
  EXPECT_TRUE(twin.Listen());
}

// The signals that end a program from outside arrive as a request to close,
// in the UI thread; afterwards the defaults are back.
TEST(QuitSignals, TermIntAndHupAskToClose) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    {
      TQuitSignals quit;
      ASSERT_TRUE(quit.Installed());
      QSignalSpy asked(&quit, &TQuitSignals::QuitRequested);
      std::raise(sig);
      ASSERT_TRUE(asked.wait(2000)) << sig;
      EXPECT_EQ(asked[0][0].toInt(), sig);
    }
    struct sigaction now = {};
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << sig;
  }
}

TEST(CardWatcher, NewCardsAreOfferedAndWithdrawn) {
  QTemporaryDir root;
  struct TCase {
    const char *name;
    QStringList files;
    bool card;
  } cases[] = {
      {"dcim", {"DCIM/100MEDIA/x.txt"}, true},
      {"dcim_lower", {"dcim/x.txt"}, true},
      {"top_video", {"FILE0001.MOV"}, true},
      {"one_below", {"Normal/F.mp4"}, true},
      {"two_below", {"a/b/F.MOV"}, false},
      {"documents", {"notes.txt", "Photos/x.jpg"}, false},
      {"empty", {}, false},
  };
  for (const TCase &c : cases) {
    const QString dir = root.filePath(c.name);
    QDir().mkpath(dir);
    for (const QString &f : c.files) Touch(dir + "/" + f);
    EXPECT_EQ(LooksLikeCard(dir), c.card) << c.name;
  }

  QStringList drives = {root.filePath("documents")};
  TCardWatcher watcher(nullptr, [&drives]() { return drives; });
  QSignalSpy found(&watcher, &TCardWatcher::CardFound);
  QSignalSpy gone(&watcher, &TCardWatcher::DriveGone);
  drives << root.filePath("dcim") << root.filePath("empty");
  watcher.Rescan();
  ASSERT_EQ(found.size(), 1);  // the drive there at start and the empty one are not offered
  EXPECT_EQ(found[0][0].toString(), root.filePath("dcim"));
  drives.removeAll(root.filePath("dcim"));
  watcher.Rescan();
  ASSERT_EQ(gone.size(), 1);
  EXPECT_EQ(gone[0][0].toString(), root.filePath("dcim"));

  for (int lang : {1033, 1049}) {
    InitLanguages(lang);
    QMainWindow window;
    QString opened;
    TCardOffer offer(&window, [&opened](const QString &card) { opened = card; });
    window.show();
    offer.Offer("/media/user/CARD");
    EXPECT_TRUE(window.statusBar()->isVisible());
    EXPECT_EQ(offer.Text()->text(), L("Mes_CardFound").arg("/media/user/CARD"));
    if (!qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR"))
      window.grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") +
                         QString("/card_offer_%1.png").arg(lang));
    offer.Withdraw("/media/user/OTHER");
    EXPECT_TRUE(window.statusBar()->isVisible());
    window.statusBar()->findChild<QPushButton *>("CardFoundOpen")->click();
    EXPECT_EQ(opened, "/media/user/CARD");
    EXPECT_FALSE(window.statusBar()->isVisible());
    offer.Offer("/media/user/CARD");
    offer.Withdraw("/media/user/CARD");
    EXPECT_FALSE(window.statusBar()->isVisible());
  }
  InitLanguages(1033);
}

// The mount table's change wakes the watcher (no polling). Needs the right
// to mount a tmpfs (root); skipped elsewhere.
TEST(CardWatcher, AMountWakesIt) {
  QTemporaryDir dir;
  int scans = 0;
  TCardWatcher watcher(nullptr, [&scans]() {
    ++scans;
    return QStringList();
  });
  const int before = scans;
  const QByteArray target = QFile::encodeName(dir.path());
  if (std::system(("mount -t tmpfs tmpfs " + target + " 2>/dev/null").constData()) != 0)
    GTEST_SKIP() << "cannot mount here";
  const bool woke = QTest::qWaitFor([&]() { return scans > before; }, 5000);
  EXPECT_EQ(std::system(("umount " + target).constData()), 0);
  EXPECT_TRUE(woke);
}
