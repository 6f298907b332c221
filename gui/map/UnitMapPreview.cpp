#include "map/UnitMapPreview.h"

#include <QApplication>
#include <QtConcurrent/QtConcurrentRun>

#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileManager.h"
#include "map/UnitMapController.h"

namespace tachora {

TPreviewLoader RowsPreviewLoader(std::shared_ptr<TFileManager> fm, std::vector<uint64_t> ids,
                                 uint64_t highlighted) {
  return [fm = std::move(fm), ids = std::move(ids), highlighted]() {
    auto out = std::make_shared<TPreviewTracks>();
    if (!fm) return out;
    for (uint64_t id : ids) {
      TFileItem item;
      if (!fm->GetItemById(id, item) || item.Items.empty()) continue;
      TRowTelemetry row = LoadRowTelemetry(*fm, item);
      for (auto &track : row.Tracks) {
        out->Tracks.push_back(std::move(track));
        out->Selected.push_back(id == highlighted);
      }
    }
    return out;
  };
}

TPreviewLoader FilesPreviewLoader(QStringList paths, std::vector<bool> selected) {
  return [paths = std::move(paths), selected = std::move(selected)]() {
    auto out = std::make_shared<TPreviewTracks>();
    for (qsizetype i = 0; i < paths.size(); ++i) {
      auto track = TMovingInfo::LoadFromFile(paths[i].toStdString(), false);
      if (!track) continue;
      out->Tracks.push_back(std::move(track));
      const auto at = static_cast<size_t>(i);
      out->Selected.push_back(at < selected.size() && selected[at]);
    }
    return out;
  };
}

namespace {
constexpr int kRetryMs = 100;
constexpr int kRetries = 50;
}  // namespace

TMapPreview::TMapPreview(TMapController *map, QObject *parent) : QObject(parent), map_(map) {
  connect(&watcher_, &QFutureWatcher<std::shared_ptr<TPreviewTracks>>::finished, this,
          &TMapPreview::OnLoaded);
  retry_.setSingleShot(true);
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, &TMapPreview::Draw);
}

TMapPreview::~TMapPreview() {
  pending_ = nullptr;
  watcher_.waitForFinished();
  SetBusy(false);
}

void TMapPreview::Show(TPreviewLoader load) {
  if (!holding_) {
    holding_ = true;
    map_->SetPreviewHeld(true);
  }
  // A newer request replaces what is still waiting to be drawn.
  retry_.stop();
  shown_.reset();
  map_->SetTrackDrawn(false);
  pending_ = std::move(load);
  SetBusy(true);
  StartNext();
}

void TMapPreview::End() {
  pending_ = nullptr;
  retry_.stop();
  shown_.reset();
  SetBusy(false);
  if (!holding_) return;
  holding_ = false;
  map_->SetPreviewHeld(false);
  map_->SetTrackDrawn(false);
  if (!map_->HasTrip()) map_->ClearMap();
  emit Ended();
}

void TMapPreview::StartNext() {
  if (watcher_.isRunning() || !pending_) return;
  TPreviewLoader load = std::move(pending_);
  pending_ = nullptr;
  watcher_.setFuture(QtConcurrent::run([load = std::move(load)]() { return load(); }));
}

void TMapPreview::OnLoaded() {
  std::shared_ptr<TPreviewTracks> tracks = watcher_.result();
  if (pending_) return StartNext();  // a newer request wins
  SetBusy(false);
  if (!holding_ || !tracks) return;
  shown_ = std::move(tracks);
  retries_ = 0;
  retry_.stop();
  Draw();
}

void TMapPreview::Draw() {
  if (!holding_ || !shown_) return;
  std::vector<const TMovingInfo *> records;
  std::vector<bool> selected;
  for (size_t i = 0; i < shown_->Tracks.size(); ++i) {
    if (!shown_->Tracks[i]) continue;
    records.push_back(shown_->Tracks[i].get());
    selected.push_back(i < shown_->Selected.size() && shown_->Selected[i]);
  }
  if (records.empty()) {
    // Nothing to show: the previous preview goes too.
    map_->ClearMap();
    shown_.reset();
    emit Drawn(false);
    return;
  }
  TDrawTracksOptions o;
  o.FitBounds = true;
  o.Temporary = true;
  if (map_->DrawTracks(records, selected, o)) {
    // The map keeps only the script: the tracks can go.
    shown_.reset();
    emit Drawn(true);
  } else if (map_->MapShown() && map_->MapReady() && ++retries_ < kRetries) {
    // Sent and not yet taken by the page (a hidden map takes nothing).
    retry_.start();
  } else {
    shown_.reset();
    emit Drawn(false);
  }
}

void TMapPreview::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

}  // namespace tachora
