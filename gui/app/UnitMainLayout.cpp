#include "app/UnitMainLayout.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/UnitSettings.h"

namespace tachora {

QIcon GlyphIcon(TGlyph glyph, int size) {
  QPixmap pm(size * 2, size * 2);  // drawn at twice the size for high-density screens
  pm.setDevicePixelRatio(2);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  const QColor ink(50, 50, 50);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  auto triangle = [&p](QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    p.drawPath(path);
  };
  switch (glyph) {
    case TGlyph::Play:
      p.setBrush(QColor(40, 150, 60));
      triangle({s * 0.32, s * 0.22}, {s * 0.32, s * 0.78}, {s * 0.8, s * 0.5});
      break;
    case TGlyph::Pause:
      p.drawRect(QRectF(s * 0.28, s * 0.24, s * 0.15, s * 0.52));
      p.drawRect(QRectF(s * 0.57, s * 0.24, s * 0.15, s * 0.52));
      break;
    case TGlyph::Stop:
      p.setBrush(QColor(170, 50, 40));
      p.drawRect(QRectF(s * 0.27, s * 0.27, s * 0.46, s * 0.46));
      break;
    case TGlyph::FramePrev:
      p.drawRect(QRectF(s * 0.2, s * 0.25, s * 0.12, s * 0.5));
      triangle({s * 0.78, s * 0.25}, {s * 0.78, s * 0.75}, {s * 0.36, s * 0.5});
      break;
    case TGlyph::FrameNext:
      p.drawRect(QRectF(s * 0.68, s * 0.25, s * 0.12, s * 0.5));
      triangle({s * 0.22, s * 0.25}, {s * 0.22, s * 0.75}, {s * 0.64, s * 0.5});
      break;
    case TGlyph::ZoomIn:
    case TGlyph::ZoomOut: {
      p.setPen(QPen(ink, s * 0.1));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(s * 0.42, s * 0.42), s * 0.24, s * 0.24);
      p.drawLine(QPointF(s * 0.6, s * 0.6), QPointF(s * 0.85, s * 0.85));
      p.setPen(QPen(ink, s * 0.08));
      p.drawLine(QPointF(s * 0.3, s * 0.42), QPointF(s * 0.54, s * 0.42));
      if (glyph == TGlyph::ZoomIn)
        p.drawLine(QPointF(s * 0.42, s * 0.3), QPointF(s * 0.42, s * 0.54));
      break;
    }
    case TGlyph::TimeZoomIn:
    case TGlyph::TimeZoomOut:
      p.setPen(QPen(ink, s * 0.12));
      p.drawLine(QPointF(s * 0.25, s * 0.5), QPointF(s * 0.75, s * 0.5));
      if (glyph == TGlyph::TimeZoomIn)
        p.drawLine(QPointF(s * 0.5, s * 0.25), QPointF(s * 0.5, s * 0.75));
      break;
  }
  p.end();
  return QIcon(pm);
}

namespace {
QToolButton *MakeButton(QWidget *parent, const char *name, TGlyph glyph, int size) {
  auto *b = new QToolButton(parent);
  b->setObjectName(name);
  b->setFixedSize(size, size);
  b->setIcon(GlyphIcon(glyph, size >= 40 ? 32 : 16));
  b->setIconSize(size >= 40 ? QSize(32, 32) : QSize(16, 16));
  b->setAutoRaise(false);
  b->setEnabled(false);
  return b;
}

QLabel *MakePicture(QWidget *parent, const char *name, int x, int y, int w, int h) {
  auto *l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(x, y, w, h);
  return l;
}
}  // namespace

TMainLayout::TMainLayout(QMainWindow *window) : QObject(window), window_(window) {
  SplitterRight = new QSplitter(Qt::Horizontal, window_);
  SplitterRight->setObjectName("SplitterRight");
  SplitterRight->setHandleWidth(kSplitter);
  SplitterRight->setChildrenCollapsible(false);
  window_->setCentralWidget(SplitterRight);
  BuildLeft();
  BuildRight();
  SplitterRight->addWidget(PanelLeft);
  SplitterRight->addWidget(PanelRight);
  SplitterRight->setStretchFactor(0, 1);
  SplitterRight->setStretchFactor(1, 0);
  connect(SplitterRight, &QSplitter::splitterMoved, this,
          [this]() { OnSplitterMoved(SplitterRight); });
  connect(SplitterBottom, &QSplitter::splitterMoved, this,
          [this]() { OnSplitterMoved(SplitterBottom); });
  connect(PanelRight2, &QSplitter::splitterMoved, this, [this]() { OnSplitterMoved(PanelRight2); });
  PanelRight2->installEventFilter(this);
  PanelControl->installEventFilter(this);
  saveTimer_ = new QTimer(this);
  saveTimer_->setSingleShot(true);
  saveTimer_->setInterval(kSaveDelayMs);
  connect(saveTimer_, &QTimer::timeout, this, &TMainLayout::SavePanels);
}

TListPanel TMainLayout::ListPanel() const {
  return {ListView};
}

TPlaybackPanel TMainLayout::PlaybackPanel() const {
  return {PanelVideo,        VideoWindow,      PanelZoomScroll, ButtonZoomOut,   ScrollBarZoom,
          ButtonZoomIn,      ImageSeek,        PanelControl,    ButtonFramePrev, ButtonVideoZoomOut,
          ButtonVideoZoomIn, ButtonFrameNext,  ButtonPlay,      ButtonStop,      PanelPlaySpeed,
          PlaySpeedGroup,    PlaySpeedButtons, TrackBarVolume,  CheckBoxLoop};
}

TMapPanel TMainLayout::MapPanel() const {
  return {WebBrowser, ImageSpeed, ImageAzimut, ImageGSensor};
}

TGraphsPanel TMainLayout::GraphsPanel() const {
  return {PanelBottomGraphics};
}

void TMainLayout::BuildLeft() {
  PanelLeft = new QWidget;
  PanelLeft->setObjectName("PanelLeft");
  auto *lay = new QVBoxLayout(PanelLeft);
  lay->setContentsMargins(0, 0, 0, 0);
  SplitterBottom = new QSplitter(Qt::Vertical, PanelLeft);
  SplitterBottom->setObjectName("SplitterBottom");
  SplitterBottom->setHandleWidth(kSplitter);
  SplitterBottom->setChildrenCollapsible(false);
  lay->addWidget(SplitterBottom);

  PanelVideo = new QFrame;
  PanelVideo->setObjectName("PanelVideo");
  PanelVideo->setFrameShape(QFrame::Box);
  PanelVideo->setLineWidth(1);
  PanelVideo->setStyleSheet("#PanelVideo { background: black; border: 1px solid #808080; }");
  PanelVideo->setMinimumSize(50, 50);
  auto *vlay = new QVBoxLayout(PanelVideo);
  vlay->setContentsMargins(1, 1, 1, 1);
  VideoWindow = new QWidget(PanelVideo);
  VideoWindow->setObjectName("VideoWindow");
  VideoWindow->setStyleSheet("background: black;");
  vlay->addWidget(VideoWindow);

  PanelBottom = new QWidget;
  PanelBottom->setObjectName("PanelBottom");
  PanelBottom->setMinimumHeight(42);
  auto *blay = new QVBoxLayout(PanelBottom);
  blay->setContentsMargins(0, 0, 0, 0);
  blay->setSpacing(0);
  PanelZoomScroll = new QWidget(PanelBottom);
  PanelZoomScroll->setObjectName("PanelZoomScroll");
  PanelZoomScroll->setFixedHeight(17);
  auto *zlay = new QHBoxLayout(PanelZoomScroll);
  zlay->setContentsMargins(0, 0, 0, 0);
  zlay->setSpacing(0);
  ButtonZoomOut = MakeButton(PanelZoomScroll, "ButtonZoomOut", TGlyph::TimeZoomOut, 17);
  ScrollBarZoom = new QScrollBar(Qt::Horizontal, PanelZoomScroll);
  ScrollBarZoom->setObjectName("ScrollBarZoom");
  ScrollBarZoom->setRange(1, 4);
  ScrollBarZoom->setValue(2);
  ScrollBarZoom->setEnabled(false);
  ButtonZoomIn = MakeButton(PanelZoomScroll, "ButtonZoomIn", TGlyph::TimeZoomIn, 17);
  zlay->addWidget(ButtonZoomOut);
  zlay->addWidget(ScrollBarZoom, 1);
  zlay->addWidget(ButtonZoomIn);
  PanelBottomGraphics = new QWidget(PanelBottom);
  PanelBottomGraphics->setObjectName("PanelBottomGraphics");
  PanelBottomGraphics->setAutoFillBackground(true);
  QPalette pal = PanelBottomGraphics->palette();
  pal.setColor(QPalette::Window, Qt::white);
  PanelBottomGraphics->setPalette(pal);
  auto *glay = new QVBoxLayout(PanelBottomGraphics);
  glay->setContentsMargins(0, 0, 0, 0);
  ImageSeek = new QLabel(PanelBottomGraphics);
  ImageSeek->setObjectName("ImageSeek");
  ImageSeek->setFixedHeight(40);
  ImageSeek->setFrameShape(QFrame::StyledPanel);
  glay->addWidget(ImageSeek);
  glay->addStretch(1);
  blay->addWidget(PanelZoomScroll);
  blay->addWidget(PanelBottomGraphics, 1);

  SplitterBottom->addWidget(PanelVideo);
  SplitterBottom->addWidget(PanelBottom);
  SplitterBottom->setStretchFactor(0, 1);
  SplitterBottom->setStretchFactor(1, 0);
  SplitterBottom->setSizes({400, kBottomHeight});
}

void TMainLayout::BuildRight() {
  PanelRight = new QWidget;
  PanelRight->setObjectName("PanelRight");
  PanelRight->setMinimumWidth(10);
  auto *lay = new QVBoxLayout(PanelRight);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  PanelRight2 = new QSplitter(Qt::Vertical, PanelRight);
  PanelRight2->setObjectName("PanelRight2");
  PanelRight2->setHandleWidth(kSplitter);
  PanelRight2->setChildrenCollapsible(false);
  ListView = new QTableView;
  ListView->setObjectName("ListView");
  WebBrowser = new QFrame;
  WebBrowser->setObjectName("WebBrowser");
  WebBrowser->setFocusPolicy(Qt::NoFocus);
  WebBrowser->setFrameShape(QFrame::StyledPanel);
  WebBrowser->setMinimumHeight(10);
  WebBrowser->setAutoFillBackground(true);
  QPalette pal = WebBrowser->palette();
  pal.setColor(QPalette::Window, QColor(229, 227, 223));
  WebBrowser->setPalette(pal);
  PanelRight2->addWidget(ListView);
  PanelRight2->addWidget(WebBrowser);
  PanelRight2->setSizes({300, 199});
  lay->addWidget(PanelRight2, 1);
  BuildControlPanel();
  lay->addWidget(PanelControl);
}

void TMainLayout::BuildControlPanel() {
  PanelControl = new QWidget(PanelRight);
  PanelControl->setObjectName("PanelControl");
  PanelControl->setFixedHeight(kControlHeight);
  ButtonFramePrev = MakeButton(PanelControl, "ButtonFramePrev", TGlyph::FramePrev, 22);
  ButtonFramePrev->move(4, 7);
  ButtonVideoZoomOut = MakeButton(PanelControl, "ButtonVideoZoomOut", TGlyph::ZoomOut, 22);
  ButtonVideoZoomOut->move(35, 7);
  ButtonVideoZoomIn = MakeButton(PanelControl, "ButtonVideoZoomIn", TGlyph::ZoomIn, 22);
  ButtonVideoZoomIn->move(57, 7);
  ButtonFrameNext = MakeButton(PanelControl, "ButtonFrameNext", TGlyph::FrameNext, 22);
  ButtonFrameNext->move(87, 7);
  ButtonPlay = MakeButton(PanelControl, "ButtonPlay", TGlyph::Play, 45);
  ButtonPlay->setCheckable(true);
  ButtonPlay->move(4, 37);
  ButtonStop = MakeButton(PanelControl, "ButtonStop", TGlyph::Stop, 45);
  ButtonStop->move(64, 37);

  PanelPlaySpeed = new QWidget(PanelControl);
  PanelPlaySpeed->setObjectName("PanelPlaySpeed");
  PanelPlaySpeed->setGeometry(4, 90, 105, 17);
  PlaySpeedGroup = new QButtonGroup(PanelPlaySpeed);
  PlaySpeedGroup->setExclusive(true);
  const int tags[] = {-3, -1, 0, 1, 3};
  const char *labels[] = {"1/4", "1/2", "1x", "2x", "4x"};
  QFont f("Arial");
  f.setPixelSize(11);
  for (int i = 0; i < 5; ++i) {
    auto *b = new QToolButton(PanelPlaySpeed);
    b->setObjectName(QString("ButtonPlaySpeed%1").arg(i));
    b->setText(labels[i]);
    b->setFont(f);
    b->setCheckable(true);
    b->setChecked(tags[i] == 0);
    b->setGeometry(i * 21, 0, 21, 17);
    b->setEnabled(false);
    PlaySpeedGroup->addButton(b, tags[i]);
    PlaySpeedButtons.append(b);
  }

  TrackBarVolume = new QSlider(Qt::Horizontal, PanelControl);
  TrackBarVolume->setObjectName("TrackBarVolume");
  TrackBarVolume->setGeometry(0, 108, 113, 24);
  TrackBarVolume->setRange(0, 100);
  TrackBarVolume->setPageStep(10);
  TrackBarVolume->setValue(100);
  TrackBarVolume->setFocusPolicy(Qt::NoFocus);
  CheckBoxLoop = new QCheckBox(PanelControl);
  CheckBoxLoop->setObjectName("CheckBoxLoop");
  CheckBoxLoop->move(118, 6);
  CheckBoxLoop->setEnabled(false);
  ImageSpeed = MakePicture(PanelControl, "ImageSpeed", 118, 29, 134, 100);
  ImageAzimut = MakePicture(PanelControl, "ImageAzimut", 256, 79, 73, 49);
  ImageGSensor = MakePicture(PanelControl, "ImageGSensor", 260, 6, 65, 65);
}

int TMainLayout::RightWidth() const {
  return rightShown_ ? PanelRight->width() : 0;
}

void TMainLayout::SetBottomHeight(int height) {
  const int total = SplitterBottom->height();
  const int h = std::clamp(height, 42, std::max(42, total - kSplitter - 10));
  if (total <= h + kSplitter) {
    PanelBottom->setProperty("wantHeight", h);
    return;
  }
  SplitterBottom->setSizes({total - h - kSplitter, h});
  Layout();
  SaveSoon();
}

int TMainLayout::BottomHeight() const {
  return PanelBottom->height();
}

void TMainLayout::RestorePanels() {
  mapShare_ = std::clamp(settings::kPanelBrowser.Get(), 0.0, 1.0);
  const int right = std::max(5, settings::kPanelRight.Get());
  const int bottom = std::max(42, settings::kPanelBottom.Get());
  // The splitters keep the right and bottom panels at their size when the
  // window grows (stretch 0); the left side takes the rest.
  SplitterRight->setSizes({std::max(1, SplitterRight->width() - right - kSplitter), right});
  SplitterBottom->setSizes({std::max(1, SplitterBottom->height() - bottom - kSplitter), bottom});
  PanelRight->setProperty("wantWidth", right);
  PanelBottom->setProperty("wantHeight", bottom);
  SplitterRight->installEventFilter(this);
  SplitterBottom->installEventFilter(this);
}

bool TMainLayout::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::Resize) {
    if (watched == PanelRight2 && mapShown_ && listShown_) {
      const int h = PanelRight2->height() - kSplitter;
      if (h > 20) {
        const int map = std::max(10, static_cast<int>(std::lround(h * mapShare_)));
        applying_ = true;
        PanelRight2->setSizes({std::max(1, h - map), map});
        applying_ = false;
      }
    } else if (watched == PanelControl) {
      Layout();
    } else if (watched == SplitterRight || watched == SplitterBottom) {
      // The first real size of a splitter: put the stored panel size in.
      const bool right = watched == SplitterRight;
      QWidget *panel = right ? PanelRight : PanelBottom;
      const char *prop = right ? "wantWidth" : "wantHeight";
      const QVariant want = panel->property(prop);
      if (want.isValid()) {
        auto *sp = static_cast<QSplitter *>(watched);
        const int total = right ? sp->width() : sp->height();
        if (total > want.toInt() + 50) {
          sp->setSizes({total - want.toInt() - kSplitter, want.toInt()});
          panel->setProperty(prop, QVariant());
        }
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

void TMainLayout::Layout() {
  if (!PanelControl->isVisible()) return;
  const int w = PanelControl->width();
  const int h = PanelControl->height();
  const int stopRight = ButtonStop->geometry().right() + 1;
  const int azLeft =
      std::max(w - (h - (ImageAzimut->geometry().bottom() + 1)) - ImageAzimut->width(),
               stopRight + ImageSpeed->width() + 8);
  ImageAzimut->move(azLeft, ImageAzimut->y());
  ImageGSensor->move(azLeft + (ImageAzimut->width() - ImageGSensor->width()) / 2,
                     ImageGSensor->y());
  ImageSpeed->move((stopRight + azLeft - ImageSpeed->width()) / 2 + 2, ImageSpeed->y());
  CheckBoxLoop->move(ImageSpeed->x(), CheckBoxLoop->y());
}

void TMainLayout::ApplyView(bool list, bool map, bool control) {
  ListView->setVisible(list);
  WebBrowser->setVisible(map);
  PanelRight2->setVisible(list || map);
  PanelControl->setVisible(control);
  listShown_ = list;
  mapShown_ = map;
  if (list || map || control) {
    const bool wasHidden = !rightShown_;
    rightShown_ = true;
    PanelRight->setVisible(true);
    if (wasHidden || (window_->isVisible() && PanelRight->width() < 20)) {
      const int total = SplitterRight->width();
      if (total > kRightWidth + 50)
        SplitterRight->setSizes({total - kRightWidth - kSplitter, kRightWidth});
      else
        PanelRight->setProperty("wantWidth", kRightWidth);
    }
  } else {
    rightShown_ = false;
    PanelRight->setVisible(false);
  }
  Layout();
}

void TMainLayout::OnSplitterMoved(QSplitter *splitter) {
  if (applying_) return;
  if (splitter == PanelRight2) {
    const int h = PanelRight2->height() - kSplitter;
    if (h > 20 && mapShown_ && listShown_) mapShare_ = double(WebBrowser->height()) / h;
  }
  Layout();
  SaveSoon();
  emit SplittersMoved();
}

void TMainLayout::SaveSoon() {
  saveTimer_->start();
}

void TMainLayout::FlushSave() {
  if (saveTimer_->isActive()) SavePanels();
}

void TMainLayout::SavePanels() {
  saveTimer_->stop();
  if (!window_->isVisible()) return;
  if (rightShown_ && PanelRight->width() > 0) settings::kPanelRight.Write(PanelRight->width());
  settings::kPanelBottom.Write(PanelBottom->height());
  settings::kPanelBrowser.Write(mapShare_);
}

}  // namespace tachora
