// The grouping window ("Group with"): a copy of the recording list with a
// check box on every row, and a place for the map preview of the checked
// and focused rows' tracks. "Group" joins the checked rows into one trip
// (TFileManager::MergeItems, rows re-sorted); one checked row changes
// nothing. Rows are held by their stable ids, so a catalogue that changes
// while the window is open joins the rows the user checked.
//
// The window is window-modal and shown with open(); it frees itself when
// closed. Each click or change of selection restarts the preview timer
// (500 ms when more than one row is focused or checked, else 100 ms); when
// it fires, PreviewRequested names the rows whose tracks the map shows.
// UI thread only.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

class QFrame;
class QPushButton;
class QTableView;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tachora {

class TFileManager;
class TRecordListModel;

class TFormGroup : public QDialog {
  Q_OBJECT
 public:
  // Copies the rows and columns of `list` (its model is a
  // TRecordListModel); `selectedId` is checked, selected and shown.
  TFormGroup(const QTableView &list, uint64_t selectedId, TFileManager *fm, QWidget *parent);

  void Translate();
  // Checked rows in list order.
  std::vector<uint64_t> CheckedIds() const;
  // The rows of the preview: focused or checked, in list order.
  std::vector<uint64_t> PreviewIds() const;
  uint64_t FocusedId() const;
  void SetChecked(uint64_t id, bool checked);
  int PreviewDelayMs() const;
  // "Group": merges the checked rows, closes the window.
  void Group();

  QTreeWidget *ListView = nullptr;
  QFrame *PanelPreview = nullptr;
  QPushButton *ButtonGroup = nullptr, *ButtonCancel = nullptr;
  QTimer *TimerPreview = nullptr;

 signals:
  // The tracks of these rows are to be shown; `highlighted` is the focused
  // row's id (0: none highlighted, as when only one row is shown).
  void PreviewRequested(std::vector<uint64_t> ids, uint64_t highlighted);

 private:
  void RestartPreviewTimer();
  QTreeWidgetItem *ItemOf(uint64_t id) const;

  TFileManager *fm_;
};

// Joins the rows `ids` (in any order) with MergeItems, the rows re-sorted;
// fewer than two rows that the catalogue still holds change nothing.
// Returns whether rows were joined.
bool MergeRowsById(TFileManager &fm, const std::vector<uint64_t> &ids);

// Opens the grouping window for the list's highlighted row.
TFormGroup *StartGroupWindow(const QTableView &list, uint64_t selectedId, TFileManager *fm,
                             QWidget *parent);

}  // namespace tachora
