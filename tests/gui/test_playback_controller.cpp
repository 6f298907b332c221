// The player in the main window on the software renderer (offscreen): a
// two-clip trip loaded from a prepared row, Play/Pause and Stop's reset,
// the speed buttons, A-B and the loop, jumps and frame steps, the tick's
// listeners, the time line's zoom, the video zoom commands and full screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QInputDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "TestMedia.h"
#include "app/UnitCommands.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "catalogue/UnitRecordListController.h"
#include "gui_test_helpers.h"
#include "map/UnitMapController.h"
#include "playback/UnitCaptureCommands.h"
#include "playback/UnitFormCropping.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitSeekBitmap.h"
#include "playback/UnitVideoView.h"
#include "telemetry/UnitTelemetryController.h"

using namespace tachora;

namespace {

constexpr double kClipSeconds = 10;

std::shared_ptr<const TRowTelemetry> TwoClipTrip() {
  test::TMediaRecipe media;
  media.seconds = kClipSeconds;
  media.width = 160;
  media.height = 120;
  media.audio = "none";
  const auto paths =
      test::GenerateTrip("ctl-trip", {kClipSeconds, kClipSeconds}, "2024-05-01 10:00:00", media);
  auto trip = std::make_shared<TRowTelemetry>();
  TFileItem &row = trip->Row;
  row.Id = 7;
  row.Summary.DisplayName = "FILE0001-2";
  row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  row.Summary.End = row.Summary.Start + 2 * kClipSeconds / kSecPerDay;
  for (size_t i = 0; i < paths.size(); ++i) {
    TFileItemSubitem r;
    r.Path = paths[i];
    r.Duration = static_cast<int64_t>(kClipSeconds * 1000);
    r.DurationSource = kDurContainer;
    r.RelStart = i * 0.5L;
    r.RelEnd = r.RelStart + 0.5L;
    row.Items.push_back(r);
    trip->Tracks.push_back(std::make_unique<TMovingInfo>());
  }
  return trip;
}

class TRecorder : public ITickListener {
 public:
  TRecorder(std::vector<std::string> &log, std::string name) : log_(log), name_(std::move(name)) {}
  void PlaybackTick(const TTickState &) override { log_.push_back(name_); }
  void PlaybackReset() override { log_.push_back(name_ + " reset"); }

 private:
  std::vector<std::string> &log_;
  std::string name_;
};

class Player : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
    TFormMain::AutoFirstShow = false;
    form = std::make_unique<TFormMain>();
    form->resize(1000, 700);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    player = form->Playback();
    player->Graph()->SetOption("ao", "null");
    player->Warn = [this](const QString &text) { warnings << text; };
    panel = form->Panels()->PlaybackPanel();
  }
  void TearDown() override {
    form.reset();
    DeleteAllSettings();
  }
  QAction *Item(const char *name) { return form->Menu()->Item(name); }
  // Opens the trip and waits until the first recording has loaded.
  void OpenTrip() {
    QSignalSpy ready(player->Graph(), &TFilterGraph::FileReady);
    player->OpenRow(TwoClipTrip());
    ASSERT_TRUE(ready.wait(10000));
  }

  std::unique_ptr<TFormMain> form;
  TPlaybackController *player = nullptr;
  TPlaybackPanel panel;
  QStringList warnings;
};

TEST_F(Player, HeadlessStartUsesTheSoftwareRendererAndKeepsTheChoice) {
  EXPECT_EQ(player->Renderer(), TRenderer::kSoftware);
  EXPECT_TRUE(Item("N_Playback_Renderer_WMR")->isChecked());
  EXPECT_FALSE(Item("N_Playback_Play")->isEnabled());
  EXPECT_FALSE(panel.ButtonPlay->isEnabled());
}

TEST_F(Player, PlayPauseAndStopResetEverything) {
  OpenTrip();
  EXPECT_TRUE(player->Playing());
  EXPECT_TRUE(player->TimerRunning());
  EXPECT_TRUE(panel.ButtonPlay->isChecked());
  EXPECT_TRUE(panel.ButtonStop->isEnabled());
  EXPECT_FALSE(panel.ButtonFrameNext->isEnabled());  // steps only while paused
  EXPECT_EQ(form->windowTitle(), "FILE0001-2 - Tachora");

  // Space pauses; the timer stops, frame steps become possible.
  Item("N_Playback_Play")->trigger();
  EXPECT_FALSE(player->Playing());
  EXPECT_FALSE(player->TimerRunning());
  EXPECT_TRUE(panel.ButtonFrameNext->isEnabled());
  EXPECT_TRUE(Item("N_Playback_Frame_Prev")->isEnabled());

  // Set state that Stop must reset: speed, selection, loop, custom zoom.
  panel.PlaySpeedGroup->button(1)->click();
  EXPECT_DOUBLE_EQ(player->Rate(), 2.0);
  player->Seek(0.2L);
  player->SetA();
  player->Seek(0.3L);
  player->SetB();
  panel.CheckBoxLoop->click();
  EXPECT_TRUE(player->Loop());
  Item("N_VideoZoom_200")->trigger();
  EXPECT_EQ(player->Video()->Zoom().Mode, TFitMode::Custom);

  QSignalSpy stopped(player, &TPlaybackController::Stopped);
  Item("N_Playback_Stop")->trigger();  // Esc in the main window
  EXPECT_EQ(stopped.count(), 1);
  EXPECT_EQ(player->Row(), nullptr);
  EXPECT_FALSE(player->Graph()->Active());
  EXPECT_FALSE(player->TimerRunning());
  EXPECT_FALSE(panel.ButtonPlay->isEnabled());
  EXPECT_FALSE(panel.ButtonPlay->isChecked());
  // The chosen speed stays for the next trip.
  EXPECT_DOUBLE_EQ(player->Rate(), 2.0);
  EXPECT_TRUE(panel.PlaySpeedGroup->button(1)->isChecked());
  EXPECT_FALSE(player->Loop());
  EXPECT_FALSE(panel.CheckBoxLoop->isChecked());
  EXPECT_FALSE(Item("N_View_Time_LoopAB")->isChecked());
  EXPECT_FALSE(player->SeekBar()->HasTrip());
  EXPECT_EQ(player->Video()->Zoom().Mode, TFitMode::Letterbox);
  EXPECT_TRUE(Item("N_VideoZoom_Letterbox")->isChecked());
  EXPECT_EQ(form->windowTitle(), "Tachora");
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();

  // The next trip plays at that speed.
  OpenTrip();
  EXPECT_DOUBLE_EQ(player->Graph()->Rate(), 2.0);
}

TEST_F(Player, LoopNeedsASelectionAndStaysInStepWithTheMenu) {
  OpenTrip();
  panel.CheckBoxLoop->click();
  ASSERT_EQ(warnings.size(), 1);
  EXPECT_EQ(warnings[0], QString::fromStdString(LangText("Cropping_Info")));
  EXPECT_FALSE(panel.CheckBoxLoop->isChecked());
  EXPECT_FALSE(Item("N_View_Time_LoopAB")->isChecked());

  // A after B moves B to the end; B before A moves A to the start.
  player->Seek(0.6L);
  player->SetB();
  player->Seek(0.7L);
  player->SetA();
  EXPECT_NEAR(double(player->SelectionA()), 0.7, 0.02);
  EXPECT_DOUBLE_EQ(double(player->SelectionB()), 1.0);
  player->Seek(0.2L);
  player->SetB();
  EXPECT_DOUBLE_EQ(double(player->SelectionA()), 0.0);
  EXPECT_NEAR(double(player->SelectionB()), 0.2, 0.02);
  EXPECT_TRUE(player->SeekBar()->HasSelection());

  Item("N_View_Time_LoopAB")->trigger();  // Ctrl+L
  EXPECT_TRUE(player->Loop());
  EXPECT_TRUE(panel.CheckBoxLoop->isChecked());
  EXPECT_TRUE(settings::MenuCheck("N_View_Time_LoopAB", false).Get());
  panel.CheckBoxLoop->click();
  EXPECT_FALSE(player->Loop());
  EXPECT_FALSE(Item("N_View_Time_LoopAB")->isChecked());

  // Played past B, the loop goes back to A.
  panel.CheckBoxLoop->click();
  player->Seek(0.19L);
  ASSERT_TRUE(QTest::qWaitFor([&] { return player->Position() < 0.1L; }, 8000));
  EXPECT_TRUE(player->Playing());
}

TEST_F(Player, JumpsAndFrameSteps) {
  OpenTrip();
  Item("N_Playback_Play")->trigger();  // pause at the start
  const long double jump = 8.312 / (2 * kClipSeconds);
  // The engine seeks on its own thread: wait until it reports the place.
  auto settlesAt = [this](long double p) {
    return QTest::qWaitFor([&] { return std::abs(double(player->Position() - p)) < 0.01; }, 5000);
  };
  // Without a telemetry sample jumps only 0.1 s apart both move (a place
  // reported at once, the wait alone parts them: keep it clear of 0.1 s).
  Item("N_Playback_Right")->trigger();
  QTest::qWait(500);
  ASSERT_TRUE(settlesAt(jump));
  QTest::qWait(250);
  Item("N_Playback_Right")->trigger();
  ASSERT_TRUE(settlesAt(2 * jump));  // into the second clip
  EXPECT_EQ(player->Timeline().CurrentIndex(), 1);
  QTest::qWait(250);
  Item("N_Playback_Left")->trigger();
  ASSERT_TRUE(settlesAt(jump));
  EXPECT_EQ(player->Timeline().CurrentIndex(), 0);

  // B steps back a second; N steps one frame on while staying paused.
  panel.ButtonFramePrev->click();
  ASSERT_TRUE(settlesAt(jump - 1.0 / (2 * kClipSeconds)));
  panel.ButtonFrameNext->click();
  EXPECT_FALSE(player->Playing());
  EXPECT_TRUE(Item("N_Playback_Frame_Next")->isEnabled());
  // Playing, the steps are off again.
  panel.ButtonPlay->click();
  EXPECT_TRUE(player->Playing());
  EXPECT_FALSE(panel.ButtonFrameNext->isEnabled());
}

TEST_F(Player, TickCallsListenersInRankOrderAndTheSeekBarMoves) {
  std::vector<std::string> log;
  TRecorder map(log, "map"), graphs(log, "graphs");
  player->AddTickListener(&map, TTickRank::kMap);
  player->AddTickListener(&graphs, TTickRank::kGraphs);
  OpenTrip();
  log.clear();
  player->Tick(false);
  EXPECT_EQ(log, (std::vector<std::string>{"graphs", "map"}));

  Item("N_View_Refresh_Slow")->trigger();
  EXPECT_EQ(player->TickInterval(), TPlaybackController::kTickSlowMs);
  Item("N_View_Refresh_Fast")->trigger();
  EXPECT_EQ(player->TickInterval(), TPlaybackController::kTickFastMs);

  const long double first = player->SeekBar()->LastPosition();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return player->SeekBar()->LastPosition() > first + 0.02L; }, 5000));
  // Two seconds into playback the pointer hides over the video; a move
  // brings it back.
  ASSERT_TRUE(QTest::qWaitFor([&] { return player->Video()->PointerHidden(); }, 4000));
  QWidget *video = panel.PanelVideo;
  QMouseEvent move(QEvent::MouseMove, QPointF(30, 30), video->mapToGlobal(QPointF(30, 30)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(video, &move);
  EXPECT_FALSE(player->Video()->PointerHidden());

  log.clear();
  player->Stop();
  EXPECT_EQ(log, (std::vector<std::string>{"graphs reset", "map reset"}));
  player->RemoveTickListener(&map);
  player->RemoveTickListener(&graphs);
}

// The windows over the panels hold back the map and instruments; the seek
// bar, graphs and details still follow in full screen.
TEST_F(Player, WindowsOverThePanelsHoldBackTheirUpdates) {
  QWidget plain;
  EXPECT_FALSE(TPlaybackController::CoversPanels(nullptr));
  EXPECT_FALSE(TPlaybackController::CoversPanels(form.get()));
  EXPECT_FALSE(TPlaybackController::CoversPanels(&plain));
  for (const char *name : {"FormFullScreen", "FormAbout", "FormAutoUpdate", "FormDetails",
                           "FormGPSLog", "FormGroup"}) {
    plain.setObjectName(QLatin1String(name));
    EXPECT_TRUE(TPlaybackController::CoversPanels(&plain)) << name;
  }

  std::vector<std::string> log;
  TRecorder map(log, "map"), graphs(log, "graphs");
  player->AddTickListener(&map, TTickRank::kMap);
  player->AddTickListener(&graphs, TTickRank::kGraphs);
  OpenTrip();
  player->SetPlay(false);

  QWidget details;
  details.setObjectName("FormDetails");
  details.resize(200, 100);
  details.show();
  details.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&details));
  log.clear();
  const long double before = player->SeekBar()->LastPosition();
  player->Seek(0.3L);
  player->Tick(false);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(player->SeekBar()->LastPosition(), before);
  details.hide();

  Item("N_FullScreen")->trigger();
  ASSERT_TRUE(player->FullScreen());
  QWidget *full = player->Video()->FullScreenWindow();
  full->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(full));
  log.clear();
  player->Tick(false);
  EXPECT_EQ(log, (std::vector<std::string>{"graphs"}));
  EXPECT_NEAR(static_cast<double>(player->SeekBar()->LastPosition()), 0.3, 0.01);
  player->SetFullScreen(false);

  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  log.clear();
  player->Tick(false);
  EXPECT_EQ(log, (std::vector<std::string>{"graphs", "map"}));
  player->RemoveTickListener(&map);
  player->RemoveTickListener(&graphs);
}

// After Play the keys go to the recording list again (Space, arrows, Enter).
TEST_F(Player, PlayHandsTheFocusToTheList) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  OpenTrip();
  player->SetPlay(false);
  panel.ButtonPlay->setFocus();
  player->SetPlay(true);
  QWidget *list = form->findChild<QWidget *>("ListView");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(QApplication::focusWidget(), list);
}

TEST_F(Player, TimeZoomAndSeekBarClicks) {
  OpenTrip();
  Item("N_Playback_Play")->trigger();
  player->Seek(0.25L);
  Item("N_View_Time_ZoomIn")->trigger();  // Ctrl+=
  const TTimeView v = player->SeekBar()->View();
  EXPECT_NEAR(double(v.Width()), 0.5, 1e-9);
  EXPECT_TRUE(panel.ScrollBarZoom->isEnabled());
  EXPECT_EQ(player->Timeline().View(), v);
  panel.ButtonZoomOut->click();
  EXPECT_FALSE(panel.ScrollBarZoom->isEnabled());

  // A click on the bar away from the marker seeks there.
  TSeekBitmap *seek = player->SeekBar();
  QWidget *image = seek->Image();
  const int x = seek->Margin() + seek->LinePixels() * 3 / 4;
  QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(x, image->height() / 2));
  EXPECT_NEAR(double(player->Position()), 0.75, 0.02);
  EXPECT_EQ(player->Timeline().CurrentIndex(), 1);
}

TEST_F(Player, VideoZoomCommands) {
  OpenTrip();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !player->Graph()->VideoSize().isEmpty(); }, 5000));
  // The software renderer serves flips and the non-linear stretch.
  EXPECT_TRUE(Item("N_VideoZoom_FlipV")->isEnabled());
  EXPECT_TRUE(Item("N_VideoZoom_NotLinear")->isEnabled());
  EXPECT_FALSE(TMainMenu::Caption(Item("N_VideoZoom_FlipV")).contains("("));

  Item("N_VideoZoom_100")->trigger();
  EXPECT_TRUE(Item("N_VideoZoom_Custom")->isChecked());
  EXPECT_EQ(TMainMenu::Caption(Item("N_VideoZoom_Custom")), "Custom (100%)");
  const TRectI dest = player->Video()->Placement().Dest;
  EXPECT_EQ(dest.Width(), 160);
  EXPECT_EQ(dest.Height(), 120);
  Item("N_VideoZoom_ZoomIn")->trigger();
  EXPECT_DOUBLE_EQ(player->Video()->Zoom().Factor, 2.0);
  panel.ButtonVideoZoomOut->click();
  EXPECT_DOUBLE_EQ(player->Video()->Zoom().Factor, 1.0);

  Item("N_VideoZoom_Stretch")->trigger();  // Alt+3
  EXPECT_EQ(player->Video()->Zoom().Mode, TFitMode::Stretch);
  EXPECT_EQ(TMainMenu::Caption(Item("N_VideoZoom_Custom")), "Custom");
  EXPECT_EQ(player->Video()->SurfaceWidget()->geometry(), panel.PanelVideo->contentsRect());
  Item("N_VideoZoom_Letterbox")->trigger();
  EXPECT_EQ(player->Video()->Surface()->AspectMode(), TAspectMode::kKeep);

  // The wheel over the picture zooms in steps of 1.2, growing it each time.
  {
    QWidget *surface = player->Video()->SurfaceWidget();
    double last = 0;
    for (int i = 0; i < 3; ++i) {
      QWheelEvent wheel(QPointF(20, 20), surface->mapToGlobal(QPointF(20, 20)), {}, {0, 120},
                        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QCoreApplication::sendEvent(surface, &wheel);
      const TRectI &d = player->Video()->Placement().Dest;
      EXPECT_GT(d.Width(), last);
      last = d.Width();
    }
    Item("N_VideoZoom_Letterbox")->trigger();
  }

  // Zoomed in far enough, the picture can be dragged.
  Item("N_VideoZoom_800")->trigger();
  QWidget *surface = player->Video()->SurfaceWidget();
  const double panX = player->Video()->Zoom().PanX;
  QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(50, 50));
  QMouseEvent move(QEvent::MouseMove, QPointF(10, 50), surface->mapToGlobal(QPointF(10, 50)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(surface, &move);
  QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(10, 50));
  // The picture follows the pointer to the left.
  EXPECT_LT(player->Video()->Zoom().PanX, panX);

  // "Other" asks without blocking the window; OK applies the percentage.
  Item("N_VideoZoom_Other")->trigger();
  auto *ask = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(ask->textValue(), "800.00");
  ask->setTextValue("150");
  ask->accept();
  EXPECT_DOUBLE_EQ(player->Video()->Zoom().Factor, 1.5);
  EXPECT_EQ(TMainMenu::Caption(Item("N_VideoZoom_Custom")), "Custom (150%)");

  // Flips are check marks kept like other options.
  Item("N_VideoZoom_FlipH")->trigger();
  EXPECT_TRUE(Item("N_VideoZoom_FlipH")->isChecked());
  EXPECT_TRUE(settings::MenuCheck("N_VideoZoom_FlipH", false).Get());
  const QImage shot = player->Snapshot();
  EXPECT_EQ(shot.size(), QSize(160, 120));
}

TEST_F(Player, FullScreenInAndOut) {
  OpenTrip();
  QWidget *video = panel.PanelVideo;
  QWidget *home = video->parentWidget();
  Item("N_FullScreen")->trigger();  // Alt+Enter
  ASSERT_TRUE(player->FullScreen());
  QWidget *full = player->Video()->FullScreenWindow();
  EXPECT_EQ(video->window(), full);
  EXPECT_TRUE(full->isVisible());
  EXPECT_EQ(full->windowTitle(), "Full Screen - Tachora");

  // The pointer at the bottom edge brings the seek bar in; well above it,
  // the seek bar goes back.
  auto moveTo = [video](int y) {
    const QPointF local(20, y);
    QMouseEvent e(QEvent::MouseMove, local, video->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(video, &e);
  };
  moveTo(video->height() - 1);
  EXPECT_TRUE(player->Video()->BottomInFullScreen());
  EXPECT_EQ(panel.ImageSeek->window(), full);
  moveTo(video->height() - 200);
  EXPECT_FALSE(player->Video()->BottomInFullScreen());

  // Esc leaves full screen and keeps playing.
  Item("N_Playback_Stop")->trigger();
  EXPECT_FALSE(player->FullScreen());
  EXPECT_EQ(video->parentWidget(), home);
  EXPECT_EQ(video->window(), form.get());
  EXPECT_FALSE(full->isVisible());
  EXPECT_TRUE(player->Playing());

  // A double click on the video goes in, and Stop comes back out.
  QTest::mouseDClick(player->Video()->SurfaceWidget(), Qt::LeftButton);
  EXPECT_TRUE(player->FullScreen());
  player->Stop();
  EXPECT_FALSE(player->FullScreen());
  EXPECT_EQ(video->window(), form.get());
}

// The row the player holds, by its caption.
QString PlayerCaption(TPlaybackController *player) {
  return player->Row() ? QString::fromStdString(player->Row()->Row.Summary.DisplayName) : QString();
}

int RowOf(TFormMain &form, const QString &caption) {
  for (int i = 0; i < form.List()->Model()->rowCount(); ++i)
    if (form.List()->Model()->Caption(i) == caption) return i;
  return -1;
}

TEST_F(Player, OpenedFilesJoinTheListAndKeepTheOpenTrip) {
  const QString card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  // Nothing open: the opened recording is shown paused, as by a click.
  QSignalSpy opened(player, &TPlaybackController::RowOpened);
  ASSERT_TRUE(test::Open(*form, {card + "/DCIM/100MEDIA/FILE0005.MOV"}));
  ASSERT_TRUE(opened.count() > 0 || opened.wait(20000));
  EXPECT_EQ(PlayerCaption(player), "FILE0005");
  EXPECT_FALSE(player->Playing());
  EXPECT_TRUE(player->Graph()->Active());

  // Playing: the card's folder joins the list and the trip plays on.
  player->SetPlay(true);
  const auto trip = player->Row();
  ASSERT_TRUE(test::Open(*form, {card + "/DCIM"}));
  EXPECT_EQ(form->List()->Model()->rowCount(), 2);
  EXPECT_EQ(player->Row(), trip);
  EXPECT_TRUE(player->Playing());

  // Paused, as after a cut: the saved fragment joins the list, the trip and
  // its place stay.
  player->SetPlay(false);
  QTemporaryDir out;
  const QString fragment = out.filePath("Fragment of FILE0001-4 (10-00-00 - 10-00-05).mov");
  ASSERT_TRUE(QFile::copy(card + "/DCIM/100MEDIA/FILE0001.MOV", fragment));
  auto *captures = form->findChild<TCaptureCommands *>();
  ASSERT_NE(captures, nullptr);
  QSignalSpy listed(form->List(), &TRecordListController::FilesOpened);
  emit captures->Cropping()->FragmentSaved(fragment);
  ASSERT_TRUE(listed.wait(20000));
  EXPECT_GE(form->List()->FileManager()->FindRecording(fragment.toStdString()), 0);
  EXPECT_EQ(player->Row(), trip);
  EXPECT_FALSE(player->Playing());
  EXPECT_TRUE(player->Graph()->Active());
}

TEST_F(Player, AClickShowsTheRowPausedWithItsTrack) {
  const QString card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  QSignalSpy opened(player, &TPlaybackController::RowOpened);
  ASSERT_TRUE(test::Open(*form, {card + "/DCIM"}));
  ASSERT_TRUE(opened.count() > 0 || opened.wait(20000));
  QTableView *list = panel.PanelVideo->window()->findChild<QTableView *>("ListView");
  ASSERT_NE(list, nullptr);
  auto click = [&](const QString &caption, bool twice = false) {
    const int row = RowOf(*form, caption);
    EXPECT_GE(row, 0) << caption.toStdString();
    const QPoint at = list->visualRect(form->List()->Model()->index(row, 0)).center();
    opened.clear();
    if (twice)
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    else
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  };
  const QString other = PlayerCaption(player) == "FILE0001-4" ? "FILE0005-6" : "FILE0001-4";
  for (const QString &caption :
       {other, PlayerCaption(player) == "FILE0001-4" ? QStringLiteral("FILE0001-4")
                                                     : QStringLiteral("FILE0005-6")}) {
    click(caption);
    ASSERT_TRUE(opened.wait(20000)) << caption.toStdString();
    // Its first frame, paused, with Play ready; its track on the map and
    // under the video.
    EXPECT_EQ(PlayerCaption(player), caption);
    EXPECT_FALSE(player->Playing());
    EXPECT_TRUE(player->Graph()->Active());
    EXPECT_TRUE(panel.ButtonPlay->isEnabled());
    EXPECT_FALSE(panel.ButtonPlay->isChecked());
    EXPECT_LT(player->Position(), 0.01L);
    EXPECT_TRUE(form->Map()->HasTrip());
    EXPECT_TRUE(form->Telemetry()->HasTrip());
    // A double click plays it.
    click(caption, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->Playing(); }, 5000));
    EXPECT_EQ(PlayerCaption(player), caption);
  }
  // A click on the row that is playing changes nothing.
  const auto trip = player->Row();
  click(PlayerCaption(player));
  QTest::qWait(300);
  EXPECT_EQ(player->Row(), trip);
  EXPECT_TRUE(player->Playing());
}

TEST_F(Player, MovingTheVideoPositionStopsThePlayerAndPreparesTheRowAgain) {
  const QString card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  ASSERT_TRUE(test::Open(*form, {card + "/DCIM"}));
  form->List()->SelectRow(RowOf(*form, "FILE0001-4"));
  QSignalSpy opened(player, &TPlaybackController::RowOpened);
  Item("N_FileList_Open")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return PlayerCaption(player) == "FILE0001-4"; }, 20000));
  ASSERT_TRUE(player->Playing());
  const TDateTime before = player->Row()->Row.Summary.Start;
  // No shift: the trip plays on.
  form->List()->ShiftSelected(0);
  EXPECT_TRUE(player->Playing());
  // An hour later: the old timing is gone from the player; the row is
  // prepared again with the new one.
  form->List()->ShiftSelected(1.0 / 24);
  EXPECT_EQ(player->Row(), nullptr);
  EXPECT_FALSE(player->Graph()->Active());
  EXPECT_FALSE(panel.ButtonPlay->isChecked());
  ASSERT_TRUE(test::WaitPrepared(*form));
  EXPECT_NEAR(form->List()->CurrentRow().Summary.Start - before, 1.0 / 24, 1e-6);
  Item("N_FileList_Open")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return player->Row() != nullptr; }, 20000));
  EXPECT_NEAR(player->Row()->Row.Summary.Start - before, 1.0 / 24, 1e-6);
}

TEST_F(Player, WheelOverTheGraphsZoomsTheTimeLine) {
  OpenTrip();
  player->SetPlay(false);
  player->Seek(0.5L);
  QWidget *graph = form->findChild<QWidget *>("ImageGraphS");
  ASSERT_NE(graph, nullptr);
  auto width = [&] { return player->SeekBar()->View().End - player->SeekBar()->View().Start; };
  auto wheel = [&](int delta) {
    QWheelEvent e(QPointF(30, 10), graph->mapToGlobal(QPointF(30, 10)), {}, {0, delta},
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(graph, &e);
  };
  ASSERT_NEAR(static_cast<double>(width()), 1.0, 1e-9);
  const struct {
    int delta;
    double width;
  } steps[] = {{120, 1 / 1.5}, {120, 1 / 2.25}, {-120, 1 / 1.5},
               {60, 1 / 1.5},  {60, 1 / 2.25},  {-240, 1.0}};
  for (const auto &s : steps) {
    wheel(s.delta);
    EXPECT_NEAR(static_cast<double>(width()), s.width, 1e-9) << s.delta;
  }
  // The scroll bar follows a zoomed-in view.
  wheel(120);
  EXPECT_TRUE(panel.ScrollBarZoom->isEnabled());
}

TEST_F(Player, ZoomKeysWorkInFullScreenAndSavingTheWindowLeavesIt) {
  OpenTrip();
  player->SetPlay(false);
  Item("N_FullScreen")->trigger();
  ASSERT_TRUE(player->FullScreen());
  QWidget *full = player->Video()->FullScreenWindow();
  QApplication::setActiveWindow(full);
  ASSERT_EQ(QApplication::activeWindow(), full);
  QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : full;
  const TVideoZoom &zoom = player->Video()->Zoom();
  QTest::keyClick(target, Qt::Key_Asterisk, Qt::KeypadModifier);  // 100 %
  EXPECT_EQ(zoom.Mode, TFitMode::Custom);
  EXPECT_DOUBLE_EQ(zoom.Factor, 1.0);
  QTest::keyClick(target, Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_DOUBLE_EQ(zoom.Factor, 2.0);
  QTest::keyClick(target, Qt::Key_Minus);
  QTest::keyClick(target, Qt::Key_Minus, Qt::KeypadModifier);
  EXPECT_DOUBLE_EQ(zoom.Factor, 0.5);
  QTest::keyClick(target, Qt::Key_Slash, Qt::KeypadModifier);
  EXPECT_EQ(zoom.Mode, TFitMode::Letterbox);
  QTest::keyClick(target, Qt::Key_Slash, Qt::KeypadModifier);
  EXPECT_EQ(zoom.Mode, TFitMode::PanAndScan);
  EXPECT_TRUE(player->FullScreen());

  // "Save Current Window" leaves full screen and saves the main window.
  auto *captures = form->findChild<TCaptureCommands *>();
  ASSERT_NE(captures, nullptr);
  QSize saved;
  bool wasFull = true;
  captures->SetSaveAs(
      [&](QWidget *, const QImage &picture, const QString &, const QString &, const char *) {
        saved = picture.size();
        wasFull = player->FullScreen();
        return QString();
      });
  Item("N_Playback_Save_Wind")->trigger();
  EXPECT_FALSE(wasFull);
  EXPECT_FALSE(player->FullScreen());
  EXPECT_EQ(panel.PanelVideo->window(), form.get());
  EXPECT_EQ(saved, form->size());
}

TEST_F(Player, FileChangesAndVanishedRecordingsStopThePlayer) {
  OpenTrip();
  emit form->List()->FilesChanging();
  EXPECT_EQ(player->Row(), nullptr);
  EXPECT_FALSE(player->Graph()->Active());

  // A recording that cannot be read any more: a message and a stopped player.
  OpenTrip();
  emit player->Graph()->OpenError(QString::fromStdString(player->Trip()->Row.Items[0].Path),
                                  TOpenError::kFileLost);
  ASSERT_EQ(warnings.size(), 1);
  EXPECT_TRUE(warnings[0].contains(QString::fromStdString(LangText("Mes_CannotOpen_Lost"))));
  EXPECT_EQ(player->Row(), nullptr);
  EXPECT_FALSE(panel.ButtonPlay->isEnabled());
}

}  // namespace
