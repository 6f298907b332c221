// The properties window of a list row: a two-column grid of labels and
// values (the row, each recording of a trip, its telemetry and GPS log) and
// a button that copies the whole grid to the clipboard. A new window each
// time; several may be open; each frees itself when closed. UI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

#include "catalogue/UnitFileItems.h"

class QTableWidget;
class QPushButton;

namespace tachora {

using TPropertyRows = std::vector<std::pair<QString, QString>>;

// The grid rows of a catalogue row, labels translated and indented.
TPropertyRows PropertyRows(const TFileItem &row);
// One line per grid row, label TAB value.
QString PropertyClipboardText(const TPropertyRows &rows);
// "h:mm:ss.zzz" of a millisecond count.
QString PlayLengthText(int64_t ms);

class TFormFileProperty : public QDialog {
  Q_OBJECT
 public:
  TFormFileProperty(const TFileItem &row, QWidget *parent);
  const TPropertyRows &Rows() const { return rows_; }
  void CopyAll();

  QTableWidget *Grid = nullptr;
  QPushButton *ButtonCopyAll = nullptr;

 private:
  TPropertyRows rows_;
};

}  // namespace tachora
