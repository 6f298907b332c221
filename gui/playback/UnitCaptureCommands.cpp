#include "playback/UnitCaptureCommands.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QWidget>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "playback/UnitFormCropping.h"
#include "playback/UnitFrameCapture.h"
#include "playback/UnitPlayerAccess.h"

namespace tachora {

TCaptureCommands::TCaptureCommands(QWidget *window, TCommands &commands, IPlayerAccess *player,
                                   TOpenFiles openFiles)
    : QObject(window),
      window_(window),
      commands_(commands),
      player_(player),
      openFiles_(std::move(openFiles)),
      saveAs_(SaveCaptureAs) {
  notify_ = [this](const QString &text) {
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tachora"), text,
                                QMessageBox::Ok, window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  };
  cropping_ = new TFormCropping(window);
  connect(cropping_, &TFormCropping::FragmentSaved, this, &TCaptureCommands::OnFragmentSaved);
  commands_.Bind(QStringLiteral("N_File_Save_Video"), [this]() { SaveFragment(); });
  commands_.Bind(QStringLiteral("N_Playback_Save_Frame"), [this]() { SaveFrame(); });
  commands_.Bind(QStringLiteral("N_Playback_Save_Wind"), [this]() { SaveWindow(); });
}

void TCaptureCommands::Translate() {
  cropping_->Translate();
}

void TCaptureCommands::SaveFragment() {
  if (cropping_->Running()) {
    cropping_->show();
    cropping_->raise();
    return;
  }
  const auto trip = player_ ? player_->Trip() : nullptr;
  const long double a = player_ ? player_->SelectionA() : 0;
  const long double b = player_ ? player_->SelectionB() : 0;
  if (!trip || trip->Row.Items.empty() || b <= a) {
    notify_(L("Cropping_Info"));
    return;
  }
  player_->Pause();
  cropping_->Open(trip, a, b);
}

void TCaptureCommands::OnFragmentSaved(const QString &path) {
  if (path.isEmpty() || !QFileInfo::exists(path)) return;
  if (openFiles_) openFiles_({path});
  QApplication::beep();
  if (window_) {
    window_->raise();
    window_->activateWindow();
  }
  emit FragmentAdded(path);
}

QString TCaptureCommands::SuggestedName(const char *prefix, const IPlayerAccess &player,
                                        long double position) {
  const auto trip = player.Trip();
  if (!trip) return QString::fromStdString(CaptureFileName(prefix, 0, 0));
  return QString::fromStdString(
      CaptureFileName(prefix, TripDateTime(trip->Row, position), TripMsAt(trip->Row, position)));
}

QString TCaptureCommands::SaveFrame() {
  if (!player_ || !player_->IsActive() || snapshotPending_) return {};
  const long double position = player_->Position();
  player_->Pause();
  // The picture may come later; the name is the one of the paused position.
  auto saved = std::make_shared<QString>();
  snapshotPending_ = true;
  QPointer<TCaptureCommands> self(this);
  player_->RequestSnapshot([self, saved, position](const QImage &snapshot) {
    if (!self) return;
    self->snapshotPending_ = false;
    *saved = self->SaveSnapshot(snapshot, position);
  });
  return *saved;
}

QString TCaptureCommands::SaveSnapshot(QImage picture, long double position) {
  if (picture.isNull()) {
    // The renderer cannot give the picture at the video's size: take it as
    // the screen shows it.
    if (QWidget *video = player_ ? player_->VideoWidget() : nullptr)
      picture = video->grab().toImage();
    if (picture.isNull()) return {};
    if (!screenSizeWarned_) {
      screenSizeWarned_ = true;
      notify_(L("Mes_EVR_Screenshot").replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
  }
  return SavePicture(picture, "Frame", position, "N_Playback_Save_Frame");
}

QString TCaptureCommands::SaveWindow() {
  long double position = 0;
  if (player_ && player_->IsActive()) {
    position = player_->Position();
    player_->Pause();
  }
  // Full screen is left first and the main window is what gets saved, laid
  // out again with the video back in it.
  if (player_) player_->LeaveFullScreen();
  QApplication::processEvents();
  QWidget *shown = window_;
  if (!shown && player_ && player_->VideoWidget()) shown = player_->VideoWidget()->window();
  const QImage picture = CaptureWindow(shown);
  if (picture.isNull()) return {};
  return SavePicture(picture, "Window", position, "N_Playback_Save_Wind");
}

QString TCaptureCommands::SavePicture(const QImage &picture, const char *prefix,
                                      long double position, const char *titleKey) {
  if (folder_.isEmpty() || !QFileInfo(folder_).isDir()) {
    folder_ = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder_.isEmpty() || !QFileInfo(folder_).isDir()) folder_ = QDir::homePath();
  }
  const QString suggested = player_ ? SuggestedName(prefix, *player_, position)
                                    : QString::fromStdString(CaptureFileName(prefix, 0, 0));
  const QString saved = saveAs_(window_, picture, folder_, suggested, titleKey);
  if (!saved.isEmpty()) folder_ = QFileInfo(saved).absolutePath();
  return saved;
}

}  // namespace tachora
