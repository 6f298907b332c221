// The device setup window against folders standing in for memory cards:
// a new file from the template, a longer file written back byte for byte
// but for the settings, the frame size and time zone rules, and a card that
// disappears before writing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include "app/UnitFileIO.h"
#include "app/UnitLang.h"
#include "tools/UnitFormSetupDevice.h"

using namespace tachora;

namespace {

struct TSetupFixture : ::testing::Test {
  QTemporaryDir card;
  TFormSetupDevice form{nullptr};
  QStringList questions, messages;
  bool answer = true;

  void SetUp() override {
    form.Ask = [this](const QString &text) {
      questions << text;
      return answer;
    };
    form.Inform = [this](const QString &text, bool) { messages << text; };
  }
  QString CfgPath() const { return QDir(card.path()).filePath("setup.cfg"); }
  void WriteCfg(const QByteArray &data) {
    QFile f(CfgPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
  }
  QByteArray ReadCfg() const {
    QFile f(CfgPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  void OneCard() { form.SetDrives({{card.path(), "CARD", 8LL << 30, 5LL << 29}}); }
};

}  // namespace

TEST_F(TSetupFixture, MissingFileAnsweredYesWritesTemplateWithChoices) {
  OneCard();
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].startsWith(QString::fromStdString(LangText("SetupDevice_NoConfig"))));
  EXPECT_TRUE(questions[0].contains("8Gb  (2.5Gb free)   CARD"));
  ASSERT_TRUE(form.ButtonWrite->isEnabled());
  // The template stands for 1080P 1920x1080 and GMT+4.
  EXPECT_EQ(form.ComboBoxFrameSize->currentIndex(), 0);
  EXPECT_EQ(form.ComboBoxTimeZone->currentText(), "GMT+4");

  form.ComboBoxFrameSize->setCurrentIndex(2);
  emit form.ComboBoxFrameSize->activated(2);
  form.ComboBoxTimeZone->setCurrentIndex(9);  // GMT-3
  form.GSensor[0]->setValue(1);
  form.GSensor[1]->setValue(2);
  form.GSensor[2]->setValue(10);
  EXPECT_EQ(form.LabelValue[2]->text(), "10");
  const uint64_t syncs = DataSyncCount();
  ASSERT_TRUE(form.Write());
  EXPECT_EQ(messages, QStringList{"Ok"});
  EXPECT_EQ(DataSyncCount(), syncs + 1);  // on the card before "Ok" is said

  QByteArray expected = SetupTemplate();
  expected[6] = 17;
  expected[7] = char(0xFD);
  expected[8] = 1;
  expected[9] = 2;
  expected[10] = 10;
  EXPECT_EQ(ReadCfg(), expected);
  EXPECT_EQ(expected.size(), 128);
  EXPECT_EQ(expected.right(4), QByteArray("\x50\x0E\x05\x53"));
}

TEST_F(TSetupFixture, DeclinedQuestionLeavesCardUntouched) {
  answer = false;
  OneCard();
  EXPECT_FALSE(form.ButtonWrite->isEnabled());
  EXPECT_FALSE(form.ComboBoxFrameSize->isEnabled());
  EXPECT_FALSE(form.Write());
  EXPECT_FALSE(QFile::exists(CfgPath()));
}

TEST_F(TSetupFixture, LongerFileKeepsEveryOtherByte) {
  QByteArray data(200, '\0');
  for (int i = 0; i < data.size(); ++i) data[i] = char(i * 37 + 11);
  data[6] = 4;           // one below 5: the first row
  data[7] = char(0xF6);  // -10
  data[8] = char(200);   // limited to 10
  data[9] = 3;
  data[10] = 7;
  WriteCfg(data);
  OneCard();
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(form.ComboBoxFrameSize->currentIndex(), 0);
  EXPECT_EQ(form.ComboBoxTimeZone->currentText(), "GMT-10");
  EXPECT_EQ(form.GSensor[0]->value(), 10);
  EXPECT_EQ(form.GSensor[2]->value(), 7);
  ASSERT_TRUE(form.Write());

  const QByteArray out = ReadCfg();
  ASSERT_EQ(out.size(), 200);
  for (int i = 0; i < 200; ++i)
    if (i < 6 || i > 10) {
      ASSERT_EQ(out[i], data[i]) << "byte " << i;
    }
  EXPECT_EQ(out[6], 5);
  EXPECT_EQ(out[7], char(0xF6));
  EXPECT_EQ(out[8], 10);
}

TEST_F(TSetupFixture, UnknownCodeShowsCustomRowAndKeepsIt) {
  QByteArray data = SetupTemplate();
  data[6] = 6;
  data[7] = 40;  // no time zone: GMT+0
  WriteCfg(data);
  OneCard();
  EXPECT_EQ(form.ComboBoxFrameSize->currentIndex(), kFrameSizeRows);
  EXPECT_EQ(form.ComboBoxFrameSize->currentText(), "Special (6)");
  EXPECT_EQ(form.ComboBoxTimeZone->currentText(), "GMT+0");

  // Choosing the custom row asks for a code; text that is no number gives 5.
  form.AskCode = [](const QString &, const QString &, int current) {
    EXPECT_EQ(current, 6);
    return 5;
  };
  emit form.ComboBoxFrameSize->activated(kFrameSizeRows);
  EXPECT_EQ(form.ComboBoxFrameSize->itemText(kFrameSizeRows), "Special (5)");
  form.AskCode = [](const QString &, const QString &, int) { return 44; };
  emit form.ComboBoxFrameSize->activated(kFrameSizeRows);
  ASSERT_TRUE(form.Write());
  EXPECT_EQ(ReadCfg()[6], 44);
  EXPECT_EQ(FrameSizeRowOf(26), 4);  // 27 - 1: the second WVGA row
  EXPECT_TRUE(QString::fromUtf8(FrameSize(3).Text).contains(QChar(0x0445)));
}

TEST_F(TSetupFixture, TwoDrivesSelectNothing) {
  QTemporaryDir other;
  form.SetDrives({{card.path(), "A", 1LL << 30, 0}, {other.path(), "B", 1LL << 30, 0}});
  EXPECT_EQ(form.ComboBoxDevice->currentIndex(), -1);
  EXPECT_TRUE(form.SetupData().isEmpty());
  EXPECT_TRUE(questions.isEmpty());
  form.LoadDrive(1);
  EXPECT_EQ(form.SetupPath(), QDir(other.path()).filePath("setup.cfg"));
  EXPECT_EQ(questions.size(), 1);
}

TEST_F(TSetupFixture, BadFilesAndPulledCardGiveMessages) {
  WriteCfg("\x0E\x01\x52");  // too short to hold the settings
  OneCard();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(CfgPath()));
  ASSERT_EQ(questions.size(), 1);  // offered a new file instead
  ASSERT_TRUE(form.ButtonWrite->isEnabled());

  // The card is pulled out before writing: a clear message, nothing written.
  messages.clear();
  ASSERT_TRUE(card.remove());
  EXPECT_FALSE(form.Write());
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith(QString::fromStdString(LangText("SetupDevice_WriteError"))));
  EXPECT_FALSE(QFile::exists(CfgPath()));
}

// The labels of the lists end in a colon, the frame size is "Picture" in
// both languages' words, the sliders' heading has no colon.
TEST(SetupDeviceLabels, PictureAndColonsInBothLanguages) {
  const struct {
    int lang;
    QStringList labels;
  } cases[] = {
      {1033, {"Device:", "Picture:", "Time Zone:", "G-Sensor Sensitivity"}},
      {1049,
       {QString::fromUtf8("Устройство:"), QString::fromUtf8("Разрешение:"),
        QString::fromUtf8("Часовой пояс:"), QString::fromUtf8("Чувствительность G-сенсора")}},
  };
  for (const auto &c : cases) {
    InitLanguages(c.lang);
    TFormSetupDevice form(nullptr);
    QStringList shown;
    for (const QLabel *l : form.findChildren<QLabel *>()) shown << l->text();
    for (const QString &label : c.labels)
      EXPECT_TRUE(shown.contains(label)) << c.lang << " " << label.toStdString();
    EXPECT_FALSE(shown.contains("Frame Size")) << c.lang;
  }
  InitLanguages(1033);
}
