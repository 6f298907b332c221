// The widgets that show the player's picture, one per renderer (see
// UnitFilterGraph.h): a native child window mpv draws into (kSimple), a
// widget painting the software render API's image (kSoftware: flips and the
// non-linear stretch drawn by the program) and an OpenGL window driving the
// OpenGL render API (kOpenGL: the non-linear stretch drawn by blitting three
// strips). The zoom code tells a surface which part of the picture to show
// (SetSource) and how to fit it (SetAspectMode); the surface fills its own
// rectangle.
//
// Ownership: a surface is a child widget of the video panel; it registers
// itself as the graph's render host and unregisters when destroyed (freeing
// the OpenGL render context first). UI thread only.
#pragma once

#include <QImage>
#include <QOpenGLContext>
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <QWindow>
#include <array>
#include <memory>

#include "playback/UnitFilterGraph.h"

class QOpenGLFramebufferObject;

namespace tachora {

enum class TAspectMode {
  kKeep,       // letterbox: the whole picture, aspect ratio kept
  kStretch,    // the whole surface, aspect ratio ignored
  kNonLinear,  // the centre third keeps its aspect ratio, the sides stretch
};

// The picture of size `picture` fitted into `target` keeping its aspect
// ratio, centred.
QRectF FitRect(QSizeF picture, const QRectF &target);

// The non-linear stretch: `source` (picture pixels) cut into thirds across,
// drawn over the whole `target`. The centre third is scaled to the target's
// height with its own aspect ratio (narrowed only when the target is too
// narrow for it); the outer thirds share the width left over.
struct TStrip {
  QRectF Source, Target;
};
std::array<TStrip, 3> NonLinearStrips(const QRectF &source, const QRectF &target);

class TVideoSurface {
 public:
  virtual ~TVideoSurface() = default;
  virtual QWidget *Widget() = 0;
  virtual TRenderer Renderer() const = 0;
  // What the renderer can do (the menu enables its items by these).
  virtual bool CanFlip() const { return false; }
  virtual bool CanNonLinear() const { return false; }

  void SetAspectMode(TAspectMode mode);
  TAspectMode AspectMode() const { return m_mode; }
  // Flips apply where CanFlip().
  void SetFlip(bool vertical, bool horizontal);
  // The part of the picture to show, normalised (0..1 each way; the whole
  // picture by default).
  void SetSource(const QRectF &normalised);
  QRectF Source() const { return m_source; }

 protected:
  virtual void SurfaceChanged() = 0;
  TAspectMode m_mode = TAspectMode::kKeep;
  bool m_flipV = false, m_flipH = false;
  QRectF m_source{0, 0, 1, 1};
};

// Makes the surface for `renderer` inside `parent`. Create it before the
// graph is activated (kSimple passes its window to mpv at activation).
TVideoSurface *CreateVideoSurface(TRenderer renderer, TFilterGraph &graph, QWidget *parent);

class TSoftwareSurface : public QWidget, public TVideoSurface, public TRenderHost {
  Q_OBJECT
 public:
  TSoftwareSurface(TFilterGraph &graph, QWidget *parent = nullptr);
  ~TSoftwareSurface() override;
  QWidget *Widget() override { return this; }
  TRenderer Renderer() const override { return TRenderer::kSoftware; }
  bool CanFlip() const override { return true; }
  bool CanNonLinear() const override { return true; }
  // The last frame drawn, as mpv rendered it (before fitting and flips).
  const QImage &Frame() const { return m_frame; }

 protected:
  void paintEvent(QPaintEvent *event) override;
  void SurfaceChanged() override { update(); }

 private:
  void RenderFrame();
  QPointer<TFilterGraph> m_graph;  // may go first at the program's end
  QImage m_frame;
  bool m_dirty = true;
};

class TOpenGLSurface;

// The OpenGL window the picture is drawn into: embedded in its surface,
// blind to input (the surface widget under it takes the mouse). Its context
// exists from the start, so that a player opened before the window first
// shows still finds mpv's render context.
class TOpenGLPicture : public QWindow {
  Q_OBJECT
 public:
  explicit TOpenGLPicture(TOpenGLSurface *surface);
  ~TOpenGLPicture() override;
  QOpenGLContext *context() const { return m_context.get(); }
  bool isValid() const { return m_context && m_context->isValid(); }
  void makeCurrent();
  void doneCurrent();
  // Draws at the next frame of the screen.
  void update() { requestUpdate(); }
  // The picture drawn once more, into an image of the window's size.
  QImage grabFramebuffer();

 protected:
  bool event(QEvent *event) override;
  void exposeEvent(QExposeEvent *event) override;

 private:
  void Render();
  TOpenGLSurface *m_surface;
  std::unique_ptr<QOpenGLContext> m_context;
};

// The picture in a native OpenGL window of its own, placed where this widget
// is: mpv's frames reach the screen without Qt composing the rest of the
// main window with them (in software, on most machines, that composition
// cost more than mpv's own drawing).
class TOpenGLSurface : public QWidget, public TVideoSurface, public TRenderHost {
  Q_OBJECT
 public:
  TOpenGLSurface(TFilterGraph &graph, QWidget *parent = nullptr);
  ~TOpenGLSurface() override;
  QWidget *Widget() override { return this; }
  TRenderer Renderer() const override { return TRenderer::kOpenGL; }
  bool CanNonLinear() const override { return true; }
  // Frames mpv drew into this surface so far.
  int FramesPainted() const { return m_painted; }
  // The picture as last drawn, at the surface's size in device pixels.
  QImage grabFramebuffer();
  // The picture window has its OpenGL context (it has been shown).
  bool Ready() const { return m_picture->isValid(); }

  void BeginRenderContextChange() override;
  void EndRenderContextChange() override;
  void RenderContextWanted() override;

 protected:
  void SurfaceChanged() override;
  void resizeEvent(QResizeEvent *event) override;
  QPaintEngine *paintEngine() const override { return nullptr; }

 private:
  friend class TOpenGLPicture;
  void InitializeGl();
  // Draws into `target` (the window's own framebuffer, or a grab's), which
  // is `size` device pixels; the count of frames painted only for the window.
  void PaintGl(GLuint target, QSize size, bool counted);
  void CreateRenderContext();
  void ReleaseGl();
  void PaintStrips(GLuint target, int width, int height, bool counted);
  QPointer<TFilterGraph> m_graph;  // may go first at the program's end
  TOpenGLPicture *m_picture = nullptr;
  QWidget *m_container = nullptr;
  std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
  int m_painted = 0;
  bool m_current = false;
};

class TNativeSurface : public QWidget, public TVideoSurface {
  Q_OBJECT
 public:
  TNativeSurface(TFilterGraph &graph, QWidget *parent = nullptr);
  QWidget *Widget() override { return this; }
  TRenderer Renderer() const override { return TRenderer::kSimple; }
  QPaintEngine *paintEngine() const override { return nullptr; }

 signals:
  // The native window is about to be destroyed (Qt makes the top-level
  // window again when its first OpenGL-composed child appears, e.g. the map
  // page, or on a move to another window): whoever plays into it must stop
  // mpv now, before mpv draws into a window that is gone.
  void WindowGoing();
  // A new native window took the old one's place; the graph knows it.
  void WindowBack();

 protected:
  void SurfaceChanged() override;
  bool event(QEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void WatchWindow();
  QPointer<TFilterGraph> m_graph;  // may go first at the program's end
};

}  // namespace tachora
