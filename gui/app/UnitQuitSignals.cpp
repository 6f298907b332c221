#include "app/UnitQuitSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace tachora {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int gPipe[2] = {-1, -1};
volatile std::sig_atomic_t gReceived = 0;

// Async-signal-safe: one byte into the pipe; the second signal gets the
// default action back and is raised again.
void OnSignal(int sig) {
  if (gReceived) {
    std::signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  gReceived = 1;
  const int saved = errno;
  const char byte = static_cast<char>(sig);
  [[maybe_unused]] const ssize_t n = write(gPipe[0], &byte, 1);
  errno = saved;
}

}  // namespace

TQuitSignals::TQuitSignals(QObject *parent) : QObject(parent) {
  if (gPipe[0] >= 0) return;  // one per process
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0) {
    gPipe[0] = gPipe[1] = -1;
    return;
  }
  fcntl(gPipe[0], F_SETFL, fcntl(gPipe[0], F_GETFL) | O_NONBLOCK);
  fcntl(gPipe[1], F_SETFL, fcntl(gPipe[1], F_GETFL) | O_NONBLOCK);
  gReceived = 0;
  notifier_ = new QSocketNotifier(gPipe[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this]() {
    char byte = 0;
    while (read(gPipe[1], &byte, 1) == 1) emit QuitRequested(static_cast<unsigned char>(byte));
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : kSignals) sigaction(sig, &action, nullptr);
}

TQuitSignals::~TQuitSignals() {
  if (!notifier_) return;
  for (int sig : kSignals) std::signal(sig, SIG_DFL);
  delete notifier_;
  notifier_ = nullptr;
  close(gPipe[0]);
  close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
  gReceived = 0;
}

}  // namespace tachora
