// Waiting helpers for GUI tests: the window opens files and loads telemetry
// on workers, so a test waits for the signal that says the work is done
// (an event loop of the test's own, never one inside the program).
#pragma once

#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "app/UnitDemo.h"
#include "app/UnitFormMain.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitRecordList.h"
#include "catalogue/UnitRecordListController.h"

namespace tachora::test {

// One demo card for the whole test program (ffmpeg takes a few seconds);
// empty when it could not be made.
inline QString DemoCard() {
  static QTemporaryDir cache;
  static QString folder;
  if (folder.isEmpty()) {
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    TDemoCard demo;
    QSignalSpy done(&demo, &TDemoCard::Finished);
    demo.Start(nullptr);
    if (!done.wait(120000)) return {};
    if (!done.first().at(1).toString().isEmpty()) return {};
    folder = done.first().at(0).toString();
  }
  return folder;
}

// Opens paths as a drop or the open dialog would; true once they are listed.
inline bool Open(TFormMain &form, const QStringList &paths) {
  QSignalSpy done(form.List(), &TRecordListController::FilesOpened);
  form.OpenFiles(paths);
  return done.wait(60000);
}

// Waits until the highlighted row's telemetry is loaded.
inline bool WaitPrepared(TFormMain &form, int timeoutMs = 20000) {
  return QTest::qWaitFor([&form]() { return !form.List()->Preparing(); }, timeoutMs);
}

// Waits until the catalogue's search has found rows and ended, and the list
// shows them. (A search just started may not have set its status yet, so an
// empty catalogue does not count as done.)
inline bool WaitForSearch(TFormMain &form, int timeoutMs) {
  auto done = [&form]() {
    TFileManager *fm = form.List()->FileManager();
    if (!fm || fm->Searching() || fm->RowCount() == 0) return false;
    const TListRow *first = form.List()->Model()->Row(0);
    return (!first || !first->Status) && form.List()->Model()->rowCount() == fm->GetItemCount();
  };
  return QTest::qWaitFor(done, timeoutMs);
}

}  // namespace tachora::test
