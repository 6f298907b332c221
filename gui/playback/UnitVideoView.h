// The video panel of the main window: the surface of the chosen renderer,
// where the picture goes inside the panel (fit modes, the free zoom with
// panning, flips, through UnitVideoZoom), the full-screen window with the
// bottom panel (seek bar, graphs) sliding in at the screen's bottom edge,
// and hiding the pointer after two seconds of playback.
//
// Mouse on the video: left button drags a custom-zoomed picture (else
// LeftClicked, for "Pause on Click"), middle button and double click toggle
// full screen, the wheel zooms by 1.2, the right button opens the pop-up
// menu (the panel's context menu). The owner decides what the signals do.
//
// Ownership: the surface is a child of the video panel; the full-screen
// window is a top-level widget owned by this object and holds the panel
// (and the bottom panel) only while full screen is on. UI thread only.
#pragma once

#include <QFrame>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "playback/UnitFilterGraph.h"
#include "playback/UnitVideoSurface.h"
#include "playback/UnitVideoZoom.h"

class QSplitter;

namespace tachora {

class TVideoView : public QObject {
  Q_OBJECT
 public:
  static constexpr int kPointerHideMs = 2000;
  static constexpr int kBottomShowPixels = 3;
  static constexpr int kBottomHidePixels = 50;

  // `panel` is the video panel inside `splitter`, above `bottom`.
  TVideoView(QFrame *panel, QWidget *bottom, TFilterGraph &graph, QObject *parent = nullptr);
  ~TVideoView() override;

  // Replaces the surface by one for `renderer` (the graph must be inactive).
  void SetRenderer(TRenderer renderer);
  TVideoSurface *Surface() const { return surface_; }
  QWidget *SurfaceWidget() const { return surface_ ? surface_->Widget() : nullptr; }

  // ---- zoom ----------------------------------------------------------------
  const TVideoZoom &Zoom() const { return zoom_; }
  void SetMode(TFitMode mode);
  void ZoomStep(bool zoomIn, double step = kZoomStep);
  void ZoomToPercent(double percent);
  void SetFlips(bool vertical, bool horizontal);
  // Places the picture for the current mode, size and panel (every resize,
  // recording load, renderer and full-screen change).
  void Apply();
  // The part of the panel the picture may take (the other cameras' pictures
  // share the panel); an empty rectangle, the default, gives it the whole
  // panel. Applies at once.
  void SetArea(const QRect &area);
  QRect Area() const;
  // What the surface shows, in panel coordinates, after the last Apply.
  const TVideoPlacement &Placement() const { return placement_; }

  // ---- full screen -----------------------------------------------------------
  bool FullScreen() const { return fullWindow_ != nullptr && panelInFull_; }
  void SetFullScreen(bool on);
  bool BottomInFullScreen() const { return bottomInFull_; }
  QWidget *FullScreenWindow() const { return fullWindow_.get(); }
  // Actions that must work from the full-screen window too (the main menu's).
  void SetShortcutActions(const QList<QAction *> &actions) { actions_ = actions; }

  // Playing: the pointer hides after kPointerHideMs without movement.
  void SetPlaying(bool playing);
  bool PointerHidden() const { return pointerHidden_; }

 signals:
  void LeftClicked();
  void FullScreenToggleRequested(bool fromDoubleClick);
  void FullScreenChanged(bool on);
  // The full-screen window was closed by the desktop: the program closes.
  void CloseRequested();
  // A custom zoom changed by the wheel or by dragging (menu captions).
  void ZoomChanged();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void Watch(QWidget *w);
  void PointerMoved(const QPoint &global, QWidget *over);
  void ShowPointer();
  void HidePointer();
  void SlideBottom(bool in);
  QSplitter *Splitter() const;

  QPointer<QFrame> panel_;  // the window may delete it before this object
  QWidget *bottom_;
  TFilterGraph &graph_;
  TVideoSurface *surface_ = nullptr;
  TVideoZoom zoom_;
  TVideoPlacement placement_;
  QRect area_;
  bool flipV_ = false, flipH_ = false;
  bool dragging_ = false;
  QPoint last_;
  QTimer hideTimer_;
  bool playing_ = false, pointerHidden_ = false;
  std::unique_ptr<QWidget> fullWindow_;
  bool panelInFull_ = false, bottomInFull_ = false;
  QPointer<QSplitter> splitter_;
  QList<int> splitterSizes_;
  QList<QAction *> actions_;
};

}  // namespace tachora
