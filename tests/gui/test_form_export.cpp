// "Export Video" from the cutting window on a real two-clip trip: an export
// that ffmpeg plays with the stored choices, and a cancelled one that
// leaves nothing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "TestMedia.h"
#include "app/UnitLang.h"
#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileManager.h"
#include "playback/UnitFormCropping.h"
#include "playback/UnitFormExport.h"

using namespace tachora;
using namespace tachora::test;

namespace {

// Two touching 4 s clips from 12:30:00 with sound, as a loaded trip.
struct TTripFixture {
  TFileManager fm{false, nullptr};
  std::shared_ptr<const TRowTelemetry> trip;

  TTripFixture() {
    TMediaRecipe media;
    media.seconds = 4;
    media.audio = "aac";
    const auto clips = GenerateTrip("export", {4, 4}, "2024-05-01 12:30:00", media);
    for (const std::string &c : clips) fm.OpenRecording(c);
    fm.MergeItems({0, 1}, false);
    trip = std::make_shared<TRowTelemetry>(LoadRowTelemetry(fm, fm.GetItem(0)));
  }
};

TTripFixture &Trip() {
  static TTripFixture fixture;
  return fixture;
}

class FormExport : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    out = QString::fromStdString(
        MakeTempDir("form-export-" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())));
    settings::kCopyFolder.Set(out);
    cropping.Open(Trip().trip, 0.25, 0.75);
    cropping.ButtonExport->click();
    form = cropping.ExportWindow();
    ASSERT_NE(form, nullptr);
    TRenderOptions quick;
    quick.Preset = "ultrafast";
    form->SetRenderOptions(quick);
  }

  QStringList Files() const {
    return QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  }

  QString out;
  QWidget window;
  TFormCropping cropping{&window};
  TFormExport *form = nullptr;
};

}  // namespace

TEST_F(FormExport, ExportsTheSelectionAndKeepsTheChoices) {
  ASSERT_TRUE(form->isVisible());
  // 2 s to 6 s of the trip, an .mp4 in the folder used last.
  const QString name = form->EditFileName->text();
  EXPECT_TRUE(name.startsWith(out)) << name.toStdString();
  EXPECT_TRUE(name.endsWith(" (12-30-02 - 12-30-06).mp4")) << name.toStdString();
  EXPECT_TRUE(form->LabelRange->text().contains("00:00:02 (2024-05-01 12:30:02)"))
      << form->LabelRange->text().toStdString();
  form->ComboLayout->setCurrentIndex(2);
  form->CheckGSensor->setChecked(false);
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) {
    cropping.grab().save(dir + "/cutting_window.png");
    form->grab().save(dir + "/export_window.png");
    InitLanguages(1049);
    cropping.Translate();
    QTest::qWait(200);  // the layouts take the new texts' sizes
    cropping.grab().save(dir + "/cutting_window_ru.png");
    form->grab().save(dir + "/export_window_ru.png");
    InitLanguages(1033);
    cropping.Translate();
  }

  QSignalSpy finished(form, &TFormExport::ExportFinished);
  form->ButtonStart->click();
  EXPECT_TRUE(form->Running());
  EXPECT_FALSE(form->ButtonStart->isEnabled());
  EXPECT_TRUE(form->ButtonCancel->isEnabled());
  if (!dir.isEmpty()) {
    (void)QTest::qWaitFor([&]() { return form->Progress->value() > 0 || !form->Running(); }, 30000);
    form->grab().save(dir + "/export_running.png");
  }
  ASSERT_TRUE(finished.wait(60000));
  const auto result = finished.first().at(0).value<TRenderResult>();
  ASSERT_TRUE(result.Written) << RenderFailureText(result).toStdString();
  EXPECT_EQ(QString::fromStdString(result.Path), name);
  EXPECT_FALSE(form->isVisible());
  std::string errors;
  EXPECT_TRUE(DecodesCleanly(result.Path, &errors)) << errors;
  const auto streams = ProbeStreams(result.Path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_NEAR(streams[0].duration, 4.0, 0.05);  // across the joint of the clips

  EXPECT_EQ(settings::kExportLayout.Get(), "main");
  EXPECT_EQ(settings::kExportOverlay.Get(), "time,speed,position");
  TFormExport again(&window);
  EXPECT_EQ(again.ComboLayout->currentIndex(), 2);
  EXPECT_TRUE(again.CheckTime->isChecked());
  EXPECT_FALSE(again.CheckGSensor->isChecked());
}

TEST_F(FormExport, CancelLeavesNoFileAndTheWindowUsable) {
  QSignalSpy finished(form, &TFormExport::ExportFinished);
  form->ButtonStart->click();
  form->ButtonCancel->click();
  EXPECT_TRUE(form->isVisible());  // until the worker has cleaned up
  ASSERT_TRUE(finished.wait(60000));
  const auto result = finished.first().at(0).value<TRenderResult>();
  EXPECT_FALSE(result.Written);
  EXPECT_TRUE(result.Cancelled);
  EXPECT_TRUE(Files().isEmpty()) << Files().join(", ").toStdString();
  EXPECT_TRUE(form->ButtonStart->isEnabled());
  form->ButtonCancel->click();
  EXPECT_FALSE(form->isVisible());
}
