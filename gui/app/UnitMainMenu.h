// The main window's menus: the main menu, the recording list's pop-up menu
// and the two pop-up menus built as copies of main-menu items (video window
// and graphs), with the store of check marks in the settings.
//
// Every item is a QAction whose objectName is the item name ("N_File_Open"),
// which is also its language key and its settings name. Copies in the pop-up
// menus follow their source item (caption, check mark, enabled state) through
// SyncMenuCopies; triggering a copy triggers its source, so commands and
// check-mark saving always work on the main-menu item.
//
// A check mark is stored as a boolean setting named after the item only when
// it differs from the item's design-time state (captured before anything is
// restored); a value equal to the design state is deleted.
//
// UI thread only. The QActions and QMenus are owned by the window.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QMenuBar;
class QWidget;

namespace tachora {

class TMainMenu : public QObject {
  Q_OBJECT
 public:
  explicit TMainMenu(QMainWindow *window);

  QMenuBar *MainMenu() const { return menuBar_; }
  QMenu *PopupMenuListView() const { return popupList_; }
  QMenu *PopupMenuVideoWindow() const { return popupVideo_; }
  QMenu *PopupMenuGraphics() const { return popupGraphics_; }

  // A main-menu or list pop-up item by name; nullptr when there is none.
  QAction *Item(const QString &name) const;
  // The sub-menu of a main-menu item ("N_View_Language"); nullptr otherwise.
  QMenu *SubMenu(const QString &name) const;

  // Start-up steps in the order the window runs them.
  void CaptureDefaults();
  void BuildLanguageMenu();
  void RestoreChecks();
  void BuildPopupCopies();

  bool DefaultChecked(const QString &name) const { return defaults_.contains(name); }
  QStringList DefaultCheckedNames() const {
    return QStringList(defaults_.begin(), defaults_.end());
  }

  // Sets the check mark when it differs, then syncs the copies and saves.
  void SetMenuChecked(QAction *item, bool value);
  void SaveMenuCheck(QAction *item);
  void SyncMenuCopies(QAction *item);
  // Cuts the caption before its first " (" and appends " (text)" when flag.
  void SetMenuSuffix(QAction *item, const QString &text, bool flag);
  // The main-menu item a copy stands for (the item itself otherwise).
  QAction *MenuOriginal(QAction *item) const;
  // Enables or disables an item and its copies.
  void SetEnabled(const QString &name, bool enabled);

  // The caption as the user reads it (no "&" escaping); sets it with
  // mnemonics off, so a "&" in a translation shows as itself.
  static QString Caption(const QAction *item);
  static void SetCaption(QAction *item, const QString &caption);

  // Every item of a menu, depth first, separators skipped.
  static void ForEachItem(QMenu *menu, const std::function<void(QAction *)> &fn);
  void ForEachMainItem(const std::function<void(QAction *)> &fn) const;
  // Copies of an item in the pop-up menus.
  QList<QAction *> CopiesOf(QAction *item) const { return copies_.value(item); }

 signals:
  // A command of the main menu or of the list pop-up menu (source item name;
  // language items too). TCommands runs the handler bound to it.
  void Command(const QString &name);

 private:
  QMenu *AddMenu(QMenuBar *bar, const QString &name);
  QMenu *AddSubMenu(QMenu *parent, const QString &name);
  QAction *AddItem(QMenu *menu, const QString &name, const QString &shortcut = {},
                   bool checkable = false, bool checked = false, QActionGroup *group = nullptr);
  void BuildMainMenu();
  void BuildListMenu();
  QAction *CopyItem(QAction *source, QMenu *target, bool linked);
  void CopyMenuItem(const QAction *from, QAction *to);
  void OnTriggered(QAction *item);

  QMainWindow *window_;
  QMenuBar *menuBar_ = nullptr;
  QMenu *popupList_ = nullptr;
  QMenu *popupVideo_ = nullptr;
  QMenu *popupGraphics_ = nullptr;
  QHash<QString, QAction *> items_;
  QHash<QAction *, QList<QAction *>> copies_;  // source -> its copies
  QHash<QAction *, QAction *> source_;         // copy -> source
  QSet<QString> defaults_;
  QActionGroup *languageGroup_ = nullptr;
};

}  // namespace tachora
