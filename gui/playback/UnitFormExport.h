// The window "Export Video", opened from the cutting window: re-encodes the
// A-B selection of the loaded trip to an MP4 with the cameras in one
// picture (the rear as an inset, side by side, or the front alone) and the
// chosen telemetry drawn in, through the core's renderer.
//
// The layout and the overlay items are stored in the settings. The render
// runs on a worker thread, which posts its progress (the newest only) to
// the UI thread and stops at its next progress call once Cancel is pressed
// or the window is closed; a cancelled or failed render leaves no file.
// An existing file is replaced only after the user has seen its name in a
// question.
//
// Positions are trip fractions (0 = start of the first recording, 1 = end
// of the last).
//
// UI thread only. The trip is shared with the worker while a render runs
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
#include "render/UnitRender.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;

namespace tachora {

// The user's words for a render that wrote nothing, and for a note.
QString RenderFailureText(const TRenderResult &result);
QString RenderNoteMessage(const TRenderNote &note);

class TFormExport : public QDialog, public ITranslatable {
  Q_OBJECT
 public:
  // Asks a Yes/No question (Yes proceeds); tests answer it.
  using TAsk = std::function<bool(const QString &text)>;

  explicit TFormExport(QWidget *parent);
  // A running render is cancelled and waited for.
  ~TFormExport() override;

  // Fills the window for a trip and a selection and shows it. Ignored while
  // a render runs.
  void Open(std::shared_ptr<const TRowTelemetry> trip, long double a, long double b);
  void Translate() override;
  void SetAsk(TAsk ask) { ask_ = std::move(ask); }
  // The renderer's encoder settings (tests pick a quick preset).
  void SetRenderOptions(const TRenderOptions &base) { base_ = base; }

  bool Running() const { return worker_ != nullptr; }

  // The controls, named by role and kind; tests drive them.
  QLabel *LabelRange = nullptr;
  QLabel *LabelLayout = nullptr;
  QComboBox *ComboLayout = nullptr;
  QGroupBox *GroupOverlay = nullptr;
  QCheckBox *CheckTime = nullptr, *CheckSpeed = nullptr, *CheckPosition = nullptr,
            *CheckGSensor = nullptr;
  QLabel *LabelFile = nullptr;
  QLineEdit *EditFileName = nullptr;
  QPushButton *ButtonBrowse = nullptr;
  QProgressBar *Progress = nullptr;
  QLabel *LabelRemaining = nullptr;
  QPushButton *ButtonStart = nullptr, *ButtonCancel = nullptr;

 public slots:
  void StartExport();
  void CancelExport();

 signals:
  // A render ended, whatever its result (after the result was shown).
  void ExportFinished(const tachora::TRenderResult &result);

 protected:
  void closeEvent(QCloseEvent *event) override;
  void reject() override;

 private:
  struct TJob;

  void CreateControls();
  void UpdateRange();
  QString DefaultName() const;
  void Browse();
  void SetControlsEnabled(bool enabled);
  void StoreChoices();
  void PostProgress(TJob &job, const TRenderProgress &progress);
  void ShowProgress();
  void OnWorkerDone();
  void ShowMessage(const QString &text, bool warning);

  std::shared_ptr<const TRowTelemetry> trip_;
  long double a_ = 0, b_ = 1;
  TRenderOptions base_;
  TAsk ask_;
  std::shared_ptr<TJob> job_;
  QThread *worker_ = nullptr;
};

}  // namespace tachora

Q_DECLARE_METATYPE(tachora::TRenderResult)
