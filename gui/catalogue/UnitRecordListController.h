// The recording list of the main window: owns the catalogue (TFileManager
// and its search thread), the list view's model and delegate, the selection,
// the refresh, the column layout store and every command of the list's
// pop-up menu (bound by name in the command registry). It opens files and
// prepares the selected row for the player.
//
// Commands act on the highlighted row's stable id (TFileItem::Id), never on
// a row number: a search may re-sort the catalogue between the list's last
// refresh and the command.
//
// Threads: UI thread only. The catalogue's change notification only sets a
// flag and posts one queued refresh (the search thread never waits for this
// thread). Opening files and loading a row's telemetry run on the
// controller's worker pool; the newest selection wins, and files given while
// others are opening are queued. Shutdown() stops the search, waits for the
// workers and destroys the catalogue.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileItems.h"

class QPoint;
class QTimer;
class QWidget;

namespace tachora {

class TCommands;
class TFileManager;
class TFormGroup;
class TRecordListModel;

// A row ready for the player: a copy of the catalogue row and the telemetry
// of each of its recordings, fitted to them and numbered through the trip.
using TPreparedRow = std::shared_ptr<const TRowTelemetry>;

class TRecordListController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  // Yes/No questions go through `ask` (the window's; tests answer them).
  using TAsk = std::function<bool(const QString &text, bool warning)>;

  TRecordListController(QWidget *window, const TListPanel &panel, TCommands &commands,
                        const TAsk &ask);
  ~TRecordListController() override;

  // ---- catalogue ----
  // A new catalogue; `autoStart` starts the search of the usual places.
  void CreateCatalogue(bool autoStart);
  // New search with the stored sort order ("Refresh File List").
  void RefreshCatalogue();
  // Stops the search, waits for the workers and destroys the catalogue.
  void Shutdown();
  TFileManager *FileManager() const { return fm_.get(); }
  // For work on a worker that must outlive a catalogue replaced meanwhile.
  std::shared_ptr<TFileManager> SharedFileManager() const { return fm_; }

  // ---- the list ----
  void RefreshRecordList();
  TRecordListModel *Model() const { return model_; }
  int SelectedRow() const;
  // The highlighted row's id; 0 when none (or the status line).
  uint64_t SelectedId() const;
  void SelectRow(int row);
  QString RememberedCaption() const { return remembered_; }
  // Enables the pop-up items for the highlighted row.
  void UpdateListMenu();
  void ShowListMenu(const QPoint &pos);
  void Translate() override;

  // ---- opening ----
  // Opens files and folders on a worker; while a batch is opening, further
  // ones wait their turn. `selectFirst`: select the first row when done and
  // play it (the command line). Otherwise the files join the list and the
  // player's trip stays: only a player with nothing open is shown the last
  // opened recording (paused, as by a click), which is then selected.
  void OpenFiles(const QStringList &paths, bool selectFirst = false);
  bool Opening() const { return opening_; }
  void AddFilesDialog();

  // ---- the prepared row ----
  TPreparedRow Prepared() const { return prepared_; }
  // The highlighted row's telemetry is still loading.
  bool Preparing() const { return preparing_; }
  // Nothing prepared yet: an empty row and no tracks.
  const TFileItem &CurrentRow() const;
  const std::vector<std::unique_ptr<TMovingInfo>> &CurrentTracks() const;

  // "Attach Track" and "Move video position" once the dialog has answered:
  // change the highlighted row and prepare it again.
  void AttachTrackFile(const QString &path);
  void ShiftSelected(TDateTime offset);

  // The file dialog's filters, first the recorders' own.
  static QStringList OpenDialogFilters();

  // Whether the player has a trip open, playing or paused (the window's;
  // none by default).
  std::function<bool()> PlayerHasTrip;
  // Messages (a delete that left files on the disk); replaceable for tests.
  std::function<void(const QString &text)> Inform;

 signals:
  // A batch of OpenFiles is done (the list shows it, the row is selected).
  void FilesOpened();
  // Paths handed to OpenFiles (the open dialog, drops, the command line).
  void PathsOpening(const QStringList &paths);
  // "Delete All Unlocked Files from Disk" has finished.
  void DeletionDone();
  // The highlighted row is prepared (its telemetry loaded).
  void RowPrepared(tachora::TPreparedRow row);
  // Open, double click or Enter: the prepared row for the player, to play.
  void OpenRequested(tachora::TPreparedRow row);
  // A click on a row (or files opened while the player has nothing open):
  // the prepared row for the player, paused on its first frame.
  void ShowRequested(tachora::TPreparedRow row);
  // Files on disk are about to be deleted, or a row's track or timing
  // changes: the player stops first (connected directly, so it has stopped on return).
  void FilesChanging();
  // "Group with" opened its window (it frees itself when closed).
  void GroupWindowOpened(tachora::TFormGroup *form);

 private:
  struct TOpenBatch {
    QStringList Paths;
    bool SelectFirst = false;
    // Set when the batch starts: the player's trip and the list's
    // selection (its caption) stay.
    bool KeepTrip = false;
    QString Remembered;
  };

  void SetUpView();
  void BindCommands();
  void RestoreColumns();
  void SaveColumns();
  void OnColumnClicked(int column);
  void OnSelectionChanged();
  void RefreshFromSearch();
  void DestroyCatalogue();
  void StartNextOpen();
  // Loads the row's telemetry on a worker unless it is the row asked for
  // last (`force`: again, after its recordings or track changed).
  void PrepareRow(uint64_t id, bool force = false);
  // The highlighted row, by id, as the catalogue holds it now.
  bool HighlightedItem(TFileItem &out) const;
  void OpenHighlighted();
  // Hands the highlighted row to the player paused, once it is prepared.
  void ShowHighlighted();
  void RemoveHighlighted();
  void DeleteHighlightedFromDisk();
  void DeleteAllUnlocked();
  void SetHighlightedLocked(bool locked);
  void SplitHighlighted();
  void AttachTrackDialog();
  void MoveVideoPosition();
  void ShowProperties();
  void RepairHighlighted();
  void ShowInFileManager();
  void ClearList();

  QWidget *window_;
  TListPanel panel_;
  TCommands &commands_;
  const TAsk &ask_;
  TRecordListModel *model_ = nullptr;
  QTimer *columnSaveTimer_ = nullptr;
  QTimer *refreshTimer_ = nullptr;
  QThreadPool pool_;
  std::shared_ptr<TFileManager> fm_;
  // One per catalogue: set while a refresh is posted and not yet run.
  struct TNotifyFlag;
  std::shared_ptr<TNotifyFlag> notify_;
  qint64 lastRefreshMs_ = -1;
  QString remembered_;
  bool statusSpan_ = false;
  bool refreshing_ = false;
  bool restoring_ = true;  // column changes while the layout is restored are not saved
  // Opening.
  std::deque<TOpenBatch> openQueue_;
  bool opening_ = false;
  bool deleting_ = false;  // "Delete All Unlocked Files" is working
  // Preparing: the id asked for last and the serial that wins.
  uint64_t requestedId_ = 0;
  uint64_t prepareSerial_ = 0;
  bool preparing_ = false;   // the load of requestedId_ is running
  uint64_t preparedId_ = 0;  // the id prepared_ was loaded for
  bool openWhenPrepared_ = false;
  bool showWhenPrepared_ = false;
  TPreparedRow prepared_;
};

}  // namespace tachora
