#include "tools/UnitFormAbout.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "app/UnitLang.h"
#include "playback/UnitMpvVersion.h"

namespace tachora {

namespace {

constexpr int kBorder = 10;

QPixmap LensPicture() {  // 106 x 106: the camera's lens
  QPixmap pm(106, 106);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(45, 45), 50);
  g.setColorAt(0, QColor(90, 110, 150));
  g.setColorAt(1, QColor(20, 25, 40));
  p.setPen(QPen(QColor(60, 60, 60), 6));
  p.setBrush(g);
  p.drawEllipse(QPointF(53, 53), 46, 46);
  p.setPen(QPen(QColor(120, 120, 120), 2));
  p.setBrush(QColor(15, 20, 35));
  p.drawEllipse(QPointF(53, 53), 26, 26);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 170));
  p.drawEllipse(QPointF(43, 41), 8, 6);
  p.setBrush(QColor(220, 40, 40));
  p.drawEllipse(QPointF(88, 16), 6, 6);  // the recording light
  return pm;
}

QPixmap GlobePicture() {  // 125 x 125: the earth with a position pin
  QPixmap pm(125, 125);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(62, 68);
  const qreal r = 50;
  QRadialGradient g(c - QPointF(15, 15), 70);
  g.setColorAt(0, QColor(150, 200, 255));
  g.setColorAt(1, QColor(30, 90, 170));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(c, r, r);
  p.setPen(QPen(QColor(255, 255, 255, 150), 1.5));
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i < 4; ++i) p.drawEllipse(c, r * i / 4.0, r);  // meridians
  for (int k = -2; k <= 2; ++k) {                                // parallels
    const qreal y = c.y() + k * r / 3.0;
    const qreal half = std::sqrt(std::max<qreal>(0, r * r - (y - c.y()) * (y - c.y())));
    p.drawLine(QPointF(c.x() - half, y), QPointF(c.x() + half, y));
  }
  QPainterPath pin;
  pin.moveTo(74, 64);
  pin.cubicTo(60, 40, 58, 30, 58, 24);
  pin.arcTo(QRectF(58, 8, 32, 32), 180, -180);
  pin.cubicTo(90, 30, 88, 40, 74, 64);
  p.setPen(QPen(QColor(120, 20, 20), 1.5));
  p.setBrush(QColor(220, 50, 45));
  p.drawPath(pin);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(74, 24), 6, 6);
  return pm;
}

QPixmap RoadPicture() {  // 205 x 99: a road seen from the windscreen with the speed dial
  QPixmap pm(205, 99);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 50);
  sky.setColorAt(0, QColor(120, 170, 230));
  sky.setColorAt(1, QColor(210, 230, 250));
  QPainterPath frame;
  frame.addRoundedRect(QRectF(1, 1, 203, 97), 10, 10);
  p.setClipPath(frame);
  p.fillRect(QRectF(0, 0, 205, 50), sky);
  p.fillRect(QRectF(0, 50, 205, 49), QColor(110, 160, 80));
  QPainterPath road;
  road.moveTo(60, 99);
  road.lineTo(98, 50);
  road.lineTo(107, 50);
  road.lineTo(150, 99);
  p.fillPath(road, QColor(80, 80, 85));
  p.setPen(QPen(QColor(250, 250, 250), 2, Qt::DashLine));
  p.drawLine(QPointF(103, 52), QPointF(105, 99));
  p.setClipping(false);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(frame);
  // Speed dial in the corner.
  p.setBrush(QColor(30, 30, 30));
  p.drawEllipse(QPointF(178, 74), 20, 20);
  p.setPen(QPen(QColor(240, 240, 240), 1));
  for (int a = -135; a <= 135; a += 27) {
    const double rad = (a - 90) * M_PI / 180.0;
    p.drawLine(QPointF(178 + 14 * std::cos(rad), 74 + 14 * std::sin(rad)),
               QPointF(178 + 18 * std::cos(rad), 74 + 18 * std::sin(rad)));
  }
  p.setPen(QPen(QColor(240, 80, 40), 2));
  p.drawLine(QPointF(178, 74), QPointF(178 + 12 * std::cos(-0.5), 74 + 12 * std::sin(-0.5)));
  return pm;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &family, int pixels, bool bold) {
  auto *l = new QLabel(parent);
  l->setObjectName(name);
  QFont f = parent->font();
  // The design's faces where the system has them, else a sans face.
  if (!family.isEmpty()) f.setFamilies({family, "DejaVu Sans"});
  if (pixels > 0) f.setPixelSize(pixels);
  f.setBold(bold);
  l->setFont(f);
  return l;
}

void CentreX(QWidget *w, int width) {
  w->adjustSize();
  w->move((width - w->width()) / 2, w->y());
}

}  // namespace

QString ShortVersionText() {
  const QStringList parts = QString(TACHORA_VERSION).split('.');
  return "v" + parts.value(0) + "." + parts.value(1, "0");
}

QString LibraryVersionsText() {
  return QString("Qt %1, %2").arg(qVersion(), MpvVersionText());
}

QString LicenceText() {
#ifdef TACHORA_LICENCE
  return QString(TACHORA_LICENCE).trimmed();
#else
  return {};
#endif
}

TFormAbout::TFormAbout(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint |
                              Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mainWindow_(mainWindow) {
  setObjectName("FormAbout");
  setModal(false);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);

  auto *image3 = new QLabel(this);
  image3->setObjectName("Image3");
  image3->setPixmap(LensPicture());
  image3->setGeometry(kBorder, kBorder, 106, 106);
  auto *image2 = new QLabel(this);
  image2->setObjectName("Image2");
  image2->setPixmap(GlobePicture());
  const int width = 440;
  image2->setGeometry(width - kBorder - 125, kBorder, 125, 125);
  // "Video and GPS Info" falls from the lens to the globe.
  const char *words[] = {"Video", "and", "GPS Info"};
  const char *names[] = {"Label1", "Label2", "Label3"};
  for (int i = 0; i < 3; ++i) {
    QLabel *l = MakeLabel(this, names[i], "Verdana", 21, true);
    l->setText(words[i]);
    l->adjustSize();
    const int x = 122 + i * 50 - (i == 2 ? 10 : 0);
    l->move(x, kBorder + 14 + i * 30);
  }

  LabelTitle = MakeLabel(this, "LabelTitle", "Comic Sans MS", 29, true);
  LabelTitle->setText("Tachora");
  LabelTitle->move(0, 142);
  LabelVer = MakeLabel(this, "LabelVer", QString(), 0, true);
  LabelVer->setText(ShortVersionText());
  LabelVer->move(0, 184);
  auto *image1 = new QLabel(this);
  image1->setObjectName("Image1");
  image1->setPixmap(RoadPicture());
  image1->setGeometry(0, 210, 205, 99);
  image1->move((width - 205) / 2, 210);
  LabelBases = MakeLabel(this, "LabelBases", QString(), 0, false);
  LabelBases->setText("Oriented for \"DOD GS600\" and \"Carcam Q3\"");
  LabelBases->move(0, 318);

  LabelLibraries = MakeLabel(this, "LabelLibraries", QString(), 0, false);
  LabelLibraries->move(0, 348);
  LabelLicence = MakeLabel(this, "LabelLicence", QString(), 0, false);
  LabelLicence->move(0, 370);
  LabelLicence->setVisible(!LicenceText().isEmpty());
  // Versions and licence can be selected and copied into a bug report.
  for (QLabel *l : {LabelVer, LabelLibraries, LabelLicence})
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);

  setFixedSize(width, (LabelLicence->isVisibleTo(this) ? 392 : 370) + kBorder);
}

void TFormAbout::Translate() {
  setWindowTitle(QString::fromStdString(LangText("N_Help_About")));
  LabelLibraries->setText(QString::fromStdString(LangText("About_Libraries")) + ": " +
                          LibraryVersionsText());
  LabelLicence->setText(QString::fromStdString(LangText("About_Licence")) + ": " + LicenceText());
  if (isVisible()) showEvent(nullptr);
}

void TFormAbout::showEvent(QShowEvent *event) {
  const int w = width();
  for (QWidget *c : std::initializer_list<QWidget *>{LabelTitle, LabelVer, LabelBases,
                                                     LabelLibraries, LabelLicence})
    CentreX(c, w);
  if (event && mainWindow_) move(mainWindow_->geometry().center() - rect().center());
  if (event) QDialog::showEvent(event);
}

}  // namespace tachora
