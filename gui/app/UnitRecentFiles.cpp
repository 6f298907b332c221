#include "app/UnitRecentFiles.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QUrl>

#include "app/UnitCommands.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"

namespace tachora {

namespace {

const TSetting<QString> kRecent("recent_paths", QString());

QString XmlEscaped(QString s) {
  return s.toHtmlEscaped().replace('\'', "&apos;");
}

}  // namespace

QStringList WithRecent(QStringList recent, const QStringList &paths, int max) {
  for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
    if (it->isEmpty()) continue;
    recent.removeAll(*it);
    recent.prepend(*it);
  }
  while (recent.size() > max) recent.removeLast();
  return recent;
}

bool AddToDesktopRecent(const QString &path, const QString &xbelPath) {
  QString file = xbelPath;
  if (file.isEmpty()) {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
    file = data + "/recently-used.xbel";
  }
  const QFileInfo target(path);
  const QString href = QUrl::fromLocalFile(target.absoluteFilePath()).toString(QUrl::FullyEncoded);
  QByteArray text;
  QFile old(file);
  if (old.exists()) {
    // A list we cannot read is left alone rather than replaced.
    if (!old.open(QIODevice::ReadOnly)) return false;
    text = old.readAll();
    if (!text.contains("</xbel>")) return false;
    // Already listed: the desktop keeps it; the list is not rewritten.
    if (text.contains("href=\"" + XmlEscaped(href).toUtf8() + "\"")) return true;
  } else {
    text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<xbel version=\"1.0\"\n"
        "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
        "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n>\n"
        "</xbel>\n";
  }
  const QString now = QDateTime::currentDateTimeUtc().toString("yyyy-MM-ddThh:mm:ss.zzz000Z");
  const QString mime =
      target.isDir() ? QString("inode/directory") : QMimeDatabase().mimeTypeForFile(target).name();
  const QString entry =
      "  <bookmark href=\"" + XmlEscaped(href) + "\" added=\"" + now + "\" modified=\"" + now +
      "\" visited=\"" + now +
      "\">\n"
      "    <info>\n"
      "      <metadata owner=\"http://freedesktop.org\">\n"
      "        <mime:mime-type type=\"" +
      XmlEscaped(mime) +
      "\"/>\n"
      "        <bookmark:applications>\n"
      "          <bookmark:application name=\"Tachora\" exec=\"&apos;tachora %u&apos;\" "
      "modified=\"" +
      now +
      "\" count=\"1\"/>\n"
      "        </bookmark:applications>\n"
      "      </metadata>\n"
      "    </info>\n"
      "  </bookmark>\n";
  text.insert(text.lastIndexOf("</xbel>"), entry.toUtf8());
  QDir().mkpath(QFileInfo(file).absolutePath());
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return false;
  out.write(text);
  return out.commit();
}

bool TRecentFiles::WriteDesktopList = true;

TRecentFiles::TRecentFiles(QWidget *window, TCommands &commands, QMenu *menu,
                           std::function<void(const QStringList &)> open)
    : QObject(window), window_(window), menu_(menu), open_(std::move(open)) {
  commands.Bind("N_File_OpenFolder", [this]() { OpenFolderDialog(); });
  connect(menu_, &QMenu::aboutToShow, this, &TRecentFiles::Fill);
  // Its items are no registered commands: the sub-menu is on by itself.
  menu_->menuAction()->setEnabled(true);
  Fill();
}

namespace {

QStringList StoredRecent() {
  QStringList out;
  for (const QString &p : kRecent.Get().split('\n', Qt::SkipEmptyParts))
    if (QFileInfo::exists(p)) out << p;
  return out;
}

}  // namespace

QStringList TRecentFiles::Paths() const {
  return StoredRecent();
}

QStringList RecentFolders() {
  QStringList out;
  for (const QString &p : StoredRecent()) {
    const QFileInfo fi(p);
    const QString folder = fi.isDir() ? fi.absoluteFilePath() : fi.absolutePath();
    if (!out.contains(folder)) out << folder;
  }
  return out;
}

void TRecentFiles::Add(const QStringList &paths) {
  QStringList absolute;
  for (const QString &p : paths) {
    // A name with a line break cannot be kept in the list.
    if (p.isEmpty() || p.contains('\n')) continue;
    absolute << QFileInfo(p).absoluteFilePath();
    if (WriteDesktopList) AddToDesktopRecent(p);
  }
  kRecent.Set(WithRecent(Paths(), absolute, kMaxRecent).join('\n'));
}

void TRecentFiles::Clear() {
  kRecent.Reset();
  Fill();
}

void TRecentFiles::Fill() {
  menu_->clear();
  const QStringList paths = Paths();
  for (int i = 0; i < paths.size(); ++i) {
    const QString &p = paths[i];
    QAction *a = menu_->addAction(QString("&%1 %2")
                                      .arg(i < 9 ? i + 1 : 0)
                                      .arg(QDir::toNativeSeparators(p).replace('&', "&&")));
    a->setObjectName(QString("N_File_Recent_%1").arg(i));
    connect(a, &QAction::triggered, this, [this, p]() { open_({p}); });
  }
  if (!paths.isEmpty()) menu_->addSeparator();
  QAction *clear = menu_->addAction(L("N_File_Recent_Clear"));
  clear->setObjectName("N_File_Recent_Clear");
  clear->setEnabled(!paths.isEmpty());
  connect(clear, &QAction::triggered, this, &TRecentFiles::Clear);
}

void TRecentFiles::OpenFolderDialog() {
  QFileDialog dialog(window_, L("N_File_OpenFolder"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  const QStringList folders = RecentFolders();
  dialog.setHistory(folders);
  if (!folders.isEmpty()) dialog.setDirectory(folders.first());
  if (dialog.exec() == QDialog::Accepted) open_(dialog.selectedFiles());
}

void TRecentFiles::Translate() {
  Fill();
}

}  // namespace tachora
