// The device setup window: pick a removable drive, read its "setup.cfg",
// show the frame size, time zone and G-sensor sensitivities, and write the
// changed bytes back (UnitSetupConfig). Created once with the main window,
// shown non-modally, stays on top. Questions, messages and the custom code
// input go through replaceable functions so tests can answer them.
//
// UI thread only. The file is a few hundred bytes: it is read and written
// on this thread.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <functional>

#include "tools/UnitSetupConfig.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace tachora {

class TFormSetupDevice : public QDialog {
  Q_OBJECT
 public:
  explicit TFormSetupDevice(QWidget *mainWindow);
  void Translate();

  // Lists the drives (tests give their own folders) and, with exactly one,
  // loads it.
  void SetDrives(const QList<TSetupDrive> &drives);
  // Loads the drive at `index` of the list (the user's choice).
  void LoadDrive(int index);
  // Writes the settings; true when written (the window then closes).
  bool Write();

  const QByteArray &SetupData() const { return data_; }
  QString SetupPath() const { return path_; }

  std::function<bool(const QString &text)> Ask;
  std::function<void(const QString &text, bool error)> Inform;
  // The custom frame size code: (caption, prompt, current) -> code, or -1
  // when cancelled.
  std::function<int(const QString &caption, const QString &prompt, int current)> AskCode;

  QComboBox *ComboBoxDevice = nullptr;
  QComboBox *ComboBoxFrameSize = nullptr;
  QComboBox *ComboBoxTimeZone = nullptr;
  QSlider *GSensor[3] = {};
  QLabel *LabelValue[3] = {};
  QPushButton *ButtonWrite = nullptr;
  QPushButton *ButtonCancel = nullptr;

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  void EnableSettings(bool on);
  void OnFrameSizeChosen(int row, bool byUser);
  void SetCustomText();

  QWidget *mainWindow_;
  QLabel *picture_ = nullptr;
  QLabel *labelDevice_ = nullptr;
  QLabel *labelFrameSize_ = nullptr;
  QLabel *labelTimeZone_ = nullptr;
  QLabel *labelGSensor_ = nullptr;
  QList<TSetupDrive> drives_;
  QString path_;
  QByteArray data_;
  bool loading_ = false;
};

}  // namespace tachora
