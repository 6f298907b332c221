// The recently opened recordings and folders: the File menu's "Open Recent"
// list (newest first, at most kMaxRecent, entries that are gone left out),
// kept in the settings as one value of newline-separated paths. Every
// opened path is also offered to the desktop's recently-used list
// (~/.local/share/recently-used.xbel, which file managers and file dialogs
// show) and the open dialogs' history.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

#include "app/UnitTranslate.h"

class QMenu;

namespace tachora {

class TCommands;

// `recent` with `paths` put in front (newest first, no duplicates), cut to
// `max` entries.
QStringList WithRecent(QStringList recent, const QStringList &paths, int max);

class TRecentFiles : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  static constexpr int kMaxRecent = 10;
  // Whether opened paths also go to the desktop's list (tests turn it off).
  static bool WriteDesktopList;
  // Binds "N_File_OpenFolder" and fills `menu` ("N_File_Recent") each time it
  // opens; `open` opens paths in the window.
  TRecentFiles(QWidget *window, TCommands &commands, QMenu *menu,
               std::function<void(const QStringList &)> open);

  // Paths the user opened (files or folders).
  void Add(const QStringList &paths);
  QStringList Paths() const;
  void Clear();
  void Translate() override;

 private:
  void Fill();
  void OpenFolderDialog();
  QWidget *window_;
  QMenu *menu_;
  std::function<void(const QStringList &)> open_;
};

// The folders of the recent paths (newest first), for the open dialogs'
// history.
QStringList RecentFolders();

// Adds `path` to the desktop's recently-used list (the freedesktop.org XBEL
// file under $XDG_DATA_HOME); false when the file could not be written.
bool AddToDesktopRecent(const QString &path, const QString &xbelPath = {});

}  // namespace tachora
