// The map's context menu: where the tiles come from (OpenStreetMap, a folder
// of {z}/{x}/{y}.png tiles, an .mbtiles file or a tile server's address).
// A choice is checked, stored in the map's tile setting, and the page is
// reloaded with it. The dialogs open without blocking the window.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;

namespace tachora {

// A tile server address the page can use: http(s) with {z}, {x} and {y}.
bool ValidTileUrl(const QString &url);
// The file is an .mbtiles database with a tiles table holding a tile.
bool MBTilesHasTiles(const QString &path);

class TMapTilesMenu : public QObject {
  Q_OBJECT
 public:
  // `reload` runs after the setting changed.
  TMapTilesMenu(QWidget *owner, std::function<void()> reload);
  void Popup(const QPoint &global);

 private:
  void Choose(const QString &setting);
  void AskFolder();
  void AskFile();
  void AskUrl();
  void Warn(const QString &text);

  QPointer<QWidget> owner_;
  std::function<void()> reload_;
};

}  // namespace tachora
