#include "telemetry/UnitFormDetails.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitText.h"

namespace tachora {

namespace {

constexpr int kLeft = 4;
constexpr int kTop = 4;

}  // namespace

TFormDetails::TFormDetails(QWidget *parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
  setObjectName("FormDetails");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setWindowOpacity(220.0 / 255.0);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);
  setFont(TMyBitmap::PictureFont(8));
  setMouseTracking(true);

  systemTimeCaption_ = AddLabel("LabelSystemTimeCaption");
  videoTimeCaption_ = AddLabel("LabelVideoTimeCaption");
  fileCaption_ = AddLabel("LabelFileCaption");
  systemTime_ = AddLabel("LabelSystemTime");
  videoTime_ = AddLabel("LabelVideoTime");
  file_ = AddLabel("LabelFile");
  gps_ = AddLabel("LabelGPS");
  gpsIndex_ = AddLabel("LabelGPSIndex");
  lonCaption_ = AddLabel("LabelGPSXCaption");
  latCaption_ = AddLabel("LabelGPSYCaption");
  speedCaption_ = AddLabel("LabelSpeedCaption");
  azimutCaption_ = AddLabel("LabelAzimutCaption");
  trackCaption_ = AddLabel("LabelTrackCaption");
  lon_ = AddLabel("LabelGPSX");
  lat_ = AddLabel("LabelGPSY");
  speed_ = AddLabel("LabelSpeed");
  azimut_ = AddLabel("LabelAzimut");
  track_ = AddLabel("LabelTrack");
  gsensor_ = AddLabel("LabelGSensor");
  gsensorIndex_ = AddLabel("LabelGSensorIndex");
  xCaption_ = AddLabel("LabelGSensorXCaption");
  yCaption_ = AddLabel("LabelGSensorYCaption");
  zCaption_ = AddLabel("LabelGSensorZCaption");
  aCaption_ = AddLabel("LabelGSensorACaption");
  x_ = AddLabel("LabelGSensorX");
  y_ = AddLabel("LabelGSensorY");
  z_ = AddLabel("LabelGSensorZ");
  a_ = AddLabel("LabelGSensorA");
  graphName_ = AddLabel("LabelGraphName");
  for (QLabel *l :
       {lonCaption_, latCaption_, speedCaption_, azimutCaption_, trackCaption_, xCaption_,
        yCaption_, zCaption_, aCaption_, systemTimeCaption_, videoTimeCaption_, fileCaption_})
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  image_ = new TMyImage(this);
  image_->setObjectName("ImageGraph");
  image_->installEventFilter(this);
  image_->hide();
  Translate();
}

TFormDetails::~TFormDetails() {
  HideDetails();
  preview_.reset();
}

QLabel *TFormDetails::AddLabel(const char *name) {
  auto *l = new QLabel(this);
  l->setObjectName(name);
  l->setMouseTracking(true);
  l->installEventFilter(this);
  return l;
}

QLabel *TFormDetails::Label(const char *name) const {
  return findChild<QLabel *>(name);
}

void TFormDetails::Translate() {
  metres_ = DisplayUnits() == TUnits::Metric ? L("Meters") : DistanceUnit();
  kmh_ = SpeedUnit();
  systemTimeCaption_->setText(L("SystemTime") + ":");
  videoTimeCaption_->setText(L("VideoTime") + ":");
  fileCaption_->setText(L("File") + ":");
  gps_->setText(L("GPS"));
  lonCaption_->setText(L("Longitude") + ":");
  latCaption_->setText(L("Latitude") + ":");
  speedCaption_->setText(L("Speed") + ":");
  azimutCaption_->setText(L("Azimut") + ":");
  trackCaption_->setText(L("Details_Track_Length") + ":");
  gsensor_->setText(L("G-Sensor"));
  xCaption_->setText("x:");
  yCaption_->setText("y:");
  zCaption_->setText("z:");
  aCaption_->setText("|G|:");
  if (preview_) graphName_->setText(L(preview_->Info().MenuItemName));
  LayOut();
}

void TFormDetails::LayOut() {
  const QFontMetrics fm(font());
  const int row = fm.height() + 2;
  auto width = [&fm](const QLabel *l) { return fm.horizontalAdvance(l->text()); };

  // Left block: values start 4 px right of the wider time caption.
  const int valueX = kLeft + std::max(width(systemTimeCaption_), width(videoTimeCaption_)) + 4;
  int y = kTop;
  for (auto [caption, value] :
       {std::pair{systemTimeCaption_, systemTime_}, std::pair{videoTimeCaption_, videoTime_},
        std::pair{fileCaption_, file_}}) {
    const int cw = width(caption);
    caption->setGeometry(valueX - 4 - cw, y, cw, row);
    value->setGeometry(valueX, y, kClientWidth - valueX - kLeft, row);
    y += row;
  }

  // GPS block on the left, G-sensor block on the right; captions
  // right-aligned 2 px left of their values.
  y += 4;
  const int headY = y;
  QLabel *gpsCaptions[] = {lonCaption_, latCaption_, speedCaption_, azimutCaption_, trackCaption_};
  QLabel *gpsValues[] = {lon_, lat_, speed_, azimut_, track_};
  int gpsCaptionW = 0;
  for (QLabel *c : gpsCaptions) gpsCaptionW = std::max(gpsCaptionW, width(c));
  const int gpsValueX = kLeft + gpsCaptionW + 2;
  const int gpsValueW = fm.horizontalAdvance("(?) E179.999999") + 4;
  gps_->setGeometry(kLeft, headY, width(gps_) + 2, row);
  gpsIndex_->setGeometry(kLeft + width(gps_) + 6, headY, 80, row);
  for (int i = 0; i < 5; ++i) {
    const int ry = headY + row * (i + 1);
    gpsCaptions[i]->setGeometry(kLeft, ry, gpsCaptionW, row);
    gpsValues[i]->setGeometry(gpsValueX, ry, gpsValueW, row);
  }

  const int gsX = gpsValueX + gpsValueW + 8;
  QLabel *gsCaptions[] = {xCaption_, yCaption_, zCaption_, aCaption_};
  QLabel *gsValues[] = {x_, y_, z_, a_};
  int gsCaptionW = 0;
  for (QLabel *c : gsCaptions) gsCaptionW = std::max(gsCaptionW, width(c));
  const int gsValueX = gsX + gsCaptionW + 2;
  const int gsValueW = fm.horizontalAdvance("-99.999") + 4;
  gsensor_->setGeometry(gsX, headY, width(gsensor_) + 2, row);
  gsensorIndex_->setGeometry(gsX + width(gsensor_) + 6, headY, 80, row);
  for (int i = 0; i < 4; ++i) {
    const int ry = headY + row * (i + 1);
    gsCaptions[i]->setGeometry(gsX, ry, gsCaptionW, row);
    gsValues[i]->setGeometry(gsValueX, ry, gsValueW, row);
  }
  const int clientW = std::max(kClientWidth, gsValueX + gsValueW + kLeft);
  const int trackBottom = track_->geometry().bottom() + 1;

  // The preview under the values.
  int height = trackBottom + 2;
  if (preview_) {
    graphName_->setGeometry(kLeft, trackBottom + 2, clientW - 2 * kLeft, row);
    image_->setGeometry(1, graphName_->geometry().bottom() + 2, clientW - 2, kPreviewHeight);
    height = image_->geometry().bottom() + 2;
  } else {
    graphName_->setGeometry(kLeft, trackBottom, clientW - 2 * kLeft, 0);
  }
  resize(clientW, height);
}

void TFormDetails::ShowFileName(const QString &name) {
  const QFontMetrics fm(file_->font());
  const int room = width() - file_->x() - 2;
  file_->setText(
      ShortenMiddle(name, [&](const QString &s) { return fm.horizontalAdvance(s) <= room; }));
}

void TFormDetails::SetPreview(std::optional<TGraphKind> kind) {
  if (preview_ && (!kind || *kind != preview_->Kind())) preview_.reset();
  if (!preview_ && kind) {
    preview_ = std::make_unique<TMyGraphic>(image_, *kind, kPreviewMargin);
    graphName_->setText(L(preview_->Info().MenuItemName));
  }
  if (!preview_) graphName_->clear();
  image_->setVisible(preview_ != nullptr);
}

std::optional<TGraphKind> TFormDetails::PreviewKind() const {
  if (!preview_) return std::nullopt;
  return preview_->Kind();
}

void TFormDetails::ShowDetails(std::optional<TGraphKind> kind, long double cursor,
                               long double windowWidth, long double position,
                               const TDetailsState &state, const std::vector<TGraphSource> &sources,
                               QPoint pointer) {
  SetPreview(kind);
  LayOut();
  systemTime_->setText(QString::fromStdString(FormatDateTimeOrEmpty(state.DateTime)));
  videoTime_->setText(state.VideoTime);
  ShowFileName(state.FileName);

  const TDetailsTexts t = MakeDetailsTexts(state.State, kmh_, metres_, DisplayUnits());
  gpsIndex_->setText(t.GpsIndex);
  lon_->setText(t.Longitude);
  lat_->setText(t.Latitude);
  speed_->setText(t.Speed);
  azimut_->setText(t.Course);
  track_->setText(t.Track);
  gsensorIndex_->setText(t.GsensorIndex);
  x_->setText(t.X);
  y_->setText(t.Y);
  z_->setText(t.Z);
  a_->setText(t.A);

  if (preview_) {
    preview_->Resize();
    const long double half = windowWidth / 2;
    preview_->DrawGraph(sources, position - half, position + half, {}, false);
    {
      // The pointer's place: a grey hairline (one device pixel) through the
      // middle.
      QPainter p(&preview_->Background());
      p.setPen(QPen(QColor(100, 100, 100), 0));
      const int mid = preview_->Width() / 2;
      p.drawLine(mid, 2, mid, preview_->Height() - 2);
    }
    preview_->DrawCursor(cursor);
  }

  FollowPointer(pointer);
  if (!shown_) {
    shown_ = true;
    show();
  }
}

void TFormDetails::HideDetails() {
  if (!shown_) return;
  shown_ = false;
  hide();
}

void TFormDetails::DetailsCursor(long double position) {
  if (shown_ && preview_) preview_->DrawCursor(position);
}

void TFormDetails::FollowPointer(QPoint pointer) {
  QScreen *screen = QGuiApplication::screenAt(pointer);
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
  move(DetailsWindowPlace(pointer, size(), work));
}

void TFormDetails::paintEvent(QPaintEvent *) {
  // The border shape filling the window.
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(QColor(100, 100, 100));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TFormDetails::mouseMoveEvent(QMouseEvent *event) {
  FollowPointer(event->globalPosition().toPoint());
  QWidget::mouseMoveEvent(event);
}

bool TFormDetails::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::MouseMove) {
    FollowPointer(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tachora
