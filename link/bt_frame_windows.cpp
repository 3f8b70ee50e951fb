// Reads and writes of a COM port. A COM port cannot be polled: each read
// and write is bounded by the port's timeouts instead, set for what is left
// until the deadline. A line whose other side has hung up reads as nothing
// until the timeout, so a gone brick shows as a reply that does not come.
#include <windows.h>

#include <algorithm>

#include "link/bt_frame.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, at least 0 and below MAXDWORD.
DWORD millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, MAXDWORD - 1));
}

// A read returns at once with what has arrived, or waits up to `readMs`
// for the first byte (0: never waits); a write gives up after `writeMs`.
bool setTimeouts(HANDLE port, DWORD readMs, DWORD writeMs) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = readMs == 0 ? 0 : MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = readMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = std::max<DWORD>(writeMs, 1);
  return SetCommTimeouts(port, &timeouts) != 0;
}

}  // namespace

BtIoResult btReadSome(BtHandle link, std::uint8_t* into, std::size_t wanted, std::size_t& got,
                      Clock::time_point deadline, int& error) {
  const HANDLE port = reinterpret_cast<HANDLE>(link);
  for (;;) {
    const DWORD left = millisecondsLeft(deadline);
    DWORD n = 0;
    if (!setTimeouts(port, left, left) ||
        !ReadFile(port, into, static_cast<DWORD>(wanted), &n, nullptr)) {
      error = static_cast<int>(GetLastError());
      return BtIoResult::kError;
    }
    if (n > 0) {
      got = n;
      return BtIoResult::kOk;
    }
    if (left == 0 || Clock::now() >= deadline) return BtIoResult::kTimeout;
  }
}

BtIoResult btWriteSome(BtHandle link, const std::uint8_t* bytes, std::size_t length,
                       std::size_t& written, Clock::time_point deadline, int& error) {
  const HANDLE port = reinterpret_cast<HANDLE>(link);
  for (;;) {
    const DWORD left = millisecondsLeft(deadline);
    DWORD n = 0;
    if (!setTimeouts(port, 0, left) ||
        !WriteFile(port, bytes, static_cast<DWORD>(length), &n, nullptr)) {
      error = static_cast<int>(GetLastError());
      if (error == ERROR_SEM_TIMEOUT) return BtIoResult::kTimeout;
      return BtIoResult::kError;
    }
    if (n > 0) {
      written = n;
      return BtIoResult::kOk;
    }
    if (left == 0 || Clock::now() >= deadline) return BtIoResult::kTimeout;
  }
}
