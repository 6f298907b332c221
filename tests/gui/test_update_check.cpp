// The update check against a small HTTP server on 127.0.0.1: the request,
// the offer, the version comparison, the automatic update that replaces the
// program only with a download signed with the release key (here a key pair
// made by the test), and servers that send without end or stall.
#include <gtest/gtest.h>

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

#include "TestSigning.h"
#include "app/UnitFormMain.h"
#include "app/UnitSettings.h"
#include "tools/UnitFormAutoUpdate.h"
#include "tools/UnitToolsController.h"

using namespace tachora;

namespace {

// Answers each request with the reply stored for its path, then closes; or
// hands the connection to the handler stored for its path.
class THttpServer : public QObject {
 public:
  QHash<QByteArray, QByteArray> Replies;
  QHash<QByteArray, std::function<void(QTcpSocket *)>> Handlers;
  QList<QByteArray> Requests;
  qint64 Sent = 0;  // bytes the handlers have sent

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
        delete buffer;
        if (Handlers.contains(path)) {
          disconnect(s, &QTcpSocket::readyRead, this, nullptr);
          Handlers[path](s);
          return;
        }
        s->write(Replies.value(path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
        s->disconnectFromHost();
      });
      connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    });
  }
  quint16 Port() const { return server_.serverPort(); }
  // Sends `start`, then `filler` again and again while the client reads
  // (up to 64 MiB, far past every limit of the client).
  std::function<void(QTcpSocket *)> Endless(const QByteArray &start, const QByteArray &filler) {
    return [this, start, filler](QTcpSocket *s) {
      s->write(start);
      connect(s, &QTcpSocket::bytesWritten, s, [this, s, filler]() {
        if (Sent > (64 << 20) || s->state() != QAbstractSocket::ConnectedState) return;
        Sent += filler.size();
        s->write(filler);
      });
    };
  }

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
  test::TTestSigningKey key;
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
    form.PublicKey = key.PublicKey();
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
  // The version file offering 2.7 at /new/tachora, with `signature` (a
  // line of its own) when given.
  QByteArray VersionFile(const QByteArray &signature = {}) const {
    QByteArray body =
        "version=2.7\r\ndownloadurl=http://127.0.0.1:" + QByteArray::number(http.Port()) +
        "/new/tachora?x=1\r\n";
    if (!signature.isEmpty()) body += "signature=" + signature + "\r\n";
    return body;
  }
  QByteArray Signature(const QByteArray &data) const {
    return QByteArray::fromStdString(key.SignBase64(data.toStdString()));
  }
  // Clicks "Yes, do it automatically" and waits (10 s at most) for the end.
  enum class TOutcome { Restarted, Failed, NoEnd };
  TOutcome Install() {
    QSignalSpy failed(&form, &TFormAutoUpdate::UpdateFailed);
    form.ButtonAuto->click();
    if (!QTest::qWaitFor([&]() { return !restarted.isEmpty() || !failed.isEmpty(); }, 10000))
      return TOutcome::NoEnd;
    return restarted.isEmpty() ? TOutcome::Failed : TOutcome::Restarted;
  }
  // Starts a check; false when it did not end within 10 s.
  bool CheckEnds() {
    QSignalSpy done(&form, &TFormAutoUpdate::CheckDone);
    form.StartCheck(0);
    return done.wait(10000);
  }
  QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files); }
};

const QByteArray kNewProgram = QByteArray(3000, 'n');
const QByteArray kDownloadPath = "/new/tachora?x=1&version=2.6";

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
  // No signature in the file nor beside the download: only the browser.
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

TEST_F(TUpdateFixture, SignedDownloadReplacesTheProgram) {
  // The signature in the version file, or in a ".sig" file beside the download.
  for (const bool beside : {false, true}) {
    SCOPED_TRACE(beside ? "signature beside the download" : "signature in the version file");
    http.Replies["/file/tachora.ini"] = Reply(VersionFile(beside ? "" : Signature(kNewProgram)));
    http.Replies["/new/tachora.sig?x=1"] =
        beside ? Reply(Signature(kNewProgram) + "\n") : QByteArray();
    http.Replies[kDownloadPath] = Reply(kNewProgram);
    for (const QString &f : Files()) QFile::remove(dir.filePath(f));
    QFile old(program);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old program");
    old.close();
    QFile::copy(program, dir.filePath("tachora_v2.6"));  // an older backup
    restarted.clear();

    // A read-only program (an installed package) is not replaced by us.
    QFile::setPermissions(program, QFileDevice::ReadOwner);
    if (!QFileInfo(program).isWritable()) {
      ASSERT_TRUE(Check());
      EXPECT_FALSE(form.ButtonAuto->isEnabled());
    }
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(Check());
    ASSERT_TRUE(form.ButtonAuto->isEnabled());
    ASSERT_EQ(Install(), TOutcome::Restarted) << errors.join("\n").toStdString();
    EXPECT_EQ(restarted, QStringList{program});
    EXPECT_EQ(ProgramText(), kNewProgram);
    EXPECT_TRUE(QFileInfo(program).isExecutable());
    QFile backup(dir.filePath("tachora_v2.6_"));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), "old program");
    EXPECT_FALSE(QFile::exists(dir.filePath("tachora_v2.7")));
  }
}

TEST_F(TUpdateFixture, ForgedOrUnsignedDownloadLeavesProgramAlone) {
  // A server on the path answers with its own file under the genuine
  // signature, or signs with a key of its own.
  const test::TTestSigningKey forger;
  const QByteArray forged = "#!/bin/sh\necho owned\n";
  for (const QByteArray &signature :
       {Signature(kNewProgram),
        QByteArray::fromStdString(forger.SignBase64(forged.toStdString()))}) {
    http.Replies["/file/tachora.ini"] = Reply(VersionFile(signature));
    http.Replies[kDownloadPath] = Reply(forged);
    ASSERT_TRUE(Check());
    ASSERT_TRUE(form.ButtonAuto->isEnabled());
    EXPECT_EQ(Install(), TOutcome::Failed);
    EXPECT_EQ(ProgramText(), "old program");
    EXPECT_EQ(Files(), QStringList{"tachora"});
    // The offer stays, with the browser alone.
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.ButtonAuto->isEnabled());
    EXPECT_TRUE(form.ButtonBrowser->isVisible());
  }
  EXPECT_EQ(errors.size(), 2);
  // A signature that is no signature, and a version that is no file name,
  // offer only the browser.
  for (const QByteArray &file :
       {VersionFile("AAAA"), VersionFile(Signature(kNewProgram)).replace("2.7", "2.7/../../x")}) {
    http.Replies["/file/tachora.ini"] = Reply(file);
    ASSERT_TRUE(Check()) << file.constData();
    EXPECT_FALSE(form.ButtonAuto->isEnabled()) << file.constData();
  }
  // The server's version is shown as text, never as markup.
  EXPECT_EQ(form.LabelVersion->textFormat(), Qt::PlainText);
}

TEST_F(TUpdateFixture, MisbehavingServersAreCutOff) {
  form.SetStallTimeout(300);
  const QByteArray ok = "HTTP/1.1 200 OK\r\n";
  struct TCase {
    const char *name;
    std::function<void(QTcpSocket *)> handler;
  };
  const TCase versionFileCases[] = {
      {"endless headers", http.Endless(ok, QByteArray(8000, 'h') + "\r\n")},
      {"endless body",
       http.Endless(ok + "\r\nversion=9\r\ndownloadurl=http://a/b\r\n", QByteArray(8000, 'b'))},
      {"announced body too large",
       [ok](QTcpSocket *s) { s->write(ok + "Content-Length: 70000\r\n\r\nversion=9\r\n"); }},
      {"stall", [ok](QTcpSocket *s) { s->write(ok + "Content-Length: 500\r\n\r\nversion=9\r\n"); }},
  };
  for (const TCase &c : versionFileCases) {
    http.Sent = 0;
    http.Handlers["/file/tachora.ini"] = c.handler;
    ASSERT_TRUE(CheckEnds()) << c.name;
    EXPECT_FALSE(form.OfferKnown()) << c.name;
    EXPECT_LT(http.Sent, 1 << 20) << c.name;
    EXPECT_FALSE(form.isVisible()) << c.name;
  }
  http.Handlers.clear();

  // The download: stalled half way, closed half way, announced past the
  // 512 MiB limit.
  const TCase downloadCases[] = {
      {"stall", [ok](QTcpSocket *s) { s->write(ok + "Content-Length: 3000\r\n\r\nnnnn"); }},
      {"cut short",
       [ok](QTcpSocket *s) {
         s->write(ok + "Content-Length: 3000\r\n\r\nnnnn");
         s->disconnectFromHost();
       }},
      {"too large", [ok](QTcpSocket *s) { s->write(ok + "Content-Length: 600000000\r\n\r\nn"); }},
  };
  for (const TCase &c : downloadCases) {
    http.Replies["/file/tachora.ini"] = Reply(VersionFile(Signature(kNewProgram)));
    http.Handlers[kDownloadPath] = c.handler;
    ASSERT_TRUE(Check()) << c.name;
    EXPECT_EQ(Install(), TOutcome::Failed) << c.name;
    EXPECT_EQ(ProgramText(), "old program") << c.name;
    EXPECT_EQ(Files(), QStringList{"tachora"}) << c.name;
    // The failure names itself; it is not taken for a bad signature.
    EXPECT_TRUE(form.ButtonAuto->isEnabled()) << c.name;
  }
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
