#include "catalogue/UnitFormRepair.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "app/UnitText.h"

namespace tachora {

QString RepairErrorMessage(const TRepairResult &r) {
  const QString detail = Q(r.detail);
  switch (r.error) {
    case TRepairError::None:
      return {};
    case TRepairError::BrokenUnreadable:
      return L("Repair_Err_BrokenUnreadable").arg(detail);
    case TRepairError::NotDamaged:
      return L("Repair_Err_NotDamaged");
    case TRepairError::NoMediaData:
      return L("Repair_Err_NoMediaData");
    case TRepairError::ReferenceUnreadable:
      return L("Repair_Err_ReferenceUnreadable");
    case TRepairError::ReferenceUnsupported:
      return L("Repair_Err_ReferenceUnsupported").arg(detail);
    case TRepairError::PictureDiffers:
      return L("Repair_Err_PictureDiffers").arg(detail);
    case TRepairError::DataDoesNotMatch:
      return L("Repair_Err_DataDoesNotMatch").arg(detail);
    case TRepairError::WriteFailed:
      return L("Repair_Err_WriteFailed").arg(detail);
    case TRepairError::Cancelled:
      return L("Repair_Err_Cancelled");
  }
  return {};
}

TFormRepair::TFormRepair(const QString &broken, QWidget *parent)
    : QDialog(parent, Qt::Window),
      broken_(broken),
      output_(Q(RepairedFileName(broken.toStdString()))) {
  setObjectName("FormRepair");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(L("Repair_Title"));
  auto *lay = new QVBoxLayout(this);
  auto *grid = new QGridLayout;
  grid->addWidget(new QLabel(L("Repair_File") + ":", this), 0, 0);
  LabelFile = new QLabel(QDir::toNativeSeparators(broken), this);
  LabelFile->setObjectName("LabelFile");
  grid->addWidget(LabelFile, 0, 1, 1, 2);
  grid->addWidget(new QLabel(L("Repair_Reference") + ":", this), 1, 0);
  EditReference = new QLineEdit(this);
  EditReference->setObjectName("EditReference");
  EditReference->setMinimumWidth(420);
  grid->addWidget(EditReference, 1, 1);
  ButtonBrowse = new QPushButton("...", this);
  ButtonBrowse->setObjectName("ButtonBrowse");
  ButtonBrowse->setToolTip(L("Repair_Browse"));
  grid->addWidget(ButtonBrowse, 1, 2);
  grid->addWidget(new QLabel(L("Repair_Output") + ":", this), 2, 0);
  LabelOutput = new QLabel(QDir::toNativeSeparators(output_), this);
  LabelOutput->setObjectName("LabelOutput");
  grid->addWidget(LabelOutput, 2, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  lay->addLayout(grid);
  Progress = new QProgressBar(this);
  Progress->setObjectName("Progress");
  Progress->setRange(0, 100);
  Progress->setValue(0);
  lay->addWidget(Progress);
  LabelStatus = new QLabel(this);
  LabelStatus->setObjectName("LabelStatus");
  LabelStatus->setWordWrap(true);
  lay->addWidget(LabelStatus);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ButtonStart = new QPushButton(L("Repair_Start"), this);
  ButtonStart->setObjectName("ButtonStart");
  ButtonStart->setDefault(true);
  ButtonCancel = new QPushButton(L("Cancel"), this);
  ButtonCancel->setObjectName("ButtonCancel");
  buttons->addWidget(ButtonStart);
  buttons->addWidget(ButtonCancel);
  lay->addLayout(buttons);
  connect(ButtonBrowse, &QPushButton::clicked, this, &TFormRepair::Browse);
  connect(ButtonStart, &QPushButton::clicked, this, &TFormRepair::Start);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormRepair::reject);
  connect(EditReference, &QLineEdit::textChanged, this, &TFormRepair::UpdateButtons);

  // The nearest healthy recording of the same formats, looked for on a
  // worker: it opens the folder's recordings one after another.
  searching_ = true;
  LabelStatus->setText(L("Repair_Searching"));
  search_ = new QFutureWatcher<std::string>(this);
  connect(search_, &QFutureWatcher<std::string>::finished, this, [this]() {
    searching_ = false;
    const QString found = Q(search_->result());
    if (EditReference->text().isEmpty()) {
      EditReference->setText(QDir::toNativeSeparators(found));
      LabelStatus->setText(found.isEmpty() ? L("Repair_NoReference") : QString());
    } else if (LabelStatus->text() == L("Repair_Searching")) {
      LabelStatus->clear();
    }
    UpdateButtons();
  });
  const std::string path = broken.toStdString();
  search_->setFuture(QtConcurrent::run([path]() { return ChooseRepairReference(path); }));
  UpdateButtons();
  resize(sizeHint().expandedTo(QSize(640, 0)));
}

TFormRepair::~TFormRepair() {
  cancel_->store(true);
  if (repair_) repair_->waitForFinished();
  if (search_) search_->waitForFinished();
}

void TFormRepair::SetReference(const QString &path) {
  EditReference->setText(QDir::toNativeSeparators(path));
}

void TFormRepair::Browse() {
  const QString start =
      EditReference->text().isEmpty() ? QFileInfo(broken_).absolutePath() : EditReference->text();
  const QString path = QFileDialog::getOpenFileName(this, L("Repair_Browse"), start,
                                                    "MOV, MP4 (*.mov *.MOV *.mp4 *.MP4);;* (*)");
  if (!path.isEmpty()) SetReference(path);
}

void TFormRepair::UpdateButtons() {
  ButtonStart->setEnabled(!running_ && !EditReference->text().trimmed().isEmpty());
  EditReference->setEnabled(!running_);
  ButtonBrowse->setEnabled(!running_);
}

void TFormRepair::Start() {
  if (running_ || EditReference->text().trimmed().isEmpty()) return;
  if (QFileInfo::exists(output_) &&
      QMessageBox::question(this, windowTitle(),
                            L("Repair_Replace").arg(QDir::toNativeSeparators(output_))) !=
          QMessageBox::Yes)
    return;
  running_ = true;
  cancel_->store(false);
  Progress->setValue(0);
  LabelStatus->setText(L("Repair_Working"));
  UpdateButtons();
  const std::string broken = broken_.toStdString();
  const std::string reference =
      QDir::fromNativeSeparators(EditReference->text().trimmed()).toStdString();
  const std::string out = output_.toStdString();
  std::shared_ptr<std::atomic<bool>> cancel = cancel_;
  QPointer<QProgressBar> bar = Progress;
  repair_ = new QFutureWatcher<TRepairResult>(this);
  connect(repair_, &QFutureWatcher<TRepairResult>::finished, this,
          [this]() { Done(repair_->result()); });
  repair_->setFuture(QtConcurrent::run([=]() {
    auto progress = [bar](double f) {
      QMetaObject::invokeMethod(
          bar,
          [bar, f]() {
            if (bar) bar->setValue(int(f * 100));
          },
          Qt::QueuedConnection);
    };
    return RepairRecording(broken, reference, out, progress, cancel.get());
  }));
}

void TFormRepair::Done(const TRepairResult &r) {
  running_ = false;
  repair_->deleteLater();
  repair_ = nullptr;
  UpdateButtons();
  if (r.Ok()) {
    Progress->setValue(100);
    LabelStatus->setText(L("Repair_Done")
                             .arg(r.videoSeconds, 0, 'f', 1)
                             .arg(r.videoFrames)
                             .arg(r.soundSeconds, 0, 'f', 1)
                             .arg(r.bytesSkipped));
    ButtonStart->setEnabled(false);
    ButtonCancel->setText(L("Repair_Close"));
    emit Repaired(output_);
  } else {
    Progress->setValue(0);
    LabelStatus->setText(RepairErrorMessage(r));
  }
  emit Finished(r.Ok());
}

void TFormRepair::reject() {
  // Cancel stops a running repair first (nothing is written); a second
  // press, or one while idle, closes the window.
  if (running_) {
    cancel_->store(true);
    return;
  }
  QDialog::reject();
}

}  // namespace tachora
