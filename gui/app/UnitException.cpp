#include "app/UnitException.h"

#include <QMessageBox>
#include <atomic>

#include "app/UnitCallStack.h"

namespace tachora {

namespace {
TApplication::TReporter gReporter = nullptr;
std::atomic<bool> gTerminating{false};
bool gInReport = false;
}  // namespace

QString ExceptionReportText(const QString &message, const QString &callStack) {
  return "Exception\n\n" + message + "\n\n" + callStack;
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TApplication::Terminating() {
  return gTerminating;
}
void TApplication::SetTerminating(bool terminating) {
  gTerminating = terminating;
}
void TApplication::SetReporter(TReporter reporter) {
  gReporter = reporter;
}

void TApplication::ReportException(const QString &message) {
  if (gTerminating || gInReport) return;
  gInReport = true;
  try {
    // The stack of the handler that caught it: skip this function's own frame.
    const QString text = ExceptionReportText(message, QString::fromStdString(CallStackText(1)));
    if (gReporter)
      gReporter(text);
    else
      QMessageBox::critical(activeWindow(), applicationName(), text);
  } catch (...) {
  }
  gInReport = false;
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const EDirectShowException &) {
  } catch (const std::exception &e) {
    ReportException(QString::fromUtf8(e.what()));
  } catch (...) {
    ReportException("Unknown error");
  }
  return false;
}

}  // namespace tachora
