// The "Repair…" window of the recording list: rebuilds a recording cut off
// by power loss (media data without sample tables) into NAME_repaired.MOV
// beside it, learning from a reference recording that the window looks for
// in the same folder (the user may choose another). Looking for the
// reference and the repair itself run on workers; the window shows progress
// and can cancel. A new window each time; it frees itself when closed. UI
// thread only.
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <QString>
#include <atomic>
#include <memory>

#include "container/UnitRepair.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tachora {

// The user's text for a failed repair (language keys).
QString RepairErrorMessage(const TRepairResult &result);

class TFormRepair : public QDialog {
  Q_OBJECT
 public:
  TFormRepair(const QString &broken, QWidget *parent);
  ~TFormRepair() override;

  void SetReference(const QString &path);
  void Start();
  bool Running() const { return running_; }

  QLabel *LabelFile = nullptr;
  QLineEdit *EditReference = nullptr;
  QPushButton *ButtonBrowse = nullptr;
  QLabel *LabelOutput = nullptr;
  QProgressBar *Progress = nullptr;
  QLabel *LabelStatus = nullptr;
  QPushButton *ButtonStart = nullptr;
  QPushButton *ButtonCancel = nullptr;

 signals:
  // A repaired file was written.
  void Repaired(const QString &path);
  // The repair ended (written, refused or cancelled).
  void Finished(bool ok);

 protected:
  void reject() override;

 private:
  void Browse();
  void UpdateButtons();
  void Done(const TRepairResult &result);

  QString broken_, output_;
  bool running_ = false, searching_ = false;
  // Shared with the workers, which may outlive a closed window briefly.
  std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
  QFutureWatcher<std::string> *search_ = nullptr;
  QFutureWatcher<TRepairResult> *repair_ = nullptr;
};

}  // namespace tachora
