// The copy window: one per copy, over a job of the copy engine
// (TFormCopyThread) that runs on its own thread. Every 100 ms it shows the
// current file, the share and amount copied, the speed, the time spent
// (pauses excluded) and the time remaining; "Pause" holds the copy, "Open
// Folder" shows the current copy in the file manager, "Verify copies" turns
// the read-back check on or off for the files still to come (a stored
// setting). The engine's overwrite question and errors are shown here, on
// the UI thread, in window-modal boxes; the copy thread waits for the
// answer, and closing the window answers "no" and stops the copy.
//
// StartCopyWindow() is the "Copy File to Computer" command: the folder
// window first, then the copy window. The window frees itself when closed.
// UI thread only; the job's counters are read without waiting for it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>

#include "catalogue/UnitCopyEngine.h"
#include "catalogue/UnitFileItems.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tachora {

// What the window drives: the engine's job, or a test's fake.
class ICopyJob {
 public:
  virtual ~ICopyJob() = default;
  virtual TCopyProgress Progress() const = 0;
  virtual void SetPaused(bool paused) = 0;
  virtual void SetVerify(bool verify) = 0;
  // Stops the copy; the object may be destroyed on another thread.
  virtual void Terminate() = 0;
};

// The texts of the window's lines at one moment; pure, for tests.
struct TCopyLines {
  QString File, Size, Speed, Remains;
  int Percent = 0;
};
TCopyLines CopyLines(const TCopyProgress &p);
QString CopyOverwriteQuestion(const QString &destination);

class TFormCopy : public QDialog {
  Q_OBJECT
 public:
  // Milliseconds of a steady clock; tests pass their own.
  using TClock = std::function<qint64()>;

  TFormCopy(const QString &rowName, QWidget *parent, TClock clock = {});
  ~TFormCopy() override;

  // Starts showing `job` (already running). For the engine's job, the
  // callbacks that reach this window come from Callbacks().
  void Start(std::unique_ptr<ICopyJob> job);
  // Callbacks for a TFormCopyThread that asks and reports through this
  // window; valid while the window lives (closing answers "no").
  TCopyCallbacks Callbacks();

  void Translate();
  // One refresh of the lines (the timer's tick).
  void UpdateDisplay();
  bool Finished() const { return finished_; }
  // The time line's value in milliseconds (pauses excluded).
  qint64 ElapsedMs() const;
  void SetPaused(bool paused);
  void OpenFolder();

  QLabel *LabelFile = nullptr, *LabelSize = nullptr, *LabelTime = nullptr, *LabelSpeed = nullptr,
         *LabelRemains = nullptr;
  QLabel *ValueFile = nullptr, *ValueSize = nullptr, *ValueTime = nullptr, *ValueSpeed = nullptr,
         *ValueRemains = nullptr;
  QProgressBar *ProgressBar = nullptr;
  QPushButton *ButtonOpenFolder = nullptr, *ButtonPause = nullptr;
  QCheckBox *CheckVerify = nullptr;
  QTimer *TimerProgress = nullptr;

 signals:
  // The job has ended (the display shows the end).
  void CopyFinished();

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  struct TBridge;
  void Finish(const TCopyProgress &p);
  void StopJob();
  void Ask(const QString &destination, uint64_t serial);
  void ShowError(const QString &message);

  QString rowName_;
  TClock clock_;
  std::unique_ptr<ICopyJob> job_;
  std::shared_ptr<TBridge> bridge_;
  qint64 startMs_ = 0, pausedAtMs_ = 0;
  bool paused_ = false, finished_ = false;
  QString lastDestination_;
};

// "Copy File to Computer" for `row`: the folder window (its choice stored
// as "copyFolder"), then a new copy window; nothing happens on Cancel.
void StartCopyWindow(const TFileItem &row, QWidget *parent);

}  // namespace tachora
