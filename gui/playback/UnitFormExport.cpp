#include "playback/UnitFormExport.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QVBoxLayout>
#include <cmath>

#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "playback/UnitFormCropping.h"
#include "render/UnitRenderTrip.h"

namespace tachora {

namespace {

// The layouts in the order of the list.
constexpr TRenderLayout kLayouts[] = {TRenderLayout::PictureInPicture, TRenderLayout::SideBySide,
                                      TRenderLayout::MainOnly};
const char *LayoutKey(TRenderLayout layout) {
  switch (layout) {
    case TRenderLayout::SideBySide:
      return "Export_Layout_Side";
    case TRenderLayout::MainOnly:
      return "Export_Layout_Main";
    default:
      return "Export_Layout_Pip";
  }
}

QString ExportFolder() {
  const QString stored = settings::kCopyFolder.Get();
  if (!stored.isEmpty() && QFileInfo(stored).isDir()) return stored;
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (!videos.isEmpty() && QFileInfo(videos).isDir()) return videos;
  return QDir::homePath();
}

QString WithDetail(QString text, const std::string &detail) {
  return detail.empty() ? text : text + ": " + Q(detail);
}

}  // namespace

QString RenderFailureText(const TRenderResult &r) {
  QString reason;
  switch (r.Error) {
    case TRenderError::None:
    case TRenderError::Cancelled:
      return {};
    case TRenderError::NoOutput:
      reason = L("Cut_NoOutput");
      break;
    case TRenderError::EmptySelection:
      reason = L("Export_EmptySelection");
      break;
    case TRenderError::ReplacesSource:
      reason = L("Export_ReplacesSource").arg(Q(r.ErrorPath));
      break;
    case TRenderError::WouldReplace:
      reason = L("Cut_WouldReplace").arg(Q(r.ErrorPath));
      break;
    case TRenderError::NothingReadable:
      reason = L("Export_NothingReadable");
      break;
    case TRenderError::NoEncoder:
      reason = WithDetail(L("Export_NoEncoder"), r.ErrorDetail);
      break;
    case TRenderError::CannotCreate:
      reason = WithDetail(L("Cut_CannotCreate").arg(Q(r.ErrorPath)), r.ErrorDetail);
      break;
    case TRenderError::CannotWrite:
      reason = WithDetail(L("Cut_CannotWrite").arg(Q(r.ErrorPath)), r.ErrorDetail);
      break;
  }
  return L("Export_Failed") + "\n\n" + reason;
}

QString RenderNoteMessage(const TRenderNote &n) {
  const char *key = "Export_Note_Unreadable";
  switch (n.Kind) {
    case TRenderNoteKind::Unreadable:
      key = "Export_Note_Unreadable";
      break;
    case TRenderNoteKind::ChannelMissing:
      key = "Export_Note_ChannelMissing";
      break;
    case TRenderNoteKind::ChannelShorter:
      key = "Export_Note_ChannelShorter";
      break;
    case TRenderNoteKind::NoSound:
      key = "Export_Note_NoSound";
      break;
    case TRenderNoteKind::DecodeErrors:
      key = "Export_Note_DecodeErrors";
      break;
  }
  return WithDetail(L(key).arg(Q(n.Path)), n.Detail);
}

// What the worker and the window share: the cancel flag, the newest
// progress (posted once until the window has taken it) and the result.
struct TFormExport::TJob {
  std::atomic<bool> Cancel{false};
  std::mutex Lock;
  TRenderProgress Latest;
  bool Posted = false;
  TRenderResult Result;
};

TFormExport::TFormExport(QWidget *parent) : QDialog(parent) {
  qRegisterMetaType<tachora::TRenderResult>();
  setObjectName(QStringLiteral("FormExport"));
  setWindowModality(Qt::ApplicationModal);
  ask_ = [this](const QString &text) {
    return QMessageBox::question(this, QStringLiteral("Tachora"), text) == QMessageBox::Yes;
  };
  CreateControls();
  Translate();
}

TFormExport::~TFormExport() {
  if (worker_) {
    job_->Cancel = true;
    worker_->wait();
    delete worker_;
  }
}

void TFormExport::CreateControls() {
  LabelRange = new QLabel(this);
  LabelRange->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto *layoutRow = new QHBoxLayout;
  LabelLayout = new QLabel(this);
  ComboLayout = new QComboBox(this);
  for (size_t i = 0; i < std::size(kLayouts); ++i) ComboLayout->addItem(QString());
  LabelLayout->setBuddy(ComboLayout);
  layoutRow->addWidget(LabelLayout);
  layoutRow->addWidget(ComboLayout, 1);

  GroupOverlay = new QGroupBox(this);
  auto *overlay = new QGridLayout(GroupOverlay);
  CheckTime = new QCheckBox(GroupOverlay);
  CheckSpeed = new QCheckBox(GroupOverlay);
  CheckPosition = new QCheckBox(GroupOverlay);
  CheckGSensor = new QCheckBox(GroupOverlay);
  overlay->addWidget(CheckTime, 0, 0);
  overlay->addWidget(CheckSpeed, 0, 1);
  overlay->addWidget(CheckPosition, 1, 0);
  overlay->addWidget(CheckGSensor, 1, 1);

  auto *nameRow = new QHBoxLayout;
  LabelFile = new QLabel(this);
  EditFileName = new QLineEdit(this);
  EditFileName->setMinimumWidth(420);
  LabelFile->setBuddy(EditFileName);
  ButtonBrowse = new QPushButton(QStringLiteral("..."), this);
  ButtonBrowse->setMaximumWidth(ButtonBrowse->fontMetrics().horizontalAdvance("....") + 24);
  connect(ButtonBrowse, &QPushButton::clicked, this, &TFormExport::Browse);
  nameRow->addWidget(LabelFile);
  nameRow->addWidget(EditFileName, 1);
  nameRow->addWidget(ButtonBrowse);

  Progress = new QProgressBar(this);
  Progress->setRange(0, 1000);
  Progress->setValue(0);
  Progress->setTextVisible(false);
  LabelRemaining = new QLabel(this);

  auto *buttons = new QHBoxLayout;
  ButtonStart = new QPushButton(this);
  ButtonStart->setDefault(true);
  ButtonCancel = new QPushButton(this);
  connect(ButtonStart, &QPushButton::clicked, this, &TFormExport::StartExport);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormExport::CancelExport);
  buttons->addWidget(LabelRemaining, 1);
  buttons->addWidget(ButtonStart);
  buttons->addWidget(ButtonCancel);

  auto *top = new QVBoxLayout(this);
  top->addWidget(LabelRange);
  top->addLayout(layoutRow);
  top->addWidget(GroupOverlay);
  top->addLayout(nameRow);
  top->addWidget(Progress);
  top->addStretch(1);
  top->addLayout(buttons);

  // The stored choices.
  TRenderLayout layout = TRenderLayout::PictureInPicture;
  ParseLayout(settings::kExportLayout.Get().toStdString(), layout);
  ComboLayout->setCurrentIndex(
      static_cast<int>(std::find(std::begin(kLayouts), std::end(kLayouts), layout) - kLayouts));
  TRenderOverlay items;
  if (!ParseOverlay(settings::kExportOverlay.Get().toStdString(), items)) items = TRenderOverlay();
  CheckTime->setChecked(items.Time);
  CheckSpeed->setChecked(items.Speed);
  CheckPosition->setChecked(items.Position);
  CheckGSensor->setChecked(items.GSensor);
}

void TFormExport::Translate() {
  setWindowTitle(L("Export_Title"));
  LabelLayout->setText(L("Export_Layout") + ":");
  for (size_t i = 0; i < std::size(kLayouts); ++i)
    ComboLayout->setItemText(static_cast<int>(i), L(LayoutKey(kLayouts[i])));
  GroupOverlay->setTitle(L("Export_Overlay"));
  CheckTime->setText(L("Export_Overlay_Time"));
  CheckSpeed->setText(L("Export_Overlay_Speed"));
  CheckPosition->setText(L("Export_Overlay_Position"));
  CheckGSensor->setText(L("Export_Overlay_GSensor"));
  LabelFile->setText(L("File") + ":");
  ButtonStart->setText(L("Export_Start"));
  ButtonCancel->setText(L("Cancel"));
  UpdateRange();
}

void TFormExport::Open(std::shared_ptr<const TRowTelemetry> trip, long double a, long double b) {
  if (Running() || !trip) {
    raise();
    return;
  }
  trip_ = std::move(trip);
  a_ = std::clamp(a, 0.0L, 1.0L);
  b_ = std::clamp(b, a_, 1.0L);
  EditFileName->setText(DefaultName());
  Progress->setValue(0);
  LabelRemaining->clear();
  SetControlsEnabled(true);
  UpdateRange();
  show();
  raise();
  activateWindow();
}

void TFormExport::UpdateRange() {
  if (!trip_) {
    LabelRange->clear();
    return;
  }
  const TFileItem &row = trip_->Row;
  auto at = [&](long double x) {
    QString text = ClockText(TripMsAt(row, x) / 1000.0);
    const TDateTime date = TripDateTime(row, x);
    if (date > 0) text += " (" + Q(FormatDateTime(date)) + ")";
    return text;
  };
  LabelRange->setText(L("File") + ": " + Q(row.Summary.DisplayName) + "\n" + at(a_) + "  -  " +
                      at(b_));
}

QString TFormExport::DefaultName() const {
  const TFileItem &row = trip_->Row;
  std::string name = DefaultFragmentName(row.Summary.DisplayName, TripDateTime(row, a_),
                                         TripDateTime(row, b_), ExportFolder().toStdString());
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && name.find('/', dot) == std::string::npos) name.resize(dot);
  return Q(name + ".mp4");
}

void TFormExport::Browse() {
  QFileDialog dialog(this, L("Export_Title"), EditFileName->text(),
                     L("Export_FilterMp4") + " (*.mp4);;" + L("Cropping_FilterAny") + " (*)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("mp4"));
  // The question about an existing file comes once, from StartExport.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  EditFileName->setText(dialog.selectedFiles().first());
}

void TFormExport::SetControlsEnabled(bool enabled) {
  for (QWidget *w : std::initializer_list<QWidget *>{ComboLayout, GroupOverlay, EditFileName,
                                                     ButtonBrowse, ButtonStart})
    w->setEnabled(enabled);
}

void TFormExport::StoreChoices() {
  const int i =
      std::clamp(ComboLayout->currentIndex(), 0, static_cast<int>(std::size(kLayouts)) - 1);
  settings::kExportLayout.Set(QString::fromLatin1(LayoutName(kLayouts[i])));
  TRenderOverlay items{CheckTime->isChecked(), CheckSpeed->isChecked(), CheckPosition->isChecked(),
                       CheckGSensor->isChecked()};
  settings::kExportOverlay.Set(Q(OverlayText(items)));
}

void TFormExport::StartExport() {
  if (Running() || !trip_) return;
  StoreChoices();
  const QString path = EditFileName->text().trimmed();
  if (path.isEmpty()) {
    TRenderResult none;
    none.Error = TRenderError::NoOutput;
    ShowMessage(RenderFailureText(none), true);
    return;
  }
  const QString absolute = QFileInfo(path).absoluteFilePath();
  TRenderOptions options = base_;
  options.Output = absolute.toStdString();
  const TFileItem &row = trip_->Row;
  options.From = std::max<int64_t>(0, TripMsAt(row, a_)) / 1000.0;
  options.To = std::max<int64_t>(0, TripMsAt(row, b_)) / 1000.0;
  options.Layout = kLayouts[std::clamp(ComboLayout->currentIndex(), 0, 2)];
  options.Overlay = {CheckTime->isChecked(), CheckSpeed->isChecked(), CheckPosition->isChecked(),
                     CheckGSensor->isChecked()};
  options.Units = DisplayUnits();
  if (QFileInfo::exists(absolute)) {
    if (!ask_(L("Mes_FileExists") + "\n" + absolute + "\n" + L("Mes_SureToReplace") + "?")) return;
    options.Overwrite = true;
  }
  settings::kCopyFolder.Set(QFileInfo(absolute).absolutePath());

  SetControlsEnabled(false);
  Progress->setValue(0);
  LabelRemaining->setText(L("Cropping_Open") + " . . .");
  job_ = std::make_shared<TJob>();
  auto job = job_;
  auto trip = trip_;  // keeps the telemetry objects alive for the worker
  worker_ = QThread::create([this, job, trip, options]() {
    const TRenderTrip renderTrip = MakeRenderTrip(trip->Row, trip->Tracks);
    auto progress = [this, job](const TRenderProgress &p) {
      PostProgress(*job, p);
      return !job->Cancel.load();
    };
    job->Result = RenderTrip(renderTrip, options, progress);
  });
  connect(worker_, &QThread::finished, this, &TFormExport::OnWorkerDone);
  worker_->start();
}

// Worker thread: keeps the newest progress and posts one call to the UI
// thread until that call has taken it (the render never waits for drawing).
void TFormExport::PostProgress(TJob &job, const TRenderProgress &progress) {
  std::lock_guard lock(job.Lock);
  job.Latest = progress;
  if (job.Posted) return;
  job.Posted = true;
  QMetaObject::invokeMethod(this, &TFormExport::ShowProgress, Qt::QueuedConnection);
}

void TFormExport::ShowProgress() {
  if (!job_) return;
  TRenderProgress p;
  {
    std::lock_guard lock(job_->Lock);
    p = job_->Latest;
    job_->Posted = false;
  }
  Progress->setValue(static_cast<int>(std::lround(std::clamp(p.Fraction, 0.0, 1.0) * 1000)));
  QString text = QString::number(std::lround(p.Fraction * 100)) + "%";
  if (p.RemainingSeconds >= 0)
    text += ",  " + L("Export_Remaining").arg(ClockText(std::ceil(p.RemainingSeconds)));
  if (job_->Cancel) text = L("Export_Cancelling") + " . . .";
  LabelRemaining->setText(text);
}

void TFormExport::CancelExport() {
  if (!job_) {
    hide();
    return;
  }
  // The window stays until the worker has stopped and removed its file.
  job_->Cancel = true;
  ButtonCancel->setEnabled(false);
  LabelRemaining->setText(L("Export_Cancelling") + " . . .");
}

void TFormExport::reject() {
  CancelExport();
}

void TFormExport::closeEvent(QCloseEvent *event) {
  if (job_) job_->Cancel = true;
  hide();
  event->accept();
}

void TFormExport::OnWorkerDone() {
  if (!worker_) return;
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  const TRenderResult result = job_->Result;
  job_.reset();
  SetControlsEnabled(true);
  ButtonCancel->setEnabled(true);
  LabelRemaining->clear();
  Progress->setValue(0);
  QStringList notes;
  for (const TRenderNote &n : result.Notes) notes << RenderNoteMessage(n);
  if (result.Written) {
    hide();
    QString text = L("Export_Saved").arg(Q(result.Path));
    if (!notes.isEmpty()) text += "\n\n" + L("Export_Notes") + "\n" + notes.join("\n");
    ShowMessage(text, !notes.isEmpty());
  } else if (!result.Cancelled && result.Error != TRenderError::Cancelled) {
    QString text = RenderFailureText(result);
    if (!notes.isEmpty()) text += "\n\n" + notes.join("\n");
    ShowMessage(text, true);
  }
  emit ExportFinished(result);
}

// A message that does not block: the window goes on while it is read.
void TFormExport::ShowMessage(const QString &text, bool warning) {
  QWidget *parent = isVisible() ? this : parentWidget();
  auto *box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information,
                              QStringLiteral("Tachora"), text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("MessageExport"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace tachora
