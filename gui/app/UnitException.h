// The application object and its error report: an exception that escapes an
// event handler of the UI thread is shown in a message box ("Exception", the
// message, the call stack) and the program goes on. Errors of the player are
// its own business and are not shown here.
//
// UI thread only.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>

namespace tachora {

// Thrown by the player for errors it reports itself; the report drops it.
class EDirectShowException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text of the report: "Exception", a blank line, the message, a blank
// line and the call stack.
QString ExceptionReportText(const QString &message, const QString &callStack);

class TApplication : public QApplication {
 public:
  TApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;

  // Shows the report unless the program is ending; failures are ignored.
  // Tests replace the box by a function of their own.
  static void ReportException(const QString &message);
  using TReporter = void (*)(const QString &text);
  static void SetReporter(TReporter reporter);
  static bool Terminating();
  static void SetTerminating(bool terminating);
};

}  // namespace tachora
