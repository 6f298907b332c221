#include "app/UnitTranslate.h"

#include <QAction>
#include <QApplication>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTranslator>
#include <algorithm>

#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"

namespace tachora {

namespace {

QString L(const QString &key) {
  return QString::fromStdString(LangText(key.toStdString()));
}

bool IsPercentItem(const QString &name) {
  static const QString prefix = "N_VideoZoom_";
  if (!name.startsWith(prefix)) return false;
  bool ok = false;
  const int n = name.mid(prefix.size()).toInt(&ok);
  return ok && n > 0;
}

void TranslateItems(TMainMenu &menu, QMenu *m) {
  if (!m) return;
  for (QAction *a : m->actions()) {
    if (a->isSeparator()) continue;
    const QString caption = MenuItemCaption(a->objectName());
    if (!caption.isEmpty()) TMainMenu::SetCaption(a, caption);
    menu.SyncMenuCopies(a);
    if (a->menu() && a->objectName() != "N_View_Language") TranslateItems(menu, a->menu());
  }
}

}  // namespace

QString MenuItemCaption(const QString &name) {
  if (IsPercentItem(name)) return {};
  QString caption = L(name);
  if (caption == name && !name.isEmpty() && name.back().isDigit())
    caption = L(name.left(name.size() - 1));
  const QString base = name.endsWith('4') ? name.left(name.size() - 1) : name;
  if (base == "N_FileList_Group_With" || base == "N_VideoZoom_Other") caption += " . . .";
  // Two blanks and a tab put the sign in the shortcut column.
  if (base == "N_VideoZoom_ZoomIn") caption += "  \t+";
  if (base == "N_VideoZoom_ZoomOut") caption += "  \t-";
  return caption;
}

void TranslateMenus(TMainMenu &menu) {
  for (QAction *top : menu.MainMenu()->actions()) {
    TMainMenu::SetCaption(top, MenuItemCaption(top->objectName()));
    menu.SyncMenuCopies(top);
    TranslateItems(menu, top->menu());
  }
  TranslateItems(menu, menu.PopupMenuListView());
  TranslateItems(menu, menu.PopupMenuGraphics());
  if (QAction *a = menu.Item("N_Playback_PauseOnClick")) {
    TMainMenu::SetCaption(a, " " + TMainMenu::Caption(a));
    menu.SyncMenuCopies(a);
  }
  menu.SetMenuSuffix(menu.Item("N_VideoZoom_NotLinear"), L("EVRonly"),
                     !menu.Item("N_VideoZoom_NotLinear")->isEnabled());
  menu.SetMenuSuffix(menu.Item("N_VideoZoom_FlipV"), L("VMRonly"),
                     !menu.Item("N_VideoZoom_FlipV")->isEnabled());
  menu.SetMenuSuffix(menu.Item("N_VideoZoom_FlipH"), L("VMRonly"),
                     !menu.Item("N_VideoZoom_FlipH")->isEnabled());
}

void ApplyQtTranslation() {
  static QTranslator *translator = nullptr;
  if (translator) {
    QApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
  }
  const auto &langs = Languages();
  const int i = CurrentLanguage();
  if (i < 0 || i >= static_cast<int>(langs.size()) || langs[i].ID == "en") return;
  auto *t = new QTranslator;
  if (t->load("qtbase_" + QString::fromStdString(langs[i].ID),
              QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(t);
    translator = t;
  } else {
    delete t;
  }
}

void TTranslator::Register(ITranslatable *part) {
  if (part && std::find(parts_.begin(), parts_.end(), part) == parts_.end()) parts_.push_back(part);
}

void TTranslator::Unregister(ITranslatable *part) {
  parts_.erase(std::remove(parts_.begin(), parts_.end(), part), parts_.end());
}

void TTranslator::Apply(TMainMenu &menu) {
  ApplyQtTranslation();
  TranslateMenus(menu);
  for (ITranslatable *part : parts_) part->Translate();
}

}  // namespace tachora
