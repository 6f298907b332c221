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
#include <map>
#include <set>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitCatalogueTrip.h"
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

namespace {

// Appends the GPS points of the tracks to `info`, in order.
bool JoinTracks(const std::vector<const TMovingInfo *> &tracks, TTrackInfo &info) {
  info.Clear();
  bool first = true;
  for (const TMovingInfo *mi : tracks) {
    if (!mi || mi->GpsPoints.empty()) continue;
    if (first)
      BeginTrackInfo(*mi, info);
    else
      AppendToTrackInfo(*mi, info);
    first = false;
  }
  return info.Items.size() > 1;
}

bool SameRecordings(const TFileItem &a, const TFileItem &b) {
  if (a.Items.size() != b.Items.size()) return false;
  for (size_t i = 0; i < a.Items.size(); ++i)
    if (a.Items[i].Path != b.Items[i].Path) return false;
  return true;
}

}  // namespace

bool BuildTrack(const TFileItem &row, TTrackInfo &info) {
  std::map<std::string, std::unique_ptr<TMovingInfo>> files;  // each file read once
  std::set<std::string> takenWhole;
  std::vector<std::unique_ptr<TMovingInfo>> parts;
  std::vector<const TMovingInfo *> tracks;
  for (const TFileItemSubitem &rec : row.Items) {
    if (rec.TelemetryPath.empty()) continue;
    auto it = files.find(rec.TelemetryPath);
    if (it == files.end())
      it = files.emplace(rec.TelemetryPath, TMovingInfo::LoadFromFile(rec.TelemetryPath, false))
               .first;
    const TMovingInfo *mi = it->second.get();
    if (!mi) continue;
    const bool own = EqualsNoCase(BaseNameNoExt(rec.TelemetryPath), BaseNameNoExt(rec.Path));
    const bool apart = !(mi->StartTime <= rec.End && mi->EndTime >= rec.Start);
    if (own || apart || !(rec.Start > 0 && rec.End > rec.Start)) {
      if (takenWhole.insert(rec.TelemetryPath).second) tracks.push_back(mi);
      continue;
    }
    auto part = std::make_unique<TMovingInfo>(*mi);
    part->FitTo(rec.Start, rec.End);
    tracks.push_back(part.get());
    parts.push_back(std::move(part));
  }
  return JoinTracks(tracks, info);
}

bool BuildTrack(const TRowTelemetry &trip, TTrackInfo &info) {
  std::vector<const TMovingInfo *> tracks;
  for (const auto &mi : trip.Tracks) tracks.push_back(mi.get());
  return JoinTracks(tracks, info);
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
  // The playing trip's telemetry is loaded and fitted already.
  std::shared_ptr<const TRowTelemetry> trip = PlayingTrip ? PlayingTrip() : nullptr;
  if (trip && !(trip->Row.Id == row.Id && SameRecordings(trip->Row, row))) trip.reset();
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
  watcher->setFuture(QtConcurrent::run([row, trip]() {
    TBuilt b;
    b.Ok = trip ? BuildTrack(*trip, b.Info) : BuildTrack(row, b.Info);
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
