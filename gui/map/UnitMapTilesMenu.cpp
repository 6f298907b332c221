#include "map/UnitMapTilesMenu.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QWidget>

#include "app/UnitLang.h"
#include "app/UnitSettings.h"
#include "app/UnitText.h"
#include "map/UnitMapPage.h"

namespace tachora {

bool ValidTileUrl(const QString &url) {
  const QString u = url.trimmed();
  return (u.startsWith(u"http://", Qt::CaseInsensitive) ||
          u.startsWith(u"https://", Qt::CaseInsensitive)) &&
         u.contains(u"{z}") && u.contains(u"{x}") && u.contains(u"{y}") &&
         !u.contains(QLatin1Char('"')) && !u.contains(QLatin1Char('\n'));
}

bool MBTilesHasTiles(const QString &path) {
  const QString name = QStringLiteral("tachora-mbtiles-check");
  bool ok = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (db.open()) {
      QSqlQuery q(db);
      ok = q.exec(QStringLiteral("SELECT 1 FROM tiles LIMIT 1")) && q.next();
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return ok;
}

TMapTilesMenu::TMapTilesMenu(QWidget *owner, std::function<void()> reload)
    : QObject(owner), owner_(owner), reload_(std::move(reload)) {}

void TMapTilesMenu::Popup(const QPoint &global) {
  auto *menu = new QMenu(owner_);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addSection(L("Map_Tiles"));
  const TTileKind kind = TileSourceOf(settings::kMapTiles.Get()).Kind;
  const bool osm = settings::kMapTiles.Get().trimmed().isEmpty();
  auto add = [&](const char *key, bool checked, std::function<void()> f) {
    QAction *a = menu->addAction(L(key));
    a->setCheckable(true);
    a->setChecked(checked);
    connect(a, &QAction::triggered, this, f);
  };
  add("Map_Tiles_OSM", osm, [this]() { Choose(QString()); });
  add("Map_Tiles_Folder", kind == TTileKind::Folder, [this]() { AskFolder(); });
  add("Map_Tiles_MBTiles", kind == TTileKind::MBTiles, [this]() { AskFile(); });
  add("Map_Tiles_Url", !osm && kind == TTileKind::Url, [this]() { AskUrl(); });
  menu->popup(global);
}

void TMapTilesMenu::Choose(const QString &setting) {
  settings::kMapTiles.Set(setting);
  if (reload_) reload_();
}

void TMapTilesMenu::AskFolder() {
  const TTileSource now = TileSourceOf(settings::kMapTiles.Get());
  auto *dlg = new QFileDialog(owner_, L("Map_Tiles_Folder").remove(QStringLiteral("...")),
                              now.Kind == TTileKind::Folder ? now.Path : QString());
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setFileMode(QFileDialog::Directory);
  dlg->setOption(QFileDialog::ShowDirsOnly);
  connect(dlg, &QFileDialog::fileSelected, this, [this](const QString &dir) { Choose(dir); });
  dlg->open();
}

void TMapTilesMenu::AskFile() {
  auto *dlg = new QFileDialog(owner_, L("Map_Tiles_MBTiles").remove(QStringLiteral("...")));
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setFileMode(QFileDialog::ExistingFile);
  dlg->setNameFilter(L("Map_Tiles_Filter") + " (*.mbtiles *.MBTiles)");
  connect(dlg, &QFileDialog::fileSelected, this, [this](const QString &file) {
    if (!MBTilesHasTiles(file)) {
      Warn(L("Mes_MapTilesBadFile") + "\n" + file);
      return;
    }
    Choose(file);
  });
  dlg->open();
}

void TMapTilesMenu::AskUrl() {
  auto *dlg = new QInputDialog(owner_);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setWindowTitle(L("Map_Tiles"));
  dlg->setLabelText(L("Map_Tiles_UrlPrompt"));
  const TTileSource now = TileSourceOf(settings::kMapTiles.Get());
  dlg->setTextValue(now.Kind == TTileKind::Url ? now.Template : QString());
  dlg->resize(520, dlg->sizeHint().height());
  connect(dlg, &QInputDialog::textValueSelected, this, [this](const QString &url) {
    if (!ValidTileUrl(url)) {
      Warn(L("Mes_MapTilesBadUrl"));
      return;
    }
    Choose(url.trimmed());
  });
  dlg->open();
}

void TMapTilesMenu::Warn(const QString &text) {
  auto *box = new QMessageBox(QMessageBox::Warning, L("Map_Tiles"), text, QMessageBox::Ok, owner_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace tachora
