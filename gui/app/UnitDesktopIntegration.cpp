#include "app/UnitDesktopIntegration.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>

namespace tachora {

QUrl FolderUrlOf(const QString &path) {
  const QFileInfo fi(path);
  return QUrl::fromLocalFile(fi.isDir() ? fi.absoluteFilePath() : fi.absolutePath());
}

void ShowInFileManager(const QString &path, QObject *context) {
  const QUrl folder = FolderUrlOf(path);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!QFileInfo(path).isFile() || !bus.isConnected()) {
    QDesktopServices::openUrl(folder);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                     "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()}
       << QString();
  auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                   [folder](QDBusPendingCallWatcher *w) {
                     w->deleteLater();
                     if (w->isError()) QDesktopServices::openUrl(folder);
                   });
}

}  // namespace tachora
