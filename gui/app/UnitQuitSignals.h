// The signals that end a desktop program from outside: SIGTERM (the session
// ends, `kill`), SIGINT (Ctrl+C in the terminal it was started from) and
// SIGHUP (that terminal closed). Their default action ends the process at
// once, losing what is saved at close (panel sizes, the open folder) and
// leaving temporary folders behind. Here the first one becomes a Qt signal
// in the UI thread (the window then closes as by its close button); a
// second one, should the close hang, ends the process as before.
//
// One object per process; UI thread only.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace tachora {

class TQuitSignals : public QObject {
  Q_OBJECT
 public:
  explicit TQuitSignals(QObject *parent = nullptr);
  ~TQuitSignals() override;
  // False when the handlers could not be installed (the defaults stay).
  bool Installed() const { return notifier_ != nullptr; }

 signals:
  void QuitRequested(int signal);

 private:
  QSocketNotifier *notifier_ = nullptr;
};

}  // namespace tachora
