#include "tools/UnitUpdateCheck.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpSocket>
#include <cmath>

#include "app/UnitLang.h"

namespace tachora {

QByteArray BuildUpdateRequest(const QString &host, quint16 port, const QString &path) {
  return "GET " + path.toUtf8() + " HTTP/1.1\r\n" + "Host: " + host.toUtf8() + ":" +
         QByteArray::number(port) + "\r\n" + "User-Agent: Tachora " + kUpdateVersion +
         " (Quorvex Production)\r\n" + "Connection: close\r\n" + "\r\n";
}

void THttpReply::Feed(const QByteArray &data) {
  if (headersDone_) {
    body_ += data;
    return;
  }
  head_ += data;
  const int end = head_.indexOf("\r\n\r\n");
  if (end < 0) return;
  body_ = head_.mid(end + 4);
  const QList<QByteArray> lines = head_.left(end).split('\n');
  head_.clear();
  headersDone_ = true;
  length_ = 0;
  bool sawLength = false;
  for (int i = 0; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    if (i == 0) {
      // "HTTP/1.1 200 OK"
      const QList<QByteArray> parts = line.split(' ');
      status_ = parts.size() > 1 ? parts[1].toInt() : 0;
      continue;
    }
    const int colon = line.indexOf(':');
    if (colon < 0) continue;
    if (line.left(colon).trimmed().toLower() == "content-length") {
      bool ok = false;
      const qint64 n = line.mid(colon + 1).trimmed().toLongLong(&ok);
      length_ = ok && n > 0 ? n : 0;
      sawLength = true;
    }
  }
  if (!sawLength) length_ = 0;
}

int THttpReply::Percent() const {
  if (length_ <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(body_.size()) * 100.0 / length_));
}

QString THttpReply::ProgressText() const {
  if (length_ <= 0) return {};
  return QString::number(std::lround(body_.size() / 1024.0)) + " " +
         QString::fromStdString(LangText("Kb")) + " (" + QString::number(Percent()) + "%)";
}

bool IsNewerVersion(const QString &mine, const QString &theirs) {
  return mine.toUtf8() < theirs.toUtf8();
}

TUpdateInfo ParseUpdateInfo(const QByteArray &body, const QString &mine) {
  TUpdateInfo info;
  for (const QByteArray &raw : body.split('\n')) {
    const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
    const int eq = line.indexOf('=');
    const QByteArray key = (eq < 0 ? line : line.left(eq)).toLower();
    const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 1);
    if (key == "version") info.Version = QString::fromUtf8(value);
    if (key == "downloadurl") info.DownloadUrl = QString::fromUtf8(value);
    if (key == "sha256") info.Sha256 = value.trimmed().toLower();
  }
  info.Offer = !info.DownloadUrl.isEmpty() && IsNewerVersion(mine, info.Version);
  if (info.Offer) info.DownloadUrl += "&version=" + mine;
  return info;
}

bool SplitDownloadUrl(const QString &url, TUrlParts &out) {
  const int scheme = url.indexOf("http://", 0, Qt::CaseInsensitive);
  if (scheme < 0) return false;
  QString rest = url.mid(scheme + 7);
  const int slash = rest.indexOf('/');
  QString host = slash < 0 ? rest : rest.left(slash);
  rest = slash < 0 ? QString() : rest.mid(slash + 1);
  out.Port = 80;
  const int colon = host.indexOf(':');
  if (colon >= 0) {
    bool ok = false;
    const uint port = host.mid(colon + 1).toUInt(&ok);
    if (ok && port > 0 && port < 65536) out.Port = static_cast<quint16>(port);
    host = host.left(colon);
  }
  out.Host = host;
  out.Path = "/" + rest;
  return !host.isEmpty();
}

QString VersionedFileName(const QString &programPath, const QString &version) {
  const QFileInfo fi(programPath);
  const QString name = fi.fileName();
  const int dot = name.lastIndexOf('.');
  const QString stem = dot > 0 ? name.left(dot) : name;
  const QString ext = dot > 0 ? name.mid(dot) : QString();
  const QString folder = programPath.left(programPath.size() - name.size());
  return folder + stem + "_v" + version + ext;
}

QString BackupFileName(const QString &programPath, const QString &version,
                       const std::function<bool(const QString &)> &exists) {
  QString backup = VersionedFileName(programPath, version);
  while (exists(backup)) backup += "_";
  return backup;
}

bool CanUpdateAutomatically(const TUpdateInfo &info, bool programWritable) {
  static const QRegularExpression hex("^[0-9a-f]{64}$");
  return info.Offer && programWritable && hex.match(QString::fromLatin1(info.Sha256)).hasMatch();
}

bool DownloadTrusted(const TUpdateInfo &info, const QByteArray &data) {
  return !data.isEmpty() && !info.Sha256.isEmpty() &&
         QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex() == info.Sha256;
}

void SplitServer(const QString &server, QString &host, quint16 &port) {
  const QString s = server.trimmed();
  const int colon = s.lastIndexOf(':');
  host = colon < 0 ? s : s.left(colon);
  port = kUpdatePort;
  if (colon >= 0) {
    bool ok = false;
    const uint p = s.mid(colon + 1).toUInt(&ok);
    if (ok && p > 0 && p < 65536) port = static_cast<quint16>(p);
  }
}

// ---- THttpGet ---------------------------------------------------------------

THttpGet::THttpGet(QObject *parent) : QObject(parent), socket_(new QTcpSocket(this)) {
  connect(socket_, &QTcpSocket::connected, this, [this]() {
    if (!request_.isEmpty()) socket_->write(request_);
  });
  connect(socket_, &QTcpSocket::readyRead, this, &THttpGet::OnReadyRead);
  connect(socket_, &QTcpSocket::disconnected, this, [this]() {
    OnReadyRead();
    Finish();
  });
  // No network, refused, reset: no offer, no message.
  connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
    if (e != QAbstractSocket::RemoteHostClosedError) Finish();
  });
}

void THttpGet::Start(const QString &host, quint16 port, const QString &path) {
  Abort();
  reply_ = THttpReply();
  request_ = BuildUpdateRequest(host, port, path);
  running_ = true;
  socket_->connectToHost(host, port);
}

void THttpGet::Abort() {
  running_ = false;
  request_.clear();
  socket_->abort();
}

void THttpGet::OnReadyRead() {
  if (!running_ || !socket_->isOpen()) return;
  const QByteArray data = socket_->readAll();
  if (data.isEmpty()) return;
  reply_.Feed(data);
  if (reply_.HeadersDone()) emit Progress();
  if (reply_.Complete()) {
    socket_->abort();
    Finish();
  }
}

void THttpGet::Finish() {
  if (!running_) return;
  running_ = false;
  emit Finished();
}

}  // namespace tachora
