#include "catalogue/UnitRecordListController.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>
#include <atomic>

#include "app/UnitCommands.h"
#include "app/UnitDesktopIntegration.h"
#include "app/UnitGEventMarks.h"
#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitRecentFiles.h"
#include "app/UnitSettings.h"
#include "app/UnitStartup.h"
#include "app/UnitText.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormCopy.h"
#include "catalogue/UnitFormFileProperty.h"
#include "catalogue/UnitFormGroup.h"
#include "catalogue/UnitFormRepair.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

struct TRecordListController::TNotifyFlag {
  std::atomic<bool> Pending{false};
};

namespace {

// Between two refreshes driven by the search at least this much time passes;
// a change in between is shown by the timer.
constexpr int kRefreshGapMs = 100;

std::array<QString, kListColumns> ListColumnTitles() {
  return {L("Name"),
          L("Duration"),
          L("DateTime"),
          L("FileList_Track_Length") + ", " + DistanceUnit(),
          L("AvgSpeed") + ", " + SpeedUnit(),
          L("FileFullPath"),
          L("Size") + ", " + L("Mb"),
          L("PictureSize"),
          L("Kind"),
          L("Events"),
          L("Channels")};
}

qint64 NowMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

TRecordListController::TRecordListController(QWidget *window, const TListPanel &panel,
                                             TCommands &commands, const TAsk &ask)
    : QObject(window), window_(window), panel_(panel), commands_(commands), ask_(ask) {
  // Telemetry loads, file opening and joining an old catalogue's search.
  pool_.setMaxThreadCount(3);
  SetUpView();
  BindCommands();
  RestoreColumns();
  restoring_ = false;
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  refreshTimer_->setInterval(kRefreshGapMs);
  connect(refreshTimer_, &QTimer::timeout, this, &TRecordListController::RefreshRecordList);
  UpdateListMenu();
  Inform = [this](const QString &text) { QMessageBox::warning(window_, "Tachora", text); };
}

TRecordListController::~TRecordListController() {
  Shutdown();
}

void TRecordListController::SetUpView() {
  QTableView *list = panel_.ListView;
  model_ = new TRecordListModel(this);
  list->setModel(model_);
  list->setItemDelegate(new TRecordListDelegate(list));
  list->setShowGrid(false);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setWordWrap(false);
  list->verticalHeader()->hide();
  list->verticalHeader()->setDefaultSectionSize(18);
  list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  QHeaderView *header = list->horizontalHeader();
  header->setSectionsMovable(true);
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(1);
  // Narrow columns show the start of their title, cut with an ellipsis.
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setTextElideMode(Qt::ElideRight);
  for (int c = 0; c < kListColumns; ++c) header->resizeSection(c, kListColumnWidths[c]);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this, &TRecordListController::ShowListMenu);
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TRecordListController::OnSelectionChanged);
  connect(header, &QHeaderView::sectionClicked, this, &TRecordListController::OnColumnClicked);
  connect(header, &QHeaderView::sectionMoved, this, [this]() {
    if (!restoring_) SaveColumns();
  });
  // A column resize is saved once the drag pauses, not for every pixel.
  columnSaveTimer_ = new QTimer(this);
  columnSaveTimer_->setSingleShot(true);
  columnSaveTimer_->setInterval(300);
  connect(columnSaveTimer_, &QTimer::timeout, this, &TRecordListController::SaveColumns);
  connect(header, &QHeaderView::sectionResized, this, [this]() {
    if (!restoring_) columnSaveTimer_->start();
  });
  // The list's own keys (Enter, Ins, Del, F5, Shift+C, Shift+Del) work while
  // it has the focus; Ctrl+N is the main menu's.
  for (QAction *a : commands_.Menu()->PopupMenuListView()->actions())
    if (!a->isSeparator() && a->objectName() != "N_FileList_Clear") list->addAction(a);
  connect(list, &QAbstractItemView::doubleClicked, this,
          [this]() { commands_.Run("N_FileList_Open"); });
  // A click shows the row in the player, paused (a double click plays it).
  connect(list, &QAbstractItemView::clicked, this, &TRecordListController::ShowHighlighted);
}

void TRecordListController::BindCommands() {
  TCommands &c = commands_;
  c.Bind("N_File_Open", [this]() { AddFilesDialog(); });
  c.Bind("N_FileList_Add", [this]() { AddFilesDialog(); });
  c.Bind("N_FileList_Refresh2", [this]() { RefreshCatalogue(); });
  c.Bind("N_FileList_Refresh", [this]() { RefreshCatalogue(); });
  c.Bind("N_FileList_Clear2", [this]() { ClearList(); });
  c.Bind("N_FileList_Clear", [this]() { ClearList(); });
  c.Bind("N_FileList_Open", [this]() { OpenHighlighted(); });
  c.Bind("N_FileList_Del", [this]() { RemoveHighlighted(); });
  c.Bind("N_FileList_DelDisk", [this]() { DeleteHighlightedFromDisk(); });
  c.Bind("N_FileList_DelDiskAll", [this]() { DeleteAllUnlocked(); });
  c.Bind("N_FileList_SetLock", [this]() { SetHighlightedLocked(true); });
  c.Bind("N_FileList_UnsetLock", [this]() { SetHighlightedLocked(false); });
  c.Bind("N_FileList_Ungroup", [this]() { SplitHighlighted(); });
  c.Bind("N_FileList_Group_Auto", [this]() {
    if (fm_) fm_->AutoGroup();
  });
  c.Bind("N_FileList_Ungroup_All", [this]() {
    if (fm_) fm_->UngroupAll();
  });
  c.Bind("N_FileList_Track_Set", [this]() { AttachTrackDialog(); });
  c.Bind("N_FileList_Track_Move", [this]() { MoveVideoPosition(); });
  c.Bind("N_FileList_ShowExplorer", [this]() { ShowInFileManager(); });
  c.Bind("N_FileList_Property", [this]() { ShowProperties(); });
  c.Bind("N_FileList_Repair", [this]() { RepairHighlighted(); });
  c.Bind("N_FileList_Copy", [this]() {
    TFileItem item;
    if (HighlightedItem(item)) StartCopyWindow(item, window_);
  });
  for (const char *item : kListFilterItems) c.Bind(item, [this]() { RefreshRecordList(); });
  c.Bind("N_FileList_Group_With", [this]() {
    if (fm_ && fm_->RowCount() > 0)
      emit GroupWindowOpened(StartGroupWindow(*panel_.ListView, SelectedId(), fm_.get(), window_));
  });
}

void TRecordListController::Translate() {
  model_->SetTitles(ListColumnTitles());
  if (fm_) fm_->Retranslate();  // "today" and the distance unit live in the rows' texts
  RefreshRecordList();
}

// ---- column layout ---------------------------------------------------------

void TRecordListController::RestoreColumns() {
  QHeaderView *header = panel_.ListView->horizontalHeader();
  for (int n = 0; n < kListColumns; ++n) {
    const TSetting<int> width = settings::ColumnWidth(n, kListColumnWidths[n]);
    if (!width.Stored()) continue;
    const int w = width.Get(-1);
    if (w < 0) continue;
    if (w == width.Default())
      width.Reset();
    else
      header->resizeSection(n, w);
  }
  for (int n = 0; n < kListColumns; ++n) {
    const int c = settings::ColumnAt(n).Get();
    if (c >= 0 && c < kListColumns && header->visualIndex(c) != n)
      header->moveSection(header->visualIndex(c), n);
  }
}

void TRecordListController::SaveColumns() {
  columnSaveTimer_->stop();
  QHeaderView *header = panel_.ListView->horizontalHeader();
  for (int n = 0; n < kListColumns; ++n) {
    const int c = header->logicalIndex(n);
    settings::ColumnWidth(c, kListColumnWidths[c]).Write(std::max(1, header->sectionSize(c)));
    settings::ColumnAt(n).Set(c);
  }
}

void TRecordListController::OnColumnClicked(int column) {
  if (!fm_) return;
  fm_->SortBy(column);
  settings::kColSort.Write(fm_->SortColumn());
  settings::kColSortAscending.Write(fm_->Ascending());
  QHeaderView *header = panel_.ListView->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(fm_->SortColumn(),
                           fm_->Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// ---- catalogue -------------------------------------------------------------

void TRecordListController::CreateCatalogue(bool autoStart) {
  DestroyCatalogue();
  auto flag = std::make_shared<TNotifyFlag>();
  notify_ = flag;
  // The search thread only posts: one queued refresh while none is pending.
  // Operations run on this thread refresh at once.
  auto notify = [this, flag]() {
    if (QThread::currentThread() == thread()) return RefreshRecordList();
    if (flag->Pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, flag]() {
          flag->Pending = false;
          if (flag == notify_ && fm_ && !fm_->Terminated()) RefreshFromSearch();
        },
        Qt::QueuedConnection);
  };
  fm_ = std::make_shared<TFileManager>(autoStart, notify);
  ++prepareSerial_;  // a load still running for the old catalogue is dropped
  requestedId_ = 0;
  preparing_ = false;
  openWhenPrepared_ = false;
  RefreshRecordList();
}

void TRecordListController::RefreshFromSearch() {
  // The preview reports every row; on a big card refreshing the whole list
  // each time would keep the window busy.
  if (lastRefreshMs_ >= 0 && NowMs() - lastRefreshMs_ < kRefreshGapMs) {
    if (!refreshTimer_->isActive()) refreshTimer_->start();
    return;
  }
  RefreshRecordList();
}

void TRecordListController::DestroyCatalogue() {
  if (!fm_) return;
  fm_->Terminate();
  notify_.reset();
  // The search thread never waits for this thread, but it sees the flag
  // only between files (a large telemetry file takes a while): it is joined
  // on a worker, and a worker still holding the catalogue lets it go last.
  pool_.start([old = std::move(fm_)]() mutable { old.reset(); });
  fm_.reset();
  RefreshRecordList();
}

void TRecordListController::Shutdown() {
  openQueue_.clear();
  ++prepareSerial_;  // nothing loaded from here on is handed out
  preparing_ = openWhenPrepared_ = false;
  if (fm_) fm_->Terminate();
  pool_.waitForDone();
  notify_.reset();
  fm_.reset();
  refreshTimer_->stop();
  if (columnSaveTimer_->isActive()) SaveColumns();
}

void TRecordListController::RefreshCatalogue() {
  CreateCatalogue(true);
  fm_->SortBy(std::clamp(settings::kColSort.Get(), 0, kListColumns - 1));
  fm_->SetAscending(settings::kColSortAscending.Get());
  fm_->Sort();
  QHeaderView *header = panel_.ListView->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(fm_->SortColumn(),
                           fm_->Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  RefreshRecordList();
}

void TRecordListController::ClearList() {
  if (fm_) fm_->Clear();
  RefreshRecordList();
}

// ---- the list --------------------------------------------------------------

void TRecordListController::RefreshRecordList() {
  if (refreshing_) return;
  refreshing_ = true;
  refreshTimer_->stop();
  lastRefreshMs_ = NowMs();
  std::vector<TListRow> rows;
  if (fm_) {
    fm_->SetEventLevel(EventLevel(commands_));
    fm_->SetUnits(DisplayUnits());
    const std::vector<TListItem> items = fm_->FillList();
    rows = FilteredListRows(items, ListFilter(commands_));
  }
  const bool status = !rows.empty() && rows[0].Status;
  model_->SetRows(std::move(rows));
  QTableView *list = panel_.ListView;
  if (status != statusSpan_) {
    if (status)
      list->setSpan(0, 1, 1, kListColumns - 1);
    else
      list->clearSpans();
    statusSpan_ = status;
  }
  // Keep the user's selection by its caption.
  if (!remembered_.isEmpty()) {
    const int sel = SelectedRow();
    if (sel < 0 || model_->Caption(sel) != remembered_) {
      int found = -1;
      for (int i = 0; i < model_->rowCount() && found < 0; ++i)
        if (!model_->Row(i)->Status && model_->Caption(i) == remembered_) found = i;
      const QString keep = remembered_;
      if (found >= 0) {
        list->selectionModel()->setCurrentIndex(
            model_->index(found, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        remembered_ = keep;
      } else {
        list->selectionModel()->clearSelection();
        remembered_.clear();
      }
    }
  }
  list->viewport()->update();
  refreshing_ = false;
  UpdateListMenu();
}

int TRecordListController::SelectedRow() const {
  const QModelIndexList rows = panel_.ListView->selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  const int r = rows.first().row();
  const TListRow *row = model_->Row(r);
  return row && !row->Status ? r : -1;
}

uint64_t TRecordListController::SelectedId() const {
  const TListRow *row = model_->Row(SelectedRow());
  return row ? row->Id : 0;
}

bool TRecordListController::HighlightedItem(TFileItem &out) const {
  const uint64_t id = SelectedId();
  return fm_ && id != 0 && fm_->GetItemById(id, out);
}

void TRecordListController::SelectRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  QTableView *list = panel_.ListView;
  list->selectionModel()->setCurrentIndex(
      model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list->scrollTo(model_->index(row, 0));
}

void TRecordListController::OnSelectionChanged() {
  const int row = SelectedRow();
  // A click still waiting for its row's telemetry is for that row only.
  showWhenPrepared_ = false;
  if (!refreshing_) remembered_ = row >= 0 ? model_->Caption(row) : QString();
  UpdateListMenu();
  if (row >= 0 && !refreshing_) PrepareRow(SelectedId());
}

void TRecordListController::UpdateListMenu() {
  TFileItem item;
  const bool selected = HighlightedItem(item);
  const QHash<QString, bool> rules =
      ListMenuEnabling(selected ? &item : nullptr, fm_ ? fm_->RowCount() : 0);
  for (auto it = rules.begin(); it != rules.end(); ++it) commands_.SetEnabled(it.key(), it.value());
  // One mass deletion at a time.
  if (deleting_) commands_.SetEnabled("N_FileList_DelDiskAll", false);
}

void TRecordListController::ShowListMenu(const QPoint &pos) {
  UpdateListMenu();
  commands_.Menu()->PopupMenuListView()->popup(panel_.ListView->viewport()->mapToGlobal(pos));
}

// ---- preparing the highlighted row -----------------------------------------

const TFileItem &TRecordListController::CurrentRow() const {
  static const TFileItem none;
  return prepared_ ? prepared_->Row : none;
}

const std::vector<std::unique_ptr<TMovingInfo>> &TRecordListController::CurrentTracks() const {
  static const std::vector<std::unique_ptr<TMovingInfo>> none;
  return prepared_ ? prepared_->Tracks : none;
}

void TRecordListController::PrepareRow(uint64_t id, bool force) {
  TFileItem item;
  if (!fm_ || id == 0 || !fm_->GetItemById(id, item) || item.Items.empty()) return;
  if (!force && id == requestedId_) return;
  requestedId_ = id;
  const uint64_t serial = ++prepareSerial_;
  // The catalogue learns what the full load found (a track reaching outside
  // its recording is trimmed, the row recomputed); the cutter builds its
  // trips from the same load.
  std::shared_ptr<TFileManager> fm = fm_;
  preparing_ = true;
  auto *watcher = new QFutureWatcher<TPreparedRow>(this);
  connect(watcher, &QFutureWatcher<TPreparedRow>::finished, this, [this, watcher, serial, id]() {
    watcher->deleteLater();
    if (serial != prepareSerial_) return;  // a newer selection wins
    preparing_ = false;
    prepared_ = watcher->result();
    preparedId_ = id;
    emit RowPrepared(prepared_);
    if (openWhenPrepared_) {
      openWhenPrepared_ = showWhenPrepared_ = false;
      emit OpenRequested(prepared_);
    } else if (showWhenPrepared_) {
      showWhenPrepared_ = false;
      emit ShowRequested(prepared_);
    }
  });
  watcher->setFuture(QtConcurrent::run(&pool_, [fm, item]() -> TPreparedRow {
    return std::make_shared<const TRowTelemetry>(LoadRowTelemetry(*fm, item));
  }));
}

void TRecordListController::OpenHighlighted() {
  const uint64_t id = SelectedId();
  if (id == 0) return;
  if (prepared_ && preparedId_ == id && !preparing_) return emit OpenRequested(prepared_);
  // Handed over as soon as its load is done.
  openWhenPrepared_ = true;
  showWhenPrepared_ = false;
  PrepareRow(id);
}

void TRecordListController::ShowHighlighted() {
  const uint64_t id = SelectedId();
  if (id == 0) return;
  if (prepared_ && preparedId_ == id && !preparing_) return emit ShowRequested(prepared_);
  // A double click on its way plays the row instead.
  if (!openWhenPrepared_) showWhenPrepared_ = true;
  PrepareRow(id);
}

// ---- opening files ---------------------------------------------------------

QStringList TRecordListController::OpenDialogFilters() {
  const QString video =
      "*.3gp *.asf *.avi *.avs *.cme *.cof *.csa *.divx *.flv *.m1v *.m2v *.mls *.mov *.mp4 *.mpe "
      "*.mpeg *.mpg "
      "*.ogm *.mkv *.xfl *.rm *.rmvb *.viv *.vob *.wmv *.xqt *.vp3 *.vp4 *.vp5 *.vp6 *.vp7";
  // Recorders write .MOV, newer ones .MP4. The patterns go in both cases for
  // native dialogs; the program's own dialog matches them in any case.
  return {"MOV/MP4 Files (*.mov *.mp4 *.MOV *.MP4)",
          "Video Files (" + video + " " + video.toUpper() + ")", "Any Files (*)"};
}

void TRecordListController::AddFilesDialog() {
  QFileDialog dialog(window_);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  // Recorder cards are FAT: names come in either case (no QDir::CaseSensitive).
  dialog.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
  dialog.setNameFilters(OpenDialogFilters());
  // The folders opened lately, in the dialog's history list.
  dialog.setHistory(RecentFolders());
  if (dialog.exec() == QDialog::Accepted) OpenFiles(dialog.selectedFiles());
}

void TRecordListController::OpenFiles(const QStringList &paths, bool selectFirst) {
  emit PathsOpening(paths);
  TOpenBatch batch;
  batch.Paths = paths;
  batch.SelectFirst = selectFirst;
  openQueue_.push_back(std::move(batch));
  if (!opening_) StartNextOpen();
}

void TRecordListController::StartNextOpen() {
  if (openQueue_.empty()) return;
  TOpenBatch batch = std::move(openQueue_.front());
  openQueue_.pop_front();
  if (!fm_) CreateCatalogue(false);
  // A trip open in the player stays there, and so does the list's selection;
  // otherwise the last opened recording is selected.
  batch.KeepTrip = !batch.SelectFirst && PlayerHasTrip && PlayerHasTrip();
  batch.Remembered = remembered_;
  remembered_.clear();
  opening_ = true;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  // Reading containers and telemetry of a big folder takes a while: it runs
  // on a worker, and each change shows as from a search.
  std::shared_ptr<TFileManager> fm = fm_;
  auto *watcher = new QFutureWatcher<std::string>(this);
  connect(watcher, &QFutureWatcher<std::string>::finished, this, [this, watcher, fm, batch]() {
    watcher->deleteLater();
    QApplication::restoreOverrideCursor();
    opening_ = false;
    if (fm == fm_) {
      // Grouping renames rows ("FILE0001-3"): select the row that now holds
      // the recording rather than losing the selection.
      const std::string selectPath = batch.KeepTrip ? std::string() : watcher->result();
      if (batch.KeepTrip) remembered_ = batch.Remembered;
      if (!selectPath.empty()) {
        const int row = fm_->FindRecording(selectPath);
        if (row >= 0) remembered_ = QString::fromStdString(fm_->GetItem(row).Summary.DisplayName);
      }
      RefreshRecordList();
      if (batch.SelectFirst && model_->rowCount() > 0) SelectRow(0);
      const int sel = SelectedRow();
      if (sel >= 0) panel_.ListView->scrollTo(model_->index(sel, 0));
      panel_.ListView->setFocus();
    }
    // A close that waited for the files is honoured here, before any
    // telemetry is loaded for a window that is going.
    emit FilesOpened();
    // The refresh selected the row without the user: the command line's
    // plays as soon as it is prepared; opened or dropped files are shown
    // in a player that has nothing open, as a click shows them.
    if (fm_ && fm == fm_ && SelectedRow() >= 0) {
      if (batch.SelectFirst)
        OpenHighlighted();
      else if (!batch.KeepTrip && !(PlayerHasTrip && PlayerHasTrip()))
        ShowHighlighted();
    }
    if (!openQueue_.empty()) StartNextOpen();
  });
  const QStringList paths = batch.Paths;
  watcher->setFuture(QtConcurrent::run(&pool_, [fm, paths]() {
    std::string selectPath;
    for (const QString &p : paths) {
      if (p.isEmpty() || fm->Terminated()) continue;
      const QFileInfo fi(VideoPathFor(p));
      const std::string path = fi.absoluteFilePath().toStdString();
      if (fi.isFile()) {
        const TFileItem row = fm->OpenRecording(path);
        if (!row.Summary.DisplayName.empty()) selectPath = path;
      } else if (fi.isDir() && fm->AddFolder(path)) {
        const TFileItem last = fm->GetItem(fm->RowCount() - 1);
        if (!last.Items.empty()) selectPath = last.Items[0].Path;
      }
    }
    fm->PairChannels();
    fm->MatchLogFiles();
    fm->AutoGroup();
    return selectPath;
  }));
}

// ---- list commands ---------------------------------------------------------

void TRecordListController::RemoveHighlighted() {
  TFileItem item;
  if (HighlightedItem(item)) fm_->RemoveItem(item);
}

void TRecordListController::DeleteHighlightedFromDisk() {
  TFileItem item;
  if (!HighlightedItem(item) || item.Summary.Locked != 0) return;
  // The question names every file that goes, and nothing else goes.
  const std::vector<std::string> files = fm_->FilesToDelete(item);
  if (!ask_(DeleteFileQuestion(item, files), false)) return;
  emit FilesChanging();
  const std::vector<TDeleteFailure> failures = fm_->DeleteItemFiles(item, &files);
  if (!failures.empty()) Inform(DeleteFailureText(failures));
}

void TRecordListController::DeleteAllUnlocked() {
  if (!fm_) return;
  const std::vector<TFileItem> rows = UnlockedRows(fm_->Items());
  if (rows.empty()) return;
  if (!ask_(DeleteAllQuestion(rows), true)) return;
  emit FilesChanging();
  // Many files on a slow card: deleted on a worker, the list shows each row
  // go as the catalogue reports it.
  deleting_ = true;
  commands_.SetEnabled("N_FileList_DelDiskAll", false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  std::shared_ptr<TFileManager> fm = fm_;
  using TFailures = std::vector<TDeleteFailure>;
  auto *watcher = new QFutureWatcher<TFailures>(this);
  connect(watcher, &QFutureWatcher<TFailures>::finished, this, [this, watcher]() {
    watcher->deleteLater();
    QApplication::restoreOverrideCursor();
    deleting_ = false;
    RefreshRecordList();
    const TFailures failures = watcher->result();
    if (!failures.empty()) Inform(DeleteFailureText(failures));
    emit DeletionDone();
  });
  watcher->setFuture(QtConcurrent::run(&pool_, [fm, rows]() {
    TFailures failures;
    for (const TFileItem &r : rows) {
      if (fm->Terminated()) break;
      for (TDeleteFailure &f : fm->DeleteItemFiles(r)) failures.push_back(std::move(f));
    }
    return failures;
  }));
}

void TRecordListController::SetHighlightedLocked(bool locked) {
  const uint64_t id = SelectedId();
  if (fm_ && id != 0) fm_->SetLockedById(id, locked);
}

void TRecordListController::SplitHighlighted() {
  const uint64_t id = SelectedId();
  if (fm_ && id != 0) fm_->SplitItemById(id);
}

void TRecordListController::AttachTrackDialog() {
  if (SelectedId() == 0) return;
  const QStringList filters = AttachTrackDialogFilters();
  QString selected = filters.value(1);
  const QString path = QFileDialog::getOpenFileName(
      window_, TMainMenu::Caption(commands_.Menu()->Item("N_FileList_Track_Set")), QString(),
      filters.join(";;"), &selected);
  if (!path.isEmpty()) AttachTrackFile(path);
}

void TRecordListController::AttachTrackFile(const QString &path) {
  const uint64_t id = SelectedId();
  if (!fm_ || id == 0) return;
  // AttachTrack copies the row at once and works by path from then on.
  const int row = fm_->RowOfId(id);
  if (row < 0) return;
  emit FilesChanging();
  fm_->AttachTrack(row, path.toStdString());
  PrepareRow(SelectedId(), true);
}

void TRecordListController::ShiftSelected(TDateTime offset) {
  const uint64_t id = SelectedId();
  if (!fm_ || id == 0 || offset == 0) return;
  // The player lets go of the trip: its timing changes.
  emit FilesChanging();
  // The shifted row may sort elsewhere; the refresh follows it by caption.
  fm_->ShiftItemById(id, offset);
  PrepareRow(SelectedId(), true);
}

void TRecordListController::MoveVideoPosition() {
  if (SelectedId() == 0) return;
  bool ok = false;
  const QString caption = TMainMenu::Caption(commands_.Menu()->Item("N_FileList_Track_Move"));
  QString text =
      QInputDialog::getText(window_, caption, caption, QLineEdit::Normal, "00:00:00", &ok)
          .trimmed();
  if (!ok) return;
  const bool negative = text.startsWith('-');
  if (negative) text.remove(0, 1);
  TDateTime offset = 0;
  const QStringList parts = text.split(':');
  if (parts.size() >= 2 && parts.size() <= 3) {
    bool okH = false, okM = false, okS = true;
    const int h = parts[0].toInt(&okH), m = parts[1].toInt(&okM);
    const int s = parts.size() == 3 ? parts[2].toInt(&okS) : 0;
    if (okH && okM && okS && IsValidTime(h, m, s, 0)) offset = EncodeTime(h, m, s, 0);
  }
  ShiftSelected(negative ? -offset : offset);
}

void TRecordListController::ShowProperties() {
  TFileItem item;
  if (!HighlightedItem(item)) return;
  auto *form = new TFormFileProperty(item, window_);
  form->show();
}

void TRecordListController::RepairHighlighted() {
  TFileItem item;
  if (!HighlightedItem(item)) return;
  // The first damaged file of the row: a recording's, or another camera's.
  std::string damaged;
  for (const TFileItemSubitem &r : item.Items) {
    if (r.Damaged) damaged = r.Path;
    for (const TChannelFile &ch : r.Channels)
      if (damaged.empty() && ch.Damaged) damaged = ch.Path;
    if (damaged.empty()) continue;
    auto *form = new TFormRepair(QString::fromStdString(damaged), window_);
    // The repaired file joins the list beside the original, which stays.
    connect(form, &TFormRepair::Repaired, this, [this](const QString &path) { OpenFiles({path}); });
    form->show();
    return;
  }
}

void TRecordListController::ShowInFileManager() {
  TFileItem item;
  if (HighlightedItem(item) && !item.Items.empty())
    tachora::ShowInFileManager(QString::fromStdString(item.Items[0].Path), this);
}

}  // namespace tachora
