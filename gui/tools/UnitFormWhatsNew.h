// The what's-new window: the change log kept in the program (WhatsNew.txt,
// newest release first) in a read-only text box. A top-level window of its
// own, so it may lie behind the main window. UI thread only.
#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace tachora {

// The change log text compiled into the program (UTF-8).
QString WhatsNewText();

class TFormWhatsNew : public QWidget {
  Q_OBJECT
 public:
  TFormWhatsNew();
  void Translate();
  QPlainTextEdit *Memo = nullptr;
};

}  // namespace tachora
