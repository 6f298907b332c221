// The telemetry's part of the main window: the graphs under the seek bar,
// their menu items and pop-up menu, and the details window.
//
// The playback loop drives it: LoadTrip when a trip is loaded (ClearTrip on
// Stop), SetTimeLine whenever the seek bar's view, margin or marks change,
// DrawCursors(p) on every tick (graph cursors and the details preview's
// cursor), and SeekBarHover / HideDetails from the seek bar's pointer.
// What the user does on a graph comes back as SeekRequested / DragMoved,
// and the wheel over the graphs as TimeZoomRequested.
//
// Positions are trip positions (fractions of the trip's time line). UI
// thread only; the widgets belong to the window, the details window to
// this controller.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <vector>

#include "app/UnitMainLayout.h"
#include "app/UnitTranslate.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "telemetry/UnitFormDetails.h"
#include "telemetry/UnitGraphics.h"

namespace tachora {

class TCommands;

// The telemetry objects of a trip placed on its time line (by their own
// start and end times, so a track shorter than its recording sits where it
// was recorded).
std::vector<TGraphSource> GraphSourcesOf(const TRowTelemetry &trip);
// The recording that holds trip position x: gaps between recordings belong
// to the next one.
int RecordingAt(const TFileItem &row, long double x);
// What the trip holds at position x: the telemetry's interpolated state,
// the clock time, the time from the trip's start and the recording's file
// name ("[2] FILE0002.MOV" in a trip of several).
TDetailsState DetailsStateAt(const TRowTelemetry &trip, long double x);

class TTelemetryController : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  // The time line's zoom of one wheel step over the graphs (the buttons and
  // keys zoom by 2).
  static constexpr double kWheelZoomFactor = 1.5;

  TTelemetryController(QObject *parent, const TGraphsPanel &panel, TCommands &commands);
  ~TTelemetryController() override;
  void Translate() override;

  // The trip whose telemetry the graphs show; the graphs redraw.
  void LoadTrip(std::shared_ptr<const TRowTelemetry> trip);
  void ClearTrip();
  bool HasTrip() const { return trip_ != nullptr; }

  // The seek bar's visible window, its margin and its marks.
  void SetTimeLine(long double viewStart, long double viewEnd, int margin,
                   const TGraphBands &bands);
  long double ViewStart() const { return viewStart_; }
  long double ViewEnd() const { return viewEnd_; }
  int Margin() const { return margin_; }

  // Recreates the graphs of the checked kinds in the order S, H, G, X, Y,
  // Z. When the user asked for it, the bottom panel's wanted height is
  // reported (BottomPanelHeightRequested).
  void RebuildGraphics(bool byUser);
  // Places the graphs under the seek bar and redraws them.
  void LayoutGraphics();
  const std::vector<TMyGraphic *> &Graphics() const { return graphs_; }

  // The playback position: every graph's cursor and the preview's.
  void DrawCursors(long double position);

  // The details window for the pointer over the seek bar (no preview) or a
  // graph, at trip position `position`; hidden when details are off, in
  // full screen, without a trip or outside the plot.
  void ShowDetailsAt(std::optional<TGraphKind> kind, int x, int width, long double position,
                     QPoint pointer);
  // The seek bar's pointer over its time line (TSeekBitmap::HoverAt).
  void SeekBarHover(long double position);
  void HideDetails();
  void SetFullScreen(bool on);
  TFormDetails *Details() const { return details_; }

 signals:
  // A click or the end of a drag on a graph: play from here.
  void SeekRequested(long double position);
  // A drag over a graph moves the position marker only.
  void DragMoved(long double position);
  // The bottom panel's height the user's graph choice wants (pixels).
  void BottomPanelHeightRequested(int height);
  // A wheel step over the graphs: zoom the time line by `factor` (up in).
  void TimeZoomRequested(bool zoomIn, double factor);

 private:
  bool eventFilter(QObject *watched, QEvent *event) override;
  // Each full wheel step (120) zooms the time line; smaller ones (touch
  // pads) add up.
  void OnWheel(int delta);
  void ShowAll(bool show);
  bool DetailsWanted() const;
  QWidget *SeekImage() const;

  TGraphsPanel panel_;
  TCommands &commands_;
  std::shared_ptr<const TRowTelemetry> trip_;
  std::vector<TGraphSource> sources_;
  std::vector<TMyGraphic *> graphs_;
  std::vector<QPointer<TMyImage>> images_;
  TFormDetails *details_ = nullptr;
  long double viewStart_ = 0, viewEnd_ = 1;
  long double cursor_ = 0;
  int margin_ = 0;
  TGraphBands bands_;
  bool fullScreen_ = false;
  int wheelRest_ = 0;  // wheel delta short of a step
};

}  // namespace tachora
