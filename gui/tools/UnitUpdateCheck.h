// The update check's connection: THttpGet, a plain HTTP/1.1 client over
// QTcpSocket (events on the UI thread, no waiting loops). It sends the
// request, collects the reply within its limits (core/app/UnitUpdateInfo.h)
// and reports Finished once the body is complete, the server has closed,
// the reply broke a limit, or nothing arrived for the stall time.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "app/UnitUpdateInfo.h"

class QTcpSocket;

namespace tachora {

class THttpGet : public QObject {
  Q_OBJECT
 public:
  explicit THttpGet(QObject *parent = nullptr);
  // Aborts what runs and starts a new request whose body may not pass
  // `bodyLimit` bytes.
  void Start(const QString &host, quint16 port, const QString &path, int64_t bodyLimit);
  void Abort();
  bool Running() const { return running_; }
  const THttpReply &Reply() const { return reply_; }
  // The reply broke a limit, stalled or ended short of its announced
  // length: its body is not to be used.
  bool Failed() const { return failed_; }
  // Milliseconds without progress after which the request is given up
  // (kUpdateStallMs; tests shorten it).
  void SetStallTimeout(int ms) { stall_.setInterval(ms); }

 signals:
  void Progress();
  // The body is complete, the server closed or the connection failed.
  void Finished();

 private:
  void OnReadyRead();
  void Finish(bool failed);

  QTcpSocket *socket_;
  QTimer stall_;
  QByteArray request_;
  THttpReply reply_;
  bool running_ = false;
  bool failed_ = false;
};

}  // namespace tachora
