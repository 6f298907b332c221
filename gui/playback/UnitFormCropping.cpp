#include "playback/UnitFormCropping.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QVBoxLayout>
#include <cmath>

#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "catalogue/UnitCutterMeta.h"
#include "playback/UnitFormExport.h"

namespace tachora {

namespace {

const char *StageKey(TCutStage stage) {
  switch (stage) {
    case TCutStage::Opening:
      return "Cropping_Open";
    case TCutStage::Copying:
      return "Cropping_Copping";
    case TCutStage::Meta:
      return "Cropping_MetaInfo";
    case TCutStage::WritingHeaders:
      return "Cropping_Finish";
  }
  return "Cropping_Open";
}

QString WithDetail(QString text, const std::string &detail) {
  return detail.empty() ? text : text + ": " + Q(detail);
}

// The folder new fragments go to: the last one used, else the user's
// videos folder, else home.
QString FragmentFolder() {
  const QString stored = settings::kCopyFolder.Get();
  if (!stored.isEmpty() && QFileInfo(stored).isDir()) return stored;
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (!videos.isEmpty() && QFileInfo(videos).isDir()) return videos;
  return QDir::homePath();
}

long double ClampFraction(const QString &text, long double def, long double low) {
  long double v = ParseFloatDot(text.trimmed().toStdString(), def);
  if (!std::isfinite(v)) v = def;
  return std::clamp(v, low, 1.0L);
}

}  // namespace

int64_t TripMsAt(const TFileItem &row, long double fraction) {
  const TDateTime span = row.Summary.End - row.Summary.Start;
  if (row.Summary.Start > 0 && span > 0) return RoundHalfAway(fraction * span * kMsPerDay);
  if (row.Summary.Duration >= 0) return RoundHalfAway(fraction * row.Summary.Duration);
  return -1;
}

QString ClockText(double seconds) {
  const int64_t s = seconds > 0 ? static_cast<int64_t>(seconds) : 0;
  return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                           static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
}

QString CutFailureText(const TCutResult &r) {
  QString reason;
  switch (r.error) {
    case TCutError::None:
    case TCutError::Cancelled:
      return {};
    case TCutError::NoOutput:
      reason = L("Cut_NoOutput");
      break;
    case TCutError::EmptySelection:
      reason = L("Cut_EmptySelection");
      break;
    case TCutError::NoTrackChosen:
      reason = L("Cut_NoTrackChosen");
      break;
    case TCutError::ReplacesSource:
      reason = L("Cut_ReplacesSource").arg(Q(r.errorPath), Q(r.errorDetail));
      break;
    case TCutError::NothingReadable:
      reason = L("Cut_NothingReadable");
      break;
    case TCutError::NoTrackToCopy:
      reason = L("Cut_NoTrackToCopy");
      break;
    case TCutError::CannotCreate:
      reason = WithDetail(L("Cut_CannotCreate").arg(Q(r.errorPath)), r.errorDetail);
      break;
    case TCutError::CannotWrite:
      reason = WithDetail(L("Cut_CannotWrite").arg(Q(r.errorPath)), r.errorDetail);
      break;
    case TCutError::SourceChanged:
      reason = WithDetail(L("Cut_SourceChanged").arg(Q(r.errorPath)), r.errorDetail);
      break;
    case TCutError::WouldReplace:
      reason = L("Cut_WouldReplace").arg(Q(r.errorPath));
      break;
  }
  return L("Mes_CutFailed") + "\n\n" + reason;
}

QString CutReplaceQuestion(const TCutTrip &trip, const TCutOptions &options,
                           const QString &confirmed) {
  return CutReplaceQuestion(std::vector<TChannelCut>{{{}, trip, options, false}}, confirmed);
}

QString CutReplaceQuestion(const std::vector<TChannelCut> &cuts, const QString &confirmed) {
  QStringList replaced;
  for (const TChannelCut &cut : cuts) {
    const QString movie = Q(cut.Options.output);
    const bool movieAsked =
        !confirmed.isEmpty() && QFileInfo(confirmed).absoluteFilePath() == movie;
    for (const std::string &p : CutWouldReplace(cut.Trip, cut.Options))
      if (Q(p) != movie || !movieAsked) replaced << Q(p);
  }
  if (replaced.isEmpty()) return {};
  if (replaced.size() == 1)
    return L("Mes_FileExists") + "\n" + replaced[0] + "\n" + L("Mes_SureToReplace") + "?";
  return L("Mes_FilesExist") + ":\n" + replaced.join("\n") + "\n" + L("Mes_SureToReplaceThem") +
         "?";
}

QString CutNoteMessage(const TCutNote &n) {
  const char *key = "Cut_Note_CopyFailed";
  switch (n.kind) {
    case TCutNoteKind::Unreadable:
      key = "Cut_Note_Unreadable";
      break;
    case TCutNoteKind::VideoLeftOut:
      key = "Cut_Note_VideoLeftOut";
      break;
    case TCutNoteKind::SoundLeftOut:
      key = "Cut_Note_SoundLeftOut";
      break;
    case TCutNoteKind::SoundAfterGap:
      key = "Cut_Note_SoundAfterGap";
      break;
    case TCutNoteKind::CopyFailed:
      key = "Cut_Note_CopyFailed";
      break;
    case TCutNoteKind::MetaFailed:
      key = "Cut_Note_MetaFailed";
      break;
    case TCutNoteKind::MetaNotWritten:
      key = "Cut_Note_MetaNotWritten";
      break;
  }
  return WithDetail(L(key).arg(Q(n.path)), n.detail);
}

QString ChannelCutsMessage(const std::vector<TChannelCutResult> &results, bool &written) {
  const bool several = results.size() > 1;
  written = false;
  bool cancelled = false;
  QStringList failures, notes;
  for (const TChannelCutResult &r : results) {
    const QString camera = Q(r.Channel);
    const QString prefix = several ? L("Property_Channel") + " " + camera + ": " : QString();
    for (const TCutNote &n : r.Result.notes) notes << prefix + CutNoteMessage(n);
    if (r.Result.written) {
      written = true;
      if (several && r.Partial) notes << L("Cut_ChannelPartial").arg(camera);
    } else if (r.Result.cancelled || r.Result.error == TCutError::Cancelled) {
      cancelled = true;
      if (several) failures << L("Cut_ChannelCancelled").arg(camera);
    } else {
      failures << prefix + CutFailureText(r.Result);
    }
  }
  // The user stopped before anything was written: nothing to say.
  if (!written && cancelled && failures.size() == (several ? static_cast<int>(results.size()) : 0))
    return {};
  if (written) {
    const QStringList all = failures + notes;
    return all.isEmpty() ? QString() : L("Mes_CutNotes") + "\n\n" + all.join("\n");
  }
  QString text = failures.join("\n\n");
  if (!notes.isEmpty()) text += "\n\n" + notes.join("\n");
  return text;
}

// What the worker and the window share: the cancel flag, the newest
// progress (posted once until the window has taken it) and the result.
struct TFormCropping::TJob {
  std::atomic<bool> Cancel{false};
  std::mutex Lock;
  TCutProgress Latest;
  bool Posted = false;
  std::vector<TChannelCutResult> Results;  // one per camera, the main one first
};

TFormCropping::TFormCropping(QWidget *parent) : QDialog(parent) {
  qRegisterMetaType<tachora::TCutResult>();
  setObjectName(QStringLiteral("FormCropping"));
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  setWindowModality(Qt::ApplicationModal);
  ask_ = [this](const QString &text) {
    return QMessageBox::question(this, QStringLiteral("Tachora"), text) == QMessageBox::Yes;
  };
  CreateControls();
  Translate();
}

TFormCropping::~TFormCropping() {
  if (worker_) {
    job_->Cancel = true;
    worker_->wait();
    delete worker_;
  }
}

void TFormCropping::CreateControls() {
  auto *grid = new QGridLayout;
  LabelFile = new QLabel(this);
  LabelFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(LabelFile, 0, 0, 1, 3);
  auto addPosition = [&](int row, QLabel *&label, QLineEdit *&edit, QLabel *&time) {
    label = new QLabel(this);
    edit = new QLineEdit(this);
    edit->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0.0000000")) + 16);
    label->setBuddy(edit);
    time = new QLabel(this);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(time, row, 2);
    connect(edit, &QLineEdit::editingFinished, this, [this]() {
      ReadEdits();
      UpdateTexts();
    });
  };
  addPosition(1, LabelStarted, EditStart, LabelStartTime);
  addPosition(2, LabelFinished, EditFinish, LabelFinishTime);
  grid->setColumnStretch(2, 1);

  auto *nameRow = new QHBoxLayout;
  EditFileName = new QLineEdit(this);
  EditFileName->setMinimumWidth(480);
  ButtonBrowse = new QPushButton(QStringLiteral("..."), this);
  ButtonBrowse->setMaximumWidth(ButtonBrowse->fontMetrics().horizontalAdvance("....") + 24);
  connect(ButtonBrowse, &QPushButton::clicked, this, &TFormCropping::Browse);
  nameRow->addWidget(EditFileName, 1);
  nameRow->addWidget(ButtonBrowse);

  auto *checks = new QHBoxLayout;
  CheckVideo = new QCheckBox(this);
  CheckAudio = new QCheckBox(this);
  CheckMeta = new QCheckBox(this);
  for (QCheckBox *box : {CheckVideo, CheckAudio, CheckMeta}) {
    box->setChecked(true);
    checks->addWidget(box);
  }
  checks->addStretch(1);

  auto *status = new QHBoxLayout;
  LabelTime = new QLabel(QStringLiteral("00:00:00"), this);
  LabelCurrentFile = new QLabel(this);
  status->addWidget(LabelTime);
  status->addSpacing(16);
  status->addWidget(LabelCurrentFile, 1);
  LabelAction = new QLabel(this);

  auto *buttons = new QHBoxLayout;
  ButtonStart = new QPushButton(this);
  ButtonStart->setDefault(true);
  ButtonCancel = new QPushButton(this);
  connect(ButtonStart, &QPushButton::clicked, this, &TFormCropping::StartCut);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormCropping::CancelCut);
  ButtonExport = new QPushButton(this);
  connect(ButtonExport, &QPushButton::clicked, this, &TFormCropping::ExportVideo);
  buttons->addWidget(ButtonExport);
  buttons->addStretch(1);
  buttons->addWidget(ButtonStart);
  buttons->addWidget(ButtonCancel);

  auto *top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addLayout(nameRow);
  top->addLayout(checks);
  top->addLayout(status);
  top->addWidget(LabelAction);
  top->addStretch(1);
  top->addLayout(buttons);
}

void TFormCropping::Translate() {
  setWindowTitle(L("Cropping_Title"));
  LabelStarted->setText(L("Started") + ":");
  LabelFinished->setText(L("Finished") + ":");
  CheckVideo->setText(L("Video"));
  CheckAudio->setText(L("Audio"));
  CheckMeta->setText(L("MetaInfo") + L("Cropping_MetaDetail"));
  ButtonStart->setText(L("Cropping_BtnStart"));
  ButtonCancel->setText(L("Cancel"));
  ButtonExport->setText(L("Export_Button"));
  if (export_) export_->Translate();
  UpdateTexts();
  if (Running()) ShowProgress();
}

void TFormCropping::Open(std::shared_ptr<const TRowTelemetry> trip, long double a, long double b) {
  if (Running() || !trip) {
    raise();
    return;
  }
  trip_ = std::move(trip);
  cutTrip_ = MakeCutTrip(trip_->Row, trip_->Tracks);
  a_ = std::clamp(a, 0.0L, 1.0L);
  b_ = std::clamp(b, a_, 1.0L);
  defaultName_.clear();
  EditFileName->clear();
  confirmedReplace_.clear();
  EditStart->setText(Q(FormatFixed(a_, 6)));
  EditFinish->setText(Q(FormatFixed(b_, 6)));
  LabelCurrentFile->clear();
  LabelAction->clear();
  SetControlsEnabled(true);
  UpdateTexts();
  show();
  raise();
  activateWindow();
}

void TFormCropping::ReadEdits() {
  a_ = ClampFraction(EditStart->text(), 0, 0);
  b_ = ClampFraction(EditFinish->text(), 1, a_);
  EditStart->setText(Q(FormatFixed(a_, 6)));
  EditFinish->setText(Q(FormatFixed(b_, 6)));
}

void TFormCropping::UpdateTexts() {
  const TFileItem empty;
  const TFileItem &row = trip_ ? trip_->Row : empty;
  LabelFile->setText(L("File") + ": " + Q(cutTrip_.caption));
  startDate_ = TripDateTime(row, a_);
  endDate_ = TripDateTime(row, b_);
  if (startDate_ <= 0) startDate_ = endDate_;
  if (endDate_ <= 0) endDate_ = startDate_;
  auto timeText = [&](long double x, TDateTime at) {
    const int64_t ms = TripMsAt(row, x);
    QString text = L("VideoTime") + ": " + ClockText(ms / 1000.0);
    if (at > 0) text += ",     " + Q(FormatDateTime(at));
    return text;
  };
  LabelStartTime->setText(timeText(a_, startDate_));
  LabelFinishTime->setText(timeText(b_, endDate_));
  if (!Running()) {
    LabelTime->setText(ClockText((TripMsAt(row, b_) - TripMsAt(row, a_)) / 1000.0));
    // The proposed name follows A and B until the user gives another.
    if (trip_ && EditFileName->text() == defaultName_) {
      defaultName_ = DefaultName();
      EditFileName->setText(defaultName_);
    }
  }
}

QString TFormCropping::DefaultName() const {
  return Q(
      DefaultFragmentName(cutTrip_.caption, startDate_, endDate_, FragmentFolder().toStdString()));
}

void TFormCropping::Browse() {
  QFileDialog dialog(this, L("Cropping_Title"), EditFileName->text(),
                     L("Cropping_FilterMov") + " (*.mov);;" + L("Cropping_FilterAny") + " (*)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("mov"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  confirmedReplace_ = dialog.selectedFiles().first();
  EditFileName->setText(confirmedReplace_);
}

void TFormCropping::SetControlsEnabled(bool enabled) {
  for (QWidget *w :
       std::initializer_list<QWidget *>{EditStart, EditFinish, EditFileName, ButtonBrowse,
                                        CheckVideo, CheckAudio, CheckMeta, ButtonStart})
    w->setEnabled(enabled);
}

void TFormCropping::StartCut() {
  if (Running() || !trip_) return;
  ReadEdits();
  UpdateTexts();
  const QString path = EditFileName->text().trimmed();
  if (path.isEmpty()) {
    TCutResult none;
    none.error = TCutError::NoOutput;
    ShowMessage(CutFailureText(none), true);
    return;
  }
  const QString absolute = QFileInfo(path).absoluteFilePath();
  TCutOptions options;
  options.a = a_;
  options.b = b_;
  options.video = CheckVideo->isChecked();
  options.audio = CheckAudio->isChecked();
  options.meta = CheckMeta->isChecked();
  options.output = absolute.toStdString();
  // Every camera of the trip is cut into its own file.
  const std::vector<TChannelCut> cuts = MakeChannelCuts(trip_->Row, cutTrip_, options);
  const QString question = CutReplaceQuestion(cuts, confirmedReplace_);
  if (!question.isEmpty() && !ask_(question)) return;
  settings::kCopyFolder.Set(QFileInfo(absolute).absolutePath());

  std::vector<TChannelCut> toCut = cuts;
  for (TChannelCut &cut : toCut) {
    cut.Options.startDate = startDate_;
    cut.Options.endDate = endDate_;
    // Cancel means no new file: a fragment cut short is not what was asked for.
    cut.Options.keepOnCancel = false;
  }

  SetControlsEnabled(false);
  LabelCurrentFile->clear();
  LabelAction->setText(L("Cropping_Open") + " . . .");
  job_ = std::make_shared<TJob>();
  auto job = job_;
  auto trip = trip_;  // keeps the telemetry objects alive for the worker
  worker_ = QThread::create([this, job, trip, toCut, hook = progressHook_]() {
    TMovingInfoMetaSource source;  // one per thread
    auto progress = [this, job, &hook](const TCutProgress &p) {
      if (hook) hook();
      PostProgress(*job, p);
      return !job->Cancel.load();
    };
    job->Results = CutChannels(toCut, &source, progress);
  });
  connect(worker_, &QThread::finished, this, &TFormCropping::OnWorkerDone);
  worker_->start();
}

// Worker thread: keeps the newest progress and posts one call to the UI
// thread until that call has taken it (the copy never waits for drawing).
void TFormCropping::PostProgress(TJob &job, const TCutProgress &progress) {
  std::lock_guard lock(job.Lock);
  job.Latest = progress;
  if (job.Posted) return;
  job.Posted = true;
  QMetaObject::invokeMethod(this, &TFormCropping::ShowProgress, Qt::QueuedConnection);
}

void TFormCropping::ShowProgress() {
  if (!job_) return;
  TCutProgress p;
  {
    std::lock_guard lock(job_->Lock);
    p = job_->Latest;
    job_->Posted = false;
  }
  QString caption = Q(p.fileName);
  if (p.recordings > 1)
    caption = QStringLiteral("[%1 / %2] ").arg(p.recording + 1).arg(p.recordings) + caption;
  LabelTime->setText(ClockText(p.outputSeconds));
  LabelCurrentFile->setText(QString::number(std::lround(p.fraction * 100)) + "% - " + caption);
  LabelAction->setText(L(StageKey(p.stage)) + " . . .");
}

void TFormCropping::CancelCut() {
  if (job_) job_->Cancel = true;
  hide();
}

void TFormCropping::reject() {
  CancelCut();
}

void TFormCropping::closeEvent(QCloseEvent *event) {
  CancelCut();
  event->accept();
}

void TFormCropping::OnWorkerDone() {
  if (!worker_) return;
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  const std::vector<TChannelCutResult> results = job_->Results;
  const TCutResult result = results.empty() ? TCutResult{} : results.front().Result;
  job_.reset();
  SetControlsEnabled(true);
  // The last stage shown ("Opening file . . .") is over.
  LabelAction->clear();
  LabelCurrentFile->clear();
  bool written = false;
  const QString message = ChannelCutsMessage(results, written);
  if (written) {
    hide();
    for (const TChannelCutResult &r : results)
      if (r.Result.written) emit FragmentSaved(Q(r.Result.moviePath));
  }
  if (!message.isEmpty()) ShowMessage(message, true);
  UpdateTexts();
  emit CutFinished(result);
}

void TFormCropping::ExportVideo() {
  if (!trip_) return;
  ReadEdits();
  UpdateTexts();
  if (!export_) export_ = new TFormExport(this);
  export_->Open(trip_, a_, b_);
}

// A message that does not block: the window goes on while it is read.
void TFormCropping::ShowMessage(const QString &text, bool warning) {
  QWidget *parent = isVisible() ? this : parentWidget();
  auto *box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information,
                              QStringLiteral("Tachora"), text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("MessageCutting"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace tachora
