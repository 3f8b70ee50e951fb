#include "link/bt_frame.h"

#include <algorithm>
#include <cstring>

using Clock = std::chrono::steady_clock;

std::size_t btEncodeFrame(const std::uint8_t* telegram, std::size_t length, std::uint8_t* frame) {
  nxt::writeU16(frame, static_cast<std::uint16_t>(length));
  std::memcpy(frame + kBtFrameHeader, telegram, length);
  return length + kBtFrameHeader;
}

BtIoResult btReadFrame(BtHandle link, BtFrameReader& reader, std::uint8_t* buffer,
                       std::size_t capacity, std::size_t& received, Clock::time_point deadline,
                       int& error, BtFrameCheck check) {
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
    std::size_t got = 0;
    const BtIoResult result =
        btReadSome(link, reader.bytes + reader.have, wanted - reader.have, got, deadline, error);
    if (result != BtIoResult::kOk) return result;
    reader.have += got;
  }
}

BtIoResult btWriteAll(BtHandle link, const std::uint8_t* bytes, std::size_t length,
                      Clock::time_point deadline, int& error) {
  error = 0;
  for (std::size_t done = 0; done < length;) {
    std::size_t written = 0;
    const BtIoResult result =
        btWriteSome(link, bytes + done, length - done, written, deadline, error);
    if (result != BtIoResult::kOk) return result;
    done += written;
  }
  return BtIoResult::kOk;
}
