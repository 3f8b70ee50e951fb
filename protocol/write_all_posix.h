// Writing a whole buffer to a POSIX file descriptor: the loop that a short
// write and a signal's interruption (EINTR) need. POSIX builds only.
//
// REQUIRES: `fd` is open for writing in blocking mode.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace nxt {

// Writes all of `bytes` to `fd`, again after a short write or EINTR. False
// when a write fails (errno tells why) or writes nothing.
inline bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace nxt
