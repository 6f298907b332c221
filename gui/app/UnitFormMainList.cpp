// TFormMain: the recording list, its pop-up menu and the commands behind it,
// and opening files.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitStartup.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitFormFileProperty.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

namespace {

// List pop-up commands built so far; the rest wait for their parts.
const char *const kBuiltListCommands[] = {
    "N_FileList_Add",        "N_FileList_Del",          "N_FileList_Refresh",
    "N_FileList_Clear",      "N_FileList_DelDisk",      "N_FileList_DelDiskAll",
    "N_FileList_SetLock",    "N_FileList_UnsetLock",    "N_FileList_Ungroup",
    "N_FileList_Group_Auto", "N_FileList_Ungroup_All",  "N_FileList_Track_Set",
    "N_FileList_Track_Move", "N_FileList_ShowExplorer", "N_FileList_Property"};

class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

TListRow ToListRow(const TListItem &item) {
  TListRow row;
  row.Texts[0] = QString::fromStdString(item.Caption);
  row.Images[0] = item.Image;
  row.Status = item.IsStatus;
  for (size_t i = 0; i < item.SubItems.size() && i + 1 < kListColumns; ++i) {
    row.Texts[i + 1] = QString::fromStdString(item.SubItems[i]);
    row.Images[i + 1] = i < item.SubImages.size() ? item.SubImages[i] : kImgNone;
  }
  return row;
}

}  // namespace

void TFormMain::CreateList() {
  QTableView *list = layout_->ListView;
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
  connect(list, &QWidget::customContextMenuRequested, this, &TFormMain::ShowListMenu);
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TFormMain::OnSelectionChanged);
  connect(header, &QHeaderView::sectionClicked, this, &TFormMain::OnColumnClicked);
  connect(header, &QHeaderView::sectionMoved, this, [this]() {
    if (created_) SaveColumns();
  });
  // A column resize is saved once the drag pauses, not for every pixel.
  columnSaveTimer_ = new QTimer(this);
  columnSaveTimer_->setSingleShot(true);
  columnSaveTimer_->setInterval(300);
  connect(columnSaveTimer_, &QTimer::timeout, this, [this]() { SaveColumns(); });
  connect(header, &QHeaderView::sectionResized, this, [this]() {
    if (created_) columnSaveTimer_->start();
  });
  // The list's own keys (Enter, Ins, Del, F5, Shift+C, Shift+Del) work while
  // it has the focus; Ctrl+N is the main menu's.
  for (QAction *a : menu_->PopupMenuListView()->actions())
    if (!a->isSeparator() && a->objectName() != "N_FileList_Clear") list->addAction(a);
  connect(list, &QAbstractItemView::doubleClicked, this,
          [this]() { RunCommand("N_FileList_Open"); });
  UpdateListMenu();
}

void TFormMain::RestoreColumns() {
  QHeaderView *header = layout_->ListView->horizontalHeader();
  for (int n = 0; n < kListColumns; ++n) {
    const QString name = QString("col%1_w").arg(n);
    if (!HasSetting(name)) continue;
    const int w = ReadIntSetting(name, -1);
    if (w < 0) continue;
    if (w == kListColumnWidths[n])
      DeleteSetting(name);
    else
      header->resizeSection(n, w);
  }
  for (int n = 0; n < kListColumns; ++n) {
    const int c = ReadIntSetting(QString("col%1_i").arg(n), n);
    if (c >= 0 && c < kListColumns && header->visualIndex(c) != n)
      header->moveSection(header->visualIndex(c), n);
  }
}

void TFormMain::SaveColumns() {
  QHeaderView *header = layout_->ListView->horizontalHeader();
  for (int n = 0; n < kListColumns; ++n) {
    const int c = header->logicalIndex(n);
    WriteIntSetting(QString("col%1_w").arg(c), std::max(1, header->sectionSize(c)));
    WriteIntSettingOrDelete(QString("col%1_i").arg(n), c, n);
  }
}

void TFormMain::OnColumnClicked(int column) {
  if (!fm_) return;
  fm_->SortBy(column);
  WriteIntSetting("col_sort", fm_->SortColumn());
  WriteBoolSetting("col_sort_dur", fm_->Ascending());
  QHeaderView *header = layout_->ListView->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(fm_->SortColumn(),
                           fm_->Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFormMain::RefreshRecordList() {
  if (refreshing_) return;
  refreshing_ = true;
  refreshTimer_->stop();
  refreshClock_.start();
  std::vector<TListRow> rows;
  if (fm_) {
    const int count = fm_->GetItemCount();
    rows.reserve(count);
    for (int i = 0; i < count; ++i) rows.push_back(ToListRow(fm_->FillListItem(i)));
  }
  const bool status = !rows.empty() && rows[0].Status;
  model_->SetRows(std::move(rows));
  QTableView *list = layout_->ListView;
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

int TFormMain::SelectedRow() const {
  const QModelIndexList rows = layout_->ListView->selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  const int r = rows.first().row();
  const TListRow *row = model_->Row(r);
  return row && !row->Status ? r : -1;
}

void TFormMain::SelectRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  QTableView *list = layout_->ListView;
  list->selectionModel()->setCurrentIndex(
      model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list->scrollTo(model_->index(row, 0));
}

void TFormMain::OnSelectionChanged() {
  const int row = SelectedRow();
  if (!refreshing_) remembered_ = row >= 0 ? model_->Caption(row) : QString();
  UpdateListMenu();
  if (row >= 0 && !refreshing_) PrepareRow(row);
}

void TFormMain::PrepareRow(int row, bool force) {
  if (!fm_ || row < 0) return;
  TFileItem item = fm_->GetItem(row);
  if (item.Items.empty() || (!force && item.Summary.Path == currentRow_.Summary.Path)) return;
  TWaitCursor wait;
  // The catalogue learns what the full load found (a track reaching outside
  // its recording is trimmed, the row recomputed); the cutter builds its
  // trips from the same load.
  TRowTelemetry loaded = LoadRowTelemetry(*fm_, item);
  currentRow_ = std::move(loaded.Row);
  currentTracks_ = std::move(loaded.Tracks);
}

std::vector<TFileItem> TFormMain::AllRows() const {
  return fm_ ? fm_->Items() : std::vector<TFileItem>{};
}

void TFormMain::UpdateListMenu() {
  const int row = SelectedRow();
  TFileItem item;
  if (fm_ && row >= 0) item = fm_->GetItem(row);
  const QHash<QString, bool> rules =
      ListMenuEnabling(row >= 0 ? &item : nullptr, fm_ ? fm_->RowCount() : 0);
  QSet<QString> built;
  for (const char *name : kBuiltListCommands) built.insert(name);
  for (auto it = rules.begin(); it != rules.end(); ++it)
    menu_->SetEnabled(it.key(), it.value() && built.contains(it.key()));
}

void TFormMain::ShowListMenu(const QPoint &pos) {
  UpdateListMenu();
  menu_->PopupMenuListView()->popup(layout_->ListView->viewport()->mapToGlobal(pos));
}

// ---- opening files ---------------------------------------------------------

void TFormMain::AddFilesDialog() {
  const QString video =
      "*.3gp *.asf *.avi *.avs *.cme *.cof *.csa *.divx *.flv *.m1v *.m2v *.mls *.mov *.mp4 *.mpe "
      "*.mpeg *.mpg "
      "*.ogm *.mkv *.xfl *.rm *.rmvb *.viv *.vob *.wmv *.xqt *.vp3 *.vp4 *.vp5 *.vp6 *.vp7";
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  // Recorder cards are FAT: names come in either case.
  dialog.setOption(QFileDialog::DontUseNativeDialog, false);
  dialog.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::CaseSensitive);
  dialog.setNameFilters({"MOV Files (*.mov *.MOV)",
                         "Video Files (" + video + " " + video.toUpper() + ")", "Any Files (*)"});
  if (dialog.exec() == QDialog::Accepted) OpenFiles(dialog.selectedFiles());
}

void TFormMain::OpenFiles(const QStringList &paths) {
  if (busy_) return;  // one batch at a time; a drop meanwhile is ignored
  if (!fm_) CreateCatalogue(false);
  TWaitCursor wait;
  remembered_.clear();
  struct TPath {
    std::string Path;
    bool Folder;
  };
  std::vector<TPath> work;
  for (const QString &p : paths) {
    if (p.isEmpty()) continue;
    const QFileInfo fi(VideoPathFor(p));
    if (fi.isFile() || fi.isDir())
      work.push_back({fi.absoluteFilePath().toStdString(), fi.isDir()});
  }
  // Reading containers and telemetry of a big folder takes a while: it runs
  // on a worker while this thread keeps the window painted and shows each
  // change (the catalogue's notifications come over as from a search).
  TFileManager *fm = fm_.get();
  std::string selectPath;
  std::atomic<bool> done{false};
  busy_ = true;
  std::thread worker([fm, &work, &selectPath, &done]() {
    for (const TPath &p : work) {
      if (!p.Folder) {
        const TFileItem row = fm->OpenRecording(p.Path);
        if (!row.Summary.DisplayName.empty()) selectPath = p.Path;
      } else if (fm->AddFolder(p.Path)) {
        const TFileItem last = fm->GetItem(fm->RowCount() - 1);
        if (!last.Items.empty()) selectPath = last.Items[0].Path;
      }
    }
    fm->MatchLogFiles();
    fm->AutoGroup();
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QThread::msleep(2);
  }
  worker.join();
  busy_ = false;
  // Grouping renames rows ("FILE0001-3"): select the row that now holds the
  // recording rather than losing the selection.
  if (!selectPath.empty()) {
    const int row = fm_->FindRecording(selectPath);
    if (row >= 0) remembered_ = QString::fromStdString(fm_->GetItem(row).Summary.DisplayName);
  }
  RefreshRecordList();
  const int sel = SelectedRow();
  if (sel >= 0) layout_->ListView->scrollTo(model_->index(sel, 0));
  layout_->ListView->setFocus();
  if (closePending_) return void(close());
  // The refresh selected the row without the user: prepare it as a click
  // would, so an opened or dropped file is ready to play.
  PrepareRow(sel);
}

// ---- list commands ---------------------------------------------------------

void TFormMain::DeleteSelectedFromDisk() {
  const int row = SelectedRow();
  if (!fm_ || row < 0) return;
  const TFileItem item = fm_->GetItem(row);
  if (item.Summary.Locked != 0) return;
  if (Ask(DeleteFileQuestion(item), false)) fm_->DeleteItemFiles(item);
}

void TFormMain::DeleteAllUnlocked() {
  if (!fm_) return;
  const std::vector<TFileItem> rows = UnlockedRows(AllRows());
  if (rows.empty()) return;
  if (!Ask(DeleteAllQuestion(rows), true)) return;
  TWaitCursor wait;
  for (const TFileItem &r : rows) {
    fm_->DeleteItemFiles(r);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
}

void TFormMain::SetSelectedLocked(bool locked) {
  const int row = SelectedRow();
  if (fm_ && row >= 0) fm_->SetLocked(row, locked);
}

void TFormMain::AttachTrackDialog() {
  const int row = SelectedRow();
  if (!fm_ || row < 0) return;
  const QStringList filters = AttachTrackDialogFilters();
  QString selected = filters.value(1);
  const QString path =
      QFileDialog::getOpenFileName(this, TMainMenu::Caption(menu_->Item("N_FileList_Track_Set")),
                                   QString(), filters.join(";;"), &selected);
  if (!path.isEmpty()) AttachTrackFile(path);
}

void TFormMain::AttachTrackFile(const QString &path) {
  const int row = SelectedRow();
  if (!fm_ || row < 0) return;
  fm_->AttachTrack(row, path.toStdString());
  PrepareRow(SelectedRow(), true);
}

void TFormMain::ShiftSelected(TDateTime offset) {
  const int row = SelectedRow();
  if (!fm_ || row < 0 || offset == 0) return;
  // The shifted row may sort elsewhere; the refresh follows it by caption.
  fm_->ShiftItem(row, offset);
  PrepareRow(SelectedRow(), true);
}

void TFormMain::MoveVideoPosition() {
  const int row = SelectedRow();
  if (!fm_ || row < 0) return;
  bool ok = false;
  const QString caption = TMainMenu::Caption(menu_->Item("N_FileList_Track_Move"));
  QString text =
      QInputDialog::getText(this, caption, caption, QLineEdit::Normal, "00:00:00", &ok).trimmed();
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

void TFormMain::ShowProperties() {
  const int row = SelectedRow();
  if (!fm_ || row < 0) return;
  auto *form = new TFormFileProperty(fm_->GetItem(row), this);
  form->show();
}

}  // namespace tachora
