// Tracks that a tool window shows on the map for a while: the grouping
// window's rows, the converter window's files. The window asks with a
// loader (run on a worker: telemetry files can be long); the newest request
// wins, older answers are dropped. While a preview holds the map the
// playback tick leaves the trip's track alone; when the window closes (End)
// the trip's track is drawn again by the next tick, or the map is cleared
// when nothing is open. The pointer shows that work is going on while a
// load runs. The page takes scripts asynchronously: a draw it has not taken
// yet is tried again for a few seconds. UI thread only.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

class TFileManager;
class TMapController;

struct TPreviewTracks {
  std::vector<std::unique_ptr<TMovingInfo>> Tracks;
  // Parallel to Tracks (may be shorter): the highlighted tracks.
  std::vector<bool> Selected;
};
using TPreviewLoader = std::function<std::shared_ptr<TPreviewTracks>()>;

// Loaders for the two windows (run on a worker). The catalogue rows `ids`,
// recording by recording, those of row `highlighted` selected; rows the
// catalogue no longer holds are left out.
TPreviewLoader RowsPreviewLoader(std::shared_ptr<TFileManager> fm, std::vector<uint64_t> ids,
                                 uint64_t highlighted);
// Telemetry files (logger logs, tracks); one that cannot be read is left
// out. `selected` is parallel to `paths`.
TPreviewLoader FilesPreviewLoader(QStringList paths, std::vector<bool> selected);

class TMapPreview : public QObject {
  Q_OBJECT
 public:
  TMapPreview(TMapController *map, QObject *parent);
  ~TMapPreview() override;

  // Holds the map and draws what `load` gives once it is done.
  void Show(TPreviewLoader load);
  // Lets go of the map (nothing when not holding); a load still running is
  // forgotten.
  void End();
  bool Holding() const { return holding_; }
  bool Loading() const { return watcher_.isRunning() || static_cast<bool>(pending_); }

 signals:
  // The page took a load's tracks (false: nothing could be drawn).
  void Drawn(bool drawn);
  // The preview let go of the map (the trip's track is to be drawn again).
  void Ended();

 private:
  void StartNext();
  void OnLoaded();
  void SetBusy(bool busy);
  void Draw();

  TMapController *map_;
  QFutureWatcher<std::shared_ptr<TPreviewTracks>> watcher_;
  TPreviewLoader pending_;
  std::shared_ptr<TPreviewTracks> shown_;  // the tracks being drawn
  QTimer retry_;
  int retries_ = 0;
  bool holding_ = false;
  bool busy_ = false;
};

}  // namespace tachora
