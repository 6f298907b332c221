#include "app/UnitSingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <memory>

namespace tachora {

namespace {
// A message larger than this is no list of paths from a file manager.
constexpr qint64 kMaxMessage = 4 * 1024 * 1024;
}  // namespace

TSingleInstance::TSingleInstance(QString name, QObject *parent) : QObject(parent) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  path_ = QDir(dir).filePath(name);
}

QByteArray TSingleInstance::Encode(const QStringList &paths) {
  QByteArray out;
  for (const QString &p : paths) {
    // A name with a line break cannot travel; such a file is opened by hand.
    if (p.isEmpty() || p.contains('\n')) continue;
    out += QFileInfo(p).absoluteFilePath().toUtf8() + '\n';
  }
  return out + '\n';
}

std::optional<QStringList> TSingleInstance::Decode(const QByteArray &data) {
  if (!(data == "\n" || data.endsWith("\n\n"))) return std::nullopt;
  QStringList paths;
  for (const QByteArray &line : data.split('\n'))
    if (!line.isEmpty()) paths << QString::fromUtf8(line);
  return paths;
}

bool TSingleInstance::HandOver(const QStringList &paths, int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(path_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(Encode(paths));
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  QByteArray answer;
  while (!answer.contains('\n') && socket.waitForReadyRead(timeoutMs)) answer += socket.readAll();
  return answer.startsWith("ok\n");
}

bool TSingleInstance::Listen() {
  if (server_) return true;
  // A window that started at the same moment answers there: it keeps the
  // socket (listening would replace it).
  {
    QLocalSocket probe;
    probe.connectToServer(path_);
    if (probe.waitForConnected(500)) return false;
  }
  auto *server = new QLocalServer(this);
  // Only this user may connect.
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(path_)) {
    // Nobody answers: the socket is a crashed run's.
    QLocalServer::removeServer(path_);
    if (!server->listen(path_)) {
      delete server;
      return false;
    }
  }
  server_ = server;
  connect(server_, &QLocalServer::newConnection, this, [this]() {
    while (QLocalSocket *s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      auto buffer = std::make_shared<QByteArray>();
      connect(s, &QLocalSocket::readyRead, this, [this, s, buffer]() {
        *buffer += s->readAll();
        if (buffer->size() > kMaxMessage) return s->abort();
        const auto paths = Decode(*buffer);
        if (!paths) return;
        buffer->clear();
        s->write("ok\n");
        s->flush();
        emit PathsReceived(*paths);
      });
    }
  });
  return true;
}

void TSingleInstance::StopListening() {
  if (!server_) return;
  server_->close();  // removes the socket file
  delete server_;
  server_ = nullptr;
}

}  // namespace tachora
