#include "catalogue/UnitFormCopy.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "app/UnitDesktopIntegration.h"
#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitFormSelectFolder.h"

namespace tachora {

namespace {

// The engine's job behind the window's interface.
class TEngineJob : public ICopyJob {
 public:
  explicit TEngineJob(std::unique_ptr<TFormCopyThread> job) : job_(std::move(job)) {}
  TCopyProgress Progress() const override { return job_->Progress(); }
  void SetPaused(bool paused) override { job_->SetPaused(paused); }
  void SetVerify(bool verify) override { job_->SetVerify(verify); }
  void Terminate() override { job_->Terminate(); }

 private:
  std::unique_ptr<TFormCopyThread> job_;  // its destructor waits for the thread
};

qint64 SteadyMs() {
  static QElapsedTimer timer;
  if (!timer.isValid()) timer.start();
  return timer.elapsed();
}

}  // namespace

// The way from the copy thread to the window: the thread posts its question
// to the window and waits here for the answer; the window's end answers
// every question, asked or not yet, with "no".
struct TFormCopy::TBridge {
  std::mutex Mutex;
  std::condition_variable Answered;
  TFormCopy *Form = nullptr;  // null once the window is going away
  uint64_t Asked = 0, Replied = 0;
  bool Answer = false;

  void Reply(uint64_t serial, bool answer) {
    {
      std::lock_guard lock(Mutex);
      if (serial != Asked) return;
      Replied = serial;
      Answer = answer;
    }
    Answered.notify_all();
  }
};

TCopyLines CopyLines(const TCopyProgress &p) {
  TCopyLines l;
  const int index = std::clamp(p.CurrentIndex, 0, std::max(0, p.FileCount - 1));
  l.File = Q(CopyFileLine(index, p.FileCount, p.CurrentSource));
  if (p.Verifying) l.File = L("Copy_Verifying") + ": " + Q(p.CurrentDestination);
  l.Percent = CopyPercent(p.CopiedBytes, p.TotalBytes);
  l.Size = Q(CopySizeLine(p.CopiedBytes, p.TotalBytes));
  l.Speed = Q(CopySpeedLine(p.Speed));
  l.Remains = Q(CopyRemainingLine(p.CopiedBytes, p.TotalBytes, p.Speed));
  return l;
}

QString CopyOverwriteQuestion(const QString &destination) {
  return L("Mes_FileExists") + "\n" + destination + "\n\n" + L("Mes_SureToReplace") + " ?";
}

TFormCopy::TFormCopy(const QString &rowName, QWidget *parent, TClock clock)
    : QDialog(parent), rowName_(rowName), clock_(clock ? std::move(clock) : TClock(SteadyMs)) {
  setObjectName("FormCopy");
  setAttribute(Qt::WA_DeleteOnClose);
  bridge_ = std::make_shared<TBridge>();
  bridge_->Form = this;

  auto caption = [this](const char *name) {
    auto *l = new QLabel(this);
    l->setObjectName(name);
    return l;
  };
  auto value = [this](const char *name) {
    auto *l = new QLabel(this);
    l->setObjectName(name);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  LabelFile = caption("LabelFile");
  LabelSize = caption("LabelSize");
  LabelTime = caption("LabelTime");
  LabelSpeed = caption("LabelSpeed");
  LabelRemains = caption("LabelRemains");
  ValueFile = value("ValueFile");
  ValueSize = value("ValueSize");
  ValueTime = value("ValueTime");
  ValueSpeed = value("ValueSpeed");
  ValueRemains = value("ValueRemains");
  // A long path must not widen the window: it is cut at the left.
  ValueFile->setMinimumWidth(1);
  ValueFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setRange(0, 100);
  ProgressBar->setTextVisible(false);
  ButtonOpenFolder = new QPushButton(this);
  ButtonOpenFolder->setObjectName("ButtonOpenFolder");
  ButtonPause = new QPushButton(this);
  ButtonPause->setObjectName("ButtonPause");
  ButtonPause->setCheckable(true);
  CheckVerify = new QCheckBox(this);
  CheckVerify->setObjectName("CheckVerify");
  CheckVerify->setChecked(settings::kCopyVerify.Get());
  TimerProgress = new QTimer(this);
  TimerProgress->setInterval(100);

  auto *grid = new QGridLayout;
  const std::pair<QLabel *, QLabel *> rows[] = {{LabelFile, ValueFile},
                                                {LabelSize, ValueSize},
                                                {LabelTime, ValueTime},
                                                {LabelSpeed, ValueSpeed},
                                                {LabelRemains, ValueRemains}};
  int r = 0;
  for (const auto &[c, v] : rows) {
    grid->addWidget(c, r, 0, Qt::AlignLeft);
    grid->addWidget(v, r, 1);
    v->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ++r;
  }
  grid->setColumnStretch(1, 1);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(CheckVerify);
  buttons->addStretch(1);
  buttons->addWidget(ButtonOpenFolder);
  buttons->addWidget(ButtonPause);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(ProgressBar);
  layout->addLayout(buttons);
  // Only the width changes: the lines need all of it for long paths.
  setMinimumWidth(350);
  Translate();
  setFixedHeight(sizeHint().height());
  resize(480, height());

  connect(TimerProgress, &QTimer::timeout, this, &TFormCopy::UpdateDisplay);
  connect(ButtonPause, &QPushButton::toggled, this, &TFormCopy::SetPaused);
  connect(ButtonOpenFolder, &QPushButton::clicked, this, &TFormCopy::OpenFolder);
  connect(CheckVerify, &QCheckBox::toggled, this, [this](bool on) {
    settings::kCopyVerify.Set(on);
    if (job_) job_->SetVerify(on);
  });
  Translate();
}

TFormCopy::~TFormCopy() {
  StopJob();
}

void TFormCopy::Translate() {
  LabelFile->setText(L("File") + ":");
  LabelSize->setText(L("Size") + ":");
  LabelTime->setText(L("Time") + ":");
  LabelSpeed->setText(L("Speed") + ":");
  LabelRemains->setText(L("Remains") + ":");
  ButtonOpenFolder->setText(L("OpenFolder"));
  ButtonPause->setText(L("Pause"));
  CheckVerify->setText(L("Copy_Verify"));
  setWindowTitle(L("Copying_Title") + " " + rowName_);
}

TCopyCallbacks TFormCopy::Callbacks() {
  TCopyCallbacks cb;
  std::shared_ptr<TBridge> bridge = bridge_;
  cb.AskOverwrite = [bridge](const std::string &destination) {
    std::unique_lock lock(bridge->Mutex);
    if (!bridge->Form) return false;
    const uint64_t serial = ++bridge->Asked;
    const QString dest = Q(destination);
    TFormCopy *form = bridge->Form;
    // Posted while the window cannot go away (it clears Form under the lock).
    QMetaObject::invokeMethod(
        form, [form, dest, serial]() { form->Ask(dest, serial); }, Qt::QueuedConnection);
    bridge->Answered.wait(lock, [&]() { return !bridge->Form || bridge->Replied == serial; });
    return bridge->Form && bridge->Replied == serial && bridge->Answer;
  };
  cb.ShowError = [bridge](const std::string &message) {
    std::lock_guard lock(bridge->Mutex);
    if (!bridge->Form) return;
    TFormCopy *form = bridge->Form;
    const QString text = Q(message);
    QMetaObject::invokeMethod(
        form, [form, text]() { form->ShowError(text); }, Qt::QueuedConnection);
  };
  return cb;
}

void TFormCopy::Ask(const QString &destination, uint64_t serial) {
  auto *box =
      new QMessageBox(QMessageBox::Question, windowTitle(), CopyOverwriteQuestion(destination),
                      QMessageBox::Yes | QMessageBox::No, this);
  box->setObjectName("BoxOverwrite");
  box->setDefaultButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  std::shared_ptr<TBridge> bridge = bridge_;
  connect(box, &QMessageBox::finished, this,
          [bridge, serial](int result) { bridge->Reply(serial, result == QMessageBox::Yes); });
  box->open();
}

void TFormCopy::ShowError(const QString &message) {
  auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
  box->setObjectName("BoxError");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TFormCopy::Start(std::unique_ptr<ICopyJob> job) {
  job_ = std::move(job);
  job_->SetVerify(CheckVerify->isChecked());
  startMs_ = clock_();
  UpdateDisplay();
  show();
  if (!finished_) TimerProgress->start();
}

qint64 TFormCopy::ElapsedMs() const {
  return (paused_ ? pausedAtMs_ : clock_()) - startMs_;
}

void TFormCopy::UpdateDisplay() {
  if (!job_ || finished_) return;
  const TCopyProgress p = job_->Progress();
  if (!p.CurrentDestination.empty()) lastDestination_ = Q(p.CurrentDestination);
  if (p.Finished) {
    Finish(p);
    return;
  }
  const TCopyLines l = CopyLines(p);
  ValueFile->setText(l.File);
  ValueFile->setToolTip(l.File);
  ValueSize->setText(l.Size);
  if (ProgressBar->value() != l.Percent) ProgressBar->setValue(l.Percent);
  ValueSpeed->setText(l.Speed);
  ValueRemains->setText(l.Remains);
  if (!paused_) ValueTime->setText(Q(FormatTime(ElapsedMs() / 1000 / 86400.0)));
}

void TFormCopy::Finish(const TCopyProgress &p) {
  finished_ = true;
  TimerProgress->stop();
  ValueFile->setText(lastDestination_);
  ValueFile->setToolTip(lastDestination_);
  ValueSize->setText(QString::number(std::max<int64_t>(0, p.CopiedBytes) / 1024 / 1024) + " " +
                     L("Mb"));
  ProgressBar->setValue(100);
  if (!paused_) ValueTime->setText(Q(FormatTime(ElapsedMs() / 1000 / 86400.0)));
  for (QWidget *w : {static_cast<QWidget *>(LabelSpeed), static_cast<QWidget *>(ValueSpeed),
                     static_cast<QWidget *>(LabelRemains), static_cast<QWidget *>(ValueRemains),
                     static_cast<QWidget *>(ButtonPause)})
    w->hide();
  CheckVerify->setEnabled(false);
  layout()->invalidate();
  layout()->activate();
  setFixedHeight(layout()->sizeHint().height());  // no gap where the lines were
  QApplication::beep();
  emit CopyFinished();
}

void TFormCopy::SetPaused(bool paused) {
  if (paused == paused_ || finished_) return;
  const qint64 now = clock_();
  if (paused) {
    pausedAtMs_ = now;
  } else {
    startMs_ += now - pausedAtMs_;  // the time line leaves the pause out
  }
  paused_ = paused;
  if (job_) job_->SetPaused(paused);
  if (ButtonPause->isChecked() != paused) ButtonPause->setChecked(paused);
}

void TFormCopy::OpenFolder() {
  if (lastDestination_.isEmpty()) return;
  // The file manager gets the disk to itself for a moment.
  if (!paused_ && !finished_) {
    SetPaused(true);
    QTimer::singleShot(3000, this, [this]() { SetPaused(false); });
  }
  ShowInFileManager(lastDestination_, this);
}

void TFormCopy::StopJob() {
  {
    std::lock_guard lock(bridge_->Mutex);
    bridge_->Form = nullptr;
  }
  bridge_->Answered.notify_all();
  TimerProgress->stop();
  if (!job_) return;
  job_->Terminate();
  // The thread ends within one block, but its last flush to a slow card may
  // take a while: it is waited for off the UI thread.
  std::shared_ptr<ICopyJob> job(job_.release());
  QThreadPool::globalInstance()->start([job]() mutable { job.reset(); });
}

void TFormCopy::closeEvent(QCloseEvent *event) {
  StopJob();
  QDialog::closeEvent(event);
}

void StartCopyWindow(const TFileItem &row, QWidget *parent) {
  const QString name = Q(row.Summary.DisplayName);
  auto *folder = new TFormSelectFolder(parent);
  folder->setAttribute(Qt::WA_DeleteOnClose);
  folder->setWindowTitle(L("SelectFolderFor") + " " + name);
  folder->SetPath(DefaultCopyFolder());
  QObject::connect(folder, &QDialog::accepted, folder, [row, name, folder, parent]() {
    const QString target = folder->Path();
    settings::kCopyFolder.Set(target);
    auto *form = new TFormCopy(name, parent);
    auto job =
        std::make_unique<TFormCopyThread>(row, target.toStdString(), form->Callbacks(), false);
    job->SetVerify(form->CheckVerify->isChecked());
    job->Start();
    form->Start(std::make_unique<TEngineJob>(std::move(job)));
  });
  folder->open();
}

}  // namespace tachora
