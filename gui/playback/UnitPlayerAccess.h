// What the playback tools (the cutting dialog, frame and window captures)
// need of the player, without depending on how the player is built: the
// loaded trip, the position and the A-B selection on the trip's time line
// (fractions, 0 = trip start, 1 = trip end), a snapshot of the picture and
// a way to pause or stop playback first.
//
// The playback controller implements it; tests use a fake. UI thread only.
#pragma once

#include <QImage>
#include <functional>
#include <memory>

#include "catalogue/UnitCatalogueTrip.h"

class QWidget;

namespace tachora {

class IPlayerAccess {
 public:
  virtual ~IPlayerAccess() = default;

  // The trip loaded for playback (the row and its recordings' telemetry);
  // null when none is.
  virtual std::shared_ptr<const TRowTelemetry> Trip() const = 0;
  // True while the engine has a recording open (playing or paused).
  virtual bool IsActive() const = 0;
  // The current trip position, and the selection; B <= A means none.
  virtual long double Position() = 0;
  virtual long double SelectionA() const = 0;
  virtual long double SelectionB() const = 0;
  // The picture at the video's own size as the player shows it (flips
  // included); a null image when the renderer cannot give one.
  virtual QImage Snapshot() = 0;
  // The same picture when the renderer hands it over later (mpv answers a
  // screenshot asynchronously): `done` is called once, on the UI thread,
  // maybe before this returns, with a null image when there is none.
  virtual void RequestSnapshot(std::function<void(const QImage &)> done) { done(Snapshot()); }
  // The widget that shows the video (window captures grab around it).
  virtual QWidget *VideoWidget() const = 0;
  // Brings the video back into the main window when it is in full screen
  // (a window capture shows the main window).
  virtual void LeaveFullScreen() {}
  // Pauses playback when it plays (a capture or a cut works on a still
  // picture); Stop ends it and forgets the trip (before a file is changed).
  virtual void Pause() = 0;
  virtual void Stop() = 0;
};

}  // namespace tachora
