#include "app/UnitStartup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace tachora {

QRect StartGeometry(const QRect &firstScreen) {
  const int w = firstScreen.width() * 4 / 5;
  const int h = firstScreen.height() * 3 / 4;
  return QRect(firstScreen.left() + w / 6, firstScreen.top() + h / 6, w, h);
}

QRect CorrectBounds(const QRect &bounds, const QRect &work) {
  QRect r = bounds;
  const int workRight = work.left() + work.width();
  const int workBottom = work.top() + work.height();
  if (r.left() > workRight - 100 || r.left() + r.width() < work.left() + 100) r.moveLeft(work.left());
  if (r.top() > workBottom - 100 || r.top() < work.top()) r.moveTop(work.top());
  return r;
}

QString DesktopEntryText(const QString &exePath) {
  QString exec = exePath;
  // Desktop entry quoting: backslash, quote, backquote and dollar are escaped.
  for (const char *c : {"\\", "\"", "`", "$"}) exec.replace(c, QString("\\") + c);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Tachora\n"
         "GenericName=Dash camera viewer\n"
         "Comment=Play dash-camera recordings with their GPS track and G-sensor data\n"
         "Exec=\"" + exec + "\" %F\n"
         "Terminal=false\n"
         "Categories=AudioVideo;Video;Player;\n"
         "MimeType=video/quicktime;video/mp4;\n";
}

QString DesktopEntryPath() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
  return data + "/applications/tachora.desktop";
}

bool RegisterShell(const QString &exePath) {
  const QString path = DesktopEntryPath();
  const QByteArray text = DesktopEntryText(exePath).toUtf8();
  QFile old(path);
  if (old.open(QIODevice::ReadOnly) && old.readAll() == text) return false;
  old.close();
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(text);
  return f.commit();
}

QString VideoPathFor(const QString &path) {
  if (!path.right(4).toLower().endsWith(".dat")) return path;
  QString mov = path.left(path.size() - 3);
  mov += path.right(3) == path.right(3).toUpper() ? "MOV" : "mov";
  if (QFileInfo::exists(mov)) return mov;
  // Recorder cards are FAT: FILE0001.DAT may sit beside file0001.mov.
  const QFileInfo fi(mov);
  const QDir dir = fi.absoluteDir();
  for (const QString &name : dir.entryList(QDir::Files))
    if (name.compare(fi.fileName(), Qt::CaseInsensitive) == 0) return dir.filePath(name);
  return mov;
}

}  // namespace tachora
