#include "telemetry/UnitTrackCommands.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>
#include <QtConcurrent>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitFileManager.h"
#include "telemetry/UnitFormGpsConverter.h"
#include "telemetry/UnitGpsConverters.h"

namespace tachora {

QString ExportFileName(const std::string &trackName) {
  QString name = QString::fromStdString(trackName);
  name.replace(':', '-');
  for (QChar c : QStringLiteral("\"*<>?|/\\")) name.replace(c, '_');
  return name;
}

QString WithExtension(const QString &path, const std::string &ext) {
  const QString dotExt = "." + QString::fromStdString(ext).toLower();
  return path.right(dotExt.size()).toLower() == dotExt ? path : path + dotExt;
}

QString ConvertedPath(const QString &path, const std::string &ext) {
  const int slash = path.lastIndexOf('/');
  const int dot = path.lastIndexOf('.');
  const QString stem = dot > slash + 1 ? path.left(dot) : path;
  return stem + "." + QString::fromStdString(ext);
}

QString GoogleEarthPath(const QString &folder, double startTime) {
  const QString name = "Track " + QString::fromStdString(FormatDateTime(startTime)) + ".kml";
  return QDir(folder).filePath(ExportFileName(name.toStdString()));
}

bool BuildTrack(const std::vector<std::string> &telemetryPaths, TTrackInfo &info) {
  info.Clear();
  bool first = true;
  for (const std::string &path : telemetryPaths) {
    if (path.empty()) continue;
    const auto mi = TMovingInfo::LoadFromFile(path, false);
    if (!mi || mi->GpsPoints.empty()) continue;
    if (first)
      BeginTrackInfo(*mi, info);
    else
      AppendToTrackInfo(*mi, info);
    first = false;
  }
  return info.Items.size() > 1;
}

QStringList ExportDialogFilters() {
  QStringList out;
  for (const auto &w : GpsWriters())
    out << QString::fromStdString(w->Name() + " (*." + w->Extension() + ")");
  return out;
}

TTrackCommands::TTrackCommands(QWidget *window, TCommands &commands, TCatalogue catalogue,
                               TSelectedId selectedId)
    : QObject(window),
      window_(window),
      commands_(commands),
      catalogue_(std::move(catalogue)),
      selectedId_(std::move(selectedId)) {
  converter_ = new TFormGPSLog(window);
  connect(converter_, &TFormGPSLog::LogsDeleted, this,
          [this]() { commands_.Run("N_FileList_Refresh"); });
  commands.Bind("N_FileList_Track_Export", [this]() { Run(TAim::Export); });
  commands.Bind("N_FileList_Track_Google", [this]() { Run(TAim::GoogleEarth); });
  commands.Bind("N_FileList_Track_GPSLog", [this]() { ShowRelatedGpsLog(); });
  commands.Bind("N_File_Convert_GPS", [this]() { OpenConverter(); });

  AskSavePath = [this](const QString &proposed, int &typeIndex) {
    const QStringList filters = ExportDialogFilters();
    QString selected = filters.value(0);
    const QString path = QFileDialog::getSaveFileName(window_, L("N_FileList_Track_Export"),
                                                      proposed, filters.join(";;"), &selected);
    typeIndex = std::max<int>(0, filters.indexOf(selected));
    return path;
  };
  OpenFile = [](const QString &path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };
  Inform = [this](const QString &text) { QMessageBox::information(window_, "Tachora", text); };
}

TTrackCommands::~TTrackCommands() = default;

void TTrackCommands::Translate() {
  converter_->Translate();
}

void TTrackCommands::OpenConverter() {
  QStringList paths;
  if (TFileManager *fm = catalogue_())
    for (const std::string &p : fm->GetLogFiles()) paths << QString::fromStdString(p);
  converter_->Open(paths);
  // The converter's files may be the ones playing.
  commands_.Run("N_Playback_Stop");
}

void TTrackCommands::ShowRelatedGpsLog() {
  OpenConverter();
  converter_->SetAllTicked(false);
  TFileManager *fm = catalogue_();
  TFileItem row;
  if (!fm || !fm->GetItemById(selectedId_(), row)) return;
  for (const TFileItemSubitem &rec : row.Items)
    if (!rec.GpsLog.Path.empty()) converter_->TickPath(QString::fromStdString(rec.GpsLog.Path));
}

void TTrackCommands::Run(TAim aim) {
  TFileManager *fm = catalogue_();
  TFileItem row;
  if (busy_ || !fm || !fm->GetItemById(selectedId_(), row)) return;
  std::vector<std::string> paths;
  for (const TFileItemSubitem &rec : row.Items) paths.push_back(rec.TelemetryPath);
  busy_ = true;
  struct TBuilt {
    TTrackInfo Info;
    bool Ok = false;
  };
  auto *watcher = new QFutureWatcher<TBuilt>(this);
  connect(watcher, &QFutureWatcher<TBuilt>::finished, this, [this, watcher, aim]() {
    busy_ = false;
    const TBuilt built = watcher->result();
    watcher->deleteLater();
    Finish(aim, built.Info, built.Ok);
  });
  watcher->setFuture(QtConcurrent::run([paths]() {
    TBuilt b;
    b.Ok = BuildTrack(paths, b.Info);
    return b;
  }));
}

void TTrackCommands::Finish(TAim aim, const TTrackInfo &info, bool ok) {
  if (!ok) {
    Inform(L("Mes_NoGPSInfo"));
    emit TrackWritten(QString());
    return;
  }
  if (aim == TAim::Export) {
    int type = 0;
    const QString chosen = AskSavePath(ExportFileName(info.Name), type);
    if (chosen.isEmpty()) return;
    const auto &writers = GpsWriters();
    const std::string ext = writers[std::clamp<size_t>(type, 0, writers.size() - 1)]->Extension();
    const QString path = WithExtension(chosen, ext);
    emit TrackWritten(Save(path, ext, info) ? path : QString());
    return;
  }
  QString folder = TempFolder;
  if (folder.isEmpty()) {
    if (!tempDir_) tempDir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tachora-XXXXXX");
    if (!tempDir_->isValid()) {
      Inform(L("Track_SaveError") + "\n" + tempDir_->errorString());
      tempDir_.reset();
      emit TrackWritten(QString());
      return;
    }
    folder = tempDir_->path();
  }
  const QString path = GoogleEarthPath(folder, info.StartTime);
  if (!Save(path, "kml", info)) {
    emit TrackWritten(QString());
    return;
  }
  if (!OpenFile(path)) Inform(L("Track_NoViewer") + "\n" + path);
  emit TrackWritten(path);
}

bool TTrackCommands::Save(const QString &path, const std::string &ext, const TTrackInfo &info) {
  TGpsInfoConverter *writer = FindGpsWriter(ext);
  std::string error;
  if (writer && WriteTextFile(path.toStdString(), WriteTrackText(*writer, info), &error))
    return true;
  Inform(L("Track_SaveError") + "\n" + path + "\n" + QString::fromStdString(error));
  return false;
}

}  // namespace tachora
