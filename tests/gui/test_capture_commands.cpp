// The saving commands over a fake player: suggested names, frames written
// as JPEG and decoded back, the screen-size fallback with its one warning,
// window captures, and "Save selected fragment" with and without a
// selection.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "playback/UnitCaptureCommands.h"
#include "playback/UnitFormCropping.h"
#include "playback/UnitFrameCapture.h"
#include "playback/UnitPlayerAccess.h"

using namespace tachora;

namespace {

constexpr double kSec = 1.0 / 86400;

class TFakePlayer : public IPlayerAccess {
 public:
  std::shared_ptr<const TRowTelemetry> trip;
  bool active = true;
  long double position = 0, a = 0, b = 0;
  QImage snapshot;
  QWidget *video = nullptr;
  int pauses = 0;

  std::shared_ptr<const TRowTelemetry> Trip() const override { return trip; }
  bool IsActive() const override { return active; }
  long double Position() override { return position; }
  long double SelectionA() const override { return a; }
  long double SelectionB() const override { return b; }
  QImage Snapshot() override { return snapshot; }
  // With `later` set the picture is handed over when the test says so.
  bool later = false;
  std::vector<std::function<void(const QImage &)>> waiting;
  void RequestSnapshot(std::function<void(const QImage &)> done) override {
    if (later)
      waiting.push_back(std::move(done));
    else
      done(snapshot);
  }
  QWidget *VideoWidget() const override { return video; }
  void Pause() override { ++pauses; }
  void Stop() override {}
};

// A 10-minute trip of two recordings from 2024-05-01 12:30:00 (times only,
// no files).
std::shared_ptr<const TRowTelemetry> TenMinuteTrip() {
  auto t = std::make_shared<TRowTelemetry>();
  const TDateTime start = EncodeDate(2024, 5, 1) + EncodeTime(12, 30, 0, 0);
  t->Row.Summary.Start = start;
  t->Row.Summary.End = start + 600 * kSec;
  t->Row.Summary.DisplayName = "FILE0001-2";
  for (int i = 0; i < 2; ++i) {
    TFileItemSubitem r;
    r.Path = "/card/FILE000" + std::to_string(i + 1) + ".MOV";
    r.Start = start + i * 300 * kSec;
    r.End = r.Start + 300 * kSec;
    r.RelStart = i * 0.5L;
    r.RelEnd = r.RelStart + 0.5L;
    t->Row.Items.push_back(r);
    t->Tracks.push_back(std::make_unique<TMovingInfo>());
  }
  return t;
}

QImage Halves(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::red);
  for (int y = 0; y < h; ++y)
    for (int x = w / 2; x < w; ++x) img.setPixelColor(x, y, Qt::blue);
  return img;
}

class CaptureCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    menu.CaptureDefaults();
    menu.BuildLanguageMenu();
    commands = std::make_unique<TCommands>(&menu);
    menu.BuildPopupCopies();
    video.resize(160, 90);
    player.video = &video;
    player.trip = TenMinuteTrip();
    controller = std::make_unique<TCaptureCommands>(&window, *commands, &player,
                                                    [this](const QStringList &p) { opened << p; });
    controller->SetNotify([this](const QString &text) { notes << text; });
    controller->SetSaveAs([this](QWidget *, const QImage &picture, const QString &folder,
                                 const QString &suggested, const char *titleKey) {
      asked << suggested;
      titles << titleKey;
      lastFolder = folder;
      const QString path = dir.filePath(suggested);
      std::string error;
      return WriteJpegFile(path.toStdString(), picture, kJpegQuality, &error) ? path : QString();
    });
  }

  QTemporaryDir dir;
  QMainWindow window;
  TMainMenu menu{&window};
  std::unique_ptr<TCommands> commands;
  QLabel video{&window};
  TFakePlayer player;
  std::unique_ptr<TCaptureCommands> controller;
  QStringList opened, notes, asked, titles;
  QString lastFolder;
};

}  // namespace

TEST_F(CaptureCommands, FrameIsSavedAtTheVideoSizeWithTheSuggestedName) {
  player.snapshot = Halves(320, 180);
  player.position = 83.456L / 600;
  ASSERT_TRUE(commands->Run("N_Playback_Save_Frame"));
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0], "Frame 2024-05-01 12-31-23 (00-01-23.456).jpg");
  EXPECT_EQ(titles[0], "N_Playback_Save_Frame");
  EXPECT_EQ(player.pauses, 1);
  EXPECT_TRUE(notes.isEmpty());  // a real snapshot needs no warning
  const QImage back(dir.filePath(asked[0]));
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.size(), QSize(320, 180));
  EXPECT_NEAR(back.pixelColor(40, 90).red(), 255, 10);
  EXPECT_NEAR(back.pixelColor(280, 90).blue(), 255, 10);
  EXPECT_NEAR(back.pixelColor(280, 90).red(), 0, 10);

  // The next capture starts in the folder of the last one; without a known
  // trip time the name holds only the time from the start.
  player.trip = std::make_shared<TRowTelemetry>();
  player.position = 0;
  controller->SaveFrame();
  EXPECT_EQ(lastFolder, QFileInfo(dir.path()).absoluteFilePath());
  EXPECT_EQ(asked.last(), "Frame (00-00-00.000).jpg");
  // No recording open: nothing to capture.
  player.active = false;
  EXPECT_TRUE(controller->SaveFrame().isEmpty());
  EXPECT_EQ(asked.size(), 2);
}

// mpv answers a screenshot later: the frame is saved then, under the name
// of the position it was asked at; repeated presses meanwhile ask nothing.
TEST_F(CaptureCommands, FrameHandedOverLaterIsSavedOnce) {
  player.later = true;
  player.position = 83.456L / 600;
  EXPECT_TRUE(controller->SaveFrame().isEmpty());
  player.position = 0.9L;
  EXPECT_TRUE(controller->SaveFrame().isEmpty());
  ASSERT_EQ(player.waiting.size(), 1u);
  EXPECT_TRUE(asked.isEmpty());
  player.waiting[0](Halves(320, 180));
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0], "Frame 2024-05-01 12-31-23 (00-01-23.456).jpg");
  EXPECT_EQ(QImage(dir.filePath(asked[0])).size(), QSize(320, 180));
  EXPECT_TRUE(notes.isEmpty());

  // The next press asks again; an answer after the window closed is dropped.
  controller->SaveFrame();
  ASSERT_EQ(player.waiting.size(), 2u);
  controller.reset();
  player.waiting[1](Halves(320, 180));
  EXPECT_EQ(asked.size(), 1);
}

TEST_F(CaptureCommands, WithoutASnapshotTheShownPictureIsSavedAndTheUserToldOnce) {
  video.setStyleSheet("background: green");
  player.position = 0.5L;
  const QString first = controller->SaveFrame();
  ASSERT_FALSE(first.isEmpty());
  EXPECT_EQ(QImage(first).size(), video.size());
  ASSERT_EQ(notes.size(), 1);
  EXPECT_TRUE(notes[0].startsWith(
      QString::fromStdString(LangText("Mes_EVR_Screenshot")).section('\r', 0, 0)));
  EXPECT_FALSE(notes[0].contains('\r'));
  controller->SaveFrame();
  EXPECT_EQ(notes.size(), 1);
  EXPECT_EQ(asked.size(), 2);
}

TEST_F(CaptureCommands, WindowCaptureTakesTheWholeWindow) {
  window.resize(400, 300);
  player.position = 0.25L;
  ASSERT_TRUE(commands->Run("N_Playback_Save_Wind"));
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0], "Window 2024-05-01 12-32-30 (00-02-30.000).jpg");
  EXPECT_EQ(titles[0], "N_Playback_Save_Wind");
  EXPECT_EQ(QImage(dir.filePath(asked[0])).size(), window.size());
}

TEST_F(CaptureCommands, SaveFragmentNeedsASelectionAndAddsTheNewFile) {
  TFormCropping *form = controller->Cropping();
  // No selection (B <= A), then no trip: the hint instead of the window.
  player.a = 0.6L;
  player.b = 0.6L;
  ASSERT_TRUE(commands->Run("N_File_Save_Video"));
  player.trip = nullptr;
  player.b = 0.9L;
  controller->SaveFragment();
  ASSERT_EQ(notes.size(), 2);
  EXPECT_EQ(notes[0], QString::fromStdString(LangText("Cropping_Info")));
  EXPECT_FALSE(form->isVisible());

  player.trip = TenMinuteTrip();
  player.a = 0.25L;
  controller->SaveFragment();
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(player.pauses, 1);
  EXPECT_EQ(form->EditStart->text(), "0.250000");
  EXPECT_EQ(form->EditFinish->text(), "0.900000");
  EXPECT_TRUE(
      form->EditFileName->text().endsWith("Fragment of FILE0001-2 (12-32-30 - 12-39-00).mov"))
      << form->EditFileName->text().toStdString();

  // A saved fragment joins the list; a path that does not exist does not.
  QSignalSpy added(controller.get(), &TCaptureCommands::FragmentAdded);
  emit form->FragmentSaved(dir.filePath("missing.mov"));
  EXPECT_TRUE(opened.isEmpty());
  QFile made(dir.filePath("made.mov"));
  ASSERT_TRUE(made.open(QIODevice::WriteOnly));
  made.close();
  emit form->FragmentSaved(made.fileName());
  EXPECT_EQ(opened, QStringList{made.fileName()});
  EXPECT_EQ(added.size(), 1);
}
