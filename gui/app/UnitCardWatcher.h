// A memory card inserted while the program runs: the kernel marks
// /proc/self/mounts readable with priority whenever the mount table
// changes, so the watcher wakes only then (nothing is polled) and compares
// the removable drives with those it knew. A new drive that looks like a
// recorder's card is offered in the main window's status line ("Memory card
// found: open?"); the offer goes when the card is taken out.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

#include "app/UnitTranslate.h"

class QLabel;
class QMainWindow;
class QPushButton;
class QSocketNotifier;

namespace tachora {

// A recorder's card: a DCIM folder at the top, or video files (.mov, .mp4)
// in the top folder or one below. At most a few hundred entries are looked at.
bool LooksLikeCard(const QString &mountPoint);

// Drives in `now` that were not in `before`, in the order of `now`.
QStringList NewDrives(const QStringList &before, const QStringList &now);

class TCardWatcher : public QObject {
  Q_OBJECT
 public:
  // `drives` lists the mounted removable drives (tests give their own).
  explicit TCardWatcher(QObject *parent = nullptr,
                        std::function<QStringList()> drives = RemovableDrives);
  static QStringList RemovableDrives();
  // Runs the comparison now (the mount table changed).
  void Rescan();

 signals:
  void CardFound(const QString &mountPoint);
  void DriveGone(const QString &mountPoint);

 private:
  std::function<QStringList()> drives_;
  QStringList known_;
  QSocketNotifier *notifier_ = nullptr;
  int fd_ = -1;
};

// The offer in the window's status line: a text and two buttons. Open calls
// `open` with the card's folder; Not now, and the card going, hide it.
class TCardOffer : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  TCardOffer(QMainWindow *window, std::function<void(const QString &)> open);
  void Offer(const QString &mountPoint);
  void Withdraw(const QString &mountPoint);
  void Translate() override;
  QString Offered() const { return offered_; }
  QLabel *Text() const { return text_; }

 private:
  void Hide();
  QMainWindow *window_;
  std::function<void(const QString &)> open_;
  QString offered_;
  QLabel *text_ = nullptr;
  QPushButton *openButton_ = nullptr, *dismissButton_ = nullptr;
};

}  // namespace tachora
