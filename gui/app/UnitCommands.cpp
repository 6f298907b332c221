#include "app/UnitCommands.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/UnitMainMenu.h"

namespace tachora {

TCommands::TCommands(TMainMenu *menu) : QObject(menu), menu_(menu) {
  const QList<QAction *> top = menu_->MainMenu()->actions();
  auto disable = [&top](QAction *a) {
    if (!top.contains(a)) a->setEnabled(false);
  };
  menu_->ForEachMainItem(disable);
  TMainMenu::ForEachItem(menu_->PopupMenuListView(), disable);
  menu_->ForEachMainItem([this](QAction *a) { menu_->SyncMenuCopies(a); });
  connect(menu_, &TMainMenu::Command, this, [this](const QString &name) { Run(name); });
}

void TCommands::EnablePath(QAction *item) {
  // The sub-menus that lead to the item: a menu's own item is its menuAction.
  for (QObject *owner : item->associatedObjects()) {
    auto *menu = qobject_cast<QMenu *>(owner);
    if (!menu) continue;
    QAction *parent = menu->menuAction();
    if (parent && parent != item && !parent->isEnabled()) {
      parent->setEnabled(true);
      menu_->SyncMenuCopies(parent);
      EnablePath(parent);
    }
  }
}

bool TCommands::Bind(const QString &name, THandler handler) {
  QAction *item = menu_->Item(name);
  if (!item) return false;
  handlers_.insert(name, std::move(handler));
  item->setEnabled(true);
  menu_->SyncMenuCopies(item);
  EnablePath(item);
  return true;
}

void TCommands::SetEnabled(const QString &name, bool enabled) {
  QAction *item = menu_->Item(name);
  if (!item) return;
  const bool on = enabled && IsBound(name);
  if (item->isEnabled() == on) return;
  item->setEnabled(on);
  menu_->SyncMenuCopies(item);
}

bool TCommands::Run(const QString &name) {
  const auto it = handlers_.constFind(name);
  QAction *item = menu_->Item(name);
  if (it == handlers_.constEnd() || !item || !item->isEnabled()) return false;
  // A copy of the handler: it may bind again or rebuild the menus.
  const THandler handler = it.value();
  if (handler) handler();
  return true;
}

}  // namespace tachora
