#include "link/bt_frame.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

}  // namespace

std::size_t btEncodeFrame(const std::uint8_t* telegram, std::size_t length, std::uint8_t* frame) {
  nxt::writeU16(frame, static_cast<std::uint16_t>(length));
  std::memcpy(frame + kBtFrameHeader, telegram, length);
  return length + kBtFrameHeader;
}

BtIoResult btReadFrame(int fd, BtFrameReader& reader, std::uint8_t* buffer, std::size_t capacity,
                       std::size_t& received, Clock::time_point deadline, int& error,
                       BtFrameCheck check) {
  received = 0;
  error = 0;
  for (;;) {
    std::size_t wanted = kBtFrameHeader;
    if (reader.have >= kBtFrameHeader) {
      const std::size_t length = btFrameLength(reader.bytes);
      if (length == 0 || length > kBtMaxFrameBody) return BtIoResult::kOutOfStep;
      const std::size_t known = reader.have - kBtFrameHeader;
      if (check != nullptr && known >= std::min(length, kBtFrameHeadCheck) &&
          !check(reader.bytes + kBtFrameHeader, known, length)) {
        return BtIoResult::kOutOfStep;
      }
      wanted = kBtFrameHeader + length;
      if (reader.have == wanted) {
        reader.have = 0;
        if (length > capacity) return BtIoResult::kOverflow;
        std::memcpy(buffer, reader.bytes + kBtFrameHeader, length);
        received = length;
        return BtIoResult::kOk;
      }
    }
    const ssize_t n = ::read(fd, reader.bytes + reader.have, wanted - reader.have);
    if (n > 0) {
      reader.have += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return BtIoResult::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error = errno;
      return BtIoResult::kError;
    }
    if (!waitFor(fd, POLLIN, deadline)) return BtIoResult::kTimeout;
  }
}

BtIoResult btWriteAll(int fd, const std::uint8_t* bytes, std::size_t length,
                      Clock::time_point deadline, int& error) {
  error = 0;
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, bytes + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      error = errno;
      return BtIoResult::kError;
    }
    if (!waitFor(fd, POLLOUT, deadline)) return BtIoResult::kTimeout;
  }
  return BtIoResult::kOk;
}
