// The player in the main window with the OpenGL renderer: a two-clip trip
// plays from the first clip into the second and the seek bar follows.
// Needs an X display with OpenGL (xvfb-run with Mesa); skipped without.
#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QSignalSpy>
#include <QTest>

#include "TestMedia.h"
#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "map/UnitMapController.h"
#include "playback/UnitPlaybackController.h"
#include "playback/UnitSeekBitmap.h"
#include "playback/UnitVideoView.h"

static const bool kWantDisplay = [] {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
  return true;
}();

using namespace tachora;

namespace {

// A silent trip of two clips of `seconds` each, as the catalogue gives it.
std::shared_ptr<TRowTelemetry> TwoClipTrip(const std::string &name, double seconds) {
  test::TMediaRecipe media;
  media.audio = "none";
  const auto clips = test::GenerateTrip(name, {seconds, seconds}, "2024-05-01 10:00:00", media);
  auto trip = std::make_shared<TRowTelemetry>();
  trip->Row.Summary.DisplayName = "FILE0001-2";
  trip->Row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  trip->Row.Summary.End = trip->Row.Summary.Start + 2 * seconds / kSecPerDay;
  for (size_t i = 0; i < clips.size(); ++i) {
    TFileItemSubitem r;
    r.Path = clips[i];
    r.Duration = static_cast<int64_t>(seconds * 1000);
    r.DurationSource = kDurContainer;
    r.RelStart = i * 0.5L;
    r.RelEnd = r.RelStart + 0.5L;
    trip->Row.Items.push_back(r);
    trip->Tracks.push_back(std::make_unique<TMovingInfo>());
  }
  return trip;
}

// Whether the tests can make OpenGL windows on an X display.
bool XWithOpenGL() {
  QOpenGLContext probe;
  return QGuiApplication::platformName() == "xcb" && probe.create();
}

// The window shown at a fixed size; its player silent, its messages
// collected into `warnings`. Null when the window never showed.
TPlaybackController *ShowWindow(TFormMain &form, QStringList &warnings) {
  form.resize(900, 650);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return nullptr;
  TPlaybackController *player = form.Playback();
  player->Graph()->SetOption("ao", "null");
  player->Warn = [&warnings](const QString &t) { warnings << t; };
  return player;
}

TEST(PlayerWindow, OpenGLTripPlaysIntoTheSecondClipWithTheSeekBarMoving) {
  if (!XWithOpenGL()) GTEST_SKIP() << "no X display with OpenGL here (run under xvfb-run)";
  DeleteAllSettings();
  InitLanguages(1033);
  TFormMain::AutoFirstShow = false;

  const auto trip = TwoClipTrip("win-trip", 1.5);

  {
    TFormMain form;
    QStringList warnings;
    TPlaybackController *player = ShowWindow(form, warnings);
    ASSERT_NE(player, nullptr);
    // The OpenGL renderer is the default where OpenGL works.
    ASSERT_EQ(player->Renderer(), TRenderer::kOpenGL);

    player->OpenRow(trip);
    EXPECT_TRUE(player->Playing());
    std::vector<long double> seen;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          seen.push_back(player->SeekBar()->LastPosition());
          return player->Timeline().CurrentIndex() == 1 && player->SeekBar()->LastPosition() > 0.6L;
        },
        15000));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    auto *surface = static_cast<TOpenGLSurface *>(player->Video()->SurfaceWidget());
    EXPECT_GT(surface->FramesPainted(), 10);
    // The picture is the test pattern, not black.
    const QImage shot = player->Snapshot();
    ASSERT_FALSE(shot.isNull());
    EXPECT_GT(qGray(shot.pixel(shot.width() / 4, shot.height() / 4)), 30);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    // A saved frame is mpv's own, at the video's size, not the screen's.
    auto frameFromMpv = [player]() {
      QImage got;
      bool answered = false;
      player->RequestSnapshot([&](const QImage &image) {
        got = image;
        answered = true;
      });
      EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 5000));
      return got;
    };
    EXPECT_EQ(frameFromMpv().size(), player->Graph()->VideoSize());

    // Zooming places the OpenGL surface over the panel's visible part.
    ASSERT_FALSE(player->Graph()->VideoSize().isEmpty());
    form.Menu()->Item("N_VideoZoom_ZoomIn")->trigger();
    form.Menu()->Item("N_VideoZoom_ZoomIn")->trigger();
    // Two steps from the fitting size: the picture is larger than the panel
    // and the surface shows its middle part.
    const TVideoPlacement &zoomed = player->Video()->Placement();
    EXPECT_GT(zoomed.Dest.Width(), surface->width());
    EXPECT_GT(zoomed.Source.Left, 0.1);
    EXPECT_LT(zoomed.Source.Right, 0.9);
    EXPECT_TRUE(form.Menu()->Item("N_VideoZoom_Custom")->isChecked());
    EXPECT_TRUE(TMainMenu::Caption(form.Menu()->Item("N_VideoZoom_Custom")).endsWith("%)"));
    form.Menu()->Item("N_VideoZoom_Letterbox")->trigger();

    // Full screen moves the OpenGL surface to another window: the picture
    // goes on there and back, with no error from the engine.
    player->Seek(0.55L);
    player->SetFullScreen(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->Graph()->FileLoaded(); }, 5000));
    const int painted = surface->FramesPainted();
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface->FramesPainted() > painted + 1; }, 5000))
        << "painted " << surface->FramesPainted() - painted << " at " << double(player->Position())
        << (player->Playing() ? " playing" : " paused");
    player->SetFullScreen(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->Graph()->FileLoaded(); }, 5000));
    EXPECT_EQ(player->Timeline().CurrentIndex(), 1);
    EXPECT_TRUE(player->Playing());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();

    // Switching the renderer while playing goes on at the same place.
    const long double before = player->Position();
    form.Menu()->Item("N_Playback_Renderer_WMR")->trigger();
    EXPECT_EQ(player->Renderer(), TRenderer::kSoftware);
    EXPECT_TRUE(player->Graph()->Active());
    EXPECT_NEAR(double(player->Position()), double(before), 0.05);
    EXPECT_EQ(player->Timeline().CurrentIndex(), 1);

    // mpv drawing into a native window: no flips there, and the menu says so.
    player->Seek(0.1L);
    form.Menu()->Item("N_Playback_Renderer_NUL")->trigger();
    EXPECT_EQ(player->Renderer(), TRenderer::kSimple);
    EXPECT_TRUE(player->Graph()->Active());
    EXPECT_EQ(player->Timeline().CurrentIndex(), 0);
    EXPECT_FALSE(form.Menu()->Item("N_VideoZoom_FlipV")->isEnabled());
    EXPECT_TRUE(TMainMenu::Caption(form.Menu()->Item("N_VideoZoom_FlipV"))
                    .endsWith("(" + QString::fromStdString(LangText("VMROnly")) + ")"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->Graph()->FileLoaded(); }, 5000));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    // mpv has no frame to give until the native window showed the first one.
    QImage native;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          native = frameFromMpv();
          return !native.isNull();
        },
        10000));
    EXPECT_EQ(native.size(), player->Graph()->VideoSize());
  }
  DeleteAllSettings();
}

// mpv drawing into its own native window while the map page (composed
// through OpenGL) shares the main window: the stored choice works from the
// start (once a crash and a black window), and a native window that is made
// again under mpv is let go first and played on at the same place.
TEST(PlayerWindow, SimpleRendererStoredPlaysBesideTheMapAndOutlivesItsWindow) {
  if (!XWithOpenGL()) GTEST_SKIP() << "no X display with OpenGL here (run under xvfb-run)";
  DeleteAllSettings();
  InitLanguages(1033);
  TFormMain::AutoFirstShow = false;
  settings::MenuCheck("N_Playback_Renderer_NUL", false).Set(true);
  settings::MenuCheck("N_Playback_Renderer_EVR", true).Set(false);
  static QStringList glWarnings;
  glWarnings.clear();
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        if (text.contains("non-opengl surface") || text.contains("Failed to make context"))
          glWarnings << text;
      });

  const auto trip = TwoClipTrip("native-trip", 10);
  {
    TFormMain form;
    QStringList warnings;
    TPlaybackController *player = ShowWindow(form, warnings);
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->Renderer(), TRenderer::kSimple);
    player->OpenRow(trip);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Map()->MapReady(); }, 45000));
    // A slow machine may have played most of the trip while the map loaded:
    // from the start again, so that it plays on through what follows.
    player->Seek(0);
    player->SetPlay(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->Position() > 0.05L; }, 10000));
    ASSERT_TRUE(player->Playing());
    // The panels are drawn (the window is not left black around mpv's).
    const QImage panels = form.grab().toImage();
    EXPECT_GT(qGray(panels.pixel(panels.width() - 5, panels.height() / 2)), 100);

    // The surface's native window made again (as Qt does when a window
    // changes how it is composed): mpv lets go first, then plays on.
    QWidget *surface = player->Video()->SurfaceWidget();
    const WId before = surface->winId();
    QSignalSpy ready(player->Graph(), &TFilterGraph::FileReady);
    const long double at = player->Position();
    struct TRemake : QWidget {
      void Remake() {
        destroy();
        create();
      }
    };
    static_cast<TRemake *>(surface)->Remake();  // protected members, same object
    EXPECT_NE(surface->winId(), before);
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_TRUE(player->Playing());
    EXPECT_GE(player->Position(), at - 0.02L);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->Position() > at + 0.05L; }, 10000));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
  }
  qInstallMessageHandler(previous);
  EXPECT_TRUE(glWarnings.isEmpty()) << glWarnings.join('\n').toStdString();
  DeleteAllSettings();
}

}  // namespace
