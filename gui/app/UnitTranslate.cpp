#include "app/UnitTranslate.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QToolButton>
#include <QTranslator>

#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "catalogue/UnitRecordList.h"

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

std::array<QString, 8> ListColumnTitles() {
  return {L("Name"),
          L("Duration"),
          L("DateTime"),
          L("FileList_Track_Length"),
          L("AvgSpeed") + ", " + L("KmetersPerH"),
          L("FileFullPath"),
          L("Size") + ", " + L("Mb"),
          L("PictureSize")};
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

void TranslateMainWindow(TMainMenu &menu, TMainLayout &layout, TRecordListModel &model) {
  ApplyQtTranslation();
  TranslateMenus(menu);
  model.SetTitles(ListColumnTitles());

  layout.TrackBarVolume->setToolTip(L("Volume"));
  layout.PanelPlaySpeed->setToolTip(L("PlaySpeed"));
  for (QToolButton *b : layout.PlaySpeedButtons) b->setToolTip(L("PlaySpeed"));
  layout.CheckBoxLoop->setText(L("N_View_Time_LoopAB"));
  layout.CheckBoxLoop->adjustSize();
  layout.CheckBoxLoop->setToolTip(L("N_View_Time_LoopABHint"));
  layout.ImageSpeed->setToolTip("- " + L("N_View_Graphics_H") + ", " + L("Meters") + "\n- " +
                                L("Property_Track_Length") + ", " + L("Meters") + "\n- " +
                                L("Speed") + ", " + L("KmetersPerH"));
  layout.ImageAzimut->setToolTip(L("Azimut"));
  layout.ImageGSensor->setToolTip("x - " + L("N_View_Graphics_X") + "\ny - " +
                                  L("N_View_Graphics_Y") + "\nz - " + L("N_View_Graphics_Z"));
  auto plain = [](QAction *a) { return TMainMenu::Caption(a).section('\t', 0, 0).trimmed(); };
  layout.ButtonVideoZoomIn->setToolTip(plain(menu.Item("N_VideoZoom_ZoomIn")) + " (+)");
  layout.ButtonVideoZoomOut->setToolTip(plain(menu.Item("N_VideoZoom_ZoomOut")) + " (-)");
  for (auto [button, name] : {std::pair{layout.ButtonFramePrev, "N_Playback_Frame_Prev"},
                              std::pair{layout.ButtonFrameNext, "N_Playback_Frame_Next"}}) {
    QAction *a = menu.Item(name);
    button->setToolTip(plain(a) + " (" + a->shortcut().toString(QKeySequence::NativeText) + ")");
  }
  layout.ButtonPlay->setToolTip(plain(menu.Item("N_Playback_Play")));
  layout.ButtonStop->setToolTip(plain(menu.Item("N_Playback_Stop")));
  layout.ButtonZoomIn->setToolTip(plain(menu.Item("N_View_Time_ZoomIn")));
  layout.ButtonZoomOut->setToolTip(plain(menu.Item("N_View_Time_ZoomOut")));
  // Hints stay up for five seconds.
  for (QWidget *w : layout.PanelControl->findChildren<QWidget *>()) w->setToolTipDuration(5000);
  for (QWidget *w : {layout.ButtonZoomIn, layout.ButtonZoomOut}) w->setToolTipDuration(5000);
  layout.Layout();
}

}  // namespace tachora
