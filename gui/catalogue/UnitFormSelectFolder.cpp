#include "catalogue/UnitFormSelectFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"

namespace tachora {

QString NearestExistingFolder(const QString &path) {
  QString p = QDir::cleanPath(path.trimmed());
  if (p.isEmpty() || !QDir::isAbsolutePath(p)) return {};
  for (;;) {
    if (QFileInfo(p).isDir()) return p;
    const QString parent = QFileInfo(p).path();
    if (parent == p) return {};
    p = parent;
  }
}

QString DefaultCopyFolder() {
  const QString stored = settings::kCopyFolder.Get();
  if (!stored.isEmpty()) return stored;
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (!videos.isEmpty() && QFileInfo(videos).isDir()) return videos;
  return QDir::homePath();
}

TFormSelectFolder::TFormSelectFolder(QWidget *parent) : QDialog(parent) {
  setObjectName("FormSelectFolder");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  model_->setRootPath("/");
  TreeView = new QTreeView(this);
  TreeView->setObjectName("TreeView");
  TreeView->setModel(model_);
  for (int c = 1; c < model_->columnCount(); ++c) TreeView->hideColumn(c);
  TreeView->header()->hide();
  TreeView->setRootIndex(model_->index("/"));
  EditPath = new QLineEdit(this);
  EditPath->setObjectName("EditPath");
  ButtonShow = new QPushButton(this);
  ButtonOk = new QPushButton(this);
  ButtonCancel = new QPushButton(this);
  ButtonAddFolder = new QPushButton(this);
  ButtonOk->setDefault(true);

  auto *pathRow = new QHBoxLayout;
  pathRow->addWidget(EditPath, 1);
  pathRow->addWidget(ButtonShow);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(ButtonAddFolder);
  buttons->addStretch(1);
  buttons->addWidget(ButtonOk);
  buttons->addWidget(ButtonCancel);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(TreeView, 1);
  layout->addLayout(pathRow);
  layout->addLayout(buttons);
  resize(420, 460);

  connect(ButtonShow, &QPushButton::clicked, this, &TFormSelectFolder::ShowPath);
  connect(ButtonOk, &QPushButton::clicked, this, &TFormSelectFolder::accept);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormSelectFolder::reject);
  connect(ButtonAddFolder, &QPushButton::clicked, this, &TFormSelectFolder::AskNewFolder);
  connect(TreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &TFormSelectFolder::OnCurrentChanged);
  connect(EditPath, &QLineEdit::textChanged, this, [this]() {
    ButtonOk->setEnabled(PathUsable());
    ButtonAddFolder->setEnabled(ButtonOk->isEnabled());
  });
  Translate();
}

void TFormSelectFolder::Translate() {
  ButtonShow->setText(L("Show"));
  ButtonOk->setText(L("SelectFolder_Ok"));
  ButtonCancel->setText(L("Cancel"));
  ButtonAddFolder->setText(L("SelectFolder_Add"));
}

void TFormSelectFolder::SetPath(const QString &path) {
  EditPath->setText(path);
  ButtonOk->setEnabled(PathUsable());
  ButtonAddFolder->setEnabled(ButtonOk->isEnabled());
}

QString TFormSelectFolder::Path() const {
  QString text = EditPath->text().trimmed();
  if (text == "~" || text.startsWith("~/")) text = QDir::homePath() + text.mid(1);
  return text.isEmpty() ? QString() : QDir::cleanPath(text);
}

bool TFormSelectFolder::PathUsable() const {
  return QDir::isAbsolutePath(Path());
}

void TFormSelectFolder::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  // A network path ("//server/share") may take long to answer: not looked up.
  if (!EditPath->text().startsWith("//")) ShowPath();
}

void TFormSelectFolder::ShowPath() {
  const QString folder = NearestExistingFolder(Path());
  if (folder.isEmpty()) return;
  const QModelIndex index = model_->index(folder);
  if (!index.isValid()) return;
  selecting_ = true;
  TreeView->setCurrentIndex(index);
  TreeView->scrollTo(index, QAbstractItemView::PositionAtCenter);
  selecting_ = false;
  TreeView->setFocus();
}

void TFormSelectFolder::OnCurrentChanged() {
  if (selecting_) return;
  const QString path = model_->filePath(TreeView->currentIndex());
  // Only real folders go into the edit box.
  SetPath(QDir::isAbsolutePath(path) ? QDir::toNativeSeparators(path) : QString());
}

bool TFormSelectFolder::AddFolder(const QString &name, QString *error) {
  const QString base = Path();
  const QString clean = name.trimmed();
  if (base.isEmpty() || clean.isEmpty() || clean == "." || clean == "..") {
    if (error) *error = clean;
    return false;
  }
  const QString path = QDir::cleanPath(base + "/" + clean);
  if (!QDir().mkpath(path)) {
    if (error) *error = path;
    return false;
  }
  SetPath(path);
  ShowPath();
  return true;
}

void TFormSelectFolder::AskNewFolder() {
  if (!ButtonOk->isEnabled()) return;
  auto *box = new QInputDialog(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(L("CreateFolder"));
  QString prompt = Path();
  if (!prompt.endsWith('/')) prompt += '/';
  box->setLabelText(prompt);
  box->setTextValue(L("NewFolder"));
  connect(box, &QInputDialog::textValueSelected, this, [this](const QString &name) {
    QString error;
    if (AddFolder(name, &error)) return;
    auto *warn =
        new QMessageBox(QMessageBox::Warning, L("CreateFolder"), error, QMessageBox::Ok, this);
    warn->setAttribute(Qt::WA_DeleteOnClose);
    warn->open();
  });
  box->open();
}

void TFormSelectFolder::accept() {
  // A relative path would land wherever the program was started from.
  if (!PathUsable()) {
    reject();
    return;
  }
  QDialog::accept();
}

}  // namespace tachora
