#include "map/UnitMapPage.h"

#include <unistd.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QQuickWebEngineProfile>
#include <QQuickWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <atomic>

#include "map/UnitMapScript.h"

namespace tachora {

namespace {

// Qt WebEngine wants shared OpenGL contexts before the application object
// exists, and custom schemes registered before any profile is made.
// Chromium refuses to start its sandbox as root and ends the program, so a
// program run as root (a live system, a container) runs the map without it.
// The map's view is drawn by Qt Quick's software renderer (unless the user
// chose another with QT_QUICK_BACKEND): it repaints only what changed (the
// vehicle arrow's spot), where the OpenGL one draws the whole view again
// through the OpenGL driver, in software on most machines without a GPU;
// the browser then draws the page in software too, which a map panel of a
// few hundred pixels does not feel.
const bool kEarlySetup = [] {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QWebEngineUrlScheme scheme(kTileScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled);
  QWebEngineUrlScheme::registerScheme(scheme);
  return true;
}();

QString CacheFolder() {
  QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
  if (cache.isEmpty()) cache = QDir::homePath() + "/.cache";
  return cache + "/tachora/map";
}

QByteArray MimeOf(const QByteArray &data) {
  if (data.startsWith("\x89PNG")) return "image/png";
  if (data.startsWith("\xFF\xD8")) return "image/jpeg";
  if (data.startsWith("RIFF") && data.mid(8, 4) == "WEBP") return "image/webp";
  return "application/octet-stream";
}

QByteArray ReadMBTile(const QString &path, int z, int x, int y) {
  static std::atomic<int> serial{0};
  const QString name = QStringLiteral("tachora-mbtiles-%1").arg(++serial);
  QByteArray data;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (db.open()) {
      QSqlQuery q(db);
      q.prepare(QStringLiteral(
          "SELECT tile_data FROM tiles WHERE zoom_level = ? AND tile_column = ? AND tile_row = ?"));
      q.addBindValue(z);
      q.addBindValue(x);
      q.addBindValue((1 << z) - 1 - y);
      if (q.exec() && q.next()) data = q.value(0).toByteArray();
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return data;
}

}  // namespace

TTileSource TileSourceOf(const QString &setting) {
  TTileSource s;
  const QString v = setting.trimmed();
  if (v.isEmpty()) {
    s.Template = QStringLiteral("https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    s.Name = QStringLiteral("osm");
    s.Attribution = QStringLiteral("&copy; OpenStreetMap contributors");
    return s;
  }
  if (v.startsWith(u"http://", Qt::CaseInsensitive) ||
      v.startsWith(u"https://", Qt::CaseInsensitive)) {
    s.Template = v;
    s.Name = QStringLiteral("url");
    s.Attribution = QUrl(v).host();
    return s;
  }
  s.Path = QDir::cleanPath(v.startsWith(u"file://") ? QUrl(v).toLocalFile() : v);
  s.Kind =
      s.Path.endsWith(u".mbtiles", Qt::CaseInsensitive) ? TTileKind::MBTiles : TTileKind::Folder;
  s.Name = s.Kind == TTileKind::MBTiles ? QStringLiteral("mbtiles") : QStringLiteral("folder");
  // The query keeps the browser's cache of one source apart from another's.
  s.Template = QString::fromLatin1(kTileScheme) + QStringLiteral("://local/{z}/{x}/{y}?s=") +
               QString::number(qHash(s.Name + s.Path), 16);
  s.Attribution = QFileInfo(s.Path).fileName().toHtmlEscaped();
  return s;
}

QString TileSourceScript(const TTileSource &source) {
  const QJsonArray args{source.Template, source.Name, source.Attribution, source.MaxZoom};
  return "SetTileSource.apply(null, " +
         QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)) + ")";
}

QByteArray ReadLocalTile(const TTileSource &source, int z, int x, int y) {
  if (z < 0 || z > 30 || x < 0 || y < 0 || x >= (1 << z) || y >= (1 << z)) return {};
  if (source.Kind == TTileKind::MBTiles) return ReadMBTile(source.Path, z, x, y);
  if (source.Kind != TTileKind::Folder) return {};
  // One arg() call: a "%2" in the folder's own name is not a place holder.
  const QString base =
      QStringLiteral("%1/%2/%3/%4")
          .arg(source.Path, QString::number(z), QString::number(x), QString::number(y));
  for (const char *ext : {".png", ".jpg", ".jpeg", ".webp"}) {
    QFile f(base + QLatin1String(ext));
    if (f.open(QIODevice::ReadOnly)) return f.readAll();
  }
  return {};
}

void TMapTileHandler::requestStarted(QWebEngineUrlRequestJob *job) {
  // Path "/z/x/y": three whole numbers, nothing else reaches the disk.
  const QStringList parts = job->requestUrl().path().split(u'/', Qt::SkipEmptyParts);
  bool ok = parts.size() == 3;
  int zxy[3] = {0, 0, 0};
  for (int i = 0; ok && i < 3; ++i) zxy[i] = parts[i].toInt(&ok);
  const QByteArray data = ok ? ReadLocalTile(source_, zxy[0], zxy[1], zxy[2]) : QByteArray();
  if (data.isEmpty()) {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  auto *buffer = new QBuffer(job);
  buffer->setData(data);
  buffer->open(QIODevice::ReadOnly);
  job->reply(MimeOf(data), buffer);
}

namespace {

// The map's profile settings, the same for the widget and the Quick view.
template <typename Profile>
void SetUpMapProfile(Profile *p) {
  const QString folder = CacheFolder();
  QDir().mkpath(folder);
  p->setCachePath(folder + "/cache");
  p->setPersistentStoragePath(folder + "/storage");
  p->setHttpCacheType(Profile::DiskHttpCache);
  p->setHttpCacheMaximumSize(300 * 1024 * 1024);
  // Tile servers ask for a User-Agent that names the program.
  p->setHttpUserAgent(QStringLiteral("Tachora/%1 (dash-camera recording viewer)")
                          .arg(QStringLiteral(TACHORA_VERSION)));
  p->installUrlSchemeHandler(kTileScheme, MapTileHandler());
}

}  // namespace

QWebEngineProfile *MapProfile() {
  (void)kEarlySetup;
  static QWebEngineProfile *profile = [] {
    auto *p = new QWebEngineProfile(QStringLiteral("tachora-map"), qApp);
    SetUpMapProfile(p);
    return p;
  }();
  return profile;
}

QQuickWebEngineProfile *QuickMapProfile() {
  (void)kEarlySetup;
  static QQuickWebEngineProfile *profile = [] {
    auto *p = new QQuickWebEngineProfile(qApp);
    p->setStorageName(QStringLiteral("tachora-map"));
    p->setOffTheRecord(false);
    SetUpMapProfile(p);
    return p;
  }();
  return profile;
}

TMapTileHandler *MapTileHandler() {
  static TMapTileHandler *handler = new TMapTileHandler(qApp);
  return handler;
}

TMapPage::TMapPage(QObject *parent) : QWebEnginePage(MapProfile(), parent) {}

bool TMapPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) {
  const TMapCallback cb = ParseMapCallback(url.toString(QUrl::FullyEncoded));
  if (!cb.Ours) return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
  emit Callback(cb.Command, cb.Query);
  return false;
}

void TMapPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                        int line, const QString &source) {
  if (level == ErrorMessageLevel)
    qWarning("map page: %s (%s:%d)", qPrintable(message), qPrintable(source), line);
}

}  // namespace tachora
