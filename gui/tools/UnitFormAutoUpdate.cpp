#include "tools/UnitFormAutoUpdate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "app/UnitFileIO.h"
#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"

namespace tachora {

TFormAutoUpdate::TFormAutoUpdate(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint),
      mainWindow_(mainWindow),
      http_(new THttpGet(this)) {
  setObjectName("FormAutoUpdate");
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(230, 230, 230));
  setPalette(pal);
  setAutoFillBackground(true);

  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(20, 20, 20, 20);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  auto *image1 = new QLabel(this);
  auto *image2 = new QLabel(this);
  images_ = {image1, image2};
  for (QLabel *image : images_) image->setFixedSize(124, 124);
  grid->addWidget(image1, 0, 0, 4, 1);
  grid->addWidget(image2, 0, 2, 4, 1);

  QFont big = font();
  big.setPixelSize(13);
  label1_ = new QLabel(this);
  LabelVersion = new QLabel(this);
  // The server's text is shown as it is, never as markup.
  LabelVersion->setTextFormat(Qt::PlainText);
  label2_ = new QLabel(this);
  for (QLabel *l : {label1_, LabelVersion, label2_}) {
    l->setFont(big);
    l->setAlignment(Qt::AlignCenter);
  }
  QFont bold = big;
  bold.setBold(true);
  LabelVersion->setFont(bold);
  grid->addWidget(label1_, 0, 1);
  grid->addWidget(LabelVersion, 1, 1);
  grid->addWidget(label2_, 2, 1);
  LabelNote = new QLabel(this);
  LabelNote->setWordWrap(true);
  LabelNote->setAlignment(Qt::AlignCenter);
  LabelNote->setMaximumWidth(320);
  LabelNote->hide();
  grid->addWidget(LabelNote, 3, 1);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setTextVisible(false);
  ProgressBar->hide();
  grid->addWidget(ProgressBar, 3, 1);

  ButtonAuto = new QPushButton(this);
  ButtonAuto->setDefault(true);
  LabelProgress = new QLabel(this);
  LabelProgress->hide();
  ButtonBrowser = new QPushButton(this);
  ButtonCancel = new QPushButton(this);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(ButtonAuto);
  buttons->addWidget(LabelProgress);
  buttons->addStretch(1);
  buttons->addWidget(ButtonBrowser);
  buttons->addWidget(ButtonCancel);
  grid->addLayout(buttons, 4, 0, 1, 3);

  ProgramPath = QCoreApplication::applicationFilePath();
  OpenUrl = [](const QString &url) { QDesktopServices::openUrl(QUrl(url)); };
  Restart = [](const QString &program) {
    QProcess::startDetached(program, {});
    QCoreApplication::quit();
  };
  ShowError = [this](const QString &text) {
    QMessageBox::warning(mainWindow_, windowTitle(), text);
  };

  delay_.setSingleShot(true);
  connect(&delay_, &QTimer::timeout, this, &TFormAutoUpdate::SendCheck);
  connect(http_, &THttpGet::Finished, this, &TFormAutoUpdate::OnFinished);
  connect(http_, &THttpGet::Progress, this, [this]() {
    if (state_ != TState::Downloading) return;
    const THttpReply &r = http_->Reply();
    if (r.ContentLength() > 0) {
      ProgressBar->setRange(0, 1000);
      ProgressBar->setValue(static_cast<int>(
          std::min<qint64>(1000, r.Body().size() * 1000 / std::max<qint64>(1, r.ContentLength()))));
      LabelProgress->setText(QString::fromStdString(r.ProgressText()));
    }
  });
  connect(ButtonBrowser, &QPushButton::clicked, this, [this]() {
    OpenUrl(QString::fromStdString(info_.DownloadUrl));
    close();
  });
  connect(ButtonCancel, &QPushButton::clicked, this, [this]() {
    close();
    if (mainWindow_) mainWindow_->show();
  });
  connect(ButtonAuto, &QPushButton::clicked, this, &TFormAutoUpdate::StartDownload);
  Translate();
}

void TFormAutoUpdate::Translate() {
  setWindowTitle(L("Update_Title"));
  label1_->setText(L("Update_NewVersion"));
  label2_->setText(L("Update_WantDownload") + " ?");
  ButtonAuto->setText(L("Update_Btn_Auto"));
  ButtonBrowser->setText(L("Update_Btn_Browser"));
  ButtonCancel->setText(L("Cancel"));
  ButtonAuto->setToolTip(ButtonAuto->isEnabled() ? QString() : L("Update_NotVerifiable"));
  LabelNote->setText(L("Update_NotVerifiable"));
}

void TFormAutoUpdate::StartCheck(int delayMs) {
  StopCheck();
  state_ = TState::Waiting;
  delay_.start(delayMs);
}

void TFormAutoUpdate::StopCheck() {
  delay_.stop();
  http_->Abort();
  if (state_ != TState::Downloading) state_ = TState::Idle;
  if (isVisible() && state_ != TState::Downloading) hide();
}

void TFormAutoUpdate::SendCheck() {
  std::string host;
  uint16_t port = kUpdatePort;
  SplitServer(settings::kUpdateServer.Get().toStdString(), host, port);
  if (host.empty()) {
    state_ = TState::Idle;
    emit CheckDone(false);
    return;
  }
  state_ = TState::Checking;
  http_->Start(QString::fromStdString(host), port, kUpdatePath, kUpdateMaxVersionFileBytes);
}

void TFormAutoUpdate::TakeVersionFile() {
  state_ = TState::Idle;
  const THttpReply &reply = http_->Reply();
  // An error page or a reply that broke a limit is no version file.
  if (http_->Failed() || reply.Status() != 200) {
    emit CheckDone(false);
    return;
  }
  info_ = ParseUpdateInfo(reply.Body());
  TUrlParts sig;
  if (info_.Offer && info_.Signature.empty() && IsVersionText(info_.Version) &&
      SplitDownloadUrl(info_.SignatureUrl, sig)) {
    // Not from inside the socket's own signal: the next request starts once
    // the last one has wound down.
    state_ = TState::Signature;
    QTimer::singleShot(0, http_, [this, sig]() {
      if (state_ == TState::Signature)
        http_->Start(QString::fromStdString(sig.Host), sig.Port, QString::fromStdString(sig.Path),
                     kUpdateMaxSignatureFileBytes);
    });
    return;
  }
  emit CheckDone(ShowOffer(info_));
}

void TFormAutoUpdate::TakeSignatureFile() {
  state_ = TState::Idle;
  const THttpReply &reply = http_->Reply();
  if (!http_->Failed() && reply.Status() == 200) info_.Signature = ParseSignatureFile(reply.Body());
  emit CheckDone(ShowOffer(info_));
}

bool TFormAutoUpdate::ShowOffer(const TUpdateInfo &info) {
  info_ = info;
  if (!info_.Offer) return false;
  LabelVersion->setText(QString::fromStdString(info_.Version));
  // The program's icon is set after the window is created.
  for (QLabel *image : images_) image->setPixmap(QApplication::windowIcon().pixmap(124, 124));
  ResetButtons();
  if (mainWindow_) {
    adjustSize();
    move(mainWindow_->geometry().center() - rect().center());
  }
  show();
  raise();
  return true;
}

void TFormAutoUpdate::OnFinished() {
  if (state_ == TState::Checking)
    TakeVersionFile();
  else if (state_ == TState::Signature)
    TakeSignatureFile();
  else if (state_ == TState::Downloading)
    FinishDownload();
}

void TFormAutoUpdate::ResetButtons() {
  ButtonAuto->setEnabled(CanUpdateAutomatically(info_, ProgramWritable()));
  ButtonAuto->setDefault(ButtonAuto->isEnabled());
  ButtonBrowser->setDefault(!ButtonAuto->isEnabled());
  ButtonAuto->setToolTip(ButtonAuto->isEnabled() ? QString() : L("Update_NotVerifiable"));
  LabelNote->setVisible(!ButtonAuto->isEnabled());
  ButtonBrowser->show();
  ButtonCancel->setEnabled(true);
  LabelProgress->hide();
  ProgressBar->hide();
}

bool TFormAutoUpdate::ProgramWritable() const {
  const QFileInfo program(ProgramPath);
  const QFileInfo folder(program.absolutePath());
  // Replacing renames inside the folder: both must be writable.
  return program.isFile() && program.isWritable() && folder.isWritable();
}

void TFormAutoUpdate::StartDownload() {
  if (!CanUpdateAutomatically(info_, ProgramWritable())) return;
  TUrlParts url;
  if (!SplitDownloadUrl(info_.DownloadUrl, url)) {
    Fail(L("Update_Failed"));
    return;
  }
  ButtonAuto->setEnabled(false);
  ButtonBrowser->hide();
  ButtonCancel->setEnabled(false);
  LabelNote->hide();
  LabelProgress->setText(QString());
  LabelProgress->show();
  ProgressBar->setRange(0, 1000);
  ProgressBar->setValue(0);
  ProgressBar->show();
  emit UpdateStarting();
  if (mainWindow_) mainWindow_->hide();
  state_ = TState::Downloading;
  http_->Start(QString::fromStdString(url.Host), url.Port, QString::fromStdString(url.Path),
               kUpdateMaxDownloadBytes);
}

void TFormAutoUpdate::FinishDownload() {
  state_ = TState::Idle;
  const THttpReply &reply = http_->Reply();
  if (http_->Failed() || reply.Status() != 200 || reply.Body().empty() || !isVisible()) {
    Fail(L("Update_Failed"));
    return;
  }
  if (!VerifyUpdateSignature(reply.Body(), info_.Signature, PublicKey)) {
    // This offer cannot be trusted: from now on only the browser is offered.
    info_.Signature.clear();
    Fail(L("Update_NotTrusted"), true);
    return;
  }
  // The new file appears complete or not at all, executable like the old.
  const QString newFile =
      QString::fromStdString(VersionedFileName(ProgramPath.toStdString(), info_.Version));
  TAtomicFile out(newFile.toStdString());
  out.SetMode(0755);
  std::string error;
  if (!out.Open(&error) || !out.Write(reply.Body(), &error) ||
      !out.Commit(TAtomicFile::TSync::Data, &error)) {
    Fail(L("Update_Failed") + "\n" + QString::fromStdString(error));
    return;
  }
  const QString backup = QString::fromStdString(BackupFileName(
      ProgramPath.toStdString(), kUpdateVersion,
      [](const std::string &p) { return QFileInfo::exists(QString::fromStdString(p)); }));
  if (!QFile::rename(ProgramPath, backup)) {
    QFile::remove(newFile);
    Fail(L("Update_Failed"));
    return;
  }
  if (!QFile::rename(newFile, ProgramPath)) {
    QFile::rename(backup, ProgramPath);
    QFile::remove(newFile);
    Fail(L("Update_Failed"));
    return;
  }
  hide();
  Restart(ProgramPath);
}

void TFormAutoUpdate::Fail(const QString &error, bool keepOffer) {
  // The main window was hidden for the download: it comes back, with the
  // reason, and the program stays as it was.
  if (!keepOffer) hide();
  ResetButtons();
  if (mainWindow_) mainWindow_->show();
  emit UpdateFailed(error);
  if (ShowError) ShowError(error);
}

void TFormAutoUpdate::closeEvent(QCloseEvent *event) {
  if (state_ == TState::Downloading) {
    event->ignore();
    return;
  }
  http_->Abort();
  QDialog::closeEvent(event);
}

}  // namespace tachora
