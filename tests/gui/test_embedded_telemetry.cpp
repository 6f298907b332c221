// Telemetry inside recordings in the windows: the converter takes a video
// and writes its track beside it, and the properties tell embedded
// telemetry and telemetry present but not readable apart, in both
// languages. Pictures of both windows go to TACHORA_SCREENSHOT_DIR when set.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "TestEmbedded.h"
#include "app/UnitLang.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormFileProperty.h"
#include "telemetry/UnitFormGpsConverter.h"

using namespace tachora;
using namespace tachora::test;

namespace {

void Save(QWidget *w, const QString &name) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QTest::qWait(200);
  w->grab().save(dir + "/" + name + ".png");
}

std::string Video(const QTemporaryDir &dir, const std::string &name, TEmbeddedLayout layout) {
  TEmbeddedClip recipe;
  recipe.layout = layout;
  recipe.media.seconds = 10;
  const std::string to = dir.filePath(QString::fromStdString(name)).toStdString();
  QFile::copy(
      QString::fromStdString(GenerateEmbedded(
          "gui-" + name, MakeDrive("2024-05-17 08:30:00", 10, 55.75, 37.6, 54, 90), recipe)),
      QString::fromStdString(to));
  return to;
}

QString Value(const TPropertyRows &rows, const QString &label) {
  for (const auto &[l, v] : rows)
    if (l.trimmed() == label) return v;
  return "<none>";
}

}  // namespace

TEST(EmbeddedTelemetryWindows, ConverterTakesAVideo) {
  QTemporaryDir dir;
  const QString video =
      QString::fromStdString(Video(dir, "FILE0001.MP4", TEmbeddedLayout::FreeGpsB));
  TFormGPSLog form(nullptr);
  form.Inform = [](const QString &) {};
  form.Ask = [](const QString &) { return true; };
  QSignalSpy filled(&form, &TFormGPSLog::StatsFilled);
  form.Open({video});
  ASSERT_TRUE(QTest::qWaitFor([&]() { return filled.size() == 1; }, 10000));
  EXPECT_EQ(form.FileList->topLevelItem(0)->text(1), "10");
  Save(&form, "converter-video");

  const TConvertResult r = ConvertLogFile(video, {"gpx"});
  EXPECT_TRUE(r.Error.isEmpty()) << r.Error.toStdString();
  ASSERT_EQ(r.Written, QStringList{dir.filePath("FILE0001.gpx")});
  QFile gpx(r.Written[0]);
  ASSERT_TRUE(gpx.open(QIODevice::ReadOnly));
  EXPECT_EQ(gpx.readAll().count("<trkpt"), 10);
}

TEST(EmbeddedTelemetryWindows, PropertiesNameWhereTheTelemetryIs) {
  QTemporaryDir dir;
  const std::string inside = Video(dir, "FILE0001.MP4", TEmbeddedLayout::FreeGpsA);
  const std::string locked = Video(dir, "FILE0002.MP4", TEmbeddedLayout::Encrypted);
  TFileManager fm(false, nullptr);
  const TFileItem readable = fm.OpenRecording(inside);
  const TFileItem unreadable = fm.OpenRecording(locked);
  for (int i = 0; i < static_cast<int>(Languages().size()); ++i) {
    SetCurrentLanguage(i);
    const QString lang = QString::fromStdString(LangText("LangID"));
    const TPropertyRows a = PropertyRows(readable);
    bool embedded = false;
    for (const auto &row : a)
      embedded = embedded || row.second == QString::fromStdString(LangText("Property_Embedded"));
    EXPECT_TRUE(embedded) << lang.toStdString();
    const TPropertyRows b = PropertyRows(unreadable);
    EXPECT_TRUE(Value(b, QString::fromStdString(LangText("MetaInfo")))
                    .startsWith(QString::fromStdString(LangText("Property_TelemetryUnreadable"))))
        << lang.toStdString();
    TFormFileProperty shown(readable, nullptr);
    shown.show();
    Save(&shown, "properties-embedded-" + lang);
    TFormFileProperty note(unreadable, nullptr);
    note.show();
    Save(&note, "properties-unreadable-" + lang);
  }
  SetCurrentLanguage(0);
}
