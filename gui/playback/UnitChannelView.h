// The other cameras of the playing recording on the video panel: one
// follower player (TFilterGraph without sound) and one picture per camera
// beside the main player's, laid out as picture-in-picture (the default),
// side by side or the main picture only. Which picture is big can be
// swapped; the main recording's player keeps the clock whatever is shown
// big (TChannelSync keeps the followers on it).
//
// Picture-in-picture: the other pictures sit in a corner of the big one,
// 20-50 % of its width, each keeping its own aspect ratio; dragging one
// with the mouse moves them to the corner nearest to where it is dropped,
// the wheel over one changes their size. Corner and size are stored in the
// settings; the layout is the Cameras menu's check mark.
//
// A camera that has no file for this recording, whose file has ended while
// the main one plays on, or whose file cannot be opened shows black with
// its name and why ("Rear camera: no recording"); the rest plays on.
//
// Ownership: the followers, their surfaces (children of the video panel)
// and notes belong to this object. UI thread only.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <memory>
#include <vector>

#include "catalogue/UnitFileItems.h"
#include "playback/UnitChannelSync.h"
#include "playback/UnitFilterGraph.h"

class QFrame;
class QLabel;

namespace tachora {

class TVideoSurface;
class TVideoView;

enum class TChannelLayout { kPictureInPicture = 0, kSideBySide = 1, kMainOnly = 2 };
enum class TCorner { kTopLeft = 0, kTopRight = 1, kBottomLeft = 2, kBottomRight = 3 };

// Where each picture goes inside `area`; `sizes` are the pictures' sizes in
// the order shown (the big one first; an empty size counts as 16:9). The
// big one gets the whole area (picture-in-picture, main only) or the first
// column (side by side); an empty rectangle means not shown.
std::vector<QRect> PlaceChannels(TChannelLayout layout, const QRect &area,
                                 const std::vector<QSize> &sizes, TCorner corner, int insetPercent);
// The corner of `picture` nearest to `point`.
TCorner NearestCorner(const QPoint &point, const QRect &picture);
// "Front camera", "Rear camera", "Interior camera", else "Camera A".
QString CameraName(const std::string &label);

class TChannelView : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMinInset = 20, kMaxInset = 50, kInsetStep = 5;
  static constexpr int kFollowMs = 100;

  TChannelView(QFrame *panel, TVideoView &video, TFilterGraph &main, TChannelSync &sync,
               QObject *parent = nullptr);
  ~TChannelView() override;

  // The cameras of `row` (one follower per other camera); none for a
  // one-camera trip. The main picture is big again.
  void SetTrip(const TFileItem &row);
  void ClearTrip();
  // The followers' renderer (the main player's; their engines must be
  // inactive).
  void SetRenderer(TRenderer renderer);
  // Stops following (the window closes).
  void Shutdown();

  // Pictures in all, the main one included.
  int Count() const { return 1 + static_cast<int>(followers_.size()); }
  TChannelLayout Layout() const { return layout_; }
  void SetLayout(TChannelLayout layout);
  TCorner Corner() const { return corner_; }
  void SetCorner(TCorner corner);
  int InsetPercent() const { return inset_; }
  void SetInsetPercent(int percent);
  // The next picture becomes the big one (0 is the main recording's).
  void Swap();
  int Big() const { return big_; }

  TFilterGraph *Follower(int slot) const;
  QWidget *FollowerWidget(int slot) const;
  // The black note over a camera without a picture (hidden when it has one).
  QLabel *Note(int slot) const;
  // Where picture `index` (0 main, 1.. the followers) is, in panel
  // coordinates; empty when not shown.
  QRect PictureRect(int index) const;

  // Places every picture again (panel resized, picture size known, layout).
  void Relayout();

 signals:
  void LayoutChanged();
  // A follower's native window is about to go, or came back (see
  // TNativeSurface).
  void NativeWindowGoing();
  void NativeWindowBack();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  struct TFollowerView {
    std::unique_ptr<TFilterGraph> Graph;
    TVideoSurface *Surface = nullptr;
    QPointer<QWidget> Widget;  // the surface's; the panel may delete it first
    QPointer<QLabel> Note;
    std::string Label;
    std::string FailedPath;  // the file that could not be opened
  };
  void MakeSurface(int slot);
  void Watch(QWidget *w);
  // The picture (0 main, 1.. followers) a widget shows; -1 for none.
  int PictureOf(const QObject *widget) const;
  QWidget *PictureWidget(int index) const;
  QSize PictureSize(int index) const;
  QString NoteText(int slot) const;
  void UpdateNotes();
  void FollowTick();
  bool IsInset(int index) const;
  void MovePicture(int index, const QRect &rect);

  QPointer<QFrame> panel_;
  TVideoView &video_;
  TFilterGraph &main_;
  TChannelSync &sync_;
  TRenderer renderer_ = TRenderer::kSoftware;
  std::vector<TFollowerView> followers_;
  std::vector<QRect> rects_;  // by picture index
  TChannelLayout layout_ = TChannelLayout::kPictureInPicture;
  TCorner corner_ = TCorner::kBottomRight;
  int inset_ = 30;
  int big_ = 0;
  QTimer follow_;
  // Dragging an inset: its picture, where the press was, the rectangle then.
  int dragging_ = -1;
  QPoint dragStart_;
  QRect dragRect_;
  bool shutDown_ = false;
};

}  // namespace tachora
