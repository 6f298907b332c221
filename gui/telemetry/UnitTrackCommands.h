// The catalogue's track commands: Export Track, Open Track in Google Earth,
// Show Related GPS Log, and "Convert GPS Log" of the File menu (which opens
// the converter window with the logs the catalogue's search met). Attach
// Track and Move video position live with the recording list, which owns
// the prepared row they change.
//
// The selected row's track is built on a worker (each recording's telemetry
// file is read and joined in group order); dialogs and files follow on the
// UI thread when it is ready. Tracks are written atomically (WriteTextFile).
//
// UI thread only, but for the pure functions at the top, which any thread
// may call.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/UnitTranslate.h"
#include "telemetry/UnitMovingInfo.h"

class QTemporaryDir;
class QWidget;

namespace tachora {

class TCommands;
class TFileManager;
class TFormGPSLog;
struct TFileItem;
struct TRowTelemetry;

// The file name proposed for an exported track: ":" becomes "-", and each of
// '"', '*', '<', '>', '?', '|', '/' and '\' becomes "_".
QString ExportFileName(const std::string &trackName);
// `path` with "." + ext appended unless it already ends so (any case).
QString WithExtension(const QString &path, const std::string &ext);
// The path of a converted file: the part after the file name's last "."
// replaced by `ext` ("." + ext appended when the name has no dot).
QString ConvertedPath(const QString &path, const std::string &ext);
// The KML handed to Google Earth: "<folder>/Track 2010-05-01 12-30-00.kml".
QString GoogleEarthPath(const QString &folder, double startTime);
// The track of a row's recordings joined in order; false (and `info` with
// no points) when they hold fewer than two GPS records. A recording's own
// telemetry file is taken whole. A track named otherwise (a GPS log matched
// by time, a track attached to the trip) covers other recordings as well:
// each recording takes its own time range of it, so the log is written
// once; one that lies wholly apart from its recordings is taken whole, once.
bool BuildTrack(const TFileItem &row, TTrackInfo &info);
// The same from the telemetry loaded for playing the trip (each track
// already fitted to its recording).
bool BuildTrack(const TRowTelemetry &trip, TTrackInfo &info);
// The save dialog's types over the writers list, in its order.
QStringList ExportDialogFilters();

class TTrackCommands : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  using TCatalogue = std::function<TFileManager *()>;
  using TSelectedId = std::function<uint64_t()>;

  TTrackCommands(QWidget *window, TCommands &commands, TCatalogue catalogue,
                 TSelectedId selectedId);
  ~TTrackCommands() override;
  void Translate() override;

  // "Convert GPS Log": the window with the logs met by the search.
  void OpenConverter();
  void ShowRelatedGpsLog();
  TFormGPSLog *Converter() const { return converter_; }

  // Replaceable for tests: the save dialog ((proposed name) -> path and the
  // chosen type's index, empty when cancelled), opening a file with the
  // desktop's program, and messages.
  std::function<QString(const QString &proposed, int &typeIndex)> AskSavePath;
  std::function<bool(const QString &path)> OpenFile;
  std::function<void(const QString &text)> Inform;
  // The folder for Google Earth's KML; empty: a private temporary folder
  // (mode 0700, so no other user can read or block the file) made on first
  // use and removed with this object, when the program ends.
  QString TempFolder;
  // The trip loaded for playing (null when none): when it is the selected
  // row, its loaded and fitted telemetry is what the commands write.
  std::function<std::shared_ptr<const TRowTelemetry>()> PlayingTrip;

 signals:
  // A command's file was written (or failed: `path` empty).
  void TrackWritten(const QString &path);

 private:
  enum class TAim { Export, GoogleEarth };
  void Run(TAim aim);
  void Finish(TAim aim, const TTrackInfo &info, bool ok);
  bool Save(const QString &path, const std::string &ext, const TTrackInfo &info);

  QWidget *window_;
  TCommands &commands_;
  TCatalogue catalogue_;
  TSelectedId selectedId_;
  TFormGPSLog *converter_ = nullptr;
  bool busy_ = false;
  std::unique_ptr<QTemporaryDir> tempDir_;
};

}  // namespace tachora
