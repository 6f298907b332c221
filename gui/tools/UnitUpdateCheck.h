// The update check's request and reply handling, kept apart from the window
// so that it can be tested without one: the hand-written HTTP/1.1 request,
// the reply's headers and body, the version file ("key=value" lines, keys
// in any case), the byte-wise version comparison, the download address and
// the file names of an automatic update, and the rule that decides whether
// a download may replace the program.
//
// THttpGet is a plain client over QTcpSocket (events on the UI thread, no
// waiting loops): it sends the request, collects the body and reports
// Finished once the body is complete or the server has closed.
//
// UI thread only for THttpGet; the functions are pure.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QTcpSocket;

namespace tachora {

// The program's own version as the update server knows it.
inline constexpr const char *kUpdateVersion = "2.6";
inline constexpr const char *kUpdatePath = "/file/tachora.ini";
inline constexpr quint16 kUpdatePort = 80;

// "GET <path> HTTP/1.1", Host with the port, the User-Agent, and
// "Connection: close" so that a reply without a length ends when the server
// closes instead of being cut after its first piece.
QByteArray BuildUpdateRequest(const QString &host, quint16 port, const QString &path);

// The reply as it arrives: headers, then the body.
class THttpReply {
 public:
  void Feed(const QByteArray &data);
  bool HeadersDone() const { return headersDone_; }
  int Status() const { return status_; }
  // -1 until the header was read (0 when it is no number).
  qint64 ContentLength() const { return length_; }
  const QByteArray &Body() const { return body_; }
  // The announced length has arrived.
  bool Complete() const { return headersDone_ && length_ > 0 && body_.size() >= length_; }
  // "2 Kb (100%)"; empty while the length is unknown.
  QString ProgressText() const;
  int Percent() const;

 private:
  QByteArray head_;
  QByteArray body_;
  qint64 length_ = -1;
  int status_ = 0;
  bool headersDone_ = false;
};

// What the version file offers.
struct TUpdateInfo {
  QString Version;
  QString DownloadUrl;  // with "&version=2.6" appended when an offer exists
  QByteArray Sha256;    // lower-case hex of the new program file, empty when absent
  bool Offer = false;
};
// `mine` < `theirs` as plain byte strings ("2.10" is not newer than "2.6").
bool IsNewerVersion(const QString &mine, const QString &theirs);
TUpdateInfo ParseUpdateInfo(const QByteArray &body, const QString &mine = kUpdateVersion);

// "http://host:8080/a.exe?x" -> host, 8080, "/a.exe?x" (port 80 when absent
// or not a number). False when the address is not http://.
struct TUrlParts {
  QString Host;
  quint16 Port = 80;
  QString Path;
};
bool SplitDownloadUrl(const QString &url, TUrlParts &out);

// "/opt/t/tachora" + "2.7" -> "/opt/t/tachora_v2.7"; with an extension the
// version goes before it ("Tachora.exe" -> "Tachora_v2.7.exe").
QString VersionedFileName(const QString &programPath, const QString &version);
// The backup name of the running program, with "_" appended while `exists`
// says a file has that name.
QString BackupFileName(const QString &programPath, const QString &version,
                       const std::function<bool(const QString &)> &exists);

// Whether "Yes, do it automatically" may be offered: the version file names
// the new file's SHA-256 and the program's file can be replaced.
bool CanUpdateAutomatically(const TUpdateInfo &info, bool programWritable);
// Whether a downloaded file is the one the version file announced.
bool DownloadTrusted(const TUpdateInfo &info, const QByteArray &data);

// The update server "host" or "host:port" (port 80 by default).
void SplitServer(const QString &server, QString &host, quint16 &port);

class THttpGet : public QObject {
  Q_OBJECT
 public:
  explicit THttpGet(QObject *parent = nullptr);
  // Aborts what runs and starts a new request.
  void Start(const QString &host, quint16 port, const QString &path);
  void Abort();
  bool Running() const { return running_; }
  const THttpReply &Reply() const { return reply_; }

 signals:
  void Progress();
  // The body is complete, the server closed or the connection failed.
  void Finished();

 private:
  void OnReadyRead();
  void Finish();

  QTcpSocket *socket_;
  QByteArray request_;
  THttpReply reply_;
  bool running_ = false;
};

}  // namespace tachora
