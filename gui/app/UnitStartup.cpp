#include "app/UnitStartup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdint>

namespace tachora {

QRect StartGeometry(const QRect &firstScreen) {
  const int w = firstScreen.width() * 4 / 5;
  const int h = firstScreen.height() * 3 / 4;
  return QRect(firstScreen.left() + w / 6, firstScreen.top() + h / 6, w, h);
}

QRect CorrectBounds(const QRect &bounds, const QRect &work) {
  if (work.isEmpty()) return bounds;
  QRect r = bounds;
  // 64-bit sums: a damaged edge near the end of int must not wrap around.
  const int64_t left = r.left(), top = r.top(), width = r.width();
  const int64_t workRight = static_cast<int64_t>(work.left()) + work.width();
  const int64_t workBottom = static_cast<int64_t>(work.top()) + work.height();
  // Mostly off screen: to the work area's left or top edge.
  if (left > workRight - 100 || left + width < work.left() + 100) r.moveLeft(work.left());
  if (top > workBottom - 100 || top < work.top()) r.moveTop(work.top());
  // No larger than the work area, and wholly inside it.
  r.setWidth(std::clamp(r.width(), 1, work.width()));
  r.setHeight(std::clamp(r.height(), 1, work.height()));
  r.moveLeft(std::clamp(r.left(), work.left(), work.left() + work.width() - r.width()));
  r.moveTop(std::clamp(r.top(), work.top(), work.top() + work.height() - r.height()));
  return r;
}

QImage AppIconImage(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  QLinearGradient g(0, 0, 0, 64);
  g.setColorAt(0, QColor(45, 80, 140));
  g.setColorAt(1, QColor(20, 35, 70));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  // The camera's lens with the road's track running through it.
  p.setBrush(QColor(235, 240, 250));
  p.drawEllipse(QPointF(28, 34), 19, 19);
  p.setBrush(QColor(25, 30, 45));
  p.drawEllipse(QPointF(28, 34), 12, 12);
  p.setBrush(QColor(255, 255, 255, 180));
  p.drawEllipse(QPointF(24, 30), 3.5, 3);
  QPainterPath pin;
  pin.moveTo(48, 30);
  pin.cubicTo(40, 20, 39, 15, 39, 13);
  pin.arcTo(QRectF(39, 4, 18, 18), 180, -180);
  pin.cubicTo(57, 15, 56, 20, 48, 30);
  p.setBrush(QColor(225, 55, 45));
  p.drawPath(pin);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(48, 13), 3.2, 3.2);
  return img;
}

QIcon AppIcon() {
  QIcon icon;
  for (int s : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(AppIconImage(s)));
  return icon;
}

QString DesktopEntryText(const QString &exePath) {
  QString exec = exePath;
  // Desktop entry quoting: backslash, quote, backquote and dollar are escaped
  // inside the quotes; the value's own escaping then doubles every backslash
  // again, and a literal "%" is written "%%" (field codes start with "%").
  for (const char *c : {"\\", "\"", "`", "$"}) exec.replace(c, QString("\\") + c);
  exec.replace("\\", "\\\\");
  exec.replace("%", "%%");
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "X-Tachora-Registered=true\n"
         "Name=Tachora\n"
         "GenericName=Dash camera viewer\n"
         "Comment=Play dash-camera recordings with their GPS track and G-sensor data\n"
         "Exec=\"" +
         exec +
         "\" %F\n"
         "Icon=" +
         QString(kAppId) +
         "\n"
         "Terminal=false\n"
         "Categories=AudioVideo;Video;Player;\n"
         "MimeType=video/quicktime;video/mp4;\n";
}

QString DesktopEntryPath() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
  return data + "/applications/" + kAppId + ".desktop";
}

QString InstalledDesktopEntry(const QString &exePath) {
  const QFileInfo exe(exePath);
  if (exe.absoluteDir().dirName() != "bin") return {};
  const QString entry =
      QDir::cleanPath(exe.absolutePath() + "/../share/applications/" + kAppId + ".desktop");
  return QFileInfo::exists(entry) ? entry : QString();
}

namespace {

// Removes `path` when it is an entry this program wrote.
void RemoveOwnEntry(const QString &path, const QByteArray &marker) {
  QFile f(path);
  if (f.open(QIODevice::ReadOnly) && f.read(4096).contains(marker)) {
    f.close();
    QFile::remove(path);
  }
}

}  // namespace

bool RegisterShell(const QString &exePath) {
  const QString path = DesktopEntryPath();
  const QString apps = QFileInfo(path).absolutePath();
  // Earlier versions named the entry tachora.desktop.
  RemoveOwnEntry(apps + "/tachora.desktop", "\nName=Tachora\nGenericName=Dash camera viewer\n");
  if (!InstalledDesktopEntry(exePath).isEmpty()) {
    if (QFileInfo(path).absoluteFilePath() != InstalledDesktopEntry(exePath))
      RemoveOwnEntry(path, "\nX-Tachora-Registered=true\n");
    return false;
  }
  const QString icon = QDir::cleanPath(apps + "/../icons/hicolor/256x256/apps/" + kAppId + ".png");
  if (!QFile::exists(icon) && QDir().mkpath(QFileInfo(icon).absolutePath()))
    AppIconImage(256).save(icon, "PNG");
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
