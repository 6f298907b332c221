// Tachora, the desktop viewer for dash-camera recordings.
//
//   tachora [--demo | --new-window | --timing | PATH...]
//
// PATHs are recordings, recorder ".dat" files (their video is opened) or
// folders (searched); without any the usual places are searched. --demo makes
// a small demo card once under the user's cache folder and opens it. While a
// Tachora window runs, a later start hands its PATHs to it and ends.
// --timing writes the moments of start-up to stderr (UnitTiming.h).
#include <QStringList>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "app/UnitException.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitQuitSignals.h"
#include "app/UnitSingleInstance.h"
#include "app/UnitTiming.h"
#include "app/UnitUtils.h"

int main(int argc, char **argv) {
  // Answered before Qt starts, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: tachora [OPTION]... [PATH]...\n"
          "Play dash-camera recordings with their GPS track and G-sensor data.\n"
          "\n"
          "  PATH          recordings, recorder .dat files or folders to open;\n"
          "                without any, the usual places are searched\n"
          "  --demo        make a small demo card (once) and open it\n"
          "  --new-window  open a window of its own even when Tachora runs\n"
          "  --timing      write on stderr when the window, the list, the first\n"
          "                video frame and the map were ready (milliseconds\n"
          "                since the program started)\n"
          "  -h, --help    show this help and exit\n"
          "  --version     show the version and exit\n"
          "\n"
          "While a Tachora window runs, a later start hands its PATHs to it.\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("tachora %s\n", TACHORA_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--timing") == 0) tachora::EnableTiming();
  }
  tachora::MarkTiming("main");
  tachora::TApplication app(argc, argv);
  // From here a signal from outside waits for the window (below).
  tachora::TQuitSignals quitSignals;
  // Numbers are always written with "." (libmpv also needs the C numeric locale).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setOrganizationName("Tachora");
  QApplication::setApplicationName("Tachora");
  QApplication::setApplicationVersion(TACHORA_VERSION);
  // Ties the windows to the installed desktop entry (Wayland's app id).
  QGuiApplication::setDesktopFileName("org.tachora.Tachora");
  tachora::InitLocalTimeOffset();
  tachora::InitLanguages(tachora::SystemLanguageId());

  QStringList paths;
  bool demo = false, newWindow = false;
  const QStringList args = QApplication::arguments().mid(1);
  for (const QString &a : args) {
    if (a == "--demo")
      demo = true;
    else if (a == "--new-window")
      newWindow = true;
    else if (a == "--timing")
      continue;
    else
      paths << a;
  }

  tachora::TSingleInstance instance;
  const bool single = !demo && !newWindow;
  if (single && instance.HandOver(paths)) return 0;

  tachora::TFormMain window(paths, demo);
  if (single) {
    instance.Listen();
    // A start while this window closes opens its own window.
    QObject::connect(&window, &tachora::TFormMain::Closing, &instance,
                     &tachora::TSingleInstance::StopListening);
    QObject::connect(&instance, &tachora::TSingleInstance::PathsReceived, &window,
                     [&window](const QStringList &received) {
                       if (!received.isEmpty()) window.OpenFiles(received);
                       if (window.isMinimized()) window.showNormal();
                       window.raise();
                       window.activateWindow();
                     });
  }
  // Ended from outside (the session, Ctrl+C, the terminal closed): every
  // open question is answered as by Escape, then the window closes as by
  // its close button, saving what it saves at close.
  QObject::connect(&quitSignals, &tachora::TQuitSignals::QuitRequested, &window, [&window]() {
    while (QWidget *modal = QApplication::activeModalWidget())
      if (!modal->close()) break;
    QTimer::singleShot(0, &window, [&window]() { window.close(); });
  });
  window.ShowStored();
  return app.exec();
}
