// The browser side of the map: the web page that hands the page's callback
// navigations to the program (and cancels them), the profile the map page
// runs in (a persistent disk cache, so that tiles seen once show again
// offline, and a User-Agent that names the program as tile servers ask),
// and the tile sources: a URL template (OpenStreetMap by default), a local
// folder of {z}/{x}/{y}.png tiles or an .mbtiles file, the latter two served
// through the "tachora-tiles" scheme.
//
// UI thread only. The profile and its tile handler live as long as the
// application.
#pragma once

#include <QString>
#include <QWebEnginePage>
#include <QWebEngineUrlSchemeHandler>

class QQuickWebEngineProfile;

namespace tachora {

inline constexpr char kTileScheme[] = "tachora-tiles";

enum class TTileKind { Url, Folder, MBTiles };

// The tile source of the map setting: empty for OpenStreetMap, an http(s)
// template with {z}, {x} and {y}, a path to an .mbtiles file or a folder.
struct TTileSource {
  TTileKind Kind = TTileKind::Url;
  QString Template;     // what the page's tile layer loads
  QString Path;         // folder or file for the local kinds
  QString Name;         // the map type the page reports ("osm", "url", ...)
  QString Attribution;  // shown in the map's corner
  int MaxZoom = 19;
};
TTileSource TileSourceOf(const QString &setting);

// "SetTileSource(...)" for the page, its texts quoted safely.
QString TileSourceScript(const TTileSource &source);

// Reads one tile of a local source; empty when it has none. z, x, y are the
// map's (x to the east, y to the south); .mbtiles rows count from the south.
QByteArray ReadLocalTile(const TTileSource &source, int z, int x, int y);

// Serves tachora-tiles://local/{z}/{x}/{y} from the current local source.
class TMapTileHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
  void SetSource(const TTileSource &source) { source_ = source; }
  void requestStarted(QWebEngineUrlRequestJob *job) override;

 private:
  TTileSource source_;
};

// The map's profile (created on first use), the same for the Quick view,
// and its tile handler.
QWebEngineProfile *MapProfile();
QQuickWebEngineProfile *QuickMapProfile();
TMapTileHandler *MapTileHandler();

class TMapPage : public QWebEnginePage {
  Q_OBJECT
 public:
  explicit TMapPage(QObject *parent = nullptr);

 signals:
  // A navigation to the callback prefix: command and its query (already
  // cancelled).
  void Callback(const QString &command, const QString &query);

 protected:
  bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                int line, const QString &source) override;
};

}  // namespace tachora
