#include "tools/UnitFormAbout.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>

#include "app/UnitLang.h"

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

QPixmap DonatePicture() {  // 129 x 62
  QPixmap pm(129, 62);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 62);
  g.setColorAt(0, QColor(255, 214, 90));
  g.setColorAt(1, QColor(245, 170, 30));
  p.setPen(QPen(QColor(180, 120, 10), 1.5));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(1, 1, 127, 60), 14, 14);
  QPainterPath heart;
  heart.moveTo(30, 46);
  heart.cubicTo(8, 30, 14, 12, 30, 22);
  heart.cubicTo(46, 12, 52, 30, 30, 46);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(210, 40, 50));
  p.drawPath(heart);
  QFont f("Verdana");
  f.setPixelSize(15);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(60, 40, 0));
  p.drawText(QRectF(52, 0, 74, 62), Qt::AlignVCenter | Qt::AlignLeft, "Donate");
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

QString TFormAbout::MailUrl() {
  QUrl url(QString("mailto:") + kMailAddress);
  QUrlQuery q;
  q.addQueryItem("subject", "Tachora");
  q.addQueryItem("body", "Hello,");
  url.setQuery(q);
  return url.toString(QUrl::FullyEncoded);
}

QString TFormAbout::DonateUrl() {
  QUrl url(kDonatePage);
  QUrlQuery q;
  q.addQueryItem("langid", QString::fromStdString(LangText("langid")));
  url.setQuery(q);
  return url.toString(QUrl::FullyEncoded);
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

  ButtonDonate = new QToolButton(this);
  ButtonDonate->setObjectName("ButtonDonate");
  ButtonDonate->setAutoRaise(true);
  ButtonDonate->setIcon(QIcon(DonatePicture()));
  ButtonDonate->setIconSize(QSize(129, 62));
  ButtonDonate->setFixedSize(129, 62);
  ButtonDonate->setCursor(Qt::PointingHandCursor);
  ButtonDonate->move(width - kBorder - 129, 346);
  connect(ButtonDonate, &QToolButton::clicked, this,
          []() { QDesktopServices::openUrl(QUrl(DonateUrl())); });

  LabelName = MakeLabel(this, "LabelName", QString(), 0, true);
  LabelName->move(0, 348);
  LabelMail = MakeLabel(this, "LabelMail", QString(), 0, false);
  LabelMail->setText(kMailAddress);
  LabelMail->setCursor(Qt::PointingHandCursor);
  LabelMail->move(0, 370);
  LabelCity = MakeLabel(this, "LabelCity", QString(), 0, false);
  LabelCity->move(0, 392);
  LabelSite = MakeLabel(this, "LabelSite", "Verdana", 13, false);
  LabelSite->setText(kSiteAddress);
  LabelSite->setCursor(Qt::PointingHandCursor);
  LabelSite->move(0, 420);
  for (QLabel *l : {LabelMail, LabelSite}) l->installEventFilter(this);

  setFixedSize(width, 420 + 18 + kBorder);
}

void TFormAbout::Translate() {
  setWindowTitle(QString::fromStdString(LangText("N_Help_About")));
  LabelMail->setToolTip(QString::fromStdString(LangText("SendMail")));
  ButtonDonate->setToolTip(QString::fromStdString(LangText("MakeDonate")));
  LabelSite->setToolTip(QString::fromStdString(LangText("VisitSite")));
  LabelName->setText(QString::fromStdString(LangText("MyName")));
  LabelCity->setText(QString::fromStdString(LangText("MyCity")));
  if (isVisible()) showEvent(nullptr);
}

void TFormAbout::showEvent(QShowEvent *event) {
  const int w = width();
  for (QWidget *c : std::initializer_list<QWidget *>{LabelTitle, LabelVer, LabelBases, LabelSite})
    CentreX(c, w);
  const int left = ButtonDonate->x();
  for (QLabel *l : {LabelName, LabelMail, LabelCity}) {
    l->adjustSize();
    l->move(std::max(0, (left - l->width()) / 2), l->y());
  }
  if (event && mainWindow_) move(mainWindow_->geometry().center() - rect().center());
  if (event) QDialog::showEvent(event);
}

bool TFormAbout::eventFilter(QObject *watched, QEvent *event) {
  auto *label = qobject_cast<QLabel *>(watched);
  if (label && (label == LabelMail || label == LabelSite)) {
    auto colour = [label](const QColor &c) {
      QPalette pal = label->palette();
      pal.setColor(QPalette::WindowText, c);
      label->setPalette(pal);
    };
    if (event->type() == QEvent::Enter) colour(Qt::blue);
    if (event->type() == QEvent::Leave) colour(Qt::black);
    if (event->type() == QEvent::MouseButtonRelease) {
      QDesktopServices::openUrl(QUrl(label == LabelMail ? MailUrl() : label->text()));
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tachora
