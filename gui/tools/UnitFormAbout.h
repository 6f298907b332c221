// The about window: product name and version, the recorders the program was
// made for, the versions of Qt and libmpv in use and, when the build names
// one (TACHORA_LICENCE), the licence. Nothing else: no address is shown
// that the project does not have. Created once with the main window, shown
// non-modally from the Help menu; Translate() sets its caption and lines.
// UI thread only.
#pragma once

#include <QDialog>

class QLabel;

namespace tachora {

// "v2.6" from the program's version "2.6.0".
QString ShortVersionText();
// "Qt 6.4.2, libmpv 2.0": the versions in use at run time.
QString LibraryVersionsText();
// The licence the build names; empty when it names none.
QString LicenceText();

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget *mainWindow);
  void Translate();

  QLabel *LabelTitle = nullptr;
  QLabel *LabelVer = nullptr;
  QLabel *LabelBases = nullptr;
  QLabel *LabelLibraries = nullptr;
  QLabel *LabelLicence = nullptr;  // hidden when the build names no licence

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  QWidget *mainWindow_;
};

}  // namespace tachora
