#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

#include "server/stop_signals.h"

namespace {

int wakePipe[2] = {-1, -1};
// The client's socket while it is served, else -1.
std::atomic<int> servedSocket{-1};

// The read between requests waits in recv(): a signal taken on the serving
// thread interrupts it (the handlers do not restart calls), and shutting
// the socket's reading side down ends it whichever thread took the signal,
// even when the signal came just before the read began.
void onStopSignal(int signal) {
  const int saved = errno;
  if (recordStopSignal(signal) == 0) {
    const char byte = 1;
    const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    (void)ignored;
    const int socket = servedSocket.load();
    if (socket >= 0) ::shutdown(socket, SHUT_RD);
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

void startServing(boost::asio::ip::tcp::socket& client) {
  const int socket = client.native_handle();
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) != 0) ::fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
  servedSocket.store(socket);
}

void stopServing() { servedSocket.store(-1); }

ClientRead readClient(boost::asio::ip::tcp::socket& client, char* buffer, std::size_t size,
                      int timeoutMs, std::size_t& count) {
  const int socket = client.native_handle();
  count = 0;
  if (timeoutMs >= 0) {
    const Ready ready = waitForSocket(socket, SocketEvent::kReadable, timeoutMs);
    if (ready == Ready::kStopSignal) return ClientRead::kStopSignal;
    if (ready == Ready::kTimedOut) return ClientRead::kTimedOut;
  }
  for (;;) {
    if (caughtStopSignal() != 0) return ClientRead::kStopSignal;
    const ssize_t n = ::recv(socket, buffer, size, 0);
    if (caughtStopSignal() != 0) return ClientRead::kStopSignal;
    if (n >= 0) {
      count = static_cast<std::size_t>(n);
      return ClientRead::kRead;
    }
    if (errno != EINTR) return ClientRead::kFailed;
  }
}

ClientWrite writeClientSome(boost::asio::ip::tcp::socket& client, const char* data,
                            std::size_t size, std::size_t& written) {
  const int socket = client.native_handle();
  written = 0;
  for (;;) {
    const ssize_t n = ::send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      written = static_cast<std::size_t>(n);
      return ClientWrite::kWritten;
    }
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? ClientWrite::kFull : ClientWrite::kFailed;
  }
}

PeerState peerState(NativeSocket socket) {
  pollfd p{socket, POLLRDHUP, 0};
  const short events = ::poll(&p, 1, 0) > 0 ? p.revents : 0;
  if ((events & (POLLHUP | POLLERR)) != 0) return PeerState::kBroken;
  return (events & POLLRDHUP) != 0 ? PeerState::kEndOfStream : PeerState::kConnected;
}
