// The cutting window on a real two-clip trip: a cut across both clips that
// ffmpeg plays, a cancelled cut that leaves nothing, a refusal shown with
// its reason, and the position edits with the default name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include "TestMedia.h"
#include "app/UnitLang.h"
#include "app/UnitReg.h"
#include "app/UnitSettings.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileManager.h"
#include "playback/UnitFormCropping.h"

using namespace tachora;
using namespace tachora::test;

namespace {

// Two touching 4 s clips from 12:30:00, as a trip with its telemetry loaded.
struct TTripFixture {
  std::vector<std::string> clips;
  TFileManager fm{false, nullptr};
  std::shared_ptr<const TRowTelemetry> trip;

  TTripFixture() {
    TMediaRecipe media;
    media.seconds = 4;
    clips = GenerateTrip("cropping", {4, 4}, "2024-05-01 12:30:00", media);
    for (const std::string &c : clips) fm.OpenRecording(c);
    fm.MergeItems({0, 1}, false);
    trip = std::make_shared<TRowTelemetry>(LoadRowTelemetry(fm, fm.GetItem(0)));
  }
};

TTripFixture &Trip() {
  static TTripFixture fixture;
  return fixture;
}

class FormCropping : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteAllSettings();
    out = QString::fromStdString(
        MakeTempDir("form-cropping-" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())));
    settings::kCopyFolder.Set(out);
    ASSERT_EQ(Trip().trip->Row.Items.size(), 2u);
  }

  QMessageBox *Message() const {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->objectName() == "MessageCutting" && w->isVisible())
        return static_cast<QMessageBox *>(w);
    return nullptr;
  }

  QString out;
  QWidget window;
  TFormCropping form{&window};
};

}  // namespace

TEST_F(FormCropping, CutsAcrossBothClipsIntoAFileThatPlays) {
  QSignalSpy saved(&form, &TFormCropping::FragmentSaved);
  QSignalSpy finished(&form, &TFormCropping::CutFinished);
  form.Open(Trip().trip, 0.25, 0.75);
  ASSERT_TRUE(form.isVisible());
  EXPECT_EQ(form.EditStart->text(), "0.250000");
  EXPECT_EQ(form.EditFinish->text(), "0.750000");
  // 2 s to 6 s of the trip, in the folder used last.
  const QString name = form.EditFileName->text();
  EXPECT_EQ(QFileInfo(name).absolutePath(), QFileInfo(out).absoluteFilePath());
  EXPECT_TRUE(QFileInfo(name).fileName().startsWith("Fragment of ")) << name.toStdString();
  EXPECT_TRUE(name.endsWith(" (12-30-02 - 12-30-06).mov")) << name.toStdString();
  EXPECT_EQ(form.LabelTime->text(), "00:00:04");
  EXPECT_TRUE(form.LabelStartTime->text().contains("00:00:02,     2024-05-01 12:30:02"))
      << form.LabelStartTime->text().toStdString();

  form.ButtonStart->click();
  EXPECT_TRUE(form.Running());
  EXPECT_FALSE(form.ButtonStart->isEnabled());
  EXPECT_FALSE(form.EditFileName->isEnabled());
  EXPECT_TRUE(form.ButtonCancel->isEnabled());
  ASSERT_TRUE(finished.wait(60000));

  ASSERT_EQ(saved.size(), 1);
  const QString movie = saved.first().at(0).toString();
  EXPECT_EQ(movie, name);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.Running());
  EXPECT_TRUE(form.ButtonStart->isEnabled());
  EXPECT_EQ(Message(), nullptr);
  std::string errors;
  EXPECT_TRUE(DecodesCleanly(movie.toStdString(), &errors)) << errors;
  // Samples of both clips: about 4 s (the start moves back to a key frame).
  const auto streams = ProbeStreams(movie.toStdString());
  ASSERT_FALSE(streams.empty());
  EXPECT_EQ(streams[0].type, "video");
  EXPECT_GE(streams[0].duration, 3.9);
  EXPECT_LE(streams[0].duration, 5.1);
  EXPECT_EQ(settings::kCopyFolder.Get(), QFileInfo(out).absoluteFilePath());
}

// A moment of a front and a rear camera: one file per camera, named with
// its marker, and a second cut asks about both.
TEST_F(FormCropping, CutsEveryCameraIntoItsOwnFile) {
  const QString card = out + "/card";
  QDir().mkpath(card);
  for (const char *cam : {"F", "R"})
    QFile::copy(QString::fromStdString(Trip().clips[0]), card + "/20240501_123000_" + cam + ".MOV");
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.toStdString());
  ASSERT_EQ(fm.RowCount(), 1);
  auto trip = std::make_shared<TRowTelemetry>(LoadRowTelemetry(fm, fm.GetItem(0)));
  ASSERT_EQ(trip->Row.Items.at(0).Channels.size(), 1u);

  QSignalSpy saved(&form, &TFormCropping::FragmentSaved);
  QSignalSpy finished(&form, &TFormCropping::CutFinished);
  form.Open(trip, 0.25, 0.75);
  form.EditFileName->setText(out + "/two.mov");
  form.ButtonStart->click();
  ASSERT_TRUE(finished.wait(60000));
  ASSERT_EQ(saved.size(), 2);
  EXPECT_EQ(Message(), nullptr);
  const QString expected[] = {out + "/two_F.mov", out + "/two_R.mov"};
  for (int k = 0; k < 2; ++k) {
    const QString movie = saved.at(k).at(0).toString();
    EXPECT_EQ(QFileInfo(movie).absoluteFilePath(), QFileInfo(expected[k]).absoluteFilePath());
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(movie.toStdString(), &errors)) << errors;
    const auto streams = ProbeStreams(movie.toStdString());
    ASSERT_FALSE(streams.empty());
    EXPECT_GE(streams[0].duration, 1.9);
    EXPECT_LE(streams[0].duration, 3.1);
  }

  QString asked;
  form.SetAsk([&](const QString &text) {
    asked = text;
    return false;
  });
  form.Open(trip, 0.25, 0.75);
  form.EditFileName->setText(out + "/two.mov");
  form.ButtonStart->click();
  EXPECT_FALSE(form.Running());
  EXPECT_TRUE(asked.contains("two_F.mov")) << asked.toStdString();
  EXPECT_TRUE(asked.contains("two_R.mov")) << asked.toStdString();
  form.hide();
}

TEST_F(FormCropping, CancelStopsTheCutAndLeavesNoFile) {
  QSemaphore reached, go;
  std::atomic<int> calls{0};
  form.SetWorkerProgressHook([&]() {
    if (calls++ == 0) {
      reached.release();
      go.acquire();
    }
  });
  QSignalSpy saved(&form, &TFormCropping::FragmentSaved);
  QSignalSpy finished(&form, &TFormCropping::CutFinished);
  form.Open(Trip().trip, 0, 1);
  form.ButtonStart->click();
  ASSERT_TRUE(QTest::qWaitFor([&]() { return reached.tryAcquire(); }, 30000));
  form.ButtonCancel->click();
  EXPECT_FALSE(form.isVisible());
  go.release();
  ASSERT_TRUE(finished.wait(60000));
  const auto result = finished.first().at(0).value<TCutResult>();
  EXPECT_EQ(result.error, TCutError::Cancelled);
  EXPECT_FALSE(result.written);
  EXPECT_TRUE(saved.isEmpty());
  EXPECT_EQ(Message(), nullptr);  // cancelling is not a failure to report
  EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
      << QDir(out)
             .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
             .join(", ")
             .toStdString();
  // The window can be used again.
  form.Open(Trip().trip, 0, 1);
  EXPECT_TRUE(form.ButtonStart->isEnabled());
}

TEST_F(FormCropping, AnOutputReplacingARecordingIsRefusedWithTheReason) {
  const std::string source = Trip().clips[0];
  QFile f(QString::fromStdString(source));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray before = f.readAll();
  f.close();

  QStringList asked;
  bool answer = false;
  form.SetAsk([&](const QString &text) {
    asked << text;
    return answer;
  });
  QSignalSpy finished(&form, &TFormCropping::CutFinished);
  form.Open(Trip().trip, 0.1, 0.9);
  form.EditFileName->setText(QString::fromStdString(source));
  // Declining the replace question starts nothing.
  form.ButtonStart->click();
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].contains(QString::fromStdString(source)));
  EXPECT_FALSE(form.Running());

  answer = true;
  form.ButtonStart->click();
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_EQ(finished.first().at(0).value<TCutResult>().error, TCutError::ReplacesSource);
  QMessageBox *box = Message();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().contains(QString::fromStdString(LangText("Mes_CutFailed"))));
  EXPECT_TRUE(box->text().contains(QString::fromStdString(source))) << box->text().toStdString();
  EXPECT_TRUE(box->text().contains("which the fragment is cut from"));
  box->close();
  // The window stays for another name; the recording is untouched.
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.ButtonStart->isEnabled());
  // No stage of the refused cut is left on show.
  EXPECT_TRUE(form.LabelAction->text().isEmpty());
  EXPECT_TRUE(form.LabelCurrentFile->text().isEmpty());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
}

TEST_F(FormCropping, PositionEditsAreClampedAndTheNameFollowsThem) {
  form.Open(Trip().trip, 0, 1);
  EXPECT_TRUE(form.EditFileName->text().endsWith(" (12-30-00 - 12-30-08).mov"));
  auto edit = [&](QLineEdit *e, const QString &text) {
    e->setText(text);
    emit e->editingFinished();
  };
  edit(form.EditStart, "0,5");  // a comma is read as well
  EXPECT_EQ(form.EditStart->text(), "0.500000");
  EXPECT_TRUE(form.EditFileName->text().endsWith(" (12-30-04 - 12-30-08).mov"));
  EXPECT_EQ(form.LabelTime->text(), "00:00:04");
  edit(form.EditFinish, "0.2");  // before A: held at A
  EXPECT_EQ(form.EditFinish->text(), "0.500000");
  edit(form.EditFinish, "7");
  EXPECT_EQ(form.EditFinish->text(), "1.000000");
  edit(form.EditStart, "junk");
  EXPECT_EQ(form.EditStart->text(), "0.000000");
  edit(form.EditFinish, "");
  EXPECT_EQ(form.EditFinish->text(), "1.000000");
  // A name the user typed is kept.
  form.EditFileName->setText(out + "/mine.mov");
  edit(form.EditStart, "0.25");
  EXPECT_EQ(form.EditFileName->text(), out + "/mine.mov");
  // B = A is refused with a reason and writes nothing.
  edit(form.EditStart, "1");
  QSignalSpy finished(&form, &TFormCropping::CutFinished);
  form.ButtonStart->click();
  ASSERT_TRUE(finished.wait(30000));
  EXPECT_EQ(finished.first().at(0).value<TCutResult>().error, TCutError::EmptySelection);
  ASSERT_NE(Message(), nullptr);
  Message()->close();
  EXPECT_FALSE(QFileInfo::exists(out + "/mine.mov"));
}

// Pictures of the window in both languages for a person to look at: only
// when TACHORA_SCREENSHOT_DIR names a folder.
TEST_F(FormCropping, Screenshots) {
  const QString dir = qEnvironmentVariable("TACHORA_SCREENSHOT_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "TACHORA_SCREENSHOT_DIR not set";
  const int english = CurrentLanguage();
  // The second picture of each language is taken while a cut is held at
  // one of its progress calls.
  QSemaphore reached, go;
  std::atomic<int> calls{0};
  form.SetWorkerProgressHook([&]() {
    if (++calls == 6) {
      reached.release();
      go.acquire();
    }
  });
  for (int i = 0; i < static_cast<int>(Languages().size()); ++i) {
    SetCurrentLanguage(i);
    form.Translate();
    form.Open(Trip().trip, 0.25, 0.75);
    QTest::qWait(200);
    const QString lang = QString::fromStdString(LangText("LangID"));
    form.grab().save(dir + "/cropping-" + lang + ".png");
    calls = 0;
    QSignalSpy finished(&form, &TFormCropping::CutFinished);
    form.EditFileName->setText(out + "/shot-" + lang + ".mov");
    form.ButtonStart->click();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return reached.tryAcquire(); }, 30000));
    QTest::qWait(200);
    form.grab().save(dir + "/cropping-" + lang + "-cutting.png");
    go.release();
    ASSERT_TRUE(finished.wait(30000));
  }
  SetCurrentLanguage(english);
}

// A cut to X.mov asks before it replaces an unrelated X.dat beside it and
// names every file it would replace; the movie that the save dialog has
// already asked about is not asked about again.
TEST(CutReplaceQuestion, NamesEveryFileTheCutWouldReplace) {
  const QString dir = QString::fromStdString(MakeTempDir("cut-replace-question"));
  TCutTrip trip;
  trip.recordings.push_back({.path = "/card/FILE0001.MOV", .hasTelemetry = true});
  TCutOptions o;
  o.output = (dir + "/X.mov").toStdString();
  const QString movie = dir + "/X.mov", dat = dir + "/X.dat";
  EXPECT_TRUE(CutReplaceQuestion(trip, o, {}).isEmpty());

  QFile(dat).open(QIODevice::WriteOnly);
  const QString one = CutReplaceQuestion(trip, o, {});
  EXPECT_TRUE(one.startsWith(QString::fromStdString(LangText("Mes_FileExists"))))
      << one.toStdString();
  EXPECT_TRUE(one.contains(dat));
  o.meta = false;  // no telemetry written: X.dat stays whatever it is
  EXPECT_TRUE(CutReplaceQuestion(trip, o, {}).isEmpty());
  o.meta = true;

  QFile(movie).open(QIODevice::WriteOnly);
  const QString both = CutReplaceQuestion(trip, o, {});
  EXPECT_TRUE(both.startsWith(QString::fromStdString(LangText("Mes_FilesExist"))));
  EXPECT_TRUE(both.contains(movie + "\n" + dat)) << both.toStdString();
  const QString confirmed = CutReplaceQuestion(trip, o, movie);
  EXPECT_FALSE(confirmed.contains(movie));
  EXPECT_TRUE(confirmed.contains(dat));
  trip.recordings[0].hasTelemetry = false;
  EXPECT_TRUE(CutReplaceQuestion(trip, o, movie).isEmpty());
}

// What the user is told after the cuts of a trip's cameras.
TEST(ChannelCutsMessage, SaysWhichCameraFailedOrStopped) {
  InitLanguages(1033);
  auto cut = [](const char *channel, bool written, TCutError error, bool partial = false) {
    TChannelCutResult r;
    r.Channel = channel;
    r.Partial = partial;
    r.Result.written = written;
    r.Result.error = error;
    r.Result.cancelled = error == TCutError::Cancelled;
    return r;
  };
  const QString failed = QString::fromStdString(LangText("Mes_CutFailed"));
  struct TCase {
    std::vector<TChannelCutResult> Results;
    bool Written;
    std::vector<QString> Says;  // empty: nothing to say
  };
  const TCase cases[] = {
      {{cut("", true, TCutError::None)}, true, {}},
      {{cut("", false, TCutError::Cancelled)}, false, {}},
      {{cut("F", true, TCutError::None), cut("R", true, TCutError::None)}, true, {}},
      {{cut("F", false, TCutError::Cancelled), cut("R", false, TCutError::Cancelled)}, false, {}},
      {{cut("F", true, TCutError::None), cut("R", false, TCutError::Cancelled)},
       true,
       {"Camera R: stopped"}},
      {{cut("F", true, TCutError::None), cut("R", true, TCutError::None, true)},
       true,
       {"Camera R covers only part"}},
      {{cut("F", false, TCutError::NothingReadable), cut("R", true, TCutError::None)},
       true,
       {"Camera F: " + failed}},
      {{cut("F", false, TCutError::NothingReadable), cut("R", false, TCutError::NothingReadable)},
       false,
       {"Camera F: " + failed, "Camera R: " + failed}},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(k);
    bool written = !cases[k].Written;
    const QString text = ChannelCutsMessage(cases[k].Results, written);
    EXPECT_EQ(written, cases[k].Written);
    EXPECT_EQ(text.isEmpty(), cases[k].Says.empty()) << text.toStdString();
    for (const QString &part : cases[k].Says)
      EXPECT_TRUE(text.contains(part)) << text.toStdString();
  }
}
