#include "tools/UnitUpdateCheck.h"

#include <QTcpSocket>

namespace tachora {

THttpGet::THttpGet(QObject *parent) : QObject(parent), socket_(new QTcpSocket(this)) {
  stall_.setSingleShot(true);
  stall_.setInterval(kUpdateStallMs);
  connect(&stall_, &QTimer::timeout, this, [this]() {
    socket_->abort();
    Finish(true);
  });
  connect(socket_, &QTcpSocket::connected, this, [this]() {
    stall_.start();
    if (!request_.isEmpty()) socket_->write(request_);
  });
  connect(socket_, &QTcpSocket::readyRead, this, &THttpGet::OnReadyRead);
  connect(socket_, &QTcpSocket::disconnected, this, [this]() {
    OnReadyRead();
    Finish(false);
  });
  // No network, refused, reset: no offer, no message.
  connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
    if (e != QAbstractSocket::RemoteHostClosedError) Finish(false);
  });
}

void THttpGet::Start(const QString &host, quint16 port, const QString &path, int64_t bodyLimit) {
  Abort();
  reply_ = THttpReply(bodyLimit);
  request_ =
      QByteArray::fromStdString(BuildUpdateRequest(host.toStdString(), port, path.toStdString()));
  running_ = true;
  failed_ = false;
  stall_.start();
  socket_->connectToHost(host, port);
}

void THttpGet::Abort() {
  running_ = false;
  stall_.stop();
  request_.clear();
  socket_->abort();
}

void THttpGet::OnReadyRead() {
  if (!running_ || !socket_->isOpen()) return;
  const QByteArray data = socket_->readAll();
  if (data.isEmpty()) return;
  stall_.start();
  if (!reply_.Feed(std::string_view(data.constData(), data.size()))) {
    socket_->abort();
    Finish(true);
    return;
  }
  if (reply_.HeadersDone()) emit Progress();
  if (reply_.Complete()) {
    socket_->abort();
    Finish(false);
  }
}

void THttpGet::Finish(bool failed) {
  if (!running_) return;
  running_ = false;
  stall_.stop();
  // A body cut short of its announced length is no more usable than one
  // that broke a limit.
  const bool cut = reply_.ContentLength() > 0 && !reply_.Complete();
  failed_ = failed || cut || reply_.Failed();
  emit Finished();
}

}  // namespace tachora
