// Tachora, the desktop viewer for dash-camera recordings.
#include <QApplication>
#include <QMainWindow>
#include <clocale>

#include "app/UnitLang.h"
#include "app/UnitUtils.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // Numbers are always written with "." (libmpv also needs the C numeric locale).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setOrganizationName("Tachora");
  QApplication::setApplicationName("Tachora");
  QApplication::setApplicationVersion(TACHORA_VERSION);
  tachora::InitLocalTimeOffset();
  tachora::InitLanguages(tachora::SystemLanguageId());

  QMainWindow window;
  window.setWindowTitle("Tachora");
  window.resize(800, 600);
  window.show();
  return app.exec();
}
