// The about window: product name and version, the recorders the program was
// made for, the authors' contact actions (mail, web site) and a donation
// button. Created once with the main window, shown non-modally from the Help
// menu; Translate() sets its caption, hints and author lines. UI thread only.
#pragma once

#include <QDialog>

class QLabel;
class QToolButton;

namespace tachora {

// The program's own contact points.
constexpr const char *kSiteAddress = "https://tachora.example.org";
constexpr const char *kMailAddress = "authors@tachora.example.org";
constexpr const char *kDonatePage = "https://tachora.example.org/donate";

// "v2.6" from the program's version "2.6.0".
QString ShortVersionText();

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget *mainWindow);
  void Translate();
  // The addresses the actions open (mailto with subject and body; donation
  // page with the language id).
  static QString MailUrl();
  static QString DonateUrl();

  QLabel *LabelTitle = nullptr;
  QLabel *LabelVer = nullptr;
  QLabel *LabelBases = nullptr;
  QLabel *LabelName = nullptr;
  QLabel *LabelMail = nullptr;
  QLabel *LabelCity = nullptr;
  QLabel *LabelSite = nullptr;
  QToolButton *ButtonDonate = nullptr;

 protected:
  void showEvent(QShowEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  QWidget *mainWindow_;
};

}  // namespace tachora
