// Tachora, the desktop viewer for dash-camera recordings.
//
//   tachora [--demo | PATH...]
//
// PATHs are recordings, recorder ".dat" files (their video is opened) or
// folders (searched); without any the usual places are searched. --demo makes
// a small demo card once under the user's cache folder and opens it.
#include <QStringList>
#include <clocale>
#include <cstdio>

#include "app/UnitException.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitUtils.h"

int main(int argc, char **argv) {
  tachora::TApplication app(argc, argv);
  // Numbers are always written with "." (libmpv also needs the C numeric locale).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setOrganizationName("Tachora");
  QApplication::setApplicationName("Tachora");
  QApplication::setApplicationVersion(TACHORA_VERSION);
  tachora::InitLocalTimeOffset();
  tachora::InitLanguages(tachora::SystemLanguageId());

  QStringList paths;
  bool demo = false;
  const QStringList args = QApplication::arguments().mid(1);
  for (const QString &a : args) {
    if (a == "--demo") {
      demo = true;
    } else if (a == "--help" || a == "-h") {
      std::printf(
          "Usage: tachora [--demo | PATH...]\n"
          "  PATH    recordings, recorder .dat files or folders to open\n"
          "  --demo  make a small demo card (once) and open it\n");
      return 0;
    } else if (a == "--version") {
      std::printf("Tachora %s\n", TACHORA_VERSION);
      return 0;
    } else {
      paths << a;
    }
  }

  tachora::TFormMain window(paths, demo);
  window.ShowStored();
  return app.exec();
}
