// The picture base of every owner-drawn picture (the seek bar, the
// instrument pictures, the telemetry graphs).
//
// TMyImage is the small widget that shows a picture: it paints its QImage
// as it stands and hands mouse events to the TMyBitmap that draws on it.
// TMyBitmap keeps an off-screen Background of the image's size; each
// drawing restores the picture from the Background and adds the moving
// parts on top (RestorePicture), so a playback tick is one copy plus a few
// shapes. A picture drawn again exactly as the widget shows it is not
// repainted (Update), and a picture that changed repaints only the part that
// changed: the window copies and sends the display those pixels alone. While
// the video plays, the pictures' repaints wait for its next frame
// (VideoFrameArriving), so that they go out together.
//
// Pixel ratio: the images hold widget size x the screen's pixel ratio in
// device pixels and carry that ratio (QImage::setDevicePixelRatio), so the
// drawing code speaks logical pixels and text and shapes come out at the
// screen's resolution. Where columns are counted (the seek bar's blocks, the
// graphs' buckets, hairlines) the pictures count device pixels, so that a
// ratio of 1.5 gives neither seams nor columns of uneven width; hit tests
// and mouse positions stay logical. The pictures are re-made when the
// window moves to a screen with another ratio.
//
// Fonts named "Arial" in the pictures come out as Liberation Sans (the
// metric twin fontconfig maps Arial to); point sizes are taken at 96 dots
// per inch, so an 8-point text is 11 pixels high as it always was.
//
// The image is not owned by the bitmap (it lives in its window's layout);
// the bitmap detaches itself when either goes first. UI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "app/UnitUtils.h"

class QMouseEvent;
class QWheelEvent;

namespace tachora {

class TMyBitmap;

// A new video frame is about to be painted: the pictures' repaints that
// wait go with it. While frames come at least every kPictureHoldMs, a
// picture's repaint waits for the next one (never longer than that);
// otherwise it happens at once.
void VideoFrameArriving();
inline constexpr int kPictureHoldMs = 150;

// The device pixels where two pictures of one size and format differ (the
// smallest rectangle holding them); empty when they are equal.
QRect ChangedPixels(const QImage &now, const QImage &before);

class TMyImage : public QWidget {
  Q_OBJECT
 public:
  explicit TMyImage(QWidget *parent = nullptr);

  // The ratio the pictures are drawn at: the screen's, unless one was set
  // for drawing off screen (exported pictures, tests, benchmarks).
  qreal PixelRatio() const;
  void SetPixelRatio(qreal ratio);

  // What the widget shows (device pixels, with the screen's pixel ratio).
  QImage &Picture() { return picture_; }
  const QImage &Picture() const { return picture_; }
  void SetPicture(const QImage &picture);
  QSize sizeHint() const override;
  // Repaints what the picture changed since the widget showed it (a
  // graph's cursor: two columns), nothing when it did not change.
  void UpdateIfChanged();
  // Asks for the paint of what waits to be shown (when its turn comes).
  void RepaintChanged();

 signals:
  // The widget's size or pixel ratio changed; owners redo their layout.
  void Resized();
  // The pixel ratio changed (another screen, or a scale change).
  void PixelRatioChanged();

 protected:
  bool event(QEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void leaveEvent(QEvent *event) override;
  void wheelEvent(QWheelEvent *event) override;

 private:
  friend class TMyBitmap;
  void CheckPixelRatio();
  QImage picture_;
  QImage shown_;  // the picture the widget shows (shared, not copied)
  bool updatePending_ = false;
  QRect changed_;  // what differs from shown_ (logical pixels), waiting for a paint
  qreal forcedRatio_ = 0;
  qreal shownRatio_ = 0;
  bool watchingWindow_ = false;
  QPointer<TMyBitmap> owner_;
};

class TMyBitmap : public QObject {
  Q_OBJECT
 public:
  // Takes what the image shows now as the Background (an instrument's stored
  // dial picture), else a Background of the image's size filled with the
  // window colour.
  explicit TMyBitmap(TMyImage *image, QObject *parent = nullptr);
  ~TMyBitmap() override;

  TMyImage *Image() const { return image_; }
  QImage &Background() { return background_; }
  // Logical size of the picture.
  QSize Size() const;
  // The picture's pixel ratio and its size in device pixels.
  qreal Ratio() const { return background_.isNull() ? 1.0 : background_.devicePixelRatio(); }
  int DeviceWidth() const { return background_.width(); }
  int DeviceHeight() const { return background_.height(); }
  // A logical length or coordinate in device pixels (rounded, the one
  // rounding used for every column count).
  int Device(int logical) const;
  // The width of a line of one logical pixel that scales with the picture
  // (outlines, the plot line): whole device pixels, at least one.
  int LineWidth() const;
  int Width() const { return Size().width(); }
  int Height() const { return Size().height(); }

  // Sizes the picture and the Background to the image widget's current size.
  virtual void Resize();
  // Fills the whole Background with one colour.
  void FillBackground(const QColor &colour);
  // Interval bands over the Background's full height: flat lists of device
  // pixel column pairs (start, end), moved right by `offset` (device
  // pixels). A pair at most one column wide is a one-device-pixel line at its
  // start. Yellow first, then highlight, then grey (light grey fill, grey
  // lines), each over the earlier.
  void DrawBands(int offset, const TArrayInteger &grey, const TArrayInteger &highlight,
                 const TArrayInteger &yellow);
  // Copies the Background onto the picture (the start of every redraw).
  void RestorePicture();
  // Shows the picture as it now is (nothing to do when the widget shows it).
  void Update();
  // The hint shown over the image.
  void SetHint(const QString &hint);

  // "Arial" at a point size, at 96 dots per inch.
  static QFont PictureFont(int pointSize, bool bold = false);
  // The theme's colours standing for the classic system colours.
  QColor ButtonFace() const;
  QColor Highlight() const;
  QColor ButtonShadow() const;
  QColor ButtonHighlight() const;
  QColor WindowText() const;

  // The image's pixel ratio changed: the pictures are made again at the new
  // ratio. The default sizes the picture anew; pictures that draw their
  // Background once redraw it.
  virtual void PixelRatioChanged();

  // Mouse handlers, called by the image. The defaults ignore the event so
  // that it reaches the window below (its context menu, its wheel handler).
  virtual void MouseDown(QMouseEvent *event);
  virtual void MouseMove(QMouseEvent *event);
  virtual void MouseUp(QMouseEvent *event);
  virtual void MouseLeave();
  virtual void Wheel(QWheelEvent *event);

 protected:
  // A new image of the picture's size and pixel ratio.
  QImage NewImage(QSize logical) const;
  // The same pixels seen with a ratio of 1, for painting in device pixels.
  static QImage DevicePixels(QImage &image);

  QPointer<TMyImage> image_;
  QImage background_;
};

}  // namespace tachora
