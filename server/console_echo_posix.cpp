// The console's descriptor on Linux: how it is opened so that a write never
// waits, and one write.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "server/console_echo.h"

void openConsole(ConsoleEcho& console, int fd) {
  console.fd = fd;
  console.way = ConsoleEcho::Way::kPolled;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return;
  if (S_ISSOCK(info.st_mode)) {
    console.way = ConsoleEcho::Way::kSocket;
    return;
  }
  if (!S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode)) return;  // a file never waits long
  // Setting O_NONBLOCK on `fd` itself would set it for everyone who shares
  // the description (the shell's terminal). A description of our own, of
  // the same pipe or terminal, is ours to make non-blocking.
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) return;
  console.fd = own;
  console.way = ConsoleEcho::Way::kNonBlocking;
}

void closeConsole(ConsoleEcho& console) {
  flushConsole(console);
  if (console.way == ConsoleEcho::Way::kNonBlocking) ::close(console.fd);
  console.fd = 1;
  console.way = ConsoleEcho::Way::kPolled;
}

ConsoleWrite writeConsoleSome(const ConsoleEcho& console, const char* data, std::size_t size,
                              std::size_t& written) {
  written = 0;
  for (;;) {
    ssize_t n = 0;
    if (console.way == ConsoleEcho::Way::kSocket) {
      n = ::send(console.fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } else {
      if (console.way == ConsoleEcho::Way::kPolled) {
        pollfd p{console.fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return ConsoleWrite::kGone;
        if ((p.revents & POLLOUT) == 0) return ConsoleWrite::kFull;
        // A pipe that polls writable has room for PIPE_BUF bytes: a write
        // of at most that much does not block.
        size = std::min<std::size_t>(size, PIPE_BUF);
      }
      n = ::write(console.fd, data, size);
    }
    if (n > 0) {
      written = static_cast<std::size_t>(n);
      return ConsoleWrite::kWritten;
    }
    if (n == 0) return ConsoleWrite::kFull;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? ConsoleWrite::kFull : ConsoleWrite::kGone;
  }
}
