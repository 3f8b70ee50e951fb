#include "server/console_echo.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

bool isControl(unsigned char byte) {
  return (byte < 0x20 && byte != '\t') || byte == 0x7f || (byte >= 0x80 && byte <= 0x9f);
}

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

std::string consoleEcho(const std::string& request) {
  static const char kHex[] = "0123456789abcdef";
  std::string echo;
  echo.reserve(request.size());
  for (std::size_t i = 0; i < request.size(); ++i) {
    const auto byte = static_cast<unsigned char>(request[i]);
    const bool utf8C1 = byte == 0xc2 && i + 1 < request.size() &&
                        isControl(static_cast<unsigned char>(request[i + 1])) &&
                        static_cast<unsigned char>(request[i + 1]) >= 0x80;
    if (isControl(byte) || utf8C1) {
      echo += "\\x";
      echo += kHex[byte >> 4];
      echo += kHex[byte & 0x0f];
    } else {
      echo += request[i];
    }
  }
  return echo;
}

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
  console.pending =
      "(" + std::to_string(console.dropped) + " echo lines dropped: standard output was full)\n";
  console.dropped = 0;
  writeWithoutWaiting(console);
}
