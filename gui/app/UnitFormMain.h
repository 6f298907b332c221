// TFormMain, the program's main window. It owns what outlives a command: the
// catalogue (TFileManager and its search thread), the recording list's model,
// the menus (TMainMenu), the panels (TMainLayout) and the tool windows, and
// coordinates them: start-up and first show, opening files (dialog, drag and
// drop, command line), the list's commands, window geometry, translation,
// close and "Reset All Settings".
//
// UI thread only. The catalogue's change notification arrives on the search
// thread and is carried over with a blocking queued call; closing tells the
// thread to stop and destroys the catalogue while still serving such calls.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "catalogue/UnitFileItems.h"

class QTimer;

namespace tachora {

class TFileManager;
class TMovingInfo;
class TMainMenu;
class TMainLayout;
class TRecordListModel;
class TFormAbout;
class TFormWhatsNew;

class TFormMain : public QMainWindow {
  Q_OBJECT
 public:
  // `args`: the command-line paths (files or folders). `demo`: make the demo
  // card first and open it.
  explicit TFormMain(const QStringList &args = {}, bool demo = false);
  ~TFormMain() override;

  // Shows the window in its stored state (normal or maximized).
  void ShowStored();

  // The common path of the open dialog, drag and drop and the command line.
  void OpenFiles(const QStringList &paths);
  // The list refresh run by the catalogue's change notification.
  void RefreshRecordList();
  // New catalogue search (Refresh File List).
  void RefreshCatalogue();
  // Applies the current language to every window.
  void Translate();
  // Runs a command of the main menu or of the list's pop-up menu by name.
  void RunCommand(const QString &name);
  // Enables the list's pop-up items for the current selection.
  void UpdateListMenu();

  TMainMenu *Menu() const { return menu_; }
  TMainLayout *Panels() const { return layout_; }
  TRecordListModel *ListModel() const { return model_; }
  TFileManager *FileManager() const { return fm_.get(); }
  TFormAbout *FormAbout() const { return about_; }
  TFormWhatsNew *FormWhatsNew() const { return whatsNew_; }
  QString RememberedCaption() const { return remembered_; }
  int SelectedRow() const;
  void SelectRow(int row);
  // "Attach Track" and "Move video position" once the dialog has answered:
  // change the selected row and prepare it again (its telemetry reloaded).
  void AttachTrackFile(const QString &path);
  void ShiftSelected(TDateTime offset);
  // The geometry the window was given at creation (after correction).
  QRect StartBounds() const { return startBounds_; }
  // The row last prepared for playback (a copy) and the telemetry of each of
  // its recordings, fitted to them and numbered through the trip.
  const TFileItem &CurrentRow() const { return currentRow_; }
  const std::vector<std::unique_ptr<TMovingInfo>> &CurrentTracks() const { return currentTracks_; }

  // Questions (Yes/No) go through this; tests answer them.
  std::function<bool(const QString &text, bool warning)> Ask;
  // Tests build windows without the first-show steps (no search, no shell
  // registration).
  static bool AutoFirstShow;
  // Waits for a catalogue search to finish (tests and the demo).
  bool WaitForSearch(int timeoutMs);

 signals:
  void FirstShowDone();

 protected:
  void closeEvent(QCloseEvent *event) override;
  void moveEvent(QMoveEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void changeEvent(QEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void CreateList();
  void RestoreColumns();
  void SaveColumns();
  void RestoreGeometry();
  void SaveWindowPosition();
  void EnableBuiltCommands();
  void ApplyView(bool byClick);
  void FirstShow();
  void StartDemo();
  void CreateCatalogue(bool autoStart);
  void DestroyCatalogue();
  void RefreshFromSearch();
  void OnSelectionChanged();
  // Copies the row and loads its telemetry, unless it is the current row
  // already (`force` reloads it after its recordings or track changed).
  void PrepareRow(int row, bool force = false);
  void OnColumnClicked(int column);
  void ShowListMenu(const QPoint &pos);
  bool HandleZoomKeys(QKeyEvent *event);
  std::vector<TFileItem> AllRows() const;
  // List commands.
  void AddFilesDialog();
  void DeleteSelectedFromDisk();
  void DeleteAllUnlocked();
  void SetSelectedLocked(bool locked);
  void AttachTrackDialog();
  void MoveVideoPosition();
  void ShowProperties();
  void ResetAllSettings();

  QStringList args_;
  bool demo_ = false;
  TMainMenu *menu_ = nullptr;
  TMainLayout *layout_ = nullptr;
  TRecordListModel *model_ = nullptr;
  TFormAbout *about_ = nullptr;
  TFormWhatsNew *whatsNew_ = nullptr;
  QTimer *timerOnStart_ = nullptr;
  QTimer *columnSaveTimer_ = nullptr;
  QTimer *refreshTimer_ = nullptr;
  QElapsedTimer refreshClock_;
  std::unique_ptr<TFileManager> fm_;
  QString remembered_;
  TFileItem currentRow_;
  std::vector<std::unique_ptr<TMovingInfo>> currentTracks_;
  QRect startBounds_;
  int storedState_ = 0;
  bool created_ = false;
  bool closing_ = false;
  bool statusSpan_ = false;
  bool refreshing_ = false;
  bool busy_ = false;          // OpenFiles is working
  bool closePending_ = false;  // a close asked for while it was
};

}  // namespace tachora
