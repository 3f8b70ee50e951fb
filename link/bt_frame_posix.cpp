// Reads and writes of a non-blocking file descriptor (an RFCOMM socket or
// a serial device), waiting with poll(2).
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "link/bt_frame.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits until `fd` is ready for `events` or has hung up. False at the
// deadline.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n == 0 && Clock::now() >= deadline) return false;
    // n == 0 early (rounding), or EINTR: wait again.
  }
}

// Runs `transfer` (one read or write of `fd`) until it moves a byte, retrying
// on EINTR and, until the deadline, whenever `fd` would block. A read of no
// bytes is the peer closing.
template <typename Transfer>
BtIoResult transferSome(int fd, short events, Transfer transfer, std::size_t& moved,
                        Clock::time_point deadline, int& error) {
  for (;;) {
    const ssize_t n = transfer();
    if (n > 0) {
      moved = static_cast<std::size_t>(n);
      return BtIoResult::kOk;
    }
    if (n == 0 && events == POLLIN) return BtIoResult::kClosed;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      error = errno;
      return BtIoResult::kError;
    }
    if (!waitFor(fd, events, deadline)) return BtIoResult::kTimeout;
  }
}

}  // namespace

BtIoResult btReadSome(BtHandle link, std::uint8_t* into, std::size_t wanted, std::size_t& got,
                      Clock::time_point deadline, int& error) {
  const int fd = static_cast<int>(link);
  return transferSome(
      fd, POLLIN, [&] { return ::read(fd, into, wanted); }, got, deadline, error);
}

BtIoResult btWriteSome(BtHandle link, const std::uint8_t* bytes, std::size_t length,
                       std::size_t& written, Clock::time_point deadline, int& error) {
  const int fd = static_cast<int>(link);
  return transferSome(
      fd, POLLOUT, [&] { return ::write(fd, bytes, length); }, written, deadline, error);
}
