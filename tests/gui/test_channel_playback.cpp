// Front and rear cameras played together in the main window (software
// renderer): both pictures move and stay within a frame of each other after
// play, a seek and a speed change; the three layouts with the inset's
// corner, drag, size and swap, kept across a restart of the window; a rear
// file that is missing leaves the front playing beside a black note.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>

#include "TestMedia.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainLayout.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "playback/UnitChannelView.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitVideoSurface.h"
#include "playback/UnitVideoView.h"

using namespace tachora;

namespace {

constexpr double kClipSeconds = 10;
constexpr int64_t kFrameTicks = kTicksPerSecond / 25;

// One recording of a front (320 x 180) and a rear camera (192 x 144, a
// different shape), or a rear file that is not there.
std::shared_ptr<const TRowTelemetry> FrontRearTrip(bool rearMissing) {
  test::TMediaRecipe media;
  media.seconds = kClipSeconds;
  media.audio = "none";
  media.width = 320;
  media.height = 180;
  const std::string front = test::GenerateMovie("cam-front", media);
  media.width = 192;
  media.height = 144;
  const std::string rear = rearMissing ? test::TestMediaDir() + "/no-such-rear_R.MOV"
                                       : test::GenerateMovie("cam-rear", media);
  auto trip = std::make_shared<TRowTelemetry>();
  TFileItem &row = trip->Row;
  row.Id = 17;
  row.Summary.DisplayName = "20240612_093000";
  row.Summary.Start = EncodeDate(2024, 6, 12) + EncodeTime(9, 30, 0, 0);
  row.Summary.End = row.Summary.Start + kClipSeconds / kSecPerDay;
  TFileItemSubitem r;
  r.Path = front;
  r.Channel = "F";
  r.Duration = static_cast<int64_t>(kClipSeconds * 1000);
  r.DurationSource = kDurContainer;
  r.RelStart = 0;
  r.RelEnd = 1;
  TChannelFile c;
  c.Path = rear;
  c.Channel = "R";
  r.Channels.push_back(c);
  row.Items.push_back(r);
  trip->Tracks.push_back(std::make_unique<TMovingInfo>());
  return trip;
}

void Shot(QWidget *w, const QString &name) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QTest::qWait(150);
  w->grab().save(dir + "/" + name + ".png");
}

void Mouse(QWidget *w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

class Cameras : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    InitLanguages(1033);
    TFormMain::AutoFirstShow = false;
    MakeWindow();
  }
  void TearDown() override {
    form.reset();
    DeleteAllSettings();
  }
  void MakeWindow() {
    form = std::make_unique<TFormMain>();
    form->resize(1000, 700);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    player = form->Playback();
    player->Graph()->SetOption("ao", "null");
    player->Warn = [this](const QString &text) { warnings << text; };
    channels = player->Channels();
  }
  QAction *Item(const char *name) { return form->Menu()->Item(name); }
  // Opens the trip and waits until both cameras' files have loaded.
  void OpenTrip(bool rearMissing = false) {
    QSignalSpy front(player->Graph(), &TFilterGraph::FileReady);
    player->OpenRow(FrontRearTrip(rearMissing));
    ASSERT_EQ(channels->Count(), 2);
    ASSERT_TRUE(front.count() > 0 || front.wait(10000));
    if (!rearMissing) {
      ASSERT_TRUE(QTest::qWaitFor(
          [this]() { return !channels->Follower(0)->VideoSize().isEmpty(); }, 10000));
    }
  }
  QImage Frame(int picture) {
    QWidget *w = picture == 0 ? player->Video()->SurfaceWidget() : channels->FollowerWidget(0);
    return static_cast<TSoftwareSurface *>(w)->Frame();
  }
  // |rear - front| over a second of playing, the median of a few readings
  // (the players report their positions each on their own).
  int64_t MedianDrift() {
    std::vector<int64_t> d;
    for (int i = 0; i < 9; ++i) {
      QTest::qWait(110);
      int64_t main = 0, rear = 0;
      if (player->Graph()->Busy() || channels->Follower(0)->Busy()) continue;
      if (!player->Graph()->CurrentPosition(main) || !channels->Follower(0)->CurrentPosition(rear))
        continue;
      d.push_back(std::llabs(main - rear));
    }
    if (d.empty()) return INT64_MAX;
    std::sort(d.begin(), d.end());
    return d[d.size() / 2];
  }
  // The follower comes within a frame of the main player: at once on a quiet
  // machine; on a busy one (the tests run two at a time) it may start late
  // and is taken back within a few seconds. The last drift, in ticks.
  int64_t DriftOnceInStep() {
    int64_t drift = INT64_MAX;
    for (int round = 0; round < 6 && drift > kFrameTicks; ++round) drift = MedianDrift();
    return drift;
  }
  bool Settled() {
    return QTest::qWaitFor(
        [this]() { return !player->Graph()->Busy() && !channels->Follower(0)->Busy(); }, 5000);
  }

  std::unique_ptr<TFormMain> form;
  TPlaybackController *player = nullptr;
  TChannelView *channels = nullptr;
  QStringList warnings;
};

TEST_F(Cameras, BothPicturesPlayInStepAfterPlaySeekAndSpeed) {
  OpenTrip();
  EXPECT_EQ(channels->Follower(0)->Path(), FrontRearTrip(false)->Row.Items[0].Channels[0].Path);
  ASSERT_TRUE(QTest::qWaitFor([this]() { return !Frame(0).isNull() && !Frame(1).isNull(); }, 5000));
  const QImage front = Frame(0), rear = Frame(1);
  QTest::qWait(600);
  EXPECT_NE(Frame(0), front);
  EXPECT_NE(Frame(1), rear);
  EXPECT_LE(DriftOnceInStep(), kFrameTicks);

  player->Seek(0.5L);
  ASSERT_TRUE(Settled());
  EXPECT_LE(DriftOnceInStep(), kFrameTicks);
  int64_t at = 0;
  ASSERT_TRUE(channels->Follower(0)->CurrentPosition(at));
  EXPECT_GT(at, 4 * kTicksPerSecond);

  player->SetSpeedTag(1);  // 2x
  EXPECT_DOUBLE_EQ(channels->Follower(0)->Rate(), 2);
  ASSERT_TRUE(Settled());
  EXPECT_LE(DriftOnceInStep(), kFrameTicks);

  // Paused and stepped: the rear shows the front's frame.
  player->SetSpeedTag(0);
  player->Pause();
  player->NextFrame();
  ASSERT_TRUE(QTest::qWaitFor(
      [this]() {
        int64_t main = 0, rear = 0;
        return !player->Graph()->Busy() && !channels->Follower(0)->Busy() &&
               player->Graph()->CurrentPosition(main) &&
               channels->Follower(0)->CurrentPosition(rear) &&
               std::llabs(main - rear) <= kFrameTicks / 2;
      },
      5000));
  EXPECT_EQ(channels->Follower(0)->State(), TEngineState::kPaused);
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();
}

TEST_F(Cameras, LayoutsInsetDragSizeSwapAndTheirRestoreAfterARestart) {
  OpenTrip();
  QFrame *panel = form->Panels()->PlaybackPanel().PanelVideo;
  const QRect area = panel->contentsRect();
  QWidget *rearWidget = channels->FollowerWidget(0);
  QWidget *frontWidget = player->Video()->SurfaceWidget();

  // Picture-in-picture by default: the rear, 30 % of the front picture's
  // width, keeps its 4:3 shape in the bottom right corner of the 16:9 front.
  EXPECT_TRUE(Item("N_Playback_Cameras_PiP")->isChecked());
  const QRect picture = FitRect(QSizeF(320, 180), area).toRect();
  QRect inset = rearWidget->geometry();
  EXPECT_TRUE(rearWidget->isVisible());
  EXPECT_NEAR(inset.width(), picture.width() * 0.3, 2);
  EXPECT_NEAR(inset.height(), inset.width() * 3 / 4.0, 2);
  EXPECT_TRUE(picture.contains(inset));
  EXPECT_GT(inset.center().x(), picture.center().x());
  EXPECT_GT(inset.center().y(), picture.center().y());
  Shot(form.get(), "cameras_pip");

  // Dragged to the top left it snaps into that corner; the wheel widens it.
  const QPoint grip(inset.width() / 2, inset.height() / 2);
  Mouse(rearWidget, QEvent::MouseButtonPress, grip, Qt::LeftButton);
  Mouse(rearWidget, QEvent::MouseMove, grip - QPoint(picture.width() / 2, picture.height() / 2),
        Qt::LeftButton);
  Mouse(rearWidget, QEvent::MouseButtonRelease,
        grip - QPoint(picture.width() / 2, picture.height() / 2), Qt::NoButton);
  EXPECT_EQ(channels->Corner(), TCorner::kTopLeft);
  inset = rearWidget->geometry();
  EXPECT_LT(inset.center().x(), picture.center().x());
  EXPECT_LT(inset.center().y(), picture.center().y());
  QWheelEvent wheel(QPointF(10, 10), rearWidget->mapToGlobal(QPointF(10, 10)), QPoint(),
                    QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(rearWidget, &wheel);
  EXPECT_EQ(channels->InsetPercent(), 35);
  EXPECT_NEAR(rearWidget->width(), picture.width() * 0.35, 2);
  for (int i = 0; i < 5; ++i) QApplication::sendEvent(rearWidget, &wheel);
  EXPECT_EQ(channels->InsetPercent(), TChannelView::kMaxInset);

  // C swaps: the rear picture fills the panel, the front becomes the inset
  // and the main player still plays.
  QTest::keyClick(form.get(), Qt::Key_C);
  EXPECT_EQ(channels->Big(), 1);
  EXPECT_EQ(rearWidget->geometry(), area);
  EXPECT_LT(frontWidget->width(), area.width() / 2 + 2);
  EXPECT_TRUE(player->Playing());
  Shot(form.get(), "cameras_pip_swapped");
  QTest::keyClick(form.get(), Qt::Key_C);
  EXPECT_EQ(channels->Big(), 0);

  // Side by side: two halves, each picture keeping its shape inside.
  Item("N_Playback_Cameras_Side")->trigger();
  EXPECT_EQ(channels->Layout(), TChannelLayout::kSideBySide);
  EXPECT_EQ(rearWidget->geometry().left(), area.left() + area.width() / 2);
  EXPECT_LE(frontWidget->geometry().right(), area.left() + area.width() / 2);
  Shot(form.get(), "cameras_side");

  // Main only: the rear is neither shown nor decoded.
  Item("N_Playback_Cameras_Main")->trigger();
  EXPECT_FALSE(rearWidget->isVisible());
  EXPECT_FALSE(channels->Follower(0)->Active());
  EXPECT_EQ(player->Video()->Area(), area);
  Shot(form.get(), "cameras_main");
  // Back to side by side: the rear is loaded again at the front's place.
  Item("N_Playback_Cameras_Side")->trigger();
  EXPECT_TRUE(channels->Follower(0)->Active());
  ASSERT_TRUE(QTest::qWaitFor([this]() { return channels->Follower(0)->FileLoaded(); }, 10000));

  // A new window starts with the layout, corner and size left.
  form.reset();
  MakeWindow();
  EXPECT_EQ(channels->Layout(), TChannelLayout::kSideBySide);
  EXPECT_TRUE(Item("N_Playback_Cameras_Side")->isChecked());
  EXPECT_EQ(channels->Corner(), TCorner::kTopLeft);
  EXPECT_EQ(channels->InsetPercent(), TChannelView::kMaxInset);
}

TEST_F(Cameras, AMissingRearFileLeavesTheFrontPlayingBesideABlackNote) {
  OpenTrip(true);
  QLabel *note = channels->Note(0);
  ASSERT_TRUE(QTest::qWaitFor([note]() { return note->isVisible(); }, 5000));
  EXPECT_EQ(note->text(), "Rear camera: no recording");
  EXPECT_EQ(note->geometry(), channels->PictureRect(1));
  int64_t before = 0, after = 0;
  ASSERT_TRUE(player->Graph()->CurrentPosition(before));
  QTest::qWait(500);
  ASSERT_TRUE(player->Graph()->CurrentPosition(after));
  EXPECT_GT(after, before);
  EXPECT_TRUE(player->Playing());
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();
  Shot(form.get(), "cameras_missing_rear");

  // In Russian the note follows the language.
  InitLanguages(1049);
  ASSERT_TRUE(QTest::qWaitFor(
      [note]() { return note->text().startsWith(QString::fromUtf8("Задняя")); }, 2000));
}

// With OpenGL (an X display: TACHORA_TEST_DISPLAY=1 under xvfb-run) the
// inset's player gets a new GL context when the panel moves into the
// full-screen window and back; it must keep drawing the rear's picture.
TEST_F(Cameras, OpenGLInsetKeepsItsPictureThroughFullScreen) {
  QOpenGLContext probe;
  if (QGuiApplication::platformName() != "xcb" || !probe.create())
    GTEST_SKIP() << "no X display with OpenGL here";
  player->SwitchRenderer(TRenderer::kOpenGL);
  OpenTrip();
  auto showsPicture = [this]() {
    return QTest::qWaitFor(
        [this]() {
          auto *rear = qobject_cast<TOpenGLSurface *>(channels->FollowerWidget(0));
          if (!rear || !rear->isVisible()) return false;
          const QImage image = rear->grabFramebuffer();
          // Not a black or single-colour picture.
          return !image.isNull() && image.pixel(image.width() / 12, image.height() / 2) !=
                                        image.pixel(image.width() * 11 / 12, image.height() / 2);
        },
        8000);
  };
  EXPECT_TRUE(showsPicture());
  player->SetFullScreen(true);
  EXPECT_TRUE(showsPicture());
  Shot(player->Video()->FullScreenWindow(), "cameras_opengl_fullscreen");
  player->SetFullScreen(false);
  EXPECT_TRUE(showsPicture());
}

}  // namespace
