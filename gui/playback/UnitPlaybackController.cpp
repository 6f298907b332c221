#include "playback/UnitPlaybackController.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QMenu>
#include <QSlider>
#include <QToolButton>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitSettings.h"

namespace tachora {

namespace {
QString L(const char *key) {
  return QString::fromStdString(LangText(key));
}
}  // namespace

TPlaybackController::TPlaybackController(QObject *parent, const TPlaybackPanel &panel,
                                         TCommands &commands)
    : QObject(parent), panel_(panel), commands_(commands) {
  TMainMenu *menu = commands_.Menu();
  panel_.PanelVideo->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(panel_.PanelVideo, &QWidget::customContextMenuRequested, this,
          [this, menu](const QPoint &p) {
            menu->PopupMenuVideoWindow()->popup(panel_.PanelVideo->mapToGlobal(p));
          });
  panel_.TrackBarVolume->setValue(std::clamp(settings::kVolume.Get(), 0, 100));
  connect(panel_.TrackBarVolume, &QSlider::valueChanged, this,
          [](int v) { settings::kVolume.Set(v); });
}

void TPlaybackController::OpenRow(std::shared_ptr<const TRowTelemetry> row) {
  row_ = std::move(row);
  emit RowOpened();
}

void TPlaybackController::Translate() {
  TMainMenu *menu = commands_.Menu();
  panel_.TrackBarVolume->setToolTip(L("Volume"));
  panel_.PanelPlaySpeed->setToolTip(L("PlaySpeed"));
  for (QToolButton *b : panel_.PlaySpeedButtons) b->setToolTip(L("PlaySpeed"));
  panel_.CheckBoxLoop->setText(L("N_View_Time_LoopAB"));
  panel_.CheckBoxLoop->adjustSize();
  panel_.CheckBoxLoop->setToolTip(L("N_View_Time_LoopABHint"));
  auto plain = [](QAction *a) { return TMainMenu::Caption(a).section('\t', 0, 0).trimmed(); };
  panel_.ButtonVideoZoomIn->setToolTip(plain(menu->Item("N_VideoZoom_ZoomIn")) + " (+)");
  panel_.ButtonVideoZoomOut->setToolTip(plain(menu->Item("N_VideoZoom_ZoomOut")) + " (-)");
  for (auto [button, name] : {std::pair{panel_.ButtonFramePrev, "N_Playback_Frame_Prev"},
                              std::pair{panel_.ButtonFrameNext, "N_Playback_Frame_Next"}}) {
    QAction *a = menu->Item(name);
    button->setToolTip(plain(a) + " (" + a->shortcut().toString(QKeySequence::NativeText) + ")");
  }
  panel_.ButtonPlay->setToolTip(plain(menu->Item("N_Playback_Play")));
  panel_.ButtonStop->setToolTip(plain(menu->Item("N_Playback_Stop")));
  panel_.ButtonZoomIn->setToolTip(plain(menu->Item("N_View_Time_ZoomIn")));
  panel_.ButtonZoomOut->setToolTip(plain(menu->Item("N_View_Time_ZoomOut")));
  // Hints stay up for five seconds.
  for (QWidget *w : panel_.PanelControl->findChildren<QWidget *>()) w->setToolTipDuration(5000);
  for (QWidget *w : {panel_.ButtonZoomIn, panel_.ButtonZoomOut}) w->setToolTipDuration(5000);
}

}  // namespace tachora
