// The update check and its window. A check asks the update server (setting
// update_Server, "host" or "host:port") for the version file a few seconds
// after it is started; when a newer version is offered the window shows it
// with three choices: update automatically, download in the browser, or
// cancel.
//
// The automatic update replaces the program's file only with a download it
// can trust: the version file (or a ".sig" file beside the download) must
// carry the download's Ed25519 signature, the download must verify against
// the release key built into the program, the offered version must be a
// version (it goes into a file name), and the program's file must be
// writable (an installed package is updated by the system, not by us).
// Otherwise only "Download in browser" is offered.
//
// UI thread only: the wait is a timer and the socket's events arrive on
// this thread; nothing here blocks or spins an event loop.
#pragma once

#include <QDialog>
#include <QList>
#include <QTimer>
#include <functional>

#include "tools/UnitUpdateCheck.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tachora {

class TFormAutoUpdate : public QDialog {
  Q_OBJECT
 public:
  enum class TState { Idle, Waiting, Checking, Signature, Downloading };

  explicit TFormAutoUpdate(QWidget *mainWindow);
  void Translate();

  // Starts a check after `delayMs`, replacing a running one.
  void StartCheck(int delayMs = 5000);
  // Stops a running check (and a running download) and closes the window.
  void StopCheck();
  // An offer is known (also one that was not newer): no further checks.
  bool OfferKnown() const { return !info_.DownloadUrl.empty(); }
  // A check is waiting, asking or downloading.
  bool Busy() const { return state_ != TState::Idle; }
  const TUpdateInfo &Info() const { return info_; }
  // Shows the window with an offer (what a check does once it has read the
  // version file and looked for the signature); true when there is one.
  bool ShowOffer(const TUpdateInfo &info);
  // Gives up a request after this long without progress (tests shorten it).
  void SetStallTimeout(int ms) { http_->SetStallTimeout(ms); }

  // Replaceable for tests: the program's own file, opening an address, and
  // starting the new program and ending this one.
  QString ProgramPath;
  std::function<void(const QString &url)> OpenUrl;
  std::function<void(const QString &program)> Restart;
  std::function<void(const QString &text)> ShowError;
  // The raw 32-byte Ed25519 key downloads must be signed with.
  std::string PublicKey = UpdatePublicKey();

  QLabel *LabelVersion = nullptr;
  QLabel *LabelProgress = nullptr;
  QLabel *LabelNote = nullptr;  // why only the browser is offered
  QProgressBar *ProgressBar = nullptr;
  QPushButton *ButtonAuto = nullptr;
  QPushButton *ButtonBrowser = nullptr;
  QPushButton *ButtonCancel = nullptr;

 signals:
  // The version file was read (or the check failed): `offer` when shown.
  void CheckDone(bool offer);
  // The automatic update begins: the owner stops playback.
  void UpdateStarting();
  // The download ended without replacing the program (`error` for the user).
  void UpdateFailed(const QString &error);

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  void SendCheck();
  void OnFinished();
  // Takes the version file; asks for the signature beside the download
  // when the file carries none.
  void TakeVersionFile();
  void TakeSignatureFile();

  void StartDownload();
  void FinishDownload();
  // `keepOffer`: the window stays, offering the browser.
  void Fail(const QString &error, bool keepOffer = false);
  void ResetButtons();
  bool ProgramWritable() const;

  QWidget *mainWindow_;
  QList<QLabel *> images_;
  QLabel *label1_ = nullptr;
  QLabel *label2_ = nullptr;
  QTimer delay_;
  THttpGet *http_ = nullptr;
  TState state_ = TState::Idle;
  TUpdateInfo info_;
};

}  // namespace tachora
