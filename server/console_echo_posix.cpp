#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "server/console_echo.h"

namespace {

// Writes as much of `console.pending` as the console takes without waiting.
// True when nothing is left. A console that is gone (closed, or a pipe
// without reader) takes everything: it is dropped.
bool writeWithoutWaiting(ConsoleEcho& console) {
  while (!console.pending.empty()) {
    pollfd p{console.fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if ((p.revents & POLLOUT) == 0) return false;
    // A pipe that polls writable has room for PIPE_BUF bytes: a write of at
    // most that much does not block.
    const std::size_t chunk = std::min<std::size_t>(console.pending.size(), PIPE_BUF);
    const ssize_t n = ::write(console.fd, console.pending.data(), chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
      console.pending.clear();
      return true;
    }
    console.pending.erase(0, static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void echoRequest(ConsoleEcho& console, const std::string& request) {
  flushConsole(console);
  if (!console.pending.empty()) {
    ++console.dropped;
    return;
  }
  console.pending = consoleEcho(request) + "\n";
  writeWithoutWaiting(console);
}

void flushConsole(ConsoleEcho& console) {
  if (!writeWithoutWaiting(console) || console.dropped == 0) return;
  console.pending = droppedEchoLine(console.dropped);
  console.dropped = 0;
  writeWithoutWaiting(console);
}
