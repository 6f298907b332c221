// The command registry: menu items are bound to their handlers by item
// name. Binding an item enables it (and the sub-menus that lead to it);
// an item nobody bound stays disabled, so a command that is not built yet
// cannot be chosen. The pop-up copies of an item follow it. A controller
// switches its bound items on and off by its own state with SetEnabled;
// an unbound item stays off whatever it is told.
//
// Adding a menu command is one Bind call in the controller that owns the
// data it works on. UI thread only; the registry belongs to the window.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

class QAction;

namespace tachora {

class TMainMenu;

class TCommands : public QObject {
  Q_OBJECT
 public:
  using THandler = std::function<void()>;

  // Disables every item of the menus but the top-level menus; items are
  // enabled by binding them.
  explicit TCommands(TMainMenu *menu);

  // Binds `name` to `handler` (a second Bind replaces the handler) and
  // enables it. False when the menus have no such item.
  bool Bind(const QString &name, THandler handler);
  bool IsBound(const QString &name) const { return handlers_.contains(name); }
  // Enables or disables a bound item and its copies by the owner's state.
  void SetEnabled(const QString &name, bool enabled);
  // Runs a bound and enabled item's handler (keys, double clicks); false
  // when nothing ran.
  bool Run(const QString &name);

  TMainMenu *Menu() const { return menu_; }

 private:
  void EnablePath(QAction *item);

  TMainMenu *menu_;
  QHash<QString, THandler> handlers_;
};

}  // namespace tachora
