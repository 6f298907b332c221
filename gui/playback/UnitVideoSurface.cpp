#include "playback/UnitVideoSurface.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QPaintEvent>
#include <QPainter>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <string>

#include "app/UnitTiming.h"

namespace tachora {

// ---- geometry ------------------------------------------------------------------

QRectF FitRect(QSizeF picture, const QRectF &target) {
  if (picture.isEmpty() || target.isEmpty()) return target;
  const QSizeF size = picture.scaled(target.size(), Qt::KeepAspectRatio);
  return QRectF(target.center().x() - size.width() / 2, target.center().y() - size.height() / 2,
                size.width(), size.height());
}

std::array<TStrip, 3> NonLinearStrips(const QRectF &source, const QRectF &target) {
  const double third = source.width() / 3;
  double centre = source.height() > 0 ? third * target.height() / source.height() : 0;
  centre = std::min(centre, target.width());
  const double side = (target.width() - centre) / 2;
  const double sy = source.y(), sh = source.height(), ty = target.y(), th = target.height();
  return {{
      {{source.x(), sy, third, sh}, {target.x(), ty, side, th}},
      {{source.x() + third, sy, third, sh}, {target.x() + side, ty, centre, th}},
      {{source.x() + 2 * third, sy, third, sh}, {target.x() + side + centre, ty, side, th}},
  }};
}

namespace {

// The video's first frame is on screen, drawn at `size` device pixels.
void MarkFirstFrame(QSize size) {
  if (TimingEnabled())
    MarkTiming("first-frame", std::to_string(size.width()) + "x" + std::to_string(size.height()));
}

// One more frame drawn by mpv; the first with a picture size is the video's
// first frame on screen.
void CountPainted(int &painted, const TFilterGraph &graph, QSize size) {
  ++painted;
  if (!graph.VideoSize().isEmpty()) MarkFirstFrame(size);
}

// The part of a picture of `size` that a normalised source rectangle names.
QRectF SourcePixels(const QRectF &normalised, QSizeF size) {
  return QRectF(normalised.x() * size.width(), normalised.y() * size.height(),
                normalised.width() * size.width(), normalised.height() * size.height());
}

bool WholePicture(const QRectF &normalised) {
  return normalised == QRectF(0, 0, 1, 1);
}

void *GetProcAddress(void *, const char *name) {
  QOpenGLContext *context = QOpenGLContext::currentContext();
  return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
}

// Makes `w` a native window that something other than Qt draws into (mpv,
// or an embedded OpenGL window): Qt neither paints nor flushes there (a
// window composed through OpenGL cannot flush into a plain X window), and
// the panel's other widgets (the cameras' insets and names) stay plain.
void MakeDrawnElsewhere(QWidget *w) {
  QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
  w->setAttribute(Qt::WA_NativeWindow);
  w->setAttribute(Qt::WA_DontCreateNativeAncestors);
  w->setAttribute(Qt::WA_PaintOnScreen);
  w->setAttribute(Qt::WA_OpaquePaintEvent);
  w->setAttribute(Qt::WA_NoSystemBackground);
}

// A window's size in device pixels.
QSize PixelSize(const QWindow &w) {
  const double dpr = w.devicePixelRatio();
  return QSize(std::max(1, static_cast<int>(std::lround(w.width() * dpr))),
               std::max(1, static_cast<int>(std::lround(w.height() * dpr))));
}

void *X11Display() {
#if QT_CONFIG(xcb)
  if (auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) return x11->display();
#endif
  return nullptr;
}

}  // namespace

// ---- common ----------------------------------------------------------------------

void TVideoSurface::SetAspectMode(TAspectMode mode) {
  if (mode == TAspectMode::kNonLinear && !CanNonLinear()) mode = TAspectMode::kStretch;
  m_mode = mode;
  SurfaceChanged();
}

void TVideoSurface::SetFlip(bool vertical, bool horizontal) {
  m_flipV = vertical && CanFlip();
  m_flipH = horizontal && CanFlip();
  SurfaceChanged();
}

void TVideoSurface::SetSource(const QRectF &normalised) {
  m_source = normalised.intersected(QRectF(0, 0, 1, 1));
  if (m_source.isEmpty()) m_source = QRectF(0, 0, 1, 1);
  SurfaceChanged();
}

TVideoSurface *CreateVideoSurface(TRenderer renderer, TFilterGraph &graph, QWidget *parent) {
  switch (renderer) {
    case TRenderer::kSimple:
      return new TNativeSurface(graph, parent);
    case TRenderer::kOpenGL:
      return new TOpenGLSurface(graph, parent);
    case TRenderer::kSoftware:
      break;
  }
  return new TSoftwareSurface(graph, parent);
}

// ---- software --------------------------------------------------------------------

TSoftwareSurface::TSoftwareSurface(TFilterGraph &graph, QWidget *parent)
    : QWidget(parent), m_graph(&graph) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  m_graph->SetRenderHost(this);
  connect(m_graph, &TFilterGraph::FrameReady, this, [this] {
    m_dirty = true;
    update();
  });
  connect(m_graph, &TFilterGraph::VideoSizeChanged, this, [this] {
    m_dirty = true;
    update();
  });
}

TSoftwareSurface::~TSoftwareSurface() {
  if (m_graph) m_graph->SetRenderHost(nullptr);
}

void TSoftwareSurface::RenderFrame() {
  const QSize video = m_graph ? m_graph->VideoSize() : QSize();
  if (video.isEmpty() || !m_graph->HasRenderContext()) {
    m_frame = QImage();
    return;
  }
  // Enough pixels for the shown part to meet the screen one to one, never
  // more than the video has.
  const QSizeF shown(m_source.width() * video.width(), m_source.height() * video.height());
  const double dpr = devicePixelRatioF();
  const double scale =
      std::min(1.0, std::max(width() * dpr / shown.width(), height() * dpr / shown.height()));
  const QSize size(std::max(1, static_cast<int>(std::lround(video.width() * scale))),
                   std::max(1, static_cast<int>(std::lround(video.height() * scale))));
  if (m_dirty || m_frame.size() != size) {
    QImage frame = m_graph->RenderSoftware(size);
    if (!frame.isNull()) {
      m_frame = frame;
      MarkFirstFrame((QSizeF(QWidget::size()) * devicePixelRatioF()).toSize());
    }
    m_dirty = false;
  }
}

void TSoftwareSurface::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  RenderFrame();
  if (m_frame.isNull()) return;
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  if (m_flipV || m_flipH) {
    const QPointF c = QRectF(rect()).center();
    p.translate(c);
    p.scale(m_flipH ? -1 : 1, m_flipV ? -1 : 1);
    p.translate(-c);
  }
  const QRectF source = SourcePixels(m_source, m_frame.size());
  const QRectF target = rect();
  switch (m_mode) {
    case TAspectMode::kKeep:
      p.drawImage(FitRect(source.size(), target), m_frame, source);
      break;
    case TAspectMode::kStretch:
      p.drawImage(target, m_frame, source);
      break;
    case TAspectMode::kNonLinear:
      for (const TStrip &s : NonLinearStrips(source, target))
        if (!s.Target.isEmpty()) p.drawImage(s.Target, m_frame, s.Source);
      break;
  }
}

// ---- OpenGL ----------------------------------------------------------------------

TOpenGLPicture::TOpenGLPicture(TOpenGLSurface *surface) : m_surface(surface) {
  setSurfaceType(QSurface::OpenGLSurface);
  setFlag(Qt::WindowTransparentForInput);
  setFlag(Qt::WindowDoesNotAcceptFocus);
  create();
  m_context = std::make_unique<QOpenGLContext>();
  m_context->setShareContext(QOpenGLContext::globalShareContext());
  m_context->setFormat(requestedFormat());
  if (!m_context->create()) m_context.reset();
}

TOpenGLPicture::~TOpenGLPicture() {
  // The context goes before the window it draws into.
  m_context.reset();
}

void TOpenGLPicture::makeCurrent() {
  if (m_context) m_context->makeCurrent(this);
}

void TOpenGLPicture::doneCurrent() {
  if (m_context) m_context->doneCurrent();
}

bool TOpenGLPicture::event(QEvent *event) {
  if (event->type() == QEvent::UpdateRequest) Render();
  return QWindow::event(event);
}

void TOpenGLPicture::exposeEvent(QExposeEvent *) {
  Render();
}

void TOpenGLPicture::Render() {
  if (!isExposed() || !m_context || !m_context->makeCurrent(this)) return;
  m_surface->PaintGl(m_context->defaultFramebufferObject(), PixelSize(*this), true);
  m_context->swapBuffers(this);
}

QImage TOpenGLPicture::grabFramebuffer() {
  if (!m_context || !m_context->makeCurrent(this)) return {};
  const QSize size = PixelSize(*this);
  QOpenGLFramebufferObject fbo(size);
  m_surface->PaintGl(fbo.handle(), size, false);
  QImage image = fbo.toImage();
  m_context->functions()->glBindFramebuffer(GL_FRAMEBUFFER, m_context->defaultFramebufferObject());
  return image;
}

TOpenGLSurface::TOpenGLSurface(TFilterGraph &graph, QWidget *parent)
    : QWidget(parent), m_graph(&graph) {
  // A window of its own, so that raising the surface raises the picture
  // (the cameras' insets).
  MakeDrawnElsewhere(this);
  m_picture = new TOpenGLPicture(this);
  m_container = QWidget::createWindowContainer(m_picture, this);
  m_container->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_container->setFocusPolicy(Qt::NoFocus);
  m_container->setGeometry(rect());
  m_graph->SetRenderHost(this);
  InitializeGl();
  connect(m_graph, &TFilterGraph::FrameReady, m_picture, &TOpenGLPicture::update);
}

TOpenGLSurface::~TOpenGLSurface() {
  // The picture window's context goes with the window, after this object:
  // no call back into this half-destroyed one.
  if (m_picture->context()) disconnect(m_picture->context(), nullptr, this, nullptr);
  ReleaseGl();
  if (m_graph) m_graph->SetRenderHost(nullptr);
}

void TOpenGLSurface::resizeEvent(QResizeEvent *event) {
  m_container->setGeometry(rect());
  QWidget::resizeEvent(event);
}

QImage TOpenGLSurface::grabFramebuffer() {
  return m_picture->grabFramebuffer();
}

void TOpenGLSurface::ReleaseGl() {
  if (!m_picture->context() || !m_graph) return;
  m_picture->makeCurrent();
  m_graph->FreeRenderContext();
  m_fbo.reset();
  m_picture->doneCurrent();
}

void TOpenGLSurface::BeginRenderContextChange() {
  if (m_picture->context() && !m_current) {
    m_picture->makeCurrent();
    m_current = true;
  }
}

void TOpenGLSurface::EndRenderContextChange() {
  if (m_current) {
    m_fbo.reset();
    m_picture->doneCurrent();
    m_current = false;
  }
}

void TOpenGLSurface::RenderContextWanted() {
  if (!m_picture->isValid()) return;
  m_picture->makeCurrent();
  CreateRenderContext();
  m_picture->doneCurrent();
  m_picture->update();
}

void TOpenGLSurface::CreateRenderContext() {
  if (m_graph && m_graph->Active() && !m_graph->HasRenderContext())
    m_graph->CreateGlContext(&GetProcAddress, nullptr, X11Display());
}

void TOpenGLSurface::InitializeGl() {
  if (!m_picture->context()) return;
  m_picture->makeCurrent();
  CreateRenderContext();
  m_picture->doneCurrent();
  // The window's context can go before the surface (the program's end):
  // free mpv's part of it first.
  connect(m_picture->context(), &QOpenGLContext::aboutToBeDestroyed, this,
          &TOpenGLSurface::ReleaseGl, Qt::DirectConnection);
}

void TOpenGLSurface::SurfaceChanged() {
  if (m_graph) m_graph->SetKeepAspect(m_mode == TAspectMode::kKeep);
  m_picture->update();
}

void TOpenGLSurface::PaintGl(GLuint target, QSize size, bool counted) {
  QOpenGLExtraFunctions *gl = m_picture->context()->extraFunctions();
  gl->glBindFramebuffer(GL_FRAMEBUFFER, target);
  gl->glViewport(0, 0, size.width(), size.height());
  gl->glClearColor(0, 0, 0, 1);
  gl->glClear(GL_COLOR_BUFFER_BIT);
  if (!m_graph || !m_graph->HasRenderContext()) return;
  if (m_mode != TAspectMode::kNonLinear && WholePicture(m_source)) {
    if (m_graph->RenderGl(static_cast<int>(target), size.width(), size.height(), true) && counted)
      CountPainted(m_painted, *m_graph, size);
    return;
  }
  PaintStrips(target, size.width(), size.height(), counted);
}

// Draws the picture at its own size into a framebuffer object, then copies
// the shown part (or its three strips) onto the widget.
void TOpenGLSurface::PaintStrips(GLuint window, int width, int height, bool counted) {
  const QSize video = m_graph->VideoSize();
  if (video.isEmpty()) return;
  if (!m_fbo || m_fbo->size() != video) m_fbo = std::make_unique<QOpenGLFramebufferObject>(video);
  if (!m_graph->RenderGl(static_cast<int>(m_fbo->handle()), video.width(), video.height(), false))
    return;
  if (counted) CountPainted(m_painted, *m_graph, QSize(width, height));
  const QRectF source = SourcePixels(m_source, video);
  const QRectF target(0, 0, width, height);
  std::array<TStrip, 3> strips;
  int count = 1;
  if (m_mode == TAspectMode::kNonLinear) {
    strips = NonLinearStrips(source, target);
    count = 3;
  } else {
    strips[0] = {source, m_mode == TAspectMode::kKeep ? FitRect(source.size(), target) : target};
  }
  QOpenGLExtraFunctions *gl = m_picture->context()->extraFunctions();
  gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_fbo->handle());
  gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, window);
  for (int i = 0; i < count; ++i) {
    const QRect s = strips[i].Source.toRect(), t = strips[i].Target.toRect();
    if (s.isEmpty() || t.isEmpty()) continue;
    // mpv drew the top row at y = 0; the widget's top is at y = height.
    gl->glBlitFramebuffer(s.left(), s.top(), s.left() + s.width(), s.top() + s.height(), t.left(),
                          height - t.top(), t.left() + t.width(), height - t.top() - t.height(),
                          GL_COLOR_BUFFER_BIT, GL_LINEAR);
  }
  gl->glBindFramebuffer(GL_FRAMEBUFFER, window);
}

// ---- native window ---------------------------------------------------------------

TNativeSurface::TNativeSurface(TFilterGraph &graph, QWidget *parent)
    : QWidget(parent), m_graph(&graph) {
  // mpv alone draws here.
  MakeDrawnElsewhere(this);
  m_graph->SetWindow(static_cast<quint64>(winId()));
  WatchWindow();
}

void TNativeSurface::WatchWindow() {
  if (QWindow *w = windowHandle()) {
    w->removeEventFilter(this);
    w->installEventFilter(this);
  }
}

bool TNativeSurface::event(QEvent *event) {
  if (event->type() == QEvent::WinIdChange && internalWinId()) {
    WatchWindow();
    if (m_graph) m_graph->SetWindow(static_cast<quint64>(internalWinId()));
    emit WindowBack();
  }
  return QWidget::event(event);
}

bool TNativeSurface::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::PlatformSurface && watched == windowHandle() &&
      static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() ==
          QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
    emit WindowGoing();
  return QWidget::eventFilter(watched, event);
}

void TNativeSurface::SurfaceChanged() {
  if (m_graph) m_graph->SetKeepAspect(m_mode != TAspectMode::kStretch);
}

}  // namespace tachora
