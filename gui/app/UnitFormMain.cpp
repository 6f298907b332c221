#include "app/UnitFormMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/UnitDemo.h"
#include "app/UnitException.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitResources.h"
#include "app/UnitStartup.h"
#include "app/UnitTranslate.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitPlatform.h"
#include "catalogue/UnitRecordList.h"
#include "telemetry/UnitMovingInfo.h"
#include "tools/UnitFormAbout.h"
#include "tools/UnitFormWhatsNew.h"

namespace tachora {

namespace {

QString L(const char *key) {
  return QString::fromStdString(LangText(key));
}

// Commands built so far; every other item stays disabled until its part of
// the program exists.
const char *const kBuiltMainCommands[] = {"N_File",
                                          "N_File_Open",
                                          "N_FileList_Refresh2",
                                          "N_FileList_Clear2",
                                          "N_Settings_Clear",
                                          "N_File_Exit",
                                          "N_View",
                                          "N_View_FileList",
                                          "N_View_GoogleMaps",
                                          "N_View_ControlPanel",
                                          "N_View_Language",
                                          "N_Playback",
                                          "N_VideoZoom",
                                          "N_Help",
                                          "N_Help_About",
                                          "N_Help_WhatsNew"};

}  // namespace

bool TFormMain::AutoFirstShow = true;

TFormMain::TFormMain(const QStringList &args, bool demo) : args_(args), demo_(demo) {
  InitResources();
  setObjectName("FormMain");
  setMinimumSize(350, 300);
  // Files dropped from a file manager are opened.
  setAcceptDrops(true);
  menu_ = new TMainMenu(this);
  layout_ = new TMainLayout(this);
  CreateList();
  // The renderer item is set in the menu's design; capture the design check
  // marks first, then build the language menu and restore the stored marks.
  menu_->CaptureDefaults();
  menu_->BuildLanguageMenu();
  menu_->RestoreChecks();
  EnableBuiltCommands();
  connect(menu_, &TMainMenu::Command, this, &TFormMain::RunCommand);
  connect(menu_, &TMainMenu::LanguageChosen, this, [this](int) { Translate(); });
  // The list columns as the user left them.
  RestoreColumns();
  // Panel sizes and the map's share of the right side.
  layout_->RestorePanels();
  // View choices and the pop-up copies of the menu.
  ApplyView(false);
  menu_->BuildPopupCopies();
  layout_->PanelVideo->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(layout_->PanelVideo, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
    menu_->PopupMenuVideoWindow()->popup(layout_->PanelVideo->mapToGlobal(p));
  });
  layout_->PanelBottomGraphics->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(layout_->PanelBottomGraphics, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) {
            menu_->PopupMenuGraphics()->popup(layout_->PanelBottomGraphics->mapToGlobal(p));
          });
  connect(layout_, &TMainLayout::SplittersMoved, this, [this]() { layout_->Layout(); });
  setWindowTitle("Tachora");
  QApplication::setApplicationDisplayName("Tachora");
  QApplication::setWindowIcon(AppIcon());
  layout_->TrackBarVolume->setValue(std::clamp(ReadIntSetting("volume", 100), 0, 100));
  connect(layout_->TrackBarVolume, &QSlider::valueChanged, this,
          [](int v) { WriteIntSettingOrDelete("volume", v, 100); });
  RestoreGeometry();

  about_ = new TFormAbout(this);
  whatsNew_ = new TFormWhatsNew;
  qApp->installEventFilter(this);

  Ask = [this](const QString &text, bool warning) {
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    return (warning ? QMessageBox::warning(this, "Tachora", text, buttons, QMessageBox::No)
                    : QMessageBox::question(this, "Tachora", text, buttons, QMessageBox::No)) ==
           QMessageBox::Yes;
  };

  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  refreshTimer_->setInterval(100);
  connect(refreshTimer_, &QTimer::timeout, this, &TFormMain::RefreshRecordList);

  timerOnStart_ = new QTimer(this);
  timerOnStart_->setSingleShot(true);
  timerOnStart_->setInterval(1);
  connect(timerOnStart_, &QTimer::timeout, this, &TFormMain::FirstShow);
  if (AutoFirstShow) timerOnStart_->start();

  created_ = true;
  Translate();
}

TFormMain::~TFormMain() {
  qApp->removeEventFilter(this);
  DestroyCatalogue();
  delete whatsNew_;
}

void TFormMain::EnableBuiltCommands() {
  menu_->ForEachMainItem([](QAction *a) { a->setEnabled(false); });
  for (const char *name : kBuiltMainCommands) menu_->SetEnabled(name, true);
  for (QAction *a : menu_->SubMenu("N_View_Language")->actions()) a->setEnabled(true);
}

void TFormMain::RestoreGeometry() {
  QScreen *first = QGuiApplication::screens().value(0, QGuiApplication::primaryScreen());
  const QRect start = first ? StartGeometry(first->geometry()) : QRect(100, 100, 800, 600);
  QRect bounds(ReadIntSetting("pos_Left", start.left()), ReadIntSetting("pos_Top", start.top()),
               ReadIntSetting("pos_Width", start.width()),
               ReadIntSetting("pos_Height", start.height()));
  bounds.setWidth(std::max(bounds.width(), minimumWidth()));
  bounds.setHeight(std::max(bounds.height(), minimumHeight()));
  QScreen *near = QGuiApplication::screenAt(bounds.center());
  if (!near) near = first;
  if (near) bounds = CorrectBounds(bounds, near->availableGeometry());
  startBounds_ = bounds;
  setGeometry(bounds);
  storedState_ = ReadIntSetting("pos_State", 0);
}

void TFormMain::ShowStored() {
  if (storedState_ == 2)
    showMaximized();
  else
    show();
}

void TFormMain::SaveWindowPosition() {
  if (!isVisible() || closing_) return;
  const QRect r = (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) ? normalGeometry()
                                                                                 : geometry();
  if (r.isValid()) {
    WriteIntSetting("pos_Left", r.left());
    WriteIntSetting("pos_Top", r.top());
    WriteIntSetting("pos_Width", r.width());
    WriteIntSetting("pos_Height", r.height());
  }
  if (!(windowState() & Qt::WindowMinimized))
    WriteIntSetting("pos_State", (windowState() & Qt::WindowMaximized) ? 2 : 0);
}

void TFormMain::moveEvent(QMoveEvent *event) {
  QMainWindow::moveEvent(event);
  SaveWindowPosition();
}

void TFormMain::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  SaveWindowPosition();
  layout_->Layout();
}

void TFormMain::changeEvent(QEvent *event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) SaveWindowPosition();
}

void TFormMain::ApplyView(bool byClick) {
  auto checked = [this](const char *name) { return menu_->Item(name)->isChecked(); };
  layout_->ApplyView(checked("N_View_FileList"), checked("N_View_GoogleMaps"),
                     checked("N_View_ControlPanel"));
  if (byClick) {
    layout_->Layout();
    layout_->SavePanels();
  }
}

void TFormMain::Translate() {
  if (!created_) return;
  QAction *checkedLang = nullptr;
  for (QAction *a : menu_->SubMenu("N_View_Language")->actions())
    if (a->isChecked()) checkedLang = a;
  if (checkedLang)
    SetCurrentLanguage(menu_->SubMenu("N_View_Language")->actions().indexOf(checkedLang));
  TranslateMainWindow(*menu_, *layout_, *model_);
  about_->Translate();
  whatsNew_->Translate();
  if (fm_) fm_->Retranslate();  // "today" and the distance unit live in the rows' texts
  RefreshRecordList();
}

void TFormMain::RunCommand(const QString &name) {
  if (name == "N_File_Open" || name == "N_FileList_Add") return AddFilesDialog();
  if (name == "N_FileList_Refresh2" || name == "N_FileList_Refresh") return RefreshCatalogue();
  if (name == "N_FileList_Clear2" || name == "N_FileList_Clear") {
    if (fm_) fm_->Clear();
    return RefreshRecordList();
  }
  if (name == "N_File_Exit") return void(close());
  if (name == "N_Settings_Clear") return ResetAllSettings();
  if (name == "N_View_FileList" || name == "N_View_GoogleMaps" || name == "N_View_ControlPanel")
    return ApplyView(true);
  if (name == "N_Help_About") {
    about_->show();
    about_->raise();
    return about_->activateWindow();
  }
  if (name == "N_Help_WhatsNew") {
    whatsNew_->show();
    whatsNew_->raise();
    return whatsNew_->activateWindow();
  }
  const int row = SelectedRow();
  if (name == "N_FileList_Del" && fm_ && row >= 0) return fm_->RemoveItem(fm_->GetItem(row));
  if (name == "N_FileList_DelDisk") return DeleteSelectedFromDisk();
  if (name == "N_FileList_DelDiskAll") return DeleteAllUnlocked();
  if (name == "N_FileList_SetLock") return SetSelectedLocked(true);
  if (name == "N_FileList_UnsetLock") return SetSelectedLocked(false);
  if (name == "N_FileList_Ungroup" && fm_ && row >= 0) return fm_->SplitItem(row);
  if (name == "N_FileList_Group_Auto" && fm_) return fm_->AutoGroup();
  if (name == "N_FileList_Ungroup_All" && fm_) return fm_->UngroupAll();
  if (name == "N_FileList_Track_Set") return AttachTrackDialog();
  if (name == "N_FileList_Track_Move") return MoveVideoPosition();
  if (name == "N_FileList_Property") return ShowProperties();
  if (name == "N_FileList_ShowExplorer" && fm_ && row >= 0) {
    const TFileItem item = fm_->GetItem(row);
    if (!item.Items.empty()) ShowInFileManager(item.Items[0].Path);
  }
}

// ---- first show ------------------------------------------------------------

void TFormMain::FirstShow() {
  timerOnStart_->stop();
  if (!isVisible()) {
    // Runs once the window is on screen.
    QTimer::singleShot(50, this, &TFormMain::FirstShow);
    return;
  }
  RegisterShell(QCoreApplication::applicationFilePath());
  if (demo_) {
    StartDemo();
  } else if (args_.isEmpty()) {
    RefreshCatalogue();
  } else {
    CreateCatalogue(false);
    OpenFiles(args_);
    if (fm_->RowCount() > 0) SelectRow(0);
  }
  emit FirstShowDone();
}

void TFormMain::StartDemo() {
  auto *demo = new TDemoCard(this);
  connect(demo, &TDemoCard::Finished, this,
          [this, demo](const QString &folder, const QString &error) {
            demo->deleteLater();
            if (!error.isEmpty()) {
              if (error != "cancel") QMessageBox::warning(this, "Tachora", error);
              return RefreshCatalogue();
            }
            CreateCatalogue(false);
            OpenFiles({folder});
            if (fm_->RowCount() > 0) SelectRow(0);
          });
  demo->Start(this);
}

// ---- catalogue -------------------------------------------------------------

void TFormMain::CreateCatalogue(bool autoStart) {
  DestroyCatalogue();
  auto notify = [this]() {
    if (QThread::currentThread() == thread()) return RefreshRecordList();
    QMetaObject::invokeMethod(
        this,
        [this]() {
          if (fm_ && !fm_->Terminated()) RefreshFromSearch();
        },
        Qt::BlockingQueuedConnection);
  };
  fm_ = std::make_unique<TFileManager>(autoStart, notify);
  RefreshRecordList();
}

void TFormMain::RefreshFromSearch() {
  // The preview reports every row; on a big card refreshing the whole list
  // each time would keep the window busy. Between two full refreshes at
  // least 100 ms pass; a change in between is shown by the timer.
  if (refreshClock_.isValid() && refreshClock_.elapsed() < 100) {
    if (!refreshTimer_->isActive()) refreshTimer_->start();
    return;
  }
  RefreshRecordList();
}

void TFormMain::DestroyCatalogue() {
  if (!fm_) return;
  fm_->Terminate();
  // The search thread may be waiting in a blocking call to this thread:
  // keep serving events (the call sees no catalogue and returns) while
  // another thread joins it.
  std::unique_ptr<TFileManager> old = std::move(fm_);
  std::atomic<bool> done{false};
  std::thread joiner([&old, &done]() {
    old.reset();
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(2);
  }
  joiner.join();
  if (!closing_) RefreshRecordList();
}

void TFormMain::RefreshCatalogue() {
  CreateCatalogue(true);
  fm_->SortBy(std::clamp(ReadIntSetting("col_sort", 0), 0, kListColumns - 1));
  fm_->SetAscending(ReadBoolSetting("col_sort_dur", true));
  fm_->Sort();
  QHeaderView *header = layout_->ListView->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(fm_->SortColumn(),
                           fm_->Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  RefreshRecordList();
}

bool TFormMain::WaitForSearch(int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (fm_ && fm_->Searching()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  // The search's last notification may still be on its way, and the change
  // it brings may wait for the refresh timer.
  QElapsedTimer settle;
  settle.start();
  while ((settle.elapsed() < 150 || refreshTimer_->isActive()) && t.elapsed() <= timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  QCoreApplication::processEvents();
  return true;
}

// ---- close and reset -------------------------------------------------------

void TFormMain::closeEvent(QCloseEvent *event) {
  // Granted always (hide, stop the threads, destroy the catalogue), but not
  // while files are being opened on the catalogue: then once that is done.
  if (busy_) {
    closePending_ = true;
    event->ignore();
    return;
  }
  event->accept();
  closing_ = true;
  hide();
  TApplication::SetTerminating(true);
  about_->hide();
  whatsNew_->hide();
  if (fm_) fm_->Terminate();
  DestroyCatalogue();
  setAcceptDrops(false);
  QCoreApplication::quit();
}

void TFormMain::ResetAllSettings() {
  if (!Ask(L("Mes_ClearSettings") + "?\n", false)) return;
  close();
  DeleteAllSettings();
  QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
  QCoreApplication::quit();
}

// ---- drag and drop, keys ---------------------------------------------------

void TFormMain::dragEnterEvent(QDragEnterEvent *event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent *event) {
  QStringList paths;
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  if (!paths.isEmpty()) OpenFiles(paths);
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress && QApplication::activeWindow() == this &&
      HandleZoomKeys(static_cast<QKeyEvent *>(event)))
    return true;
  return QMainWindow::eventFilter(watched, event);
}

bool TFormMain::HandleZoomKeys(QKeyEvent *event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const bool keypad = event->modifiers() & Qt::KeypadModifier;
  auto click = [this](const char *name) {
    QAction *a = menu_->Item(name);
    if (a && a->isEnabled()) a->trigger();
    return true;
  };
  const int key = event->key();
  // The "=" key gives "+" with Shift and the "-" key "_": either is the key.
  const bool plus = key == Qt::Key_Plus || (!keypad && key == Qt::Key_Equal);
  const bool minus = key == Qt::Key_Minus || (!keypad && key == Qt::Key_Underscore);
  // Ctrl with either "+" reaches the time line's zoom like Ctrl+"=".
  if (plus) return click(ctrl ? "N_View_Time_ZoomIn" : "N_VideoZoom_ZoomIn");
  if (minus) return click(ctrl ? "N_View_Time_ZoomOut" : "N_VideoZoom_ZoomOut");
  if (keypad && key == Qt::Key_Asterisk) return click("N_VideoZoom_100");
  if (keypad && key == Qt::Key_Slash)
    return click(menu_->Item("N_VideoZoom_Letterbox")->isChecked() ? "N_VideoZoom_PanAndScan"
                                                                   : "N_VideoZoom_Letterbox");
  return false;
}

}  // namespace tachora
