// The catalogue's track commands on the demo card: Export Track (type and
// extension), Open Track in Google Earth, the playing trip's loaded track, a
// row without GPS data, and "Move video position" answered as a user types
// it; and a GPS log shared by a trip's recordings written once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "gui_test_helpers.h"
#include "playback/UnitPlaybackController.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitTrackCommands.h"

using namespace tachora;
using namespace tachora::test;

namespace {

int FindCaption(TFormMain &form, const QString &caption) {
  for (int i = 0; i < form.List()->Model()->rowCount(); ++i)
    if (form.List()->Model()->Caption(i) == caption) return i;
  return -1;
}

// Answers the next input box with `text` once it is open.
void AnswerInput(const QString &text) {
  QTimer::singleShot(50, [text]() {
    auto *box = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
    if (!box) return AnswerInput(text);
    box->setTextValue(text);
    box->accept();
  });
}

struct TTrackFixture : ::testing::Test {
  QTemporaryDir out;
  QStringList messages, opened;
  std::unique_ptr<TFormMain> form;
  TTrackCommands *track = nullptr;

  void SetUp() override {
    const QString card = DemoCard();
    ASSERT_FALSE(card.isEmpty());
    TFormMain::AutoFirstShow = false;  // no search of the usual places, no update check
    form = std::make_unique<TFormMain>();
    ASSERT_TRUE(Open(*form, {card}));
    track = form->findChild<TTrackCommands *>();
    ASSERT_NE(track, nullptr);
    track->Inform = [this](const QString &t) { messages << t; };
    track->OpenFile = [this](const QString &p) {
      opened << p;
      return true;
    };
    track->TempFolder = out.path();
    const int row = FindCaption(*form, "FILE0001-4");
    ASSERT_GE(row, 0);
    form->List()->SelectRow(row);
    ASSERT_TRUE(WaitPrepared(*form));
  }
  QString RunCommand(const char *name) {
    QSignalSpy written(track, &TTrackCommands::TrackWritten);
    EXPECT_TRUE(form->Commands()->Run(name));
    return written.wait(20000) ? written.first().at(0).toString() : "<none>";
  }
};

}  // namespace

TEST(TrackCommands, ALogSharedByATripsRecordingsIsWrittenOnce) {
  // A 9-minute log of one fix a second covering three 3-minute recordings,
  // and a fourth recording with its own file beside them.
  QTemporaryDir dir;
  const double t0 = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0), sec = 1.0 / 86400;
  std::string log, own;
  auto fix = [](double t, int i) {
    return "[G]\t" + FormatDateTime(t) + "\tN55.750000\tE" + FormatCoord(37.6 + i * 1e-4) +
           "\t36\t90\r\n";
  };
  for (int i = 0; i <= 540; ++i) log += fix(t0 + i * sec, i);
  for (int i = 0; i <= 60; ++i) own += fix(t0 + (600 + i) * sec, i);
  const std::string logPath = dir.filePath("track.log").toStdString();
  const std::string ownPath = dir.filePath("FILE0004.DAT").toStdString();
  ASSERT_TRUE(WriteTextFile(logPath, log));
  ASSERT_TRUE(WriteTextFile(ownPath, own));
  TFileItem row;
  for (int k = 0; k < 4; ++k) {
    TFileItemSubitem rec;
    rec.Path = dir.filePath(QString("FILE000%1.MOV").arg(k + 1)).toStdString();
    rec.TelemetryPath = k < 3 ? logPath : ownPath;
    // Half a second wider each side: no fix hangs on the rounding of a time.
    rec.Start = t0 + ((k < 3 ? k * 180 : 600) - 0.5) * sec;
    rec.End = rec.Start + ((k < 3 ? 180 : 60) + 1) * sec;
    row.Items.push_back(rec);
  }
  TTrackInfo info;
  ASSERT_TRUE(BuildTrack(row, info));
  // Each recording's range ends where the next begins: the shared fix at
  // each seam belongs to both.
  EXPECT_EQ(info.Items.size(), 541u + 2 + 61);
  for (size_t i = 1; i < info.Items.size(); ++i)
    EXPECT_GE(info.Items[i].Time, info.Items[i - 1].Time) << i;

  // The playing trip's loaded tracks are written as they are.
  TRowTelemetry trip;
  trip.Row = row;
  for (const TFileItemSubitem &rec : row.Items) {
    auto mi = TMovingInfo::LoadFromFile(rec.TelemetryPath, false);
    ASSERT_TRUE(mi);
    mi->FitTo(rec.Start + 60 * sec, rec.End);
    trip.Tracks.push_back(std::move(mi));
  }
  ASSERT_TRUE(BuildTrack(trip, info));
  EXPECT_EQ(info.Items.size(), 3u * 121 + 1);
}

TEST_F(TTrackFixture, ExportAndGoogleEarthWriteTheGroupsTrack) {
  QString proposed;
  track->AskSavePath = [&](const QString &name, int &type) {
    proposed = name;
    type = 2;  // GPX
    return out.filePath("trip");
  };
  const QString gpx = RunCommand("N_FileList_Track_Export");
  EXPECT_EQ(gpx, out.filePath("trip.gpx"));
  EXPECT_TRUE(proposed.startsWith("Track ")) << proposed.toStdString();
  EXPECT_FALSE(proposed.contains(':'));
  TTrackInfo info;
  std::string text;
  ASSERT_TRUE(ReadWholeFile(gpx.toStdString(), text));
  ASSERT_TRUE(ReadTrackText(text, gpx.toStdString(), 0, 0, info));
  EXPECT_GT(info.Items.size(), 1u);

  // A name that already ends in the type's extension gets no second one.
  track->AskSavePath = [&](const QString &, int &type) {
    type = 0;
    return out.filePath("again.KML");
  };
  EXPECT_EQ(RunCommand("N_FileList_Track_Export"), out.filePath("again.KML"));

  const QString kml = RunCommand("N_FileList_Track_Google");
  EXPECT_EQ(opened, QStringList{kml});
  EXPECT_TRUE(QFileInfo(kml).fileName().startsWith("Track "));
  EXPECT_TRUE(kml.endsWith(".kml"));
  EXPECT_TRUE(QFile::exists(kml));
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(TTrackFixture, ThePlayingTripExportsItsLoadedTelemetry) {
  form->Menu()->Item("N_FileList_Open")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([this] { return form->Playback()->Row() != nullptr; }, 20000));
  // The loaded tracks are what the player shows; fit them shorter than the
  // files so that reading the files again would give more points.
  const auto trip = form->Playback()->Row();
  size_t points = 0;
  for (const auto &mi : trip->Tracks) {
    auto &track = const_cast<TMovingInfo &>(*mi);
    if (track.GpsPoints.size() > 4) track.FitTo(track.GpsPoints[2].Time, track.EndTime);
    points += track.GpsPoints.size();
  }
  track->AskSavePath = [&](const QString &, int &type) {
    type = 3;  // the recorder's .dat: one line a fix
    return out.filePath("playing");
  };
  const QString dat = RunCommand("N_FileList_Track_Export");
  ASSERT_EQ(dat, out.filePath("playing.dat"));
  TTrackInfo info;
  std::string text;
  ASSERT_TRUE(ReadWholeFile(dat.toStdString(), text));
  ASSERT_TRUE(ReadTrackText(text, dat.toStdString(), 0, 0, info));
  EXPECT_EQ(info.Items.size(), points);
}

TEST_F(TTrackFixture, TrackWithoutGpsPointsWritesNothing) {
  // G-sensor samples only: a track file, but nothing to export.
  form->List()->AttachTrackFile(QString(TACHORA_TEST_DATA) + "/telemetry/gsensor.dat");
  ASSERT_TRUE(WaitPrepared(*form));
  bool asked = false;
  track->AskSavePath = [&](const QString &, int &) {
    asked = true;
    return out.filePath("x");
  };
  EXPECT_EQ(RunCommand("N_FileList_Track_Export"), QString());
  EXPECT_FALSE(asked);
  EXPECT_EQ(messages, QStringList{QString::fromStdString(LangText("Mes_NoGPSInfo"))});
  EXPECT_TRUE(QDir(out.path()).isEmpty());
}

TEST_F(TTrackFixture, MoveVideoPositionShiftsTheGroup) {
  TFileManager *fm = form->List()->FileManager();
  const uint64_t id = form->List()->SelectedId();
  auto start = [&]() {
    TFileItem row;
    fm->GetItemById(id, row);
    return row.Summary.Start;
  };
  const TDateTime before = start();
  for (const char *nothing : {"0:00:00", "five seconds", ""}) {
    AnswerInput(nothing);
    form->Commands()->Run("N_FileList_Track_Move");
    EXPECT_DOUBLE_EQ(start(), before) << nothing;
  }
  AnswerInput("-0:00:05");
  form->Commands()->Run("N_FileList_Track_Move");
  ASSERT_TRUE(WaitPrepared(*form));
  EXPECT_NEAR((start() - before) * 86400.0, -5.0, 1e-3);
}

// Google Earth's KML goes into a private folder of its own (mode 0700: no
// other user can read the track or block the name), never the shared
// temporary folder itself, and the folder goes when the program ends.
TEST_F(TTrackFixture, GoogleEarthFileLivesInAPrivateFolderRemovedAtExit) {
  track->TempFolder.clear();  // as the program runs
  const QString kml = RunCommand("N_FileList_Track_Google");
  ASSERT_TRUE(QFile::exists(kml)) << kml.toStdString();
  const QString folder = QFileInfo(kml).absolutePath();
  EXPECT_NE(QDir(folder), QDir(QDir::tempPath()));
  struct stat st {};
  ASSERT_EQ(stat(folder.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(RunCommand("N_FileList_Track_Google"), kml);  // the same folder again
  form.reset();                                           // the program ends
  EXPECT_FALSE(QFileInfo::exists(folder));
}
