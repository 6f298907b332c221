#include "app/UnitCardWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>

#include "app/UnitText.h"
#include "catalogue/UnitPlatform.h"

namespace tachora {

bool LooksLikeCard(const QString &mountPoint) {
  const QDir root(mountPoint);
  int looked = 0;
  constexpr int kMaxEntries = 400;
  auto isVideo = [](const QString &name) {
    return name.endsWith(".mov", Qt::CaseInsensitive) || name.endsWith(".mp4", Qt::CaseInsensitive);
  };
  const QStringList top = root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  for (const QString &name : top) {
    if (++looked > kMaxEntries) return false;
    const QFileInfo fi(root.filePath(name));
    if (fi.isDir() && name.compare("DCIM", Qt::CaseInsensitive) == 0) return true;
    if (fi.isFile() && isVideo(name)) return true;
  }
  for (const QString &name : top) {
    const QDir sub(root.filePath(name));
    if (!QFileInfo(sub.path()).isDir()) continue;
    for (const QString &inner : sub.entryList(QDir::Files)) {
      if (++looked > kMaxEntries) return false;
      if (isVideo(inner)) return true;
    }
  }
  return false;
}

QStringList NewDrives(const QStringList &before, const QStringList &now) {
  QStringList out;
  for (const QString &d : now)
    if (!before.contains(d)) out << d;
  return out;
}

QStringList TCardWatcher::RemovableDrives() {
  QStringList out;
  for (const std::string &d : RemovableUsbDrives()) out << Q(d);
  return out;
}

TCardWatcher::TCardWatcher(QObject *parent, std::function<QStringList()> drives)
    : QObject(parent), drives_(std::move(drives)) {
  known_ = drives_();
  fd_ = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  // A change of the mount table shows as an exceptional condition (POLLPRI).
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this]() {
    // The mark stays until the file is read again from its start.
    char buf[4096];
    ::lseek(fd_, 0, SEEK_SET);
    while (::read(fd_, buf, sizeof buf) > 0) {
    }
    Rescan();
  });
  connect(this, &QObject::destroyed, this, [fd = fd_]() { ::close(fd); });
}

void TCardWatcher::Rescan() {
  const QStringList now = drives_();
  for (const QString &gone : NewDrives(now, known_)) emit DriveGone(gone);
  const QStringList added = NewDrives(known_, now);
  known_ = now;
  for (const QString &d : added)
    if (LooksLikeCard(d)) emit CardFound(d);
}

TCardOffer::TCardOffer(QMainWindow *window, std::function<void(const QString &)> open)
    : QObject(window), window_(window), open_(std::move(open)) {}

void TCardOffer::Offer(const QString &mountPoint) {
  offered_ = mountPoint;
  QStatusBar *bar = window_->statusBar();
  if (!text_) {
    text_ = new QLabel(bar);
    text_->setObjectName("CardFoundText");
    openButton_ = new QPushButton(bar);
    openButton_->setObjectName("CardFoundOpen");
    dismissButton_ = new QPushButton(bar);
    dismissButton_->setObjectName("CardFoundDismiss");
    bar->addWidget(text_, 1);
    bar->addPermanentWidget(openButton_);
    bar->addPermanentWidget(dismissButton_);
    connect(openButton_, &QPushButton::clicked, this, [this]() {
      const QString card = offered_;
      Hide();
      open_(card);
    });
    connect(dismissButton_, &QPushButton::clicked, this, &TCardOffer::Hide);
  }
  Translate();
  bar->show();
}

void TCardOffer::Withdraw(const QString &mountPoint) {
  if (mountPoint == offered_) Hide();
}

void TCardOffer::Hide() {
  offered_.clear();
  if (text_) window_->statusBar()->hide();
}

void TCardOffer::Translate() {
  if (!text_) return;
  text_->setText(L("Mes_CardFound").arg(QDir::toNativeSeparators(offered_)));
  openButton_->setText(L("N_Card_Open"));
  dismissButton_->setText(L("N_Card_Dismiss"));
}

}  // namespace tachora
