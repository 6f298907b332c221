// The GPS log converter window: batch conversion beside each file, the
// lazily filled statistics, files without telemetry, the list's commands.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "TestProtect.h"
#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitUtils.h"
#include "telemetry/UnitFormGpsConverter.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"
#include "telemetry/UnitTrackCommands.h"

using namespace tachora;
using tachora::test::TProtectedFolder;

namespace {

QByteArray ReadAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct TConverterFixture : ::testing::Test {
  QTemporaryDir dir;
  TFormGPSLog form{nullptr};
  QStringList messages, questions;
  bool answer = true;

  void SetUp() override {
    form.Inform = [this](const QString &t) { messages << t; };
    form.Ask = [this](const QString &t) {
      questions << t;
      return answer;
    };
  }
  QString Copy(const char *data, const QString &name) {
    const QString to = dir.filePath(name);
    QFile::copy(QString(TACHORA_TEST_DATA) + "/telemetry/" + data, to);
    return to;
  }
  QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
  bool RunConvert() {
    QSignalSpy done(&form, &TFormGPSLog::ConversionDone);
    return form.Convert() && done.wait(20000);
  }
};

}  // namespace

TEST_F(TConverterFixture, ConvertsTickedFilesToTickedFormatsBesideThem) {
  const QString log = Copy("dvr.log", "track01.log");
  const QString empty = Copy("notrack.txt", "empty.log");
  form.Open({log, empty});
  ASSERT_EQ(form.FileList->topLevelItemCount(), 2);
  EXPECT_TRUE(form.TickedPaths().isEmpty());  // opened unticked, KML alone ticked
  EXPECT_EQ(form.TickedExtensions(), std::vector<std::string>{"kml"});
  EXPECT_EQ(form.Converters->item(0)->text().toStdString(), "Google Earth (.kml)");

  // Nothing ticked: asked to choose, nothing written.
  EXPECT_FALSE(form.Convert());
  EXPECT_EQ(messages, QStringList{QString::fromStdString(LangText("GPSLog_SelectToProcess"))});
  messages.clear();

  form.SetAllTicked(true);
  form.Converters->item(2)->setCheckState(Qt::Checked);  // GPX
  ASSERT_TRUE(RunConvert());
  EXPECT_EQ(Files(), (QStringList{"empty.log", "track01.gpx", "track01.kml", "track01.log"}));
  EXPECT_TRUE(form.TickedPaths().isEmpty());
  EXPECT_TRUE(form.ButtonConvert->isEnabled());
  // The file without telemetry is named once at the end.
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(empty));

  // What was written is what the writers make of the log.
  const auto mi = TMovingInfo::LoadFromFile(log.toStdString(), false);
  ASSERT_TRUE(mi);
  TTrackInfo info;
  BeginTrackInfo(*mi, info);
  EXPECT_EQ(ReadAll(dir.filePath("track01.gpx")).toStdString(),
            WriteTrackText(*FindGpsWriter("gpx"), info));
  EXPECT_EQ(ReadAll(dir.filePath("track01.kml")).toStdString(),
            WriteTrackText(*FindGpsWriter("kml"), info));
}

TEST_F(TConverterFixture, FileIsNeverConvertedOverItself) {
  QFile::copy(QString(TACHORA_TEST_DATA) + "/telemetry/golden/utc/track.gpx",
              dir.filePath("route.gpx"));
  const QByteArray source = ReadAll(dir.filePath("route.gpx"));
  form.Open({dir.filePath("route.gpx")});
  form.SetAllTicked(true);
  form.Converters->item(2)->setCheckState(Qt::Checked);  // GPX as well as KML
  ASSERT_TRUE(RunConvert());
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_EQ(ReadAll(dir.filePath("route.gpx")), source);
  EXPECT_TRUE(QFile::exists(dir.filePath("route.kml")));
}

TEST_F(TConverterFixture, StatisticsFillOneFileAfterAnother) {
  const QString log = Copy("dvr.log", "a.log");
  const QString bad = Copy("notrack.txt", "b.log");
  QSignalSpy filled(&form, &TFormGPSLog::StatsFilled);
  form.Open({log, bad});
  ASSERT_TRUE(QTest::qWaitFor([&]() { return filled.size() == 2; }, 10000));
  const QTreeWidgetItem *a = form.FileList->topLevelItem(0);
  EXPECT_EQ(a->text(1), "10");
  EXPECT_EQ(a->text(2), "0:09");
  EXPECT_TRUE(a->text(3).contains(QRegularExpression("^\\d+\\.\\d$"))) << a->text(3).toStdString();
  EXPECT_EQ(form.FileList->topLevelItem(1)->text(1), "-");
}

TEST_F(TConverterFixture, AddRemoveAndDeleteFromDisk) {
  const QString b = Copy("dvr.log", "b.log");
  const QString a = Copy("dvr.log", "a.log");
  form.Open({});
  form.AddFiles({b, a});
  EXPECT_EQ(form.Paths(), (QStringList{a, b}));  // sorted by path
  EXPECT_EQ(form.TickedPaths(), (QStringList{a, b}));
  EXPECT_EQ(form.FileList->currentItem()->text(0), a);  // the last added
  ASSERT_TRUE(RunConvert());
  ASSERT_TRUE(QFile::exists(dir.filePath("a.kml")));

  // Show Related GPS Log: every entry unticked, then the related one ticked.
  form.SetAllTicked(false);
  EXPECT_TRUE(form.TickPath(b.toUpper().replace(dir.path().toUpper(), dir.path())));
  EXPECT_EQ(form.TickedPaths(), QStringList{b});

  // Delete from disk: the log and its conversions go.
  form.FileList->setCurrentItem(form.FileList->topLevelItem(0));
  answer = false;
  form.PopupMenu->findChild<QAction *>("N_FileList_DelDisk")->trigger();
  EXPECT_TRUE(QFile::exists(a));
  answer = true;
  form.PopupMenu->findChild<QAction *>("N_FileList_DelDisk")->trigger();
  EXPECT_EQ(Files(), (QStringList{"b.kml", "b.log"}));
  EXPECT_EQ(form.Paths(), QStringList{b});

  QSignalSpy deleted(&form, &TFormGPSLog::LogsDeleted);
  form.PopupMenu->findChild<QAction *>("N_FileList_DelDiskLogs")->trigger();
  EXPECT_EQ(deleted.size(), 1);
  EXPECT_TRUE(Files().isEmpty());
  EXPECT_EQ(form.FileList->topLevelItemCount(), 0);
}

TEST(TrackNames, ExportConvertAndGoogleEarthNames) {
  EXPECT_EQ(ExportFileName("Track 2010-05-01 12:30:00"), "Track 2010-05-01 12-30-00");
  EXPECT_EQ(ExportFileName("a\"b*c<d>e?f|g/h"), "a_b_c_d_e_f_g_h");
  EXPECT_EQ(WithExtension("/tracks/trip", "gpx"), "/tracks/trip.gpx");
  EXPECT_EQ(WithExtension("/tracks/trip.GPX", "gpx"), "/tracks/trip.GPX");
  EXPECT_EQ(WithExtension("/tracks/trip.kml", "gpx"), "/tracks/trip.kml.gpx");
  EXPECT_EQ(ConvertedPath("/GPS/track01.log", "kml"), "/GPS/track01.kml");
  EXPECT_EQ(ConvertedPath("/GPS.d/track", "gpx"), "/GPS.d/track.gpx");
  EXPECT_EQ(GoogleEarthPath("/tmp/x", EncodeDate(2010, 5, 1) + EncodeTime(12, 30, 0, 0)),
            "/tmp/x/Track 2010-05-01 12-30-00.kml");
  EXPECT_EQ(ExportDialogFilters().size(), static_cast<int>(GpsWriters().size()));
  EXPECT_EQ(ExportDialogFilters().value(2).toStdString(), "GPS eXchange Format (*.gpx)");
  EXPECT_EQ(ExportDialogFilters().value(4).toStdString(), "NMEA 0183 (*.nmea)");
}

TEST_F(TConverterFixture, ShowTrackOnMapAsksForTickedAndSelectedFiles) {
  const QString a = Copy("dvr.log", "a.log");
  const QString b = Copy("dvr.log", "b.log");
  const QString c = Copy("dvr.log", "c.log");
  form.CheckShowTrack->setChecked(true);
  QSignalSpy asked(&form, &TFormGPSLog::PreviewRequested);
  QSignalSpy ended(&form, &TFormGPSLog::PreviewEnded);
  form.Open({a, b, c});
  ASSERT_TRUE(form.CheckShowTrack->isEnabled());

  // One file ticked: drawn alone, not highlighted, after the short delay.
  form.FileList->topLevelItem(0)->setCheckState(0, Qt::Checked);
  EXPECT_EQ(form.PreviewDelayMs(), 100);
  ASSERT_TRUE(asked.wait(3000));
  EXPECT_EQ(asked.last().at(0).toStringList(), QStringList{a});
  EXPECT_EQ(asked.last().at(1).value<std::vector<bool>>(), std::vector<bool>{false});

  // A ticked file and another selected: both, the selected one highlighted.
  form.FileList->topLevelItem(2)->setSelected(true);
  std::vector<bool> selected;
  EXPECT_EQ(form.PreviewPaths(&selected), (QStringList{a, c}));
  EXPECT_EQ(selected, (std::vector<bool>{false, true}));
  EXPECT_EQ(form.PreviewDelayMs(), 500);

  // Unticking the box ends the preview and stops asking.
  asked.clear();
  form.CheckShowTrack->setChecked(false);
  EXPECT_EQ(ended.size(), 1);
  form.FileList->topLevelItem(1)->setCheckState(0, Qt::Checked);
  QTest::qWait(700);
  EXPECT_TRUE(asked.isEmpty());

  // Ticked again: drawn again; closing the window ends it.
  form.CheckShowTrack->setChecked(true);
  ASSERT_TRUE(asked.wait(3000));
  form.close();
  EXPECT_EQ(ended.size(), 2);
  settings::kGpsLogShowTrack.Reset();
}

// Converting track.gpx to .dat asks before it replaces the recorder's own
// track.dat (declined: kept byte for byte); what this window wrote itself
// is replaced without asking. "Delete" deletes exactly what its question
// lists; a log that cannot be deleted stays listed, named with the reason.
TEST_F(TConverterFixture, ReplacesAndDeletesOnlyWhatItWroteOrWasAskedAbout) {
  const QString gpx = Copy("convert/logger.gpx", "track.gpx");
  const QString dat = dir.filePath("track.dat"), kml = dir.filePath("track.kml");
  const QByteArray recorder = "[S]\t0.01\t0.02\t0.98\r\n";
  {
    QFile f(dat);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(recorder);
  }
  form.Open({gpx});
  for (int i = 0; i < form.Converters->count(); ++i)
    if (form.Converters->item(i)->text().contains(".dat"))
      form.Converters->item(i)->setCheckState(Qt::Checked);
  auto convert = [&](bool yes) {
    questions.clear();
    answer = yes;
    form.SetAllTicked(true);
    return RunConvert();
  };
  ASSERT_TRUE(convert(false));
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].contains(dat));
  EXPECT_FALSE(questions[0].contains(kml));
  EXPECT_EQ(ReadAll(dat), recorder);
  EXPECT_TRUE(QFile::exists(kml));
  ASSERT_TRUE(convert(true));
  EXPECT_EQ(questions.size(), 1);  // the .dat again, not the window's own .kml
  EXPECT_NE(ReadAll(dat), recorder);
  ASSERT_TRUE(convert(false));
  EXPECT_TRUE(questions.isEmpty());  // both are the window's own now

  const QString mine = dir.filePath("track.plt");
  {
    QFile f(mine);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("the user's own file");
  }
  form.FileList->setCurrentItem(form.FileList->topLevelItem(0));
  questions.clear();
  answer = true;
  {
    TProtectedFolder protect(dir.path().toStdString());
    if (protect.Ok()) {
      form.PopupMenu->findChild<QAction *>("N_FileList_DelDisk")->trigger();
      ASSERT_FALSE(messages.isEmpty());
      EXPECT_TRUE(messages.last().startsWith(QString::fromStdString(LangText("Mes_CannotDelete"))));
      EXPECT_TRUE(messages.last().contains(gpx + ": "));
      EXPECT_EQ(form.Paths(), QStringList{gpx});
      EXPECT_TRUE(QFile::exists(gpx));
    }
  }
  questions.clear();
  form.PopupMenu->findChild<QAction *>("N_FileList_DelDisk")->trigger();
  ASSERT_EQ(questions.size(), 1);
  for (const QString &f : {gpx, kml, dat}) EXPECT_TRUE(questions[0].contains(f));
  EXPECT_FALSE(questions[0].contains(mine));
  EXPECT_EQ(Files(), QStringList{"track.plt"});
  EXPECT_TRUE(form.Paths().isEmpty());
}
