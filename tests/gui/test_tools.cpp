// The about window shows only what is real, in both languages; "Show in
// File Manager" falls back to opening the folder when no file manager
// answers over D-Bus.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "app/UnitDesktopIntegration.h"
#include "app/UnitLang.h"
#include "playback/UnitMpvVersion.h"
#include "tools/UnitFormAbout.h"

using namespace tachora;

namespace {

class TUrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> Urls;
 public slots:
  void Open(const QUrl &url) { Urls << url; }
};

QStringList VisibleTexts(const QWidget &w) {
  QStringList out;
  for (const QLabel *l : w.findChildren<QLabel *>())
    if (l->isVisibleTo(&w) && !l->text().isEmpty()) out << l->text();
  return out;
}

}  // namespace

TEST(AboutWindow, ShowsVersionsAndNoInventedAddresses) {
  EXPECT_TRUE(MpvVersionText().contains(QRegularExpression("^libmpv \\d+\\.\\d+$")))
      << MpvVersionText().toStdString();
  for (int lang : {1033, 1049}) {
    InitLanguages(lang);
    TFormAbout about(nullptr);
    about.Translate();
    about.show();
    const QStringList texts = VisibleTexts(about);
    const QString all = texts.join('\n');
    EXPECT_TRUE(texts.contains("Tachora"));
    EXPECT_TRUE(texts.contains(ShortVersionText()));
    EXPECT_TRUE(all.contains(QString("Qt ") + qVersion())) << all.toStdString();
    EXPECT_TRUE(all.contains(MpvVersionText()));
    EXPECT_TRUE(about.LabelLibraries->text().startsWith(
        QString::fromStdString(LangText("About_Libraries")) + ": "));
    for (const char *invented : {"example.org", "@", "http", "Donate"})
      EXPECT_FALSE(all.contains(invented)) << invented;
    // This build names no licence: no licence line.
    EXPECT_EQ(about.LabelLicence->isVisibleTo(&about), !LicenceText().isEmpty());
    // Every line stays inside the window.
    for (const QLabel *l : about.findChildren<QLabel *>()) {
      if (l->isVisibleTo(&about)) {
        EXPECT_TRUE(about.rect().contains(l->geometry())) << l->objectName().toStdString();
      }
    }
  }
  EXPECT_EQ(QString::fromStdString(LangText("About_Libraries")), QString::fromUtf8("Библиотеки"));
  InitLanguages(1033);
}

TEST(DesktopIntegration, FolderIsOpenedWhenNoFileManagerAnswers) {
  QTemporaryDir dir;
  const QString file = dir.filePath("FILE0001.MOV");
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  EXPECT_EQ(FolderUrlOf(file), QUrl::fromLocalFile(dir.path()));
  EXPECT_EQ(FolderUrlOf(dir.path()), QUrl::fromLocalFile(dir.path()));

  // No session bus to ask (or nobody answering on it): the folder opens.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tachora-test-bus");
  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "Open");
  QObject context;
  ShowInFileManager(file, &context);
  EXPECT_TRUE(QTest::qWaitFor([&catcher]() { return !catcher.Urls.isEmpty(); }, 5000));
  ASSERT_EQ(catcher.Urls.size(), 1);
  EXPECT_EQ(catcher.Urls[0], QUrl::fromLocalFile(dir.path()));
  // A folder is opened as it is.
  ShowInFileManager(dir.path(), &context);
  EXPECT_TRUE(QTest::qWaitFor([&catcher]() { return catcher.Urls.size() == 2; }, 5000));
  QDesktopServices::unsetUrlHandler("file");
}

#include "test_tools.moc"
