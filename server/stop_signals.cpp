#include "server/stop_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

namespace {

std::atomic<int> caught{0};
int wakePipe[2] = {-1, -1};
std::atomic<int> servedSocket{-1};

void onStopSignal(int signal) {
  const int saved = errno;
  int none = 0;
  if (caught.compare_exchange_strong(none, signal)) {
    const char byte = 1;
    const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    (void)ignored;
    const int fd = servedSocket.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RD);
  }
  errno = saved;
}

}  // namespace

void catchStopSignals() {
  if (wakePipe[0] >= 0) return;
  if (::pipe(wakePipe) != 0) return;  // without the pipe, the defaults stay
  for (int fd : wakePipe) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second one of a kind ends the process
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int caughtStopSignal() { return caught.load(); }

int stopSignalFd() { return wakePipe[0]; }

void setStopSignalSocket(int fd) { servedSocket.store(fd); }

void endByStopSignal() {
  const int signal = caught.load();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);  // raise() returns only if the signal is blocked
}

const char* stopSignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}
