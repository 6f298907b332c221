#include "app/UnitDemo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <cmath>

#include "app/UnitLang.h"

namespace tachora {

namespace {

constexpr int kClipSeconds = 15;
constexpr int kSamplesPerSecond = 5;

bool Russian() {
  const auto &langs = Languages();
  const int i = CurrentLanguage();
  return i >= 0 && i < static_cast<int>(langs.size()) && langs[i].ID == "ru";
}

QString CannotCreate(const QString &path) {
  return (Russian() ? "Не удалось создать " : "Cannot create ") + path;
}

// Speed (km/h) and turn rate (degrees a second, positive to the right) of
// the two demo drives at second t.
struct TDriveState {
  double Speed, TurnRate;
};

double Ramp(double t, double t0, double t1, double v0, double v1) {
  if (t <= t0) return v0;
  if (t >= t1) return v1;
  return v0 + (v1 - v0) * (t - t0) / (t1 - t0);
}

TDriveState DriveAt(int trip, double t) {
  if (trip == 0) {
    // Pull away, cruise, a right turn, speed up, brake to a stop at a light,
    // pull away again and a left turn.
    double v = Ramp(t, 0, 10, 0, 45);
    if (t > 16) v = Ramp(t, 16, 20, 45, 30);
    if (t > 26) v = Ramp(t, 26, 34, 30, 50);
    if (t > 34) v = Ramp(t, 34, 40, 50, 0);
    if (t > 45) v = Ramp(t, 45, 53, 0, 40);
    double turn = 0;
    if (t >= 20 && t < 26) turn = 15;
    if (t >= 53 && t < 58) turn = -14;
    return {v, turn};
  }
  // A faster road with a long gentle bend.
  const double v = Ramp(t, 0, 6, 38, 60) - (t > 20 ? Ramp(t, 20, 30, 0, 12) : 0);
  return {v, (t >= 8 && t < 22) ? 3.5 : 0};
}

bool BumpAt(int trip, double t) {
  const double bumps0[] = {14.2, 31.6, 47.0};
  const double bumps1[] = {12.4, 12.8};
  for (double b : trip == 0 ? std::vector<double>(std::begin(bumps0), std::end(bumps0))
                            : std::vector<double>(std::begin(bumps1), std::end(bumps1)))
    if (std::fabs(t - b) < 0.11) return true;
  return false;
}

std::string Hemi(double v, char pos, char neg) {
  return std::string(1, v >= 0 ? pos : neg) + FormatFixed(std::fabs(v), 6);
}

}  // namespace

QString DemoCardFolder() {
  QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
  if (cache.isEmpty()) cache = QDir::homePath() + "/.cache";
  return cache + "/tachora/demo";
}

std::vector<TDemoClip> DemoClips(TDateTime morning) {
  std::vector<TDemoClip> clips;
  for (int k = 0; k < 6; ++k) {
    TDemoClip c;
    const QString name = QString("FILE%1").arg(k + 1, 4, 10, QChar('0'));
    c.VideoPath = "DCIM/100MEDIA/" + name + ".MOV";
    c.Trip = k < 4 ? 0 : 1;
    c.Second0 = (k < 4 ? k : k - 4) * kClipSeconds;
    // The first drive keeps its telemetry in INFO/, the second beside the clips.
    c.TelemetryPath = c.Trip == 0 ? "DCIM/INFO/" + name + ".DAT" : "DCIM/100MEDIA/" + name + ".dat";
    c.Start = morning + (c.Trip == 0 ? 0 : 3.0 / 24 + 25.0 / 1440) + c.Second0 / kSecPerDay;
    c.Seconds = kClipSeconds;
    clips.push_back(c);
  }
  return clips;
}

std::string DemoTelemetry(const TDemoClip &clip) {
  // Integrate the drive from its start so consecutive clips join up.
  double lat = clip.Trip == 0 ? 59.93428 : 59.95510;
  double lon = clip.Trip == 0 ? 30.30610 : 30.33650;
  double heading = clip.Trip == 0 ? 80 : 20;
  const double dt = 1.0 / kSamplesPerSecond;
  std::string text;
  double prevSpeed = DriveAt(clip.Trip, 0).Speed;
  unsigned noise = 12345u + static_cast<unsigned>(clip.Trip);
  auto jitter = [&noise]() {
    noise = noise * 1103515245u + 12345u;
    return static_cast<int>((noise >> 16) % 21) - 10;  // -10 ... 10 thousandths of g
  };
  const int end = clip.Second0 + clip.Seconds;
  for (int step = 0; step < end * kSamplesPerSecond; ++step) {
    const double t = step * dt;
    const TDriveState s = DriveAt(clip.Trip, t);
    const bool inClip = t >= clip.Second0;
    if (inClip && step % kSamplesPerSecond == 0) {
      const TDateTime when = clip.Start + (t - clip.Second0) / kSecPerDay;
      text += "[G]\t" + FormatDateTime(when) + "\t" + Hemi(lat, 'N', 'S') + "\t" +
              Hemi(lon, 'E', 'W') + "\t" + std::to_string(std::lround(s.Speed)) + "\t" +
              std::to_string(std::lround(std::fmod(heading + 360, 360))) + "\r\n";
    }
    if (inClip) {
      const double v = s.Speed / 3.6;                                  // m/s
      const double lateral = -v * (s.TurnRate * M_PI / 180.0) / 9.81;  // to the left is positive
      const double forward = (s.Speed - prevSpeed) / 3.6 / dt / 9.81;
      int z = 1000 + jitter();
      if (BumpAt(clip.Trip, t)) z += (step % 2 ? -420 : 560);
      text += "[S]\t" + std::to_string(std::lround(lateral * 1000) + jitter()) + "\t" +
              std::to_string(std::lround(forward * 1000) + jitter()) + "\t" + std::to_string(z) +
              "\r\n";
    }
    prevSpeed = s.Speed;
    const double dist = s.Speed / 3.6 * dt;
    lat += dist * std::cos(heading * M_PI / 180) / 111320.0;
    lon += dist * std::sin(heading * M_PI / 180) / (111320.0 * std::cos(lat * M_PI / 180));
    heading += s.TurnRate * dt;
  }
  return text;
}

TDemoCard::TDemoCard(QObject *parent) : QObject(parent) {}

TDemoCard::~TDemoCard() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(2000);
  }
  if (!staging_.isEmpty() && !done_) QDir(staging_).removeRecursively();
}

void TDemoCard::Start(QWidget *window) {
  const QString folder = DemoCardFolder();
  if (QFile::exists(folder + "/DCIM/100MEDIA")) {
    QTimer::singleShot(0, this, [this, folder]() { emit Finished(folder, QString()); });
    return;
  }
  const QDateTime now = QDateTime::currentDateTime();
  const TDateTime morning =
      EncodeDate(now.date().year(), now.date().month(), now.date().day()) + EncodeTime(8, 15, 0, 0);
  clips_ = DemoClips(morning);
  staging_ = folder + ".part";
  QDir(staging_).removeRecursively();
  for (const char *sub : {"DCIM/100MEDIA", "DCIM/INFO"})
    if (!QDir().mkpath(staging_ + "/" + sub)) return Fail(CannotCreate(staging_));
  for (const TDemoClip &c : clips_) {
    QFile f(staging_ + "/" + c.TelemetryPath);
    const std::string text = DemoTelemetry(c);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
      return Fail((Russian() ? "Не удалось записать " : "Cannot write ") + f.fileName());
  }
  progress_ = new QProgressDialog(window);
  progress_->setWindowTitle("Tachora");
  progress_->setLabelText(Russian() ? "Создание демонстрационной карты памяти..."
                                    : "Making the demo memory card...");
  progress_->setCancelButtonText(QString::fromStdString(LangText("Cancel")));
  progress_->setRange(0, static_cast<int>(clips_.size()));
  progress_->setMinimumDuration(0);
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setValue(0);
  connect(progress_, &QProgressDialog::canceled, this, [this]() { Fail("cancel"); });
  NextClip();
}

void TDemoCard::NextClip() {
  if (done_) return;
  if (next_ >= clips_.size()) return Complete();
  const TDemoClip &c = clips_[next_];
  const QString out = staging_ + "/" + c.VideoPath;
  const int k = static_cast<int>(next_);
  QString video = QString("testsrc2=size=320x240:rate=10:duration=%1").arg(c.Seconds);
  const QString font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  if (QFile::exists(font))
    video += QString(
                 ",drawtext=fontfile=%1:text='%2':x=8:y=8:fontsize=18:fontcolor=white:box=1:"
                 "boxcolor=black@0.5")
                 .arg(font, QFileInfo(c.VideoPath).completeBaseName());
  const QDateTime start =
      QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::llround(UnixFromDateTime(c.Start))));
  const QStringList args{
      "-y",
      "-v",
      "error",
      "-f",
      "lavfi",
      "-i",
      video,
      "-f",
      "lavfi",
      "-i",
      QString("sine=frequency=%1:sample_rate=22050:duration=%2").arg(220 + 55 * k).arg(c.Seconds),
      "-c:v",
      "libx264",
      "-preset",
      "ultrafast",
      "-pix_fmt",
      "yuv420p",
      "-g",
      "10",
      "-c:a",
      "aac",
      "-b:a",
      "32k",
      "-shortest",
      "-metadata",
      "creation_time=" + start.toUTC().toString(Qt::ISODate),
      "-f",
      "mov",
      out};
  process_ = new QProcess(this);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart)
      Fail(Russian() ? "Для демонстрационной карты нужна программа ffmpeg (apt install ffmpeg)."
                     : "The demo card needs ffmpeg (apt install ffmpeg).");
  });
  connect(process_, &QProcess::finished, this,
          [this, out, c](int code, QProcess::ExitStatus status) {
            const QString err = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
            process_->deleteLater();
            process_ = nullptr;
            if (done_) return;
            if (status != QProcess::NormalExit || code != 0 || !QFile::exists(out))
              return Fail("ffmpeg: " +
                          (err.isEmpty()
                               ? QString(Russian() ? "код завершения %1" : "exit code %1").arg(code)
                               : err));
            // The recorder closes a clip when it ends: that is its modification time.
            QFile f(out);
            const QDateTime end = QDateTime::fromSecsSinceEpoch(
                static_cast<qint64>(std::llround(UnixFromDateTime(c.Start))) + c.Seconds);
            if (f.open(QIODevice::ReadWrite)) f.setFileTime(end, QFileDevice::FileModificationTime);
            ++next_;
            if (progress_) progress_->setValue(static_cast<int>(next_));
            NextClip();
          });
  process_->start("ffmpeg", args);
}

void TDemoCard::Fail(const QString &error) {
  if (done_) return;
  done_ = true;
  if (process_) {
    process_->kill();
    process_->waitForFinished(2000);
  }
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  QDir(staging_).removeRecursively();
  emit Finished(DemoCardFolder(), error);
}

void TDemoCard::Complete() {
  done_ = true;
  const QString folder = DemoCardFolder();
  QDir(folder).removeRecursively();
  if (!QDir().rename(staging_, folder)) {
    done_ = false;
    return Fail(CannotCreate(folder));
  }
  // One locked recording shows how protected files look.
  const QString locked = folder + "/" + clips_.back().VideoPath;
  QFile::setPermissions(
      locked, QFile::permissions(locked) & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser |
                                             QFileDevice::WriteGroup | QFileDevice::WriteOther));
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  emit Finished(folder, QString());
}

}  // namespace tachora
