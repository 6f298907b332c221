// The update check against a small HTTP server on 127.0.0.1: the request,
// the offer, the version comparison, progress, and the automatic update that
// replaces the program only with a download matching the announced SHA-256.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "app/UnitFormMain.h"
#include "app/UnitSettings.h"
#include "tools/UnitFormAutoUpdate.h"
#include "tools/UnitToolsController.h"

using namespace tachora;

namespace {

// Answers each request with the reply stored for its path, then closes.
class THttpServer : public QObject {
 public:
  QHash<QByteArray, QByteArray> Replies;
  QList<QByteArray> Requests;

  THttpServer() {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this]() {
      QTcpSocket *s = server_.nextPendingConnection();
      auto *buffer = new QByteArray;
      connect(s, &QTcpSocket::readyRead, this, [this, s, buffer]() {
        *buffer += s->readAll();
        if (!buffer->contains("\r\n\r\n")) return;
        Requests << *buffer;
        const QByteArray path = buffer->split(' ').value(1);
        s->write(Replies.value(path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
        s->disconnectFromHost();
        delete buffer;
      });
      connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    });
  }
  quint16 Port() const { return server_.serverPort(); }

 private:
  QTcpServer server_;
};

QByteArray Reply(const QByteArray &body, bool withLength = true) {
  return "HTTP/1.1 200 OK\r\nServer: test\r\n" +
         (withLength ? "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
                     : QByteArray()) +
         "\r\n" + body;
}

struct TUpdateFixture : ::testing::Test {
  THttpServer http;
  TFormAutoUpdate form{nullptr};
  QTemporaryDir dir;
  QString program;
  QStringList restarted, errors, opened;

  void SetUp() override {
    settings::kUpdateServer.Set("127.0.0.1:" + QString::number(http.Port()));
    program = dir.filePath("tachora");
    QFile f(program);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old program");
    f.close();
    form.ProgramPath = program;
    form.Restart = [this](const QString &p) { restarted << p; };
    form.ShowError = [this](const QString &e) { errors << e; };
    form.OpenUrl = [this](const QString &u) { opened << u; };
  }
  void TearDown() override { settings::kUpdateServer.Reset(); }
  bool Check() {
    QSignalSpy done(&form, &TFormAutoUpdate::CheckDone);
    form.StartCheck(0);
    return done.wait(10000) && done.first().at(0).toBool();
  }
  QByteArray ProgramText() const {
    QFile f(program);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
};

const QByteArray kNewProgram = QByteArray(3000, 'n');

QByteArray VersionFile(const QByteArray &sha) {
  QByteArray body = "version=2.7\r\ndownloadurl=http://127.0.0.1:PORT/new/tachora?x=1\r\n";
  if (!sha.isNull()) body += "SHA256=" + sha + "\r\n";
  return body;
}

}  // namespace

TEST_F(TUpdateFixture, OfferFromLocalServer) {
  // A reply with a length of 52 and the two lines that matter.
  const QByteArray body = "Version=2.7\r\ndownloadurl=http://h.example/d?i=5\r\nx\r\n";
  ASSERT_EQ(body.size(), 52);
  http.Replies["/file/tachora.ini"] = Reply(body);
  ASSERT_TRUE(Check());
  ASSERT_EQ(http.Requests.size(), 1);
  EXPECT_TRUE(http.Requests[0].startsWith("GET /file/tachora.ini HTTP/1.1\r\n"));
  EXPECT_TRUE(http.Requests[0].contains("Host: 127.0.0.1:" + QByteArray::number(http.Port())));
  EXPECT_TRUE(http.Requests[0].contains("User-Agent: Tachora 2.6 (Quorvex Production)\r\n"));
  EXPECT_EQ(form.Info().Version, "2.7");
  EXPECT_EQ(form.Info().DownloadUrl, "http://h.example/d?i=5&version=2.6");
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.LabelVersion->text(), "2.7");
  // No checksum: only the browser is offered.
  EXPECT_FALSE(form.ButtonAuto->isEnabled());
  form.ButtonBrowser->click();
  EXPECT_EQ(opened, QStringList{"http://h.example/d?i=5&version=2.6"});
  EXPECT_FALSE(form.isVisible());
}

TEST_F(TUpdateFixture, NoOfferForEqualLowerOrBrokenReplies) {
  for (const QByteArray &reply :
       {Reply("version=2.6\r\ndownloadurl=http://a/b\r\n"),
        Reply("version=2.10\r\ndownloadurl=http://a/b\r\n"),  // lower as text
        Reply("version=3.0\r\n"),
        QByteArray("HTTP/1.1 500 Oops\r\n\r\nversion=3.0\r\ndownloadurl=http://a/b")}) {
    http.Replies["/file/tachora.ini"] = reply;
    EXPECT_FALSE(Check()) << reply.constData();
    EXPECT_FALSE(form.isVisible());
  }
  // Without a length the body is read until the server closes.
  http.Replies["/file/tachora.ini"] = Reply("version=3.0\r\ndownloadurl=http://a/b", false);
  Check();
  EXPECT_EQ(form.Info().DownloadUrl, "http://a/b&version=2.6");
  EXPECT_TRUE(IsNewerVersion("2.6", "2.6.1"));
  EXPECT_FALSE(IsNewerVersion("2.6", "2.10"));
}

TEST_F(TUpdateFixture, NothingListeningIsSilent) {
  settings::kUpdateServer.Set("127.0.0.1:1");
  EXPECT_FALSE(Check());
  EXPECT_TRUE(errors.isEmpty());
  // No server chosen (the default): nobody is asked.
  http.Replies["/file/tachora.ini"] = Reply("version=3.0\r\ndownloadurl=http://a/b\r\n");
  settings::kUpdateServer.Reset();
  EXPECT_FALSE(Check());
  EXPECT_TRUE(http.Requests.isEmpty());
}

TEST(UpdateCheck, ProgressUrlsAndNames) {
  THttpReply r;
  r.Feed("HTTP/1.1 200 OK\r\ncontent-length: 2048\r\n");
  EXPECT_EQ(r.ContentLength(), -1);
  r.Feed("\r\n" + QByteArray(1000, 'a'));
  EXPECT_EQ(r.ProgressText(), "1 Kb (49%)");
  r.Feed(QByteArray(1048, 'a'));
  EXPECT_TRUE(r.Complete());
  EXPECT_EQ(r.ProgressText(), "2 Kb (100%)");

  TUrlParts u;
  ASSERT_TRUE(SplitDownloadUrl("http://host:8080/a.exe", u));
  EXPECT_EQ(u.Host, "host");
  EXPECT_EQ(u.Port, 8080);
  EXPECT_EQ(u.Path, "/a.exe");
  ASSERT_TRUE(SplitDownloadUrl("http://host:x", u));
  EXPECT_EQ(u.Port, 80);
  EXPECT_EQ(u.Path, "/");
  EXPECT_FALSE(SplitDownloadUrl("ftp://host/a", u));

  QString host;
  quint16 port = 0;
  SplitServer("updates.local", host, port);
  EXPECT_EQ(host, "updates.local");
  EXPECT_EQ(port, 80);

  EXPECT_EQ(VersionedFileName("C:/p/Tachora.exe", "2.7"), "C:/p/Tachora_v2.7.exe");
  EXPECT_EQ(VersionedFileName("/opt/t.d/tachora", "2.7"), "/opt/t.d/tachora_v2.7");
  const QStringList taken{"/b/tachora_v2.6", "/b/tachora_v2.6_"};
  EXPECT_EQ(
      BackupFileName("/b/tachora", "2.6", [&](const QString &p) { return taken.contains(p); }),
      "/b/tachora_v2.6__");
}

TEST_F(TUpdateFixture, AutomaticUpdateOnlyWithMatchingChecksum) {
  const QByteArray sha = QCryptographicHash::hash(kNewProgram, QCryptographicHash::Sha256).toHex();
  QByteArray file = VersionFile(sha).replace("PORT", QByteArray::number(http.Port()));
  http.Replies["/file/tachora.ini"] = Reply(file);
  http.Replies["/new/tachora?x=1&version=2.6"] = Reply(kNewProgram);
  QFile::copy(program, dir.filePath("tachora_v2.6"));  // an older backup
  ASSERT_TRUE(Check());
  ASSERT_TRUE(form.ButtonAuto->isEnabled());

  // A read-only program (an installed package) is not replaced by us.
  QFile::setPermissions(program, QFileDevice::ReadOwner);
  if (!QFileInfo(program).isWritable()) {
    ASSERT_TRUE(Check());
    EXPECT_FALSE(form.ButtonAuto->isEnabled());
  }
  QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  ASSERT_TRUE(Check());

  QSignalSpy failed(&form, &TFormAutoUpdate::UpdateFailed);
  form.ButtonAuto->click();
  ASSERT_TRUE(QTest::qWaitFor([&]() { return !restarted.isEmpty() || !failed.isEmpty(); }, 10000));
  ASSERT_EQ(restarted, QStringList{program}) << errors.join("\n").toStdString();
  EXPECT_EQ(ProgramText(), kNewProgram);
  EXPECT_TRUE(QFileInfo(program).isExecutable());
  QFile backup(dir.filePath("tachora_v2.6_"));
  ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
  EXPECT_EQ(backup.readAll(), "old program");
  EXPECT_FALSE(QFile::exists(dir.filePath("tachora_v2.7")));
}

TEST_F(TUpdateFixture, WrongChecksumLeavesProgramAlone) {
  QByteArray file =
      VersionFile(QByteArray(64, 'a')).replace("PORT", QByteArray::number(http.Port()));
  http.Replies["/file/tachora.ini"] = Reply(file);
  http.Replies["/new/tachora?x=1&version=2.6"] = Reply(kNewProgram);
  ASSERT_TRUE(Check());
  ASSERT_TRUE(form.ButtonAuto->isEnabled());
  QSignalSpy failed(&form, &TFormAutoUpdate::UpdateFailed);
  form.ButtonAuto->click();
  ASSERT_TRUE(failed.wait(10000));
  EXPECT_TRUE(restarted.isEmpty());
  EXPECT_EQ(ProgramText(), "old program");
  EXPECT_EQ(errors.size(), 1);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tachora"});
  // The offer stays, with the browser alone.
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.ButtonAuto->isEnabled());
  EXPECT_TRUE(form.ButtonBrowser->isVisible());
  // A checksum that is no SHA-256 offers only the browser.
  http.Replies["/file/tachora.ini"] =
      Reply(VersionFile("1234").replace("PORT", QByteArray::number(http.Port())));
  ASSERT_TRUE(Check());
  EXPECT_FALSE(form.ButtonAuto->isEnabled());
}

TEST(UpdateCheck, StartsWhenTheMainWindowIsFirstShown) {
  TFormMain::AutoFirstShow = false;
  TFormMain form;
  TFormAutoUpdate *update = form.Tools()->FormAutoUpdate();
  EXPECT_FALSE(update->Busy());
  emit form.FirstShowDone();
  EXPECT_TRUE(update->Busy());
  form.Tools()->HideAll();
  EXPECT_FALSE(update->Busy());
}
