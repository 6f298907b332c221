// One Tachora window per user session: a second start (a file opened from
// the file manager while Tachora runs) hands its paths to the running
// window over a local socket and ends, instead of opening a second window.
//
// The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR), so
// other users' programs are never reached. The message is the paths as
// absolute file names, UTF-8, one per line, ended by an empty line; the
// running window answers "ok\n" once it has taken them. A start that gets no
// answer in time (a frozen or ending window) opens its own window.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QStringList>
#include <optional>

class QLocalServer;

namespace tachora {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // `name`: the socket's file name in the runtime folder (tests pass their own).
  explicit TSingleInstance(QString name = "org.tachora.Tachora.socket", QObject *parent = nullptr);

  QString ServerPath() const { return path_; }
  // Hands `paths` (made absolute here) to a running window. True when it
  // took them: the caller then ends.
  bool HandOver(const QStringList &paths, int timeoutMs = 3000) const;
  // Starts answering later starts; a socket left by a crashed run is
  // replaced. False when the socket cannot be made or another window
  // (started at the same moment) answers on it.
  bool Listen();
  // Stops answering (the window is closing: paths handed to it now would be
  // lost); the socket goes, so the next start opens its own window.
  void StopListening();

  // The message format, for both ends.
  static QByteArray Encode(const QStringList &paths);
  // Null when `data` is not complete yet (no closing empty line).
  static std::optional<QStringList> Decode(const QByteArray &data);

 signals:
  // A later start's paths (possibly none: then the window is just raised).
  void PathsReceived(const QStringList &paths);

 private:
  QString path_;
  QLocalServer *server_ = nullptr;
};

}  // namespace tachora
