// The GPS log converter window (TFormGPSLog): a list of logger files with
// their points, duration and length (filled one file at a time on a
// worker, so the window never waits for a long file), the list of writers
// to convert to, Convert, Select all, Add Files and the list's pop-up menu
// (show in the file manager, add, remove, delete from disk).
//
// Converting writes, for each ticked file and each ticked writer, the file
// with the writer's extension beside it (atomically); files run one after
// the other on a worker and are unticked as they are done. A file without
// telemetry is skipped and named in one message at the end. A file that
// an output would replace and that this window did not write from the same
// log is replaced only when the user says so. "Delete" deletes the log and
// the conversions this window wrote from it, all named in its question;
// files that could not be deleted stay listed, named with the reason.
//
// With "Show track on map" ticked, every click, tick or change of selection
// restarts the drawing timer (500 ms when more than one entry is ticked or
// selected, else 100 ms); when it fires, PreviewRequested names the files
// the map shows. The preview ends (PreviewEnded) when the box is unticked
// or the window is closed or no longer active.
//
// UI thread only; the workers only read a file and write its conversions.
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <QHash>
#include <QStringList>
#include <functional>
#include <string>

class QCheckBox;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tachora {

// A file's statistics for the list's columns.
struct TLogStats {
  QString Path;
  bool Ok = false;
  int Points = 0;
  double Duration = 0;     // days
  long double Length = 0;  // metres
};
TLogStats LoadLogStats(const QString &path);

// Converts one file to each extension; the paths written, or an error text.
// A file of an output's name is replaced only when it is in `mayReplace`
// (what this window wrote from the same file) or already holds exactly what
// would be written; any other is left alone and its conversion returned in
// Pending, for the caller to ask about (it may be the recorder's own .dat
// with G-sensor data beside a .gpx).
struct TPendingOutput {
  QString Path;
  std::string Text;
};
struct TConvertResult {
  QString Path;
  QStringList Written;
  std::vector<TPendingOutput> Pending;
  QString Error;  // empty when it worked
};
TConvertResult ConvertLogFile(const QString &path, const std::vector<std::string> &extensions,
                              const QStringList &mayReplace = {});

class TFormGPSLog : public QDialog {
  Q_OBJECT
 public:
  explicit TFormGPSLog(QWidget *mainWindow);
  ~TFormGPSLog() override;
  void Translate();

  // Fills an empty list with the paths (unticked) and shows the window.
  void Open(const QStringList &paths);
  // Adds files, ticked, keeping the list sorted; the last becomes current.
  void AddFiles(const QStringList &paths);
  void SetAllTicked(bool ticked);
  // Ticks and selects the first entry whose path begins with `prefix`
  // (any case); false when none does.
  bool TickPath(const QString &prefix);
  // Starts converting the ticked files; false (with a message) when none is.
  bool Convert();
  bool Converting() const { return !queue_.isEmpty() || convert_.isRunning(); }

  QStringList Paths() const;
  QStringList TickedPaths() const;
  // The writers' extensions that are ticked, in writers order.
  std::vector<std::string> TickedExtensions() const;
  // The files to draw (ticked or selected, list order) and which of them
  // are selected (none when only one is drawn).
  QStringList PreviewPaths(std::vector<bool> *selected = nullptr) const;
  int PreviewDelayMs() const;
  // Restarts the drawing timer when "Show track on map" is ticked.
  void SchedulePreview();

  // Replaceable for tests: Yes/No questions and messages.
  std::function<bool(const QString &text)> Ask;
  std::function<void(const QString &text)> Inform;

  QTreeWidget *FileList = nullptr;
  QListWidget *Converters = nullptr;
  QPushButton *ButtonConvert = nullptr;
  QPushButton *ButtonAdd = nullptr;
  QCheckBox *CheckSelectAll = nullptr;
  QCheckBox *CheckShowTrack = nullptr;
  QMenu *PopupMenu = nullptr;
  QTimer *TimerPreview = nullptr;

 signals:
  // Draw these files on the map, `selected` parallel to `paths`.
  void PreviewRequested(QStringList paths, std::vector<bool> selected);
  // The files are no longer to be shown.
  void PreviewEnded();
  // Every ticked file was converted (or skipped).
  void ConversionDone();
  // A file's statistics were filled in.
  void StatsFilled(const QString &path);
  // "Delete All GPS Logs from Disk" removed files the catalogue listed.
  void LogsDeleted();

 protected:
  void closeEvent(QCloseEvent *event) override;
  void hideEvent(QHideEvent *event) override;
  void changeEvent(QEvent *event) override;

 private:
  QTreeWidgetItem *ItemOf(const QString &path) const;
  QTreeWidgetItem *AddEntry(const QString &path, bool ticked);
  void NextStats();
  void OnStats();
  void NextConversion();
  void OnConverted();
  void AddFilesDialog();
  void RemoveCurrent();
  void DeleteCurrent();
  void DeleteAll();
  // The log and the conversions this window wrote from it that exist.
  QStringList FilesOf(const QString &path) const;
  // Deletes the files; "path: reason" of each that stays on the disk.
  QStringList DeleteFiles(const QStringList &paths);
  void ShowCurrentInFileManager();

  QWidget *mainWindow_;
  QFutureWatcher<TLogStats> stats_;
  QFutureWatcher<TConvertResult> convert_;
  QStringList queue_;  // files still to convert
  std::vector<std::string> extensions_;
  QStringList failures_;
  // The files this window wrote, by the log they were converted from.
  QHash<QString, QStringList> written_;
  bool statsStarted_ = false;
  bool placed_ = false;
  bool previewShown_ = false;
};

}  // namespace tachora
