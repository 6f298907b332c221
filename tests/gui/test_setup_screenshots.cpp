// Pictures of the device setup, update and GPS log converter windows for a
// person to look at, in English and Russian: runs only when
// TACHORA_SCREENSHOT_DIR names a folder, e.g. under xvfb-run with
// TACHORA_TEST_DISPLAY=1.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/UnitLang.h"
#include "app/UnitStartup.h"
#include "telemetry/UnitFormGpsConverter.h"
#include "tools/UnitFormAutoUpdate.h"
#include "tools/UnitFormSetupDevice.h"

using namespace tachora;

namespace {

void Save(QWidget *w, const QString &name) {
  QApplication::processEvents();
  QTest::qWait(150);
  w->grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/" + name + ".png");
}

}  // namespace

TEST(Screenshots, SetupUpdateAndConverterWindows) {
  if (qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR"))
    GTEST_SKIP() << "TACHORA_SCREENSHOT_DIR not set";
  QApplication::setWindowIcon(AppIcon());
  for (int lang = 0; lang < 2; ++lang) {
    InitLanguages(lang == 0 ? 1033 : 1049);
    const QString suffix = lang == 0 ? "_en" : "_ru";
    QTemporaryDir card;

    TFormSetupDevice setup(nullptr);
    setup.Ask = [](const QString &) { return true; };
    setup.show();
    QTest::qWait(50);  // the window lists the real drives first
    setup.SetDrives({{card.path(), "CARD", 8LL << 30, 5LL << 29}});
    Save(&setup, "setup" + suffix);
    setup.ComboBoxFrameSize->showPopup();
    QTest::qWait(150);
    Save(setup.ComboBoxFrameSize->view()->window(), "setup_framesizes" + suffix);
    setup.ComboBoxFrameSize->hidePopup();
    setup.hide();

    TFormAutoUpdate update(nullptr);
    update.ShowOffer(ParseUpdateInfo("version=2.7\r\ndownloadurl=http://a.example/t\r\n"));
    Save(&update, "update" + suffix);
    update.ProgressBar->show();
    update.ProgressBar->setRange(0, 1000);
    update.ProgressBar->setValue(400);
    THttpReply half;
    half.Feed("HTTP/1.1 200 OK\r\nContent-Length: 2560\r\n\r\n" + std::string(1024, 'x'));
    update.LabelProgress->setText(QString::fromStdString(half.ProgressText()));
    update.LabelProgress->show();
    update.ButtonBrowser->hide();
    update.LabelNote->hide();
    Save(&update, "update_progress" + suffix);
    update.hide();

    QFile::copy(QString(TACHORA_TEST_DATA) + "/telemetry/dvr.log", card.filePath("track01.log"));
    QFile::copy(QString(TACHORA_TEST_DATA) + "/telemetry/sample.dat",
                card.filePath("FILE0001.dat"));
    TFormGPSLog converter(nullptr);
    QSignalSpy filled(&converter, &TFormGPSLog::StatsFilled);
    converter.Open({card.filePath("FILE0001.dat"), card.filePath("track01.log")});
    converter.resize(760, 360);
    EXPECT_TRUE(QTest::qWaitFor([&]() { return filled.size() == 2; }, 10000));
    converter.FileList->topLevelItem(1)->setCheckState(0, Qt::Checked);
    Save(&converter, "gps_converter" + suffix);
    converter.PopupMenu->popup(converter.mapToGlobal(QPoint(100, 80)));
    QTest::qWait(150);
    Save(converter.PopupMenu, "gps_converter_popup" + suffix);
    converter.PopupMenu->hide();
  }
  InitLanguages(1033);
}
