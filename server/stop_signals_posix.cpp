#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

#include "server/stop_signals.h"

namespace {

int wakePipe[2] = {-1, -1};

void onStopSignal(int signal) {
  const int saved = errno;
  if (recordStopSignal(signal) == 0) {
    const char byte = 1;
    const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    (void)ignored;
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
  // A client that goes away mid-reply must not end the server.
  std::signal(SIGPIPE, SIG_IGN);
}

void endByStopSignal() {
  const int signal = caughtStopSignal();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);  // raise() returns only if the signal is blocked
}

const StopSignalName kStopSignalNames[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {0, "a signal"}};

Ready waitForSocket(NativeSocket socket, SocketEvent event, int timeoutMs) {
  const short events = event == SocketEvent::kReadable ? POLLIN : POLLOUT;
  pollfd fds[2] = {{socket, events, 0}, {wakePipe[0], POLLIN, 0}};
  for (;;) {
    if (caughtStopSignal() != 0) return Ready::kStopSignal;
    const int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return Ready::kTimedOut;
    if (fds[1].revents != 0) return Ready::kStopSignal;
    return Ready::kReady;
  }
}

PeerState peerState(NativeSocket socket) {
  pollfd p{socket, POLLRDHUP, 0};
  const short events = ::poll(&p, 1, 0) > 0 ? p.revents : 0;
  if ((events & (POLLHUP | POLLERR)) != 0) return PeerState::kBroken;
  return (events & POLLRDHUP) != 0 ? PeerState::kEndOfStream : PeerState::kConnected;
}
