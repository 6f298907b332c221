// The details window: a small floating window that follows the pointer over
// the seek bar or a graph and shows what the trip holds at the time under
// it (clock time, video time, file, the GPS fix and the G-sensor sample)
// and, over a graph, a zoomed preview of that graph around the pointer. It
// never takes the focus and moves out from under the pointer when the
// pointer reaches it.
//
// Positions are trip positions; the caller works out the state at a
// position (TDetailsState). UI thread only; the window is a top-level
// widget owned by its controller.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "app/UnitTranslate.h"
#include "app/UnitUtils.h"
#include "telemetry/UnitFormDetailsTexts.h"
#include "telemetry/UnitGraphics.h"

class QLabel;

namespace tachora {

// What the trip holds at one position.
struct TDetailsState {
  TMovingState State;
  TDateTime DateTime = 0;
  QString VideoTime;
  QString FileName;
};

class TFormDetails : public QWidget, public ITranslatable {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 320;
  static constexpr int kPreviewHeight = 90;
  static constexpr int kPreviewMargin = 20;

  explicit TFormDetails(QWidget *parent = nullptr);
  ~TFormDetails() override;

  // Fills and places the window for the pointer at `pointer` (global); with
  // a graph kind, draws the preview of `sources` over `windowWidth` of the
  // trip centred on `position`, with the cursor at `cursor`.
  void ShowDetails(std::optional<TGraphKind> kind, long double cursor, long double windowWidth,
                   long double position, const TDetailsState &state,
                   const std::vector<TGraphSource> &sources, QPoint pointer);
  void HideDetails();
  // Moves the preview's cursor (the playback tick).
  void DetailsCursor(long double position);
  bool Shown() const { return shown_; }
  std::optional<TGraphKind> PreviewKind() const;
  TMyGraphic *Preview() const { return preview_.get(); }
  // Places the window for the pointer at `pointer` (global).
  void FollowPointer(QPoint pointer);

  void Translate() override;

  QLabel *Label(const char *name) const;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  QLabel *AddLabel(const char *name);
  void LayOut();
  void ShowFileName(const QString &name);
  void SetPreview(std::optional<TGraphKind> kind);

  TMyImage *image_ = nullptr;
  std::unique_ptr<TMyGraphic> preview_;
  QLabel *graphName_ = nullptr;
  QLabel *systemTimeCaption_ = nullptr, *videoTimeCaption_ = nullptr, *fileCaption_ = nullptr;
  QLabel *systemTime_ = nullptr, *videoTime_ = nullptr, *file_ = nullptr;
  QLabel *gps_ = nullptr, *gpsIndex_ = nullptr;
  QLabel *lonCaption_ = nullptr, *latCaption_ = nullptr, *speedCaption_ = nullptr;
  QLabel *azimutCaption_ = nullptr, *trackCaption_ = nullptr;
  QLabel *lon_ = nullptr, *lat_ = nullptr, *speed_ = nullptr, *azimut_ = nullptr, *track_ = nullptr;
  QLabel *gsensor_ = nullptr, *gsensorIndex_ = nullptr;
  QLabel *xCaption_ = nullptr, *yCaption_ = nullptr, *zCaption_ = nullptr, *aCaption_ = nullptr;
  QLabel *x_ = nullptr, *y_ = nullptr, *z_ = nullptr, *a_ = nullptr;
  QString metres_, kmh_;
  bool shown_ = false;
};

}  // namespace tachora
