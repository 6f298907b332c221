#include "app/UnitMainMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitSettings.h"

namespace tachora {

namespace {
const char *kCaption = "tachoraCaption";
}

TMainMenu::TMainMenu(QMainWindow *window) : QObject(window), window_(window) {
  BuildMainMenu();
  BuildListMenu();
  popupVideo_ = new QMenu(window_);
  popupVideo_->setObjectName("PopupMenuVideoWindow");
  popupGraphics_ = new QMenu(window_);
  popupGraphics_->setObjectName("PopupMenuGraphics");
}

QString TMainMenu::Caption(const QAction *item) {
  const QVariant v = item->property(kCaption);
  return v.isValid() ? v.toString() : item->text();
}

void TMainMenu::SetCaption(QAction *item, const QString &caption) {
  item->setProperty(kCaption, caption);
  QString t = caption;
  t.replace('&', "&&");
  item->setText(t);
}

QMenu *TMainMenu::AddMenu(QMenuBar *bar, const QString &name) {
  auto *menu = new QMenu(bar);
  menu->setObjectName(name);
  QAction *a = menu->menuAction();
  a->setObjectName(name);
  SetCaption(a, name);
  bar->addMenu(menu);
  items_.insert(name, a);
  return menu;
}

QMenu *TMainMenu::AddSubMenu(QMenu *parent, const QString &name) {
  auto *menu = new QMenu(parent);
  menu->setObjectName(name);
  QAction *a = menu->menuAction();
  a->setObjectName(name);
  SetCaption(a, name);
  parent->addMenu(menu);
  items_.insert(name, a);
  return menu;
}

QAction *TMainMenu::AddItem(QMenu *menu, const QString &name, const QString &shortcut,
                            bool checkable, bool checked, QActionGroup *group) {
  auto *a = new QAction(menu);
  a->setObjectName(name);
  SetCaption(a, name);
  if (!shortcut.isEmpty()) a->setShortcut(QKeySequence(shortcut));
  a->setCheckable(checkable || group);
  if (group) group->addAction(a);
  a->setChecked(checked);
  menu->addAction(a);
  items_.insert(name, a);
  connect(a, &QAction::triggered, this, [this, a]() { OnTriggered(a); });
  return a;
}

void TMainMenu::BuildMainMenu() {
  menuBar_ = new QMenuBar(window_);
  menuBar_->setObjectName("MainMenu");
  window_->setMenuBar(menuBar_);

  QMenu *file = AddMenu(menuBar_, "N_File");
  AddItem(file, "N_File_Open", "Ctrl+O");
  AddItem(file, "N_File_OpenFolder", "Ctrl+Shift+O");
  AddSubMenu(file, "N_File_Recent");
  AddItem(file, "N_FileList_Refresh2", "Ctrl+R");
  AddItem(file, "N_FileList_Clear2", "Ctrl+N");
  AddItem(file, "N_File_Save_Video");
  file->addSeparator();
  AddItem(file, "N_File_Convert_GPS", "Ctrl+G");
  file->addSeparator();
  AddItem(file, "N_SetupDevice");
  file->addSeparator();
  AddItem(file, "N_Settings_Clear");
  file->addSeparator();
  AddItem(file, "N_File_Exit", "Alt+F4");

  QMenu *view = AddMenu(menuBar_, "N_View");
  AddItem(view, "N_View_FileList", "F2", true, true);
  view->addSeparator();
  AddItem(view, "N_View_GoogleMaps", "F3", true, true);
  QMenu *arrow = AddSubMenu(view, "N_View_Arrow");
  auto *arrowGroup = new QActionGroup(arrow);
  AddItem(arrow, "N_View_Arrow_Small", {}, true, false, arrowGroup);
  AddItem(arrow, "N_View_Arrow_Normal", {}, true, false, arrowGroup);
  AddItem(arrow, "N_View_Arrow_Big", {}, true, true, arrowGroup);
  QMenu *points = AddSubMenu(view, "N_View_TimePoints");
  auto *pointsGroup = new QActionGroup(points);
  AddItem(points, "N_View_TimePoints_1m", {}, true, true, pointsGroup);
  AddItem(points, "N_View_TimePoints_5m", {}, true, false, pointsGroup);
  AddItem(points, "N_View_TimePoints_20m", {}, true, false, pointsGroup);
  AddItem(points, "N_View_TimePoints_Never", {}, true, false, pointsGroup);
  view->addSeparator();
  AddItem(view, "N_View_ControlPanel", "F4", true, true);
  QMenu *refresh = AddSubMenu(view, "N_View_Refresh");
  auto *refreshGroup = new QActionGroup(refresh);
  AddItem(refresh, "N_View_Refresh_Slow", {}, true, false, refreshGroup);
  AddItem(refresh, "N_View_Refresh_Norm", {}, true, false, refreshGroup);
  AddItem(refresh, "N_View_Refresh_Fast", {}, true, true, refreshGroup);
  view->addSeparator();
  QMenu *time = AddSubMenu(view, "N_View_Time");
  AddItem(time, "N_View_Time_ZoomIn", "Ctrl+=");
  AddItem(time, "N_View_Time_ZoomOut", "Ctrl+-");
  AddItem(time, "N_View_Time_SetA", "Ctrl+Home");
  AddItem(time, "N_View_Time_SetB", "Ctrl+End");
  AddItem(time, "N_View_Time_LoopAB", "Ctrl+L");
  QMenu *graphics = AddSubMenu(view, "N_View_Graphics");
  AddItem(graphics, "N_View_Graphics_S", "S", true, true);
  AddItem(graphics, "N_View_Graphics_H", "H", true, false);
  AddItem(graphics, "N_View_Graphics_G", "G", true, true);
  AddItem(graphics, "N_View_Graphics_X", "X", true, false);
  AddItem(graphics, "N_View_Graphics_Y", "Y", true, false);
  AddItem(graphics, "N_View_Graphics_Z", "Z", true, false);
  graphics->addSeparator();
  AddItem(graphics, "N_View_Graphics_Hide", "F6");
  AddItem(graphics, "N_View_Graphics_Show", "F7");
  AddItem(view, "N_View_Details", "F8", true, true);
  QMenu *show = AddSubMenu(view, "N_View_Show");
  auto *showGroup = new QActionGroup(show);
  AddItem(show, "N_View_Show_All", {}, true, true, showGroup);
  AddItem(show, "N_View_Show_Events", {}, true, false, showGroup);
  AddItem(show, "N_View_Show_Parking", {}, true, false, showGroup);
  AddItem(show, "N_View_Show_Normal", {}, true, false, showGroup);
  QMenu *sensitivity = AddSubMenu(view, "N_View_Sensitivity");
  auto *sensitivityGroup = new QActionGroup(sensitivity);
  AddItem(sensitivity, "N_View_Sensitivity_High", {}, true, false, sensitivityGroup);
  AddItem(sensitivity, "N_View_Sensitivity_Normal", {}, true, true, sensitivityGroup);
  AddItem(sensitivity, "N_View_Sensitivity_Low", {}, true, false, sensitivityGroup);
  // The design state follows the locale; a user's choice is stored against it.
  QMenu *units = AddSubMenu(view, "N_View_Units");
  auto *unitsGroup = new QActionGroup(units);
  const bool imperial = LocaleUnits() == TUnits::Imperial;
  AddItem(units, "N_View_Units_Metric", {}, true, !imperial, unitsGroup);
  AddItem(units, "N_View_Units_Imperial", {}, true, imperial, unitsGroup);
  view->addSeparator();
  QMenu *lang = AddSubMenu(view, "N_View_Language");
  languageGroup_ = new QActionGroup(lang);

  QMenu *play = AddMenu(menuBar_, "N_Playback");
  AddItem(play, "N_Playback_Play", "Space");
  AddItem(play, "N_Playback_Stop", "Esc");
  AddItem(play, "N_FullScreen", "Alt+Return");
  AddItem(play, "N_Playback_PauseOnClick", {}, true, false);
  play->addSeparator();
  AddItem(play, "N_Playback_Left", "Left");
  AddItem(play, "N_Playback_Right", "Right");
  AddItem(play, "N_Playback_Frame_Prev", "B");
  AddItem(play, "N_Playback_Frame_Next", "N");
  AddItem(play, "N_Playback_Event_Prev", "Ctrl+Left");
  AddItem(play, "N_Playback_Event_Next", "Ctrl+Right");
  play->addSeparator();
  AddItem(play, "N_Playback_Save_Frame", "Ctrl+S");
  AddItem(play, "N_Playback_Save_Wind");
  play->addSeparator();
  QMenu *renderer = AddSubMenu(play, "N_Playback_Renderer");
  auto *rendererGroup = new QActionGroup(renderer);
  AddItem(renderer, "N_Playback_Renderer_NUL", {}, true, false, rendererGroup);
  AddItem(renderer, "N_Playback_Renderer_WMR", {}, true, false, rendererGroup);
  // The OpenGL renderer is the default on every Linux desktop (window
  // creation checks it before the design-time states are captured).
  AddItem(renderer, "N_Playback_Renderer_EVR", {}, true, true, rendererGroup);
  // The other cameras of a recording: how their pictures share the panel.
  QMenu *cameras = AddSubMenu(play, "N_Playback_Cameras");
  auto *camerasGroup = new QActionGroup(cameras);
  AddItem(cameras, "N_Playback_Cameras_PiP", {}, true, true, camerasGroup);
  AddItem(cameras, "N_Playback_Cameras_Side", {}, true, false, camerasGroup);
  AddItem(cameras, "N_Playback_Cameras_Main", {}, true, false, camerasGroup);
  cameras->addSeparator();
  AddItem(cameras, "N_Playback_Cameras_Swap", "C");

  QMenu *zoom = AddMenu(menuBar_, "N_VideoZoom");
  auto *fitGroup = new QActionGroup(zoom);
  AddItem(zoom, "N_VideoZoom_Custom", {}, true, false, fitGroup);
  zoom->addSeparator();
  AddItem(zoom, "N_VideoZoom_ZoomIn");
  AddItem(zoom, "N_VideoZoom_ZoomOut");
  zoom->addSeparator();
  for (const char *p : {"800", "400", "200", "100", "50", "25", "10"}) {
    QAction *a = AddItem(zoom, QString("N_VideoZoom_") + p);
    SetCaption(a, QString(p) + "%");
  }
  AddItem(zoom, "N_VideoZoom_Other");
  zoom->addSeparator();
  AddItem(zoom, "N_VideoZoom_Letterbox", "Alt+1", true, true, fitGroup);
  AddItem(zoom, "N_VideoZoom_PanAndScan", "Alt+2", true, false, fitGroup);
  AddItem(zoom, "N_VideoZoom_Stretch", "Alt+3", true, false, fitGroup);
  AddItem(zoom, "N_VideoZoom_NotLinear", "Alt+4", true, false, fitGroup);
  zoom->addSeparator();
  AddItem(zoom, "N_VideoZoom_FlipV", "F9");
  AddItem(zoom, "N_VideoZoom_FlipH", "F10");

  QMenu *help = AddMenu(menuBar_, "N_Help");
  AddItem(help, "N_Help_About", "F1");
  AddItem(help, "N_Help_WhatsNew");
}

void TMainMenu::BuildListMenu() {
  popupList_ = new QMenu(window_);
  popupList_->setObjectName("PopupMenuListView");
  QMenu *m = popupList_;
  QAction *open = AddItem(m, "N_FileList_Open", "Return");
  m->setDefaultAction(open);
  m->addSeparator();
  AddItem(m, "N_FileList_Add", "Ins");
  AddItem(m, "N_FileList_Del", "Del");
  AddItem(m, "N_FileList_Refresh", "F5");
  AddItem(m, "N_FileList_Clear", "Ctrl+N");
  m->addSeparator();
  AddItem(m, "N_FileList_Copy", "Shift+C");
  AddItem(m, "N_FileList_DelDisk", "Shift+Del");
  AddItem(m, "N_FileList_DelDiskAll");
  m->addSeparator();
  AddItem(m, "N_FileList_SetLock");
  AddItem(m, "N_FileList_UnsetLock");
  m->addSeparator();
  AddItem(m, "N_FileList_Group_With");
  AddItem(m, "N_FileList_Ungroup");
  AddItem(m, "N_FileList_Group_Auto");
  AddItem(m, "N_FileList_Ungroup_All");
  m->addSeparator();
  AddItem(m, "N_FileList_Track_Google");
  AddItem(m, "N_FileList_Track_Export");
  AddItem(m, "N_FileList_Track_Set");
  AddItem(m, "N_FileList_Track_GPSLog");
  AddItem(m, "N_FileList_Track_Move");
  m->addSeparator();
  AddItem(m, "N_FileList_ShowExplorer");
  AddItem(m, "N_FileList_Property");
  AddItem(m, "N_FileList_Repair");
  // The list's keys work only while the list has the focus (the window adds
  // these actions to the list); Ctrl+N is the main menu's.
  for (QAction *a : m->actions()) a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
}

QAction *TMainMenu::Item(const QString &name) const {
  return items_.value(name, nullptr);
}

QMenu *TMainMenu::SubMenu(const QString &name) const {
  QAction *a = Item(name);
  return a ? a->menu() : nullptr;
}

void TMainMenu::ForEachItem(QMenu *menu, const std::function<void(QAction *)> &fn) {
  if (!menu) return;
  for (QAction *a : menu->actions()) {
    if (a->isSeparator()) continue;
    fn(a);
    if (a->menu()) ForEachItem(a->menu(), fn);
  }
}

void TMainMenu::ForEachMainItem(const std::function<void(QAction *)> &fn) const {
  for (QAction *a : menuBar_->actions()) {
    if (a->isSeparator()) continue;
    fn(a);
    if (a->menu()) ForEachItem(a->menu(), fn);
  }
}

void TMainMenu::CaptureDefaults() {
  defaults_.clear();
  ForEachMainItem([this](QAction *a) {
    if (a->isChecked()) defaults_.insert(a->objectName());
  });
}

void TMainMenu::BuildLanguageMenu() {
  QMenu *lang = SubMenu("N_View_Language");
  for (QAction *a : lang->actions()) {
    items_.remove(a->objectName());
    languageGroup_->removeAction(a);
    delete a;
  }
  const auto &langs = Languages();
  for (size_t i = 0; i < langs.size(); ++i) {
    const QString id = QString::fromStdString(langs[i].ID);
    QAction *a = AddItem(lang, "N_View_Language_" + id, {}, true,
                         static_cast<int>(i) == CurrentLanguage(), languageGroup_);
    SetCaption(a, "(" + id + ") " + QString::fromStdString(langs[i].Name));
  }
}

void TMainMenu::RestoreChecks() {
  ForEachMainItem([](QAction *a) {
    if (!a->isCheckable()) return;
    const bool v = settings::MenuCheck(a->objectName(), a->isChecked()).Get();
    if (v != a->isChecked()) a->setChecked(v);
  });
}

void TMainMenu::CopyMenuItem(const QAction *from, QAction *to) {
  SetCaption(to, Caption(from));
  to->setEnabled(from->isEnabled());
  to->setVisible(from->isVisible());
  to->setCheckable(from->isCheckable());
  to->setChecked(from->isChecked());
  to->setShortcut(from->shortcut());
  // A copy shows its source's key but never fires it: the source does.
  to->setShortcutContext(Qt::WidgetShortcut);
  to->setIcon(from->icon());
}

QAction *TMainMenu::CopyItem(QAction *source, QMenu *target, bool linked) {
  QAction *copy = nullptr;
  if (source->menu()) {
    auto *sub = new QMenu(target);
    copy = sub->menuAction();
    for (QAction *child : source->menu()->actions()) {
      if (child->isSeparator()) {
        sub->addSeparator();
        continue;
      }
      if (child->objectName() == "N_File_Exit") continue;
      CopyItem(child, sub, linked);
    }
    target->addMenu(sub);
  } else {
    copy = new QAction(target);
    target->addAction(copy);
    connect(copy, &QAction::triggered, this, [this, copy]() {
      QAction *src = MenuOriginal(copy);
      if (src != copy && src->isEnabled()) src->trigger();
      SyncMenuCopies(src);
    });
  }
  copy->setObjectName(linked ? source->objectName() : source->objectName() + "4");
  CopyMenuItem(source, copy);
  source_.insert(copy, source);
  copies_[source].append(copy);
  return copy;
}

void TMainMenu::BuildPopupCopies() {
  popupVideo_->clear();
  popupGraphics_->clear();
  for (QAction *a : SubMenu("N_Playback")->actions()) {
    if (a->isSeparator())
      popupVideo_->addSeparator();
    else
      CopyItem(a, popupVideo_, true);
  }
  popupVideo_->addSeparator();
  for (QAction *top : menuBar_->actions())
    if (top->objectName() != "N_Playback") CopyItem(top, popupVideo_, true);
  popupVideo_->addSeparator();
  CopyItem(Item("N_File_Exit"), popupVideo_, true);

  for (QAction *a : SubMenu("N_View_Time")->actions())
    if (!a->isSeparator() && a->objectName() != "N_View_Time_LoopAB")
      CopyItem(a, popupGraphics_, false);
  CopyItem(Item("N_File_Save_Video"), popupGraphics_, false);
  popupGraphics_->addSeparator();
  for (QAction *a : SubMenu("N_View_Graphics")->actions()) {
    if (a->isSeparator())
      popupGraphics_->addSeparator();
    else
      CopyItem(a, popupGraphics_, false);
  }
  popupGraphics_->addSeparator();
  CopyItem(Item("N_View_Details"), popupGraphics_, false);
}

QAction *TMainMenu::MenuOriginal(QAction *item) const {
  return source_.value(item, item);
}

void TMainMenu::SyncMenuCopies(QAction *item) {
  if (!item) return;
  QAction *src = MenuOriginal(item);
  for (QAction *copy : copies_.value(src)) CopyMenuItem(src, copy);
}

void TMainMenu::SaveMenuCheck(QAction *item) {
  if (!item) return;
  QAction *src = MenuOriginal(item);
  QList<QAction *> group;
  if (src->actionGroup())
    group = src->actionGroup()->actions();
  else
    group.append(src);
  for (QAction *a : group)
    settings::MenuCheck(a->objectName(), DefaultChecked(a->objectName())).Set(a->isChecked());
}

void TMainMenu::SetMenuChecked(QAction *item, bool value) {
  if (!item || item->isChecked() == value) return;
  item->setChecked(value);
  SyncMenuCopies(item);
  SaveMenuCheck(item);
}

void TMainMenu::SetMenuSuffix(QAction *item, const QString &text, bool flag) {
  if (!item) return;
  QString caption = Caption(item);
  const int cut = caption.indexOf(" (");
  if (cut >= 0) caption.truncate(cut);
  if (flag) caption += " (" + text + ")";
  if (caption != Caption(item)) SetCaption(item, caption);
  SyncMenuCopies(item);
}

void TMainMenu::SetEnabled(const QString &name, bool enabled) {
  QAction *a = Item(name);
  if (!a) return;
  a->setEnabled(enabled);
  SyncMenuCopies(a);
}

void TMainMenu::OnTriggered(QAction *item) {
  // Qt has already checked or toggled a checkable item (a checked radio item
  // stays checked); what remains is to follow with the copies and the store.
  if (item->isCheckable()) {
    SyncMenuCopies(item);
    SaveMenuCheck(item);
  }
  emit Command(item->objectName());
}

}  // namespace tachora
