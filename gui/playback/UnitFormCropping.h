// The cutting window "Cutting": cuts the A-B selection of the loaded trip
// into a new MOV file (and its telemetry into a ".dat" beside it) with the
// core's cutting engine, without re-encoding.
//
// The window is created once and shown for each cut; it is application
// modal and stays on top, and it never waits in a loop of its own: the cut
// runs on a worker thread, which posts its progress (the newest only) to
// the UI thread and stops at its next progress call once Cancel is pressed
// or the window is closed. A cancelled or refused cut leaves no file; the
// reason of a refusal (an output that would replace a recording of the trip
// or its telemetry, an unwritable folder) is shown and the window stays
// open for another name.
//
// Positions are trip fractions (0 = start of the first recording, 1 = end
// of the last); date-times are local TDateTime days (0 = unknown).
//
// UI thread only. The trip is shared with the worker while a cut runs
// (the telemetry objects it points to stay alive through the shared_ptr).
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "app/UnitTranslate.h"
#include "catalogue/UnitCatalogueTrip.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;

namespace tachora {

class TFormExport;

// Milliseconds from the trip's start to trip position `fraction` (the span
// of the row's times, else its duration); -1 when neither is known.
int64_t TripMsAt(const TFileItem &row, long double fraction);
// "hh:mm:ss" of a number of seconds (hours beyond 24 kept).
QString ClockText(double seconds);
// The user's words for the result of a cut that wrote nothing, and for a
// note about one recording (language texts with the paths).
QString CutFailureText(const TCutResult &result);
QString CutNoteMessage(const TCutNote &note);
// The question asked before a cut replaces files: the movie (unless the save
// dialog already asked about it, `confirmed`) and a ".dat" of its name,
// which may be anything (a recorder's telemetry, the user's notes). Empty
// when the cut replaces nothing.
QString CutReplaceQuestion(const TCutTrip &trip, const TCutOptions &options,
                           const QString &confirmed);
// The same for the cuts of every camera of a trip: every file they replace.
QString CutReplaceQuestion(const std::vector<TChannelCut> &cuts, const QString &confirmed);
// What the cuts of a trip's cameras came to, for the user: empty when there
// is nothing to say. `written` tells whether any file was written.
QString ChannelCutsMessage(const std::vector<TChannelCutResult> &results, bool &written);

class TFormCropping : public QDialog, public ITranslatable {
  Q_OBJECT
 public:
  // Asks a Yes/No question (Yes proceeds); tests answer it.
  using TAsk = std::function<bool(const QString &text)>;

  explicit TFormCropping(QWidget *parent);
  // A running cut is cancelled and waited for (it stops at its next
  // progress call).
  ~TFormCropping() override;

  // Fills the window for a trip and a selection (B > A) and shows it.
  // Ignored while a cut runs.
  void Open(std::shared_ptr<const TRowTelemetry> trip, long double a, long double b);
  void Translate() override;
  void SetAsk(TAsk ask) { ask_ = std::move(ask); }
  // Called on the worker at each progress call of a cut started afterwards,
  // before the cancel flag is read (tests hold a cut there).
  void SetWorkerProgressHook(std::function<void()> hook) { progressHook_ = std::move(hook); }

  bool Running() const { return worker_ != nullptr; }
  long double A() const { return a_; }
  long double B() const { return b_; }

  // The controls, named by role and kind; tests drive them.
  QLabel *LabelFile = nullptr;
  QLabel *LabelStarted = nullptr, *LabelFinished = nullptr;
  QLineEdit *EditStart = nullptr, *EditFinish = nullptr;
  QLabel *LabelStartTime = nullptr, *LabelFinishTime = nullptr;
  QLineEdit *EditFileName = nullptr;
  QPushButton *ButtonBrowse = nullptr;
  QCheckBox *CheckVideo = nullptr, *CheckAudio = nullptr, *CheckMeta = nullptr;
  QLabel *LabelTime = nullptr, *LabelCurrentFile = nullptr, *LabelAction = nullptr;
  QPushButton *ButtonStart = nullptr, *ButtonCancel = nullptr;
  // "Export Video...": the selection re-encoded with the cameras and the
  // telemetry in the picture (TFormExport).
  QPushButton *ButtonExport = nullptr;
  TFormExport *ExportWindow() const { return export_; }

 public slots:
  void StartCut();
  void CancelCut();
  void ExportVideo();

 signals:
  // A cut wrote its movie (the window has closed).
  void FragmentSaved(const QString &moviePath);
  // A cut ended, whatever its result (after FragmentSaved, or after the
  // failure was shown).
  void CutFinished(const tachora::TCutResult &result);

 protected:
  void closeEvent(QCloseEvent *event) override;
  void reject() override;

 private:
  struct TJob;

  void CreateControls();
  void ReadEdits();
  void UpdateTexts();
  QString DefaultName() const;
  void Browse();
  void SetControlsEnabled(bool enabled);
  void PostProgress(TJob &job, const TCutProgress &progress);
  void ShowProgress();
  void OnWorkerDone();
  void ShowMessage(const QString &text, bool warning);

  std::shared_ptr<const TRowTelemetry> trip_;
  TCutTrip cutTrip_;
  long double a_ = 0, b_ = 1;
  TDateTime startDate_ = 0, endDate_ = 0;
  QString defaultName_;       // the name proposed last; any other is the user's
  QString confirmedReplace_;  // a path the save dialog already asked about
  TAsk ask_;
  std::function<void()> progressHook_;
  std::shared_ptr<TJob> job_;
  QThread *worker_ = nullptr;
  TFormExport *export_ = nullptr;
};

}  // namespace tachora

Q_DECLARE_METATYPE(tachora::TCutResult)
