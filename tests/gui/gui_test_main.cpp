// GoogleTest entry point for GUI tests: one QApplication for the whole
// program, the offscreen platform unless a display is wanted, and a private
// settings file so tests never touch the user's settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <clocale>

#include "app/UnitLang.h"
#include "app/UnitRecentFiles.h"
#include "app/UnitReg.h"
#include "app/UnitUtils.h"

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
      !qEnvironmentVariableIsSet("TACHORA_TEST_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // Metric units by default whatever the machine's locale (View -> Units
  // follows the locale's measurement system).
  qputenv("LC_MEASUREMENT", "C");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QTemporaryDir dir;
  tachora::SetSettingsFile(dir.filePath("Tachora.conf"));
  tachora::InitLocalTimeOffset();
  tachora::InitLanguages(1033);
  tachora::TRecentFiles::WriteDesktopList = false;
  return RUN_ALL_TESTS();
}
