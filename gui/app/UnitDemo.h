// The demo card: a small copy of a recorder's memory card made once under
// the user's cache folder ($XDG_CACHE_HOME/tachora/demo, else
// ~/.cache/tachora/demo) so that a new user sees a real catalogue without a
// dash camera. Two drives: four consecutive 15-second clips with their
// telemetry in DCIM/INFO/, and, three hours later, two clips with the
// telemetry beside them (the last one locked). The telemetry is the
// recorder's ".dat" text: one "[G]" GPS line a second (speed changes, turns,
// a stop) and five "[S]" G-sensor lines after each (with a few bumps).
//
// The clips are made by ffmpeg in the background (QProcess) while a progress
// window shows; the card is built in a scratch folder and renamed into place
// when complete, so a half-made card is never opened. UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "app/UnitUtils.h"

class QProcess;
class QProgressDialog;
class QWidget;

namespace tachora {

struct TDemoClip {
  QString VideoPath;      // relative to the card's root
  QString TelemetryPath;  // relative to the card's root
  TDateTime Start = 0;    // local time of the first second
  int Seconds = 15;
  int Trip = 0;
  int Second0 = 0;  // first second of the clip inside its drive
};

QString DemoCardFolder();
// The clips of the demo card for a drive starting at `morning` (local time).
std::vector<TDemoClip> DemoClips(TDateTime morning);
// The ".dat" text of one clip (CR LF lines).
std::string DemoTelemetry(const TDemoClip &clip);

class TDemoCard : public QObject {
  Q_OBJECT
 public:
  explicit TDemoCard(QObject *parent = nullptr);
  ~TDemoCard() override;
  // Emits Finished at once when the card exists, else makes it first.
  void Start(QWidget *window);

 signals:
  // `folder` is the card's root; `error` is empty on success, "cancel" when
  // the user stopped it.
  void Finished(const QString &folder, const QString &error);

 private:
  void NextClip();
  void Fail(const QString &error);
  void Complete();

  std::vector<TDemoClip> clips_;
  size_t next_ = 0;
  QString staging_;
  QProcess *process_ = nullptr;
  QProgressDialog *progress_ = nullptr;
  bool done_ = false;
};

}  // namespace tachora
