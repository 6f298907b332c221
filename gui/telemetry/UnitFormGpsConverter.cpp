#include "telemetry/UnitFormGpsConverter.h"

#include <unistd.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <cerrno>
#include <cstring>

#include "app/UnitDesktopIntegration.h"
#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "app/UnitUtils.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitTrackCommands.h"

namespace tachora {

namespace {
enum { kColFile, kColPoints, kColDuration, kColLength };
constexpr int kPathRole = Qt::UserRole;

QStringList ReaderFilters() {
  // "Desc|*.a;*.b|..." -> Qt's "Desc (*.a *.b)".
  QStringList out;
  const QStringList parts = QString::fromStdString(OpenDialogFilter()).split('|');
  // Recordings whose camera embedded its telemetry convert like a log.
  const QString videos = "*.mp4 *.MP4 *.mov *.MOV";
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) continue;
    QString patterns = QString(parts[i + 1]).replace(';', ' ').trimmed();
    if (parts[i].startsWith("All supported formats") && !patterns.contains("*.mp4"))
      patterns += " " + videos;
    out << parts[i].simplified() + " (" + patterns + ")";
  }
  if (!out.join(' ').contains("*.mp4 ")) out << videos;
  return out;
}
}  // namespace

TLogStats LoadLogStats(const QString &path) {
  TLogStats s;
  s.Path = path;
  const auto mi = TMovingInfo::LoadFromFile(path.toStdString(), false);
  if (!mi) return s;
  s.Ok = true;
  s.Points = mi->GpsPointCount();
  s.Duration = mi->EndTime - mi->StartTime;
  s.Length = mi->TrackLength();
  return s;
}

TConvertResult ConvertLogFile(const QString &path, const std::vector<std::string> &extensions,
                              const QStringList &mayReplace) {
  TConvertResult r;
  r.Path = path;
  const auto mi = TMovingInfo::LoadFromFile(path.toStdString(), false);
  TTrackInfo info;
  if (mi) BeginTrackInfo(*mi, info);
  // The writers are never asked to work on a file that gave no GPS record.
  if (!mi || info.Items.empty()) {
    r.Error = L("GPSLog_NoTelemetry");
    return r;
  }
  for (const std::string &ext : extensions) {
    TGpsInfoConverter *writer = FindGpsWriter(ext);
    if (!writer) continue;
    const QString out = ConvertedPath(path, ext);
    // Converting a file to its own format would replace the source.
    if (QFileInfo(out) == QFileInfo(path)) continue;
    std::string text = WriteTrackText(*writer, info);
    if (QFileInfo::exists(out) && !mayReplace.contains(out)) {
      QFile existing(out);
      const bool same = existing.open(QIODevice::ReadOnly) &&
                        existing.size() == static_cast<qint64>(text.size()) &&
                        existing.readAll().toStdString() == text;
      if (same)
        r.Written << out;  // nothing would change
      else
        r.Pending.push_back({out, std::move(text)});
      continue;
    }
    std::string error;
    if (!WriteTextFile(out.toStdString(), text, &error)) {
      r.Error = QString::fromStdString(error);
      return r;
    }
    r.Written << out;
  }
  return r;
}

TFormGPSLog::TFormGPSLog(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Window | Qt::WindowStaysOnTopHint), mainWindow_(mainWindow) {
  setObjectName("FormGPSLog");
  FileList = new QTreeWidget(this);
  FileList->setColumnCount(4);
  FileList->setRootIsDecorated(false);
  FileList->setUniformRowHeights(true);
  FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileList->setSelectionBehavior(QAbstractItemView::SelectRows);
  FileList->setContextMenuPolicy(Qt::CustomContextMenu);
  FileList->header()->resizeSection(kColFile, 270);
  FileList->header()->setStretchLastSection(false);
  FileList->header()->setSectionResizeMode(kColFile, QHeaderView::Stretch);
  FileList->setMinimumWidth(520);
  // The file's name matters more than its folder.
  FileList->setTextElideMode(Qt::ElideLeft);

  Converters = new QListWidget(this);
  for (const auto &w : GpsWriters()) {
    auto *item = new QListWidgetItem(
        QString::fromStdString(w->Name() + " (." + w->Extension() + ")"), Converters);
    item->setData(kPathRole, QString::fromStdString(w->Extension()));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Converters->count() == 1 ? Qt::Checked : Qt::Unchecked);
  }
  Converters->setMinimumWidth(Converters->sizeHintForColumn(0) + 2 * Converters->frameWidth() + 8);
  Converters->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  ButtonConvert = new QPushButton(this);
  ButtonAdd = new QPushButton(this);
  CheckSelectAll = new QCheckBox(this);
  CheckShowTrack = new QCheckBox(this);
  CheckShowTrack->setChecked(settings::kGpsLogShowTrack.Get());
  TimerPreview = new QTimer(this);
  TimerPreview->setSingleShot(true);

  auto *side = new QVBoxLayout;
  side->addWidget(Converters, 1);
  side->addWidget(ButtonConvert);
  auto *bottom = new QHBoxLayout;
  bottom->addWidget(CheckSelectAll);
  bottom->addWidget(ButtonAdd);
  bottom->addStretch(1);
  bottom->addWidget(CheckShowTrack);
  auto *grid = new QGridLayout(this);
  grid->addWidget(FileList, 0, 0);
  grid->addLayout(side, 0, 1);
  grid->addLayout(bottom, 1, 0, 1, 2);

  PopupMenu = new QMenu(this);
  auto addAction = [this](const char *name, auto handler) {
    QAction *a = PopupMenu->addAction(QString());
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  QAction *show = addAction("N_FileList_ShowExplorer", &TFormGPSLog::ShowCurrentInFileManager);
  PopupMenu->setDefaultAction(show);
  addAction("N_FileList_Add", &TFormGPSLog::AddFilesDialog);
  PopupMenu->addSeparator();
  addAction("N_FileList_Del", &TFormGPSLog::RemoveCurrent);
  addAction("N_FileList_DelDisk", &TFormGPSLog::DeleteCurrent);
  addAction("N_FileList_DelDiskLogs", &TFormGPSLog::DeleteAll);

  connect(FileList, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
    const bool entry = FileList->currentItem() != nullptr;
    for (QAction *a : PopupMenu->actions())
      if (a->objectName() != "N_FileList_Add")
        a->setEnabled(a->objectName() == "N_FileList_DelDiskLogs"
                          ? FileList->topLevelItemCount() > 0
                          : entry);
    PopupMenu->popup(FileList->viewport()->mapToGlobal(pos));
  });
  connect(FileList, &QTreeWidget::itemDoubleClicked, this, &TFormGPSLog::ShowCurrentInFileManager);
  connect(ButtonConvert, &QPushButton::clicked, this, &TFormGPSLog::Convert);
  connect(ButtonAdd, &QPushButton::clicked, this, &TFormGPSLog::AddFilesDialog);
  connect(CheckSelectAll, &QCheckBox::clicked, this, &TFormGPSLog::SetAllTicked);
  connect(CheckShowTrack, &QCheckBox::toggled, this, [this](bool on) {
    settings::kGpsLogShowTrack.Set(on);
    if (on) return SchedulePreview();
    TimerPreview->stop();
    if (previewShown_) {
      previewShown_ = false;
      emit PreviewEnded();
    }
  });
  connect(FileList, &QTreeWidget::itemClicked, this, &TFormGPSLog::SchedulePreview);
  connect(FileList, &QTreeWidget::itemChanged, this, &TFormGPSLog::SchedulePreview);
  connect(FileList, &QTreeWidget::itemSelectionChanged, this, &TFormGPSLog::SchedulePreview);
  connect(TimerPreview, &QTimer::timeout, this, [this]() {
    if (!CheckShowTrack->isChecked() || !isVisible()) return;
    std::vector<bool> selected;
    const QStringList paths = PreviewPaths(&selected);
    previewShown_ = true;
    emit PreviewRequested(paths, selected);
  });
  connect(&stats_, &QFutureWatcher<TLogStats>::finished, this, &TFormGPSLog::OnStats);
  connect(&convert_, &QFutureWatcher<TConvertResult>::finished, this, &TFormGPSLog::OnConverted);

  Ask = [this](const QString &text) {
    return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
  };
  Inform = [this](const QString &text) { QMessageBox::information(this, windowTitle(), text); };
  Translate();
}

TFormGPSLog::~TFormGPSLog() {
  queue_.clear();
  stats_.waitForFinished();
  convert_.waitForFinished();
}

void TFormGPSLog::Translate() {
  setWindowTitle(L("GPSLog_Title"));
  FileList->setHeaderLabels(
      {L("File"), L("Points"), L("Duration"), L("Details_Track_Length") + ", " + DistanceUnit()});
  ButtonConvert->setText(L("GPSLog_Convert"));
  ButtonAdd->setText(L("N_FileList_Add"));
  CheckSelectAll->setText(L("GPSLog_SelectAll"));
  CheckShowTrack->setText(L("GPSLog_ShowTrack"));
  for (QAction *a : PopupMenu->actions())
    if (!a->objectName().isEmpty()) a->setText(L(a->objectName().toUtf8().constData()));
}

QTreeWidgetItem *TFormGPSLog::ItemOf(const QString &path) const {
  for (int i = 0; i < FileList->topLevelItemCount(); ++i)
    if (FileList->topLevelItem(i)->data(kColFile, kPathRole).toString() == path)
      return FileList->topLevelItem(i);
  return nullptr;
}

QTreeWidgetItem *TFormGPSLog::AddEntry(const QString &path, bool ticked) {
  if (QTreeWidgetItem *old = ItemOf(path)) {
    if (ticked) old->setCheckState(kColFile, Qt::Checked);
    return old;
  }
  auto *item = new QTreeWidgetItem(FileList);
  item->setText(kColFile, path);
  item->setData(kColFile, kPathRole, path);
  item->setToolTip(kColFile, path);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(kColFile, ticked ? Qt::Checked : Qt::Unchecked);
  for (int c : {kColPoints, kColDuration, kColLength}) item->setTextAlignment(c, Qt::AlignRight);
  return item;
}

void TFormGPSLog::Open(const QStringList &paths) {
  if (FileList->topLevelItemCount() == 0)
    for (const QString &p : paths) AddEntry(p, false);
  if (!isVisible() && !placed_ && mainWindow_) {
    placed_ = true;
    const QRect main = mainWindow_->geometry();
    resize(width(), std::min(std::max(height(), 420), main.height() - 10));
    move(main.topLeft() + QPoint(30, 70));
  }
  show();
  raise();
  activateWindow();
  if (!statsStarted_) {
    statsStarted_ = true;
    QTimer::singleShot(500, this, &TFormGPSLog::NextStats);
  } else {
    NextStats();
  }
  SchedulePreview();
}

void TFormGPSLog::AddFiles(const QStringList &paths) {
  QTreeWidgetItem *last = nullptr;
  for (const QString &p : paths) last = AddEntry(p, true);
  FileList->sortItems(kColFile, Qt::AscendingOrder);
  if (last) {
    FileList->setCurrentItem(last);
    FileList->scrollToItem(last);
  }
  NextStats();
}

void TFormGPSLog::AddFilesDialog() {
  const QStringList filters = ReaderFilters();
  // The dialog opens on the files the readers know, not on every file.
  QString selected = filters.value(0);
  for (const QString &f : filters)
    if (f.startsWith("All supported formats")) selected = f;
  QFileDialog dialog(this, L("N_FileList_Add"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(selected);
  if (dialog.exec() == QDialog::Accepted) AddFiles(dialog.selectedFiles());
}

void TFormGPSLog::SetAllTicked(bool ticked) {
  CheckSelectAll->setChecked(ticked);
  for (int i = 0; i < FileList->topLevelItemCount(); ++i)
    FileList->topLevelItem(i)->setCheckState(kColFile, ticked ? Qt::Checked : Qt::Unchecked);
  FileList->clearSelection();
  SchedulePreview();
}

QStringList TFormGPSLog::PreviewPaths(std::vector<bool> *selected) const {
  QStringList out;
  std::vector<bool> sel;
  for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem *item = FileList->topLevelItem(i);
    if (item->checkState(kColFile) != Qt::Checked && !item->isSelected()) continue;
    out << item->data(kColFile, kPathRole).toString();
    sel.push_back(item->isSelected());
  }
  if (out.size() < 2) sel.assign(sel.size(), false);
  if (selected) *selected = std::move(sel);
  return out;
}

int TFormGPSLog::PreviewDelayMs() const {
  return PreviewPaths().size() > 1 ? 500 : 100;
}

void TFormGPSLog::SchedulePreview() {
  if (CheckShowTrack->isChecked()) TimerPreview->start(PreviewDelayMs());
}

bool TFormGPSLog::TickPath(const QString &prefix) {
  for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
    QTreeWidgetItem *item = FileList->topLevelItem(i);
    if (!item->data(kColFile, kPathRole).toString().startsWith(prefix, Qt::CaseInsensitive))
      continue;
    item->setCheckState(kColFile, Qt::Checked);
    item->setSelected(true);
    FileList->scrollToItem(item);
    return true;
  }
  return false;
}

QStringList TFormGPSLog::Paths() const {
  QStringList out;
  for (int i = 0; i < FileList->topLevelItemCount(); ++i)
    out << FileList->topLevelItem(i)->data(kColFile, kPathRole).toString();
  return out;
}

QStringList TFormGPSLog::TickedPaths() const {
  QStringList out;
  for (int i = 0; i < FileList->topLevelItemCount(); ++i)
    if (FileList->topLevelItem(i)->checkState(kColFile) == Qt::Checked)
      out << FileList->topLevelItem(i)->data(kColFile, kPathRole).toString();
  return out;
}

std::vector<std::string> TFormGPSLog::TickedExtensions() const {
  std::vector<std::string> out;
  for (int i = 0; i < Converters->count(); ++i)
    if (Converters->item(i)->checkState() == Qt::Checked)
      out.push_back(Converters->item(i)->data(kPathRole).toString().toStdString());
  return out;
}

// ---- statistics ---------------------------------------------------------------

void TFormGPSLog::NextStats() {
  if (stats_.isRunning() || !isVisible()) return;
  for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
    QTreeWidgetItem *item = FileList->topLevelItem(i);
    if (!item->text(kColPoints).isEmpty()) continue;
    stats_.setFuture(QtConcurrent::run(LoadLogStats, item->data(kColFile, kPathRole).toString()));
    return;
  }
}

void TFormGPSLog::OnStats() {
  const TLogStats s = stats_.result();
  if (QTreeWidgetItem *item = ItemOf(s.Path)) {
    if (s.Ok) {
      item->setText(kColPoints, QString::number(s.Points));
      item->setText(kColDuration,
                    QString::fromStdString(DurationText(std::llround(s.Duration * 86400000.0))));
      item->setText(kColLength, QString::fromStdString(
                                    FormatFixed(DisplayDistance(s.Length, DisplayUnits()), 1)));
    } else {
      // Shown, and not asked for again.
      item->setText(kColPoints, "-");
      item->setToolTip(kColPoints, L("GPSLog_NoTelemetry"));
    }
    emit StatsFilled(s.Path);
  }
  NextStats();
}

// ---- converting -----------------------------------------------------------------

bool TFormGPSLog::Convert() {
  if (Converting()) return false;
  const QStringList ticked = TickedPaths();
  if (ticked.isEmpty()) {
    Inform(L("GPSLog_SelectToProcess"));
    return false;
  }
  extensions_ = TickedExtensions();
  failures_.clear();
  queue_ = ticked;
  ButtonConvert->setEnabled(false);
  CheckSelectAll->setEnabled(false);
  NextConversion();
  return true;
}

void TFormGPSLog::NextConversion() {
  if (queue_.isEmpty()) {
    ButtonConvert->setEnabled(true);
    CheckSelectAll->setEnabled(true);
    if (!failures_.isEmpty()) Inform(L("GPSLog_Error") + "\n\n" + failures_.join("\n"));
    emit ConversionDone();
    return;
  }
  const QString path = queue_.takeFirst();
  if (QTreeWidgetItem *item = ItemOf(path)) {
    FileList->setCurrentItem(item);
    FileList->scrollToItem(item);
  }
  convert_.setFuture(QtConcurrent::run(ConvertLogFile, path, extensions_, written_.value(path)));
}

void TFormGPSLog::OnConverted() {
  const TConvertResult r = convert_.result();
  if (!r.Error.isEmpty()) failures_ << r.Path + ": " + r.Error;
  QStringList &written = written_[r.Path];
  for (const QString &w : r.Written)
    if (!written.contains(w)) written << w;
  if (!r.Pending.empty()) {
    QStringList names;
    for (const TPendingOutput &p : r.Pending) names << p.Path;
    const QString question = names.size() == 1 ? L("Mes_FileExists") + "\n" + names[0] + "\n" +
                                                     L("Mes_SureToReplace") + "?"
                                               : L("Mes_FilesExist") + ":\n" + names.join("\n") +
                                                     "\n" + L("Mes_SureToReplaceThem") + "?";
    if (Ask(question)) {
      for (const TPendingOutput &p : r.Pending) {
        std::string error;
        if (WriteTextFile(p.Path.toStdString(), p.Text, &error)) {
          if (!written.contains(p.Path)) written << p.Path;
        } else {
          failures_ << r.Path + ": " + QString::fromStdString(error);
        }
      }
    }
  }
  if (QTreeWidgetItem *item = ItemOf(r.Path)) item->setCheckState(kColFile, Qt::Unchecked);
  NextConversion();
}

// ---- the pop-up menu ------------------------------------------------------------

void TFormGPSLog::ShowCurrentInFileManager() {
  if (QTreeWidgetItem *item = FileList->currentItem())
    ShowInFileManager(item->data(kColFile, kPathRole).toString(), this);
}

void TFormGPSLog::RemoveCurrent() {
  delete FileList->currentItem();
}

QStringList TFormGPSLog::FilesOf(const QString &path) const {
  QStringList out{path};
  for (const QString &w : written_.value(path))
    if (QFileInfo::exists(w) && QFileInfo(w) != QFileInfo(path)) out << w;
  return out;
}

QStringList TFormGPSLog::DeleteFiles(const QStringList &paths) {
  QStringList failures;
  for (const QString &p : paths) {
    const QByteArray name = QFile::encodeName(p);
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
      failures << p + ": " + QString::fromLocal8Bit(std::strerror(errno));
  }
  return failures;
}

void TFormGPSLog::DeleteCurrent() {
  QTreeWidgetItem *item = FileList->currentItem();
  if (!item || Converting()) return;
  const QString path = item->data(kColFile, kPathRole).toString();
  // The question names every file that goes: the log and what this window
  // converted it to.
  const QStringList files = FilesOf(path);
  const QString question = files.size() == 1
                               ? L("Mes_SureToDelFile") + "\n" + path + " ?"
                               : L("Mes_SureToDelFiles") + ":\n" + files.join("\n") + " ?";
  if (!Ask(question)) return;
  const QStringList failures = DeleteFiles(files);
  if (!QFileInfo::exists(path)) {
    written_.remove(path);
    delete item;
  }
  if (!failures.isEmpty()) Inform(L("Mes_CannotDelete") + "\n\n" + failures.join("\n"));
}

void TFormGPSLog::DeleteAll() {
  if (FileList->topLevelItemCount() == 0 || Converting()) return;
  QStringList files;
  for (const QString &path : Paths()) files << FilesOf(path);
  if (!Ask(L("Mes_SureToDelAllGPSLogs") + "?\n\n" + files.join("\n"))) return;
  const QStringList failures = DeleteFiles(files);
  bool deleted = false;
  for (const QString &path : Paths()) {
    if (QFileInfo::exists(path)) continue;  // stays listed: it is still there
    written_.remove(path);
    delete ItemOf(path);
    deleted = true;
  }
  if (deleted) emit LogsDeleted();
  if (!failures.isEmpty()) Inform(L("Mes_CannotDelete") + "\n\n" + failures.join("\n"));
  if (FileList->topLevelItemCount() == 0) close();
}

void TFormGPSLog::closeEvent(QCloseEvent *event) {
  // Statistics stop with the window; a conversion finishes what it started.
  QDialog::closeEvent(event);
}

void TFormGPSLog::hideEvent(QHideEvent *event) {
  QDialog::hideEvent(event);
  TimerPreview->stop();
  if (previewShown_) {
    previewShown_ = false;
    emit PreviewEnded();
  }
}

void TFormGPSLog::changeEvent(QEvent *event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isVisible()) return;
  // The map goes back to the playing trip while the user works elsewhere,
  // and shows the files again when the window comes back.
  if (isActiveWindow()) {
    SchedulePreview();
  } else {
    TimerPreview->stop();
    if (previewShown_) {
      previewShown_ = false;
      emit PreviewEnded();
    }
  }
}

}  // namespace tachora
