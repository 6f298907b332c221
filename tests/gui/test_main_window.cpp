// The main window with a real card: the demo card made with ffmpeg, listed
// and grouped, the selection kept across refreshes, the pop-up menu's rules,
// the delete questions, properties, drag and drop, geometry and the column
// layout store.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <thread>

#include "app/UnitDemo.h"
#include "app/UnitException.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitStartup.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormFileProperty.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordListController.h"
#include "catalogue/UnitRecordingKind.h"
#include "gui_test_helpers.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitSeekBitmap.h"
#include "telemetry/UnitMovingInfo.h"
#include "tools/UnitToolsController.h"

using namespace tachora;
using namespace tachora::test;

QT_BEGIN_NAMESPACE
// Readable failures for QString comparisons.
inline void PrintTo(const QString &s, std::ostream *os) {
  *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
    TFormMain::AutoFirstShow = false;
  }
  void TearDown() override { DeleteAllSettings(); }
};

int FindCaption(TFormMain &form, const QString &caption) {
  for (int i = 0; i < form.List()->Model()->rowCount(); ++i)
    if (form.List()->Model()->Caption(i) == caption) return i;
  return -1;
}

TFileItem Row(const char *name, int recordings, uint8_t lock, bool telemetry, bool log = false) {
  TFileItem r;
  for (int i = 0; i < recordings; ++i) {
    TFileItemSubitem s;
    s.Path = std::string("/card/") + name + "_" + std::to_string(i) + ".MOV";
    s.DisplayName = name;
    if (log && i == 0) s.GpsLog.Path = "/card/GPS/log.log";
    r.Items.push_back(s);
  }
  r.Summary = r.Items[0];
  r.Summary.DisplayName = name;
  r.Summary.Locked = lock;
  if (telemetry) r.Summary.TelemetryPath = "/card/INFO/x.DAT";
  return r;
}

}  // namespace

TEST(StartupGeometry, FirstStartAndStoredBoundsFittedToTheWorkArea) {
  EXPECT_EQ(StartGeometry(QRect(0, 0, 1920, 1080)), QRect(256, 135, 1536, 810));
  const QRect work(0, 0, 1920, 1040);
  const struct {
    QRect stored, fitted;
  } cases[] = {
      {{5000, 100, 800, 600}, {0, 100, 800, 600}},   // left beyond the right end
      {{-750, 100, 800, 600}, {0, 100, 800, 600}},   // 50 px in view
      {{-650, 100, 800, 600}, {0, 100, 800, 600}},   // partly off: slides in
      {{100, -20, 800, 600}, {100, 0, 800, 600}},    // above the work area
      {{100, 990, 800, 600}, {100, 0, 800, 600}},    // top below the bottom
      {{100, 900, 800, 600}, {100, 440, 800, 600}},  // bottom edge off: slides up
      {{1500, 700, 800, 600}, {1120, 440, 800, 600}},
      {{300, 200, 2560, 1440}, {0, 0, 1920, 1040}},  // saved on a larger screen
      {{0, 0, 20000, 12000}, {0, 0, 1920, 1040}},    // damaged
      {{2147483000, 2147483000, 2000, 2000}, {0, 0, 1920, 1040}},
      {{40, 50, 700, 500}, {40, 50, 700, 500}},  // inside: kept
  };
  for (const auto &c : cases) EXPECT_EQ(CorrectBounds(c.stored, work), c.fitted) << c.stored.x();
  // A second monitor's work area to the right of the first.
  EXPECT_EQ(CorrectBounds(QRect(1900, 0, 1600, 900), QRect(1920, 0, 1280, 1024)),
            QRect(1920, 0, 1280, 900));
}

TEST_F(MainWindow, GeometryFirstStartStoredAndCorrected) {
  {
    TFormMain form;
    const QRect screen = QGuiApplication::screens().first()->geometry();
    EXPECT_EQ(form.StartBounds().size(), StartGeometry(screen).size());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // A drag is many moves; the geometry is written once it has ended.
    for (int x = 70; x >= 40; x -= 5) form.setGeometry(x, 50, 700, 500);
    EXPECT_NE(ReadIntSetting("pos_Left", -1), 40);
    EXPECT_TRUE(QTest::qWaitFor([]() { return ReadIntSetting("pos_Left", -1) == 40; }, 3000));
    EXPECT_EQ(ReadIntSetting("pos_Width", -1), 700);
    EXPECT_EQ(ReadIntSetting("pos_State", -1), 0);
    form.close();
  }
  {
    TFormMain form;
    EXPECT_EQ(form.StartBounds(), QRect(40, 50, 700, 500));
  }
  const QRect work = QGuiApplication::screens().first()->availableGeometry();
  {
    WriteIntSetting("pos_Left", 50000);
    WriteIntSetting("pos_Top", -300);
    TFormMain form;
    EXPECT_EQ(form.StartBounds().topLeft(), work.topLeft());
  }
  // A damaged size: the window fits the screen, its controls in view.
  WriteIntSetting("pos_Width", 20000);
  WriteIntSetting("pos_Height", 12000);
  TFormMain form;
  EXPECT_EQ(form.StartBounds(), work);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  // The control panel at the bottom right is on the screen.
  QToolButton *play = form.Panels()->ButtonPlay;
  EXPECT_TRUE(
      form.screen()->geometry().contains(QRect(play->mapToGlobal(QPoint(0, 0)), play->size())));
}

TEST_F(MainWindow, ColumnLayoutStoredAndRestored) {
  {
    TFormMain form;
    QHeaderView *h = form.Panels()->ListView->horizontalHeader();
    h->moveSection(h->visualIndex(5), 0);  // File Location first
    h->resizeSection(2, 140);
    QTest::qWait(400);  // the resize is saved when the drag pauses
    EXPECT_EQ(ReadIntSetting("col0_i", -1), 5);
    EXPECT_EQ(ReadIntSetting("col1_i", -1), 0);
    EXPECT_EQ(ReadIntSetting("col2_w", -1), 140);
    EXPECT_EQ(ReadIntSetting("col5_w", -1), 190);
    EXPECT_FALSE(HasSetting("col6_i"));
  }
  TFormMain form;
  QHeaderView *h = form.Panels()->ListView->horizontalHeader();
  EXPECT_EQ(h->logicalIndex(0), 5);
  EXPECT_EQ(h->logicalIndex(1), 0);
  EXPECT_EQ(h->sectionSize(2), 140);
  // Widths equal to the design are dropped from the store at start.
  EXPECT_FALSE(HasSetting("col5_w"));
  EXPECT_TRUE(HasSetting("col2_w"));
  // A moved column keeps its title.
  EXPECT_EQ(form.List()->Model()->headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(),
            QString::fromStdString(LangText("FileFullPath")));
}

TEST_F(MainWindow, DemoCardListedGroupedAndSelectionKeptByCaption) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty()) << "ffmpeg could not make the demo card";
  TFormMain form;
  ASSERT_TRUE(Open(form, {card}));
  TRecordListModel &model = *form.List()->Model();
  ASSERT_EQ(model.rowCount(), 2);
  const int trip = FindCaption(form, "FILE0001-4");
  const int second = FindCaption(form, "FILE0005-6");
  ASSERT_GE(trip, 0);
  ASSERT_GE(second, 0);
  const TListRow *r = model.Row(trip);
  EXPECT_EQ(r->Texts[1], "1:00");
  EXPECT_TRUE(r->Texts[2].endsWith("08:15"));
  EXPECT_TRUE(r->Texts[3].endsWith("km"));
  EXPECT_EQ(r->Texts[7], "320x240");
  EXPECT_EQ(r->Images[0], kImgNone);
  EXPECT_EQ(r->Images[3], kImgTrack);
  EXPECT_EQ(model.Row(second)->Images[0], kImgPartLocked);  // one of its two clips is locked

  form.List()->SelectRow(second);
  EXPECT_EQ(form.List()->RememberedCaption(), "FILE0005-6");
  // Sorting moves the row; the selection follows its caption.
  form.List()->FileManager()->SortBy(kColName);
  form.List()->FileManager()->SortBy(kColName);
  EXPECT_EQ(form.List()->Model()->Caption(form.List()->SelectedRow()), "FILE0005-6");
  // Ungrouping renames it: the selection and the remembered caption go.
  form.List()->FileManager()->UngroupAll();
  EXPECT_EQ(model.rowCount(), 6);
  EXPECT_EQ(form.List()->SelectedRow(), -1);
  EXPECT_TRUE(form.List()->RememberedCaption().isEmpty());

  // The pop-up's rules on the real rows.
  form.List()->FileManager()->AutoGroup();
  form.List()->SelectRow(FindCaption(form, "FILE0005-6"));
  TMainMenu &m = *form.Menu();
  EXPECT_FALSE(m.Item("N_FileList_DelDisk")->isEnabled());
  EXPECT_TRUE(m.Item("N_FileList_UnsetLock")->isEnabled());
  EXPECT_TRUE(m.Item("N_FileList_SetLock")->isEnabled());
  EXPECT_TRUE(m.Item("N_FileList_Ungroup")->isEnabled());
  EXPECT_TRUE(m.Item("N_FileList_Copy")->isEnabled());

  // Properties of the trip: one grid row a line, TAB between label and value.
  form.List()->SelectRow(FindCaption(form, "FILE0001-4"));
  // Selecting a row prepares it: a copy and the telemetry of each recording.
  ASSERT_TRUE(WaitPrepared(form));
  EXPECT_EQ(form.List()->CurrentRow().Summary.DisplayName, "FILE0001-4");
  ASSERT_EQ(form.List()->CurrentTracks().size(), 4u);
  for (const auto &t : form.List()->CurrentTracks()) EXPECT_EQ(t->GpsPoints.size(), 15u);
  const TFileItem item = form.List()->FileManager()->GetItem(form.List()->SelectedRow());
  TFormFileProperty props(item, nullptr);
  props.CopyAll();
  const QString clip = QApplication::clipboard()->text();
  EXPECT_EQ(clip.count('\n'), static_cast<int>(props.Rows().size()));
  EXPECT_EQ(clip.count('\t'), static_cast<int>(props.Rows().size()));
  EXPECT_TRUE(clip.startsWith("Name\tFILE0001-4\n"));
  EXPECT_TRUE(clip.contains("Grouped\t4\n"));
  EXPECT_TRUE(clip.contains("[4]     File\t" + card + "/DCIM/100MEDIA/FILE0004.MOV\n"));
  EXPECT_TRUE(clip.contains("[1]     File\t" + card + "/DCIM/INFO/FILE0001.DAT\n"));
  EXPECT_TRUE(clip.contains("[2]     Play Length\t0:00:15.0"));  // from the container: no "~"
}

TEST_F(MainWindow, DroppedDatOpensItsVideoAndDroppedFolderIsSearched) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  TFormMain form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto drop = [&form](const QString &path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropEvent(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QSignalSpy opened(form.List(), &TRecordListController::FilesOpened);
    QApplication::sendEvent(&form, &dropEvent);
    EXPECT_TRUE(opened.wait(30000));
    EXPECT_TRUE(WaitPrepared(form));
  };
  drop(card + "/DCIM/100MEDIA/FILE0005.dat");
  ASSERT_EQ(form.List()->Model()->rowCount(), 1);
  EXPECT_EQ(form.List()->Model()->Caption(0), "FILE0005");
  EXPECT_EQ(form.List()->RememberedCaption(), "FILE0005");
  EXPECT_EQ(form.List()->SelectedRow(), 0);
  // The row the drop selected is prepared as a click would prepare it.
  EXPECT_EQ(form.List()->CurrentRow().Summary.DisplayName, "FILE0005");
  ASSERT_EQ(form.List()->CurrentTracks().size(), 1u);
  EXPECT_EQ(form.List()->CurrentTracks()[0]->GpsPoints.size(), 15u);
  drop(card + "/DCIM");
  EXPECT_EQ(form.List()->Model()->rowCount(), 2);
  EXPECT_GE(FindCaption(form, "FILE0001-4"), 0);
  EXPECT_GE(FindCaption(form, "FILE0005-6"), 0);
  drop(card + "/no such file.dat");  // ignored
  EXPECT_EQ(form.List()->Model()->rowCount(), 2);
  form.close();
}

TEST(ListMenu, EnablingRules) {
  auto e = ListMenuEnabling(nullptr, 0);
  for (const char *always :
       {"N_FileList_Add", "N_FileList_DelDiskAll", "N_FileList_Refresh", "N_FileList_Clear"})
    EXPECT_TRUE(e[always]) << always;
  for (const char *off :
       {"N_FileList_Open", "N_FileList_Del", "N_FileList_Property", "N_FileList_Group_Auto",
        "N_FileList_Ungroup_All", "N_FileList_Group_With"})
    EXPECT_FALSE(e[off]) << off;
  e = ListMenuEnabling(nullptr, 3);
  EXPECT_TRUE(e["N_FileList_Group_Auto"]);
  EXPECT_TRUE(e["N_FileList_Ungroup_All"]);
  EXPECT_FALSE(e["N_FileList_Group_With"]);

  const TFileItem locked = Row("A", 1, 1, false);
  e = ListMenuEnabling(&locked, 3);
  EXPECT_FALSE(e["N_FileList_SetLock"]);
  EXPECT_TRUE(e["N_FileList_UnsetLock"]);
  EXPECT_FALSE(e["N_FileList_DelDisk"]);
  EXPECT_FALSE(e["N_FileList_Ungroup"]);
  EXPECT_FALSE(e["N_FileList_Track_Export"]);
  EXPECT_TRUE(e["N_FileList_Group_With"]);

  const TFileItem partly = Row("B", 3, 2, true, true);
  e = ListMenuEnabling(&partly, 3);
  EXPECT_TRUE(e["N_FileList_SetLock"]);
  EXPECT_TRUE(e["N_FileList_UnsetLock"]);
  EXPECT_FALSE(e["N_FileList_DelDisk"]);
  EXPECT_TRUE(e["N_FileList_Ungroup"]);
  EXPECT_TRUE(e["N_FileList_Track_Export"]);
  EXPECT_TRUE(e["N_FileList_Track_Google"]);
  EXPECT_TRUE(e["N_FileList_Track_GPSLog"]);

  const TFileItem free = Row("C", 1, 0, false);
  e = ListMenuEnabling(&free, 1);
  EXPECT_TRUE(e["N_FileList_SetLock"]);
  EXPECT_FALSE(e["N_FileList_UnsetLock"]);
  EXPECT_TRUE(e["N_FileList_DelDisk"]);
  EXPECT_FALSE(e["N_FileList_Track_GPSLog"]);
}

TEST(ListMenu, DeleteQuestions) {
  std::vector<TFileItem> rows;
  for (int i = 0; i < 27; ++i)
    rows.push_back(Row(("FILE" + std::to_string(1000 + i)).c_str(), 1, i == 3 || i == 9, false));
  rows[5].Items.push_back(rows[5].Items[0]);  // a trip of two recordings
  rows.push_back(Row("EVENT0001", 1, false, false));
  rows.back().Summary.Kind = kKindEvent;  // the camera protected it: kept
  const auto unlocked = UnlockedRows(rows);
  ASSERT_EQ(unlocked.size(), 25u);
  EXPECT_EQ(unlocked[3].Summary.DisplayName, "FILE1004");  // FILE1003 is locked
  const QString q = DeleteAllQuestion(unlocked);
  EXPECT_TRUE(q.startsWith(
      "Are you sure to full delete all unlocked files?\n\nCount: 26\nFILE1000\nFILE1001\n"));
  EXPECT_EQ(q.count('\n'), 2 + 1 + 20 + 1);
  EXPECT_TRUE(
      q.contains("FILE1021\n... ... ... ... ... \nThere will NO way to recover files ! ! !"));
  EXPECT_EQ(q.count("... "), 5);

  const TFileItem one = Row("FILE0001", 1, 0, false);
  EXPECT_EQ(DeleteFileQuestion(one),
            "Are you sure to full delete file\n/card/FILE0001_0.MOV ?\n\nThere will NO way to "
            "recover files ! ! !");
}

// View -> Show: the rows of each kind, the status line whatever is chosen.
TEST(ListMenu, KindFilter) {
  std::vector<TListItem> items(4);
  items[0].IsStatus = true;
  items[1].Kind = kKindNormal;
  items[2].Kind = kKindEvent;
  items[3].Kind = kKindParking;
  for (size_t i = 1; i < items.size(); ++i) {
    items[i].Caption = "R" + std::to_string(i);
    items[i].SubItems = {"1:00", "", "", "", "", "", "", "Kind", "3"};
    items[i].SubImages.assign(9, -1);
  }
  items[2].SubImages[7] = kImgEvent;
  const struct {
    int Filter;
    std::vector<QString> Captions;
  } kCases[] = {{kShowAll, {"", "R1", "R2", "R3"}},
                {kShowEvents, {"", "R2"}},
                {kShowParking, {"", "R3"}},
                {kShowNormal, {"", "R1"}}};
  for (const auto &c : kCases) {
    const auto rows = FilteredListRows(items, c.Filter);
    std::vector<QString> captions;
    for (const auto &r : rows) captions.push_back(r.Texts[0]);
    EXPECT_EQ(captions, c.Captions) << c.Filter;
  }
  const auto events = FilteredListRows(items, kShowEvents);
  EXPECT_EQ(events[1].Texts[9], "3");  // the Events column
  EXPECT_EQ(events[1].Images[8], kImgEvent);
}

TEST_F(MainWindow, ResetAllSettingsAnsweredNoChangesNothing) {
  WriteIntSetting("volume", 40);
  TFormMain form;
  QString asked;
  form.Ask = [&asked](const QString &text, bool) {
    asked = text;
    return false;
  };
  form.Menu()->Item("N_Settings_Clear")->trigger();
  EXPECT_EQ(asked, "Are you sure to reset all application settings?\n");
  EXPECT_EQ(ReadIntSetting("volume", 100), 40);
  EXPECT_EQ(form.Panels()->TrackBarVolume->value(), 40);
  form.Panels()->TrackBarVolume->setValue(100);
  EXPECT_FALSE(HasSetting("volume"));
}

TEST(PropertyWindow, RowsOfOneRecording) {
  TFileItem r;
  TFileItemSubitem s;
  s.Path = "/card/FILE0001.MOV";
  s.DisplayName = "FILE0001";
  s.Size = 1048576 * 3 / 2;
  s.Duration = 61234;
  s.DurationSource = kDurEstimated;
  s.PictureWidth = 1920;
  s.PictureHeight = 1080;
  s.Locked = 1;
  s.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  s.End = s.Start + 61.234 / 86400;
  r.Items = {s};
  r.Summary = s;
  r.DurationText = "~1:01";
  const QString text = PropertyClipboardText(PropertyRows(r));
  EXPECT_EQ(text,
            "Name\tFILE0001\n"
            "Duration\t~1:01\n"
            "Date and Time\t2024-05-01 10:00:00\n"
            "Video\t\n"
            "    File\t/card/FILE0001.MOV\n"
            "    Picture\t1920x1080\n"
            "    Size\t1572864 byte   (1.5 Mb)\n"
            "    Locked\ttrue\n"
            "    Started\t2024-05-01 10:00:00\n"
            "    Finished\t2024-05-01 10:01:01\n"
            "    Play Length\t~0:01:01.234\n");
}

// Another camera's file is listed under the recording with what is wrong
// with it: gone from the card, another length than the main file's.
TEST(PropertyWindow, RowsOfARecordingOfTwoCameras) {
  TFileItem r;
  TFileItemSubitem s;
  s.Path = "/card/20240501_100000_F.MP4";
  s.DisplayName = "20240501_100000_F";
  s.Size = 1048576;
  s.Duration = 60000;
  s.DurationSource = kDurContainer;
  s.Channel = "F";
  s.Channels = {{.Path = "/card/20240501_100000_R.MP4",
                 .Channel = "R",
                 .Size = 524288,
                 .Duration = 30000,
                 .PictureWidth = 1280,
                 .PictureHeight = 720}};
  r.Items = {s};
  r.Summary = s;
  r.DurationText = "1:00";
  EXPECT_EQ(PropertyClipboardText(PropertyRows(r)),
            "Name\t20240501_100000_F\n"
            "Duration\t1:00\n"
            "Date and Time\t\n"
            "Channels\tF+R\n"
            "Video\t\n"
            "    File\t/card/20240501_100000_F.MP4\n"
            "    Picture\t0x0\n"
            "    Size\t1048576 byte   (1.0 Mb)\n"
            "    Play Length\t0:01:00.000\n"
            "Camera R\t\n"
            "    File\t/card/20240501_100000_R.MP4\n"
            "    Picture\t1280x720\n"
            "    Size\t524288 byte   (0.5 Mb)\n"
            "    Note\tthe file is missing\n"
            "    Play Length\t0:00:30.000\n"
            "    Note\tits length differs from the main camera's\n");
}

TEST_F(MainWindow, SearchFillsTheListAndCloseStopsItWithoutHanging) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  const QString old = QDir::currentPath();
  QDir::setCurrent(card + "/DCIM");  // the search starts in the current folder
  {
    TFormMain form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // While it runs, the first line is the status line across the columns.
    QStringList statuses;
    QObject::connect(form.List()->Model(), &QAbstractItemModel::dataChanged, [&form, &statuses]() {
      const TListRow *r = form.List()->Model()->Row(0);
      if (r && r->Status) statuses << r->Texts[1];
    });
    form.List()->RefreshCatalogue();
    QTest::qWait(300);
    ASSERT_TRUE(WaitForSearch(form, 60000));
    // The search never waits for the window, so a small card may be done
    // before a refresh shows a status; every status shown is one line.
    for (const QString &status : statuses)
      EXPECT_TRUE(status.startsWith(". . . ") && status.endsWith(" . . .")) << status.toStdString();
    EXPECT_GE(FindCaption(form, "FILE0001-4"), 0);
    EXPECT_FALSE(form.List()->Model()->Row(0)->Status);
    // The search never waits for the window: it ends while this thread
    // handles no event at all, and the list catches up afterwards.
    form.List()->RefreshCatalogue();
    TFileManager *fm = form.List()->FileManager();
    for (int i = 0; i < 2000 && (fm->Searching() || fm->RowCount() < 2); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(fm->Searching());
    EXPECT_EQ(fm->RowCount(), 2);
    ASSERT_TRUE(WaitForSearch(form, 10000));
    EXPECT_GE(FindCaption(form, "FILE0001-4"), 0);
    // A new search is cut short by closing the window.
    form.List()->RefreshCatalogue();
    QTest::qWait(30);
    form.close();
    EXPECT_EQ(form.List()->FileManager(), nullptr);
  }
  QDir::setCurrent(old);
}

namespace {
QString gReport;
void CaptureReport(const QString &text) {
  gReport = text;
}
}  // namespace

TEST(ErrorReport, MessageAndCallStackUnlessTerminating) {
  TApplication::SetReporter(&CaptureReport);
  TApplication::SetTerminating(false);
  gReport.clear();
  TApplication::ReportException("Disk full");
  EXPECT_TRUE(gReport.startsWith("Exception\n\nDisk full\n\n")) << gReport.toStdString();
  EXPECT_GT(gReport.size(),
            QString("Exception\n\nDisk full\n\n").size());  // the call stack follows
  gReport.clear();
  TApplication::SetTerminating(true);
  TApplication::ReportException("late");
  EXPECT_TRUE(gReport.isEmpty());
  TApplication::SetTerminating(false);
  TApplication::SetReporter(nullptr);
}

TEST(ShellRegistration, WrittenOnceAndNeverDuplicated) {
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  const QString exe = "/opt/my apps/tachora";
  EXPECT_TRUE(RegisterShell(exe));
  EXPECT_FALSE(RegisterShell(exe));  // a second start leaves it alone
  QFile f(DesktopEntryPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(f.readAll());
  EXPECT_EQ(text.count("[Desktop Entry]"), 1);
  EXPECT_TRUE(text.contains("Exec=\"/opt/my apps/tachora\" %F\n"));
  EXPECT_TRUE(text.contains("MimeType=video/quicktime;video/mp4;\n"));
  EXPECT_FALSE(
      QImage(data.path() + "/icons/hicolor/256x256/apps/org.tachora.Tachora.png").isNull());
  f.close();
  // Percent signs and backslashes survive both levels of the entry's escaping.
  EXPECT_TRUE(DesktopEntryText(R"(/opt/100% x\y/t"z)")
                  .contains(R"(Exec="/opt/100%% x\\\\y/t\\"z" %F)"
                            "\n"));
  EXPECT_TRUE(RegisterShell("/opt/tachora/tachora"));  // moved program: entry follows
  EXPECT_EQ(QDir(data.path() + "/applications").entryList(QDir::Files).size(), 1);
  // Installed (PREFIX/bin beside PREFIX/share/applications): the package's
  // entry serves; the one written above would hide it and goes, while an
  // entry the user wrote by hand stays.
  QTemporaryDir prefix;
  QDir(prefix.path()).mkpath("bin");
  QDir(prefix.path()).mkpath("share/applications");
  QFile installed(prefix.path() + "/share/applications/org.tachora.Tachora.desktop");
  ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
  installed.close();
  EXPECT_FALSE(RegisterShell(prefix.path() + "/bin/tachora"));
  EXPECT_FALSE(QFile::exists(DesktopEntryPath()));
  QFile own(DesktopEntryPath());
  ASSERT_TRUE(own.open(QIODevice::WriteOnly));
  own.write("[Desktop Entry]\nType=Application\nName=My Tachora\nExec=tachora\n");
  own.close();
  EXPECT_FALSE(RegisterShell(prefix.path() + "/bin/tachora"));
  EXPECT_TRUE(QFile::exists(DesktopEntryPath()));
  qunsetenv("XDG_DATA_HOME");
}

TEST_F(MainWindow, PanelSizesStoredWhenSplittersMoveAndRestored) {
  WriteIntSetting("panel_Right", 420);
  WriteIntSetting("panel_Bottom", 150);
  WriteSetting("panel_Browser", "0,25");
  {
    TFormMain form;
    form.resize(1200, 800);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::processEvents();
    TMainLayout &p = *form.Panels();
    EXPECT_EQ(p.PanelRight->width(), 420);
    EXPECT_EQ(p.PanelBottom->height(), 150);
    EXPECT_DOUBLE_EQ(p.MapShare(), 0.25);
    EXPECT_NEAR(p.WebBrowser->height(), (p.PanelRight2->height() - TMainLayout::kSplitter) * 0.25,
                2);
    p.SplitterRight->setSizes({800, 380});
    for (int x = 790; x <= 800; ++x) emit p.SplitterRight->splitterMoved(x, 1);
    // A drag is written once, when it has ended.
    EXPECT_EQ(ReadIntSetting("panel_Right", 0), 420);
    const int width = p.PanelRight->width();
    EXPECT_TRUE(
        QTest::qWaitFor([width]() { return ReadIntSetting("panel_Right", 0) == width; }, 3000));
    EXPECT_EQ(ReadIntSetting("panel_Bottom", 0), 150);
    EXPECT_EQ(ReadSetting("panel_Browser"), "0.250");
    form.close();
  }
  TFormMain form;
  form.resize(1200, 800);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QApplication::processEvents();
  EXPECT_EQ(form.Panels()->PanelRight->width(), ReadIntSetting("panel_Right", 0));
  form.close();
}

TEST_F(MainWindow, DeleteAllUnlockedRemovesTheirFilesAndKeepsLockedTrips) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  QTemporaryDir copy;
  std::filesystem::copy(card.toStdString(), copy.path().toStdString(),
                        std::filesystem::copy_options::recursive);
  TFormMain form;
  ASSERT_TRUE(Open(form, {copy.path()}));
  ASSERT_EQ(form.List()->Model()->rowCount(), 2);
  QString asked;
  bool answer = false;
  form.Ask = [&](const QString &text, bool warning) {
    EXPECT_TRUE(warning);
    asked = text;
    return answer;
  };
  QAction *all = form.Menu()->Item("N_FileList_DelDiskAll");
  ASSERT_TRUE(all->isEnabled());
  all->trigger();  // answered No: nothing happens
  EXPECT_TRUE(asked.contains("Count: 4\nFILE0001-4\n")) << asked.toStdString();
  EXPECT_FALSE(asked.contains("FILE0005"));
  EXPECT_TRUE(QFile::exists(copy.filePath("DCIM/100MEDIA/FILE0001.MOV")));
  answer = true;
  QSignalSpy deleted(form.List(), &TRecordListController::DeletionDone);
  all->trigger();
  EXPECT_FALSE(all->isEnabled());  // one mass deletion at a time
  ASSERT_TRUE(deleted.wait(30000));
  for (const char *gone : {"DCIM/100MEDIA/FILE0001.MOV", "DCIM/100MEDIA/FILE0004.MOV",
                           "DCIM/INFO/FILE0001.DAT", "DCIM/INFO/FILE0004.DAT"})
    EXPECT_FALSE(QFile::exists(copy.filePath(gone))) << gone;
  for (const char *kept :
       {"DCIM/100MEDIA/FILE0005.MOV", "DCIM/100MEDIA/FILE0006.MOV", "DCIM/100MEDIA/FILE0005.dat"})
    EXPECT_TRUE(QFile::exists(copy.filePath(kept))) << kept;
  ASSERT_EQ(form.List()->Model()->rowCount(), 1);
  EXPECT_EQ(form.List()->Model()->Caption(0), "FILE0005-6");
  // Its one locked clip keeps "Delete File from Disk" off for the trip.
  form.List()->SelectRow(0);
  EXPECT_FALSE(form.Menu()->Item("N_FileList_DelDisk")->isEnabled());
  // Unlocking gives the owner's write permission back and enables it.
  form.Menu()->Item("N_FileList_UnsetLock")->trigger();
  EXPECT_TRUE(QFile::permissions(copy.filePath("DCIM/100MEDIA/FILE0006.MOV")) &
              QFileDevice::WriteOwner);
  form.List()->SelectRow(0);
  EXPECT_TRUE(form.Menu()->Item("N_FileList_DelDisk")->isEnabled());
}

// A card with an EVENT folder: the clip in it is a trip of its own with its
// kind; View -> Show filters, View -> Units turns the list into miles and
// mph, and both choices are stored.
TEST_F(MainWindow, KindsFilterEventsAndUnitsInTheList) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  QTemporaryDir copy;
  std::filesystem::copy(card.toStdString(), copy.path().toStdString(),
                        std::filesystem::copy_options::recursive);
  QDir(copy.path()).mkpath("DCIM/EVENT");
  for (const char *f : {"FILE0005.MOV", "FILE0005.dat"})
    ASSERT_TRUE(QFile::rename(copy.filePath(QString("DCIM/100MEDIA/") + f),
                              copy.filePath(QString("DCIM/EVENT/") + f)));
  TFormMain form;
  form.resize(1280, 700);
  ASSERT_TRUE(Open(form, {copy.path()}));
  TRecordListModel &model = *form.List()->Model();
  ASSERT_EQ(model.rowCount(), 3);
  const int trip = FindCaption(form, "FILE0001-4"), event = FindCaption(form, "FILE0005");
  ASSERT_GE(trip, 0);
  ASSERT_GE(event, 0);
  EXPECT_EQ(model.Row(trip)->Texts[8], "Normal");
  EXPECT_EQ(model.Row(event)->Texts[8], "Event");
  EXPECT_EQ(model.Row(event)->Images[8], kImgEvent);
  bool count = false;
  model.Row(trip)->Texts[9].toInt(&count);
  EXPECT_TRUE(count) << model.Row(trip)->Texts[9].toStdString();  // the Events column

  TMainMenu &m = *form.Menu();
  m.Item("N_View_Show_Events")->trigger();
  ASSERT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.Caption(0), "FILE0005");
  EXPECT_EQ(ReadSetting("N_View_Show_Events"), "true");
  m.Item("N_View_Show_All")->trigger();
  EXPECT_EQ(model.rowCount(), 3);

  const QString metricTrack = model.Row(FindCaption(form, "FILE0001-4"))->Texts[3];
  m.Item("N_View_Units_Imperial")->trigger();
  EXPECT_TRUE(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString().endsWith(", mi"));
  EXPECT_TRUE(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString().endsWith(", mph"));
  const QString miles = model.Row(FindCaption(form, "FILE0001-4"))->Texts[3];
  EXPECT_TRUE(miles.endsWith("mi")) << miles.toStdString();
  EXPECT_LT(miles.chopped(2).toDouble(), metricTrack.chopped(2).toDouble());
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) {
    // The whole window, and the list scrolled to its last columns, in both
    // languages.
    auto *list = form.findChild<QTableView *>("ListView");
    for (const char *lang : {"en", "ru"}) {
      m.Item(QString("N_View_Language_") + lang)->trigger();
      QApplication::processEvents();
      form.grab().save(dir + "/main_imperial_kinds_" + lang + ".png");
      list->horizontalScrollBar()->setValue(list->horizontalScrollBar()->maximum());
      list->grab().save(dir + "/list_kinds_events_" + lang + ".png");
      list->horizontalScrollBar()->setValue(0);
      for (const char *menu : {"N_View", "N_View_Show", "N_View_Units", "N_Playback"}) {
        m.SubMenu(menu)->popup(form.mapToGlobal(QPoint(10, 30)));
        QTest::qWait(100);
        m.SubMenu(menu)->grab().save(dir + "/menu_" + menu + "_" + lang + ".png");
        m.SubMenu(menu)->hide();
      }
    }
    m.Item("N_View_Language_en")->trigger();
  }
  m.Item("N_View_Units_Metric")->trigger();
  EXPECT_EQ(model.Row(FindCaption(form, "FILE0001-4"))->Texts[3], metricTrack);

  // The trip in the player: its bump is marked on the time line, and Next
  // Event is offered.
  form.List()->SelectRow(FindCaption(form, "FILE0001-4"));
  ASSERT_TRUE(WaitPrepared(form));
  form.Playback()->ShowRow(form.List()->Prepared());
  QTest::qWait(300);
  EXPECT_EQ(form.Playback()->SeekBar()->Events().size(), 1u);
  EXPECT_TRUE(m.Item("N_Playback_Event_Next")->isEnabled());
  if (!dir.isEmpty()) form.grab().save(dir + "/main_events.png");
}

TEST_F(MainWindow, KeysOfTheMenusReachTheirCommands) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  TFormMain form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(Open(form, {card}));
  ASSERT_EQ(form.List()->Model()->rowCount(), 2);
  QTableView *list = form.Panels()->ListView;
  list->setFocus();
  form.List()->SelectRow(0);
  const QString first = form.List()->Model()->Caption(0);
  QTest::keyClick(list, Qt::Key_Delete);  // Remove from List (files stay)
  ASSERT_EQ(form.List()->Model()->rowCount(), 1);
  EXPECT_NE(form.List()->Model()->Caption(0), first);
  EXPECT_TRUE(QFile::exists(card + "/DCIM/100MEDIA/FILE0001.MOV"));
  QTest::keyClick(list, Qt::Key_F2);  // View > File List
  EXPECT_TRUE(list->isHidden());
  EXPECT_FALSE(form.Menu()->Item("N_View_FileList")->isChecked());
  QTest::keyClick(&form, Qt::Key_F2);
  EXPECT_FALSE(list->isHidden());
  QTest::keyClick(&form, Qt::Key_N, Qt::ControlModifier);  // Clear File List
  EXPECT_EQ(form.List()->Model()->rowCount(), 0);
  form.close();
}

TEST_F(MainWindow, RowIsPreparedAgainAfterItsTrackOrTimesChange) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  TFormMain form;
  ASSERT_TRUE(Open(form, {card}));
  form.List()->SelectRow(FindCaption(form, "FILE0001-4"));
  ASSERT_TRUE(WaitPrepared(form));
  ASSERT_EQ(form.List()->CurrentRow().Summary.DisplayName, "FILE0001-4");
  const TDateTime before = form.List()->CurrentRow().Summary.Start;

  // Moved by an hour: the row may sort elsewhere, the prepared copy follows.
  form.List()->ShiftSelected(1.0 / 24);
  ASSERT_TRUE(WaitPrepared(form));
  ASSERT_EQ(form.List()->Model()->Caption(form.List()->SelectedRow()), "FILE0001-4");
  const TFileItem shifted = form.List()->FileManager()->GetItem(form.List()->SelectedRow());
  EXPECT_NEAR(shifted.Summary.Start - before, 1.0 / 24, 1e-6);
  EXPECT_DOUBLE_EQ(form.List()->CurrentRow().Summary.Start, shifted.Summary.Start);

  // Another track attached: the prepared row carries it.
  const QString other = card + "/DCIM/100MEDIA/FILE0005.dat";
  form.List()->AttachTrackFile(other);
  ASSERT_TRUE(WaitPrepared(form));
  ASSERT_EQ(form.List()->Model()->Caption(form.List()->SelectedRow()), "FILE0001-4");
  ASSERT_FALSE(form.List()->CurrentRow().Items.empty());
  for (const auto &r : form.List()->CurrentRow().Items)
    EXPECT_EQ(r.TelemetryPath, other.toStdString());
}

TEST(SettingsFile, UserStoreIsTachoraConfInTheConfigFolder) {
  const QString testFile = SettingsFilePath();
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  SetSettingsFile(QString());
  EXPECT_EQ(SettingsFilePath(), config.path() + "/Tachora/Tachora.conf");
  WriteIntSetting("volume", 40);
  EXPECT_TRUE(QFile::exists(config.path() + "/Tachora/Tachora.conf"));
  SetSettingsFile(testFile);
  if (oldConfig.isEmpty())
    qunsetenv("XDG_CONFIG_HOME");
  else
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

TEST(DemoCard, FailureIsReportedInTheCurrentLanguage) {
  // A cache folder below a plain file cannot be made.
  QTemporaryDir dir;
  QFile blocker(dir.filePath("file"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
  qputenv("XDG_CACHE_HOME", dir.filePath("file").toUtf8());
  InitLanguages(1049);
  TDemoCard demo;
  QSignalSpy done(&demo, &TDemoCard::Finished);
  demo.Start(nullptr);
  ASSERT_TRUE(done.count() == 1 || done.wait(5000));
  const QString error = done.first().at(1).toString();
  EXPECT_TRUE(error.startsWith(QString::fromUtf8("Не удалось создать "))) << error.toStdString();
  InitLanguages(1033);
  if (oldCache.isEmpty())
    qunsetenv("XDG_CACHE_HOME");
  else
    qputenv("XDG_CACHE_HOME", oldCache);
}

TEST_F(MainWindow, RecordingsThatVanishLeaveTheListUsable) {
  const QString card = DemoCard();
  ASSERT_FALSE(card.isEmpty());
  QTemporaryDir copy;
  std::filesystem::copy(card.toStdString(), copy.path().toStdString(),
                        std::filesystem::copy_options::recursive);
  TFormMain form;
  ASSERT_TRUE(Open(form, {copy.path()}));
  ASSERT_EQ(form.List()->Model()->rowCount(), 2);
  QDir(copy.path()).removeRecursively();  // the card was pulled out
  form.Ask = [](const QString &, bool) { return true; };
  for (int row = 0; row < 2; ++row) {
    form.List()->SelectRow(row);
    EXPECT_EQ(form.List()->SelectedRow(), row);
    EXPECT_FALSE(PropertyRows(form.List()->FileManager()->GetItem(row)).empty());
  }
  form.List()->SelectRow(FindCaption(form, "FILE0001-4"));
  form.Menu()->Item("N_FileList_DelDisk")->trigger();  // nothing to delete; the row goes
  EXPECT_EQ(form.List()->Model()->rowCount(), 1);
  ASSERT_TRUE(Open(form, {copy.path() + "/DCIM/100MEDIA/FILE0001.MOV", copy.path()}));
  EXPECT_EQ(form.List()->Model()->rowCount(), 1);
}
