// Fuzzes the simulated brick's telegram parser: the input is a series of
// telegrams, each a length byte, a time step byte (milliseconds) and the
// telegram's bytes. Every answer must be a well-formed reply, and a file
// name with a byte outside printable ASCII is always an illegal name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/asan_poison.h"
#include "sim/sim_brick.h"

namespace {

// Where each telegram is handed to the brick: copied in after a poisoned
// stretch, and only its own bytes readable (AddressSanitizer poisons the
// rest of the last 8-byte granule too), so that a read before or past the
// telegram is caught as with an exact-size heap copy, without allocating
// one per telegram. Poisoned whole again once the brick has answered.
class TelegramSlot {
 public:
  TelegramSlot() { ASAN_POISON_MEMORY_REGION(bytes_, sizeof bytes_); }
  const std::uint8_t* hold(const std::uint8_t* telegram, std::size_t length) {
    ASAN_UNPOISON_MEMORY_REGION(bytes_ + kStart, length);
    std::memcpy(bytes_ + kStart, telegram, length);
    return bytes_ + kStart;
  }
  void release() { ASAN_POISON_MEMORY_REGION(bytes_, sizeof bytes_); }

 private:
  static constexpr std::size_t kStart = 16;
  alignas(8) std::uint8_t bytes_[kStart + 256 + 16] = {};
};

// True for a system command that names a file in its first 20 bytes, and
// whose name there has a byte outside 0x20-0x7E before its zero.
bool namesUnprintableFile(const std::uint8_t* telegram, std::size_t length) {
  if (length < 2 || (telegram[0] & 0x7f) != 0x01) return false;
  switch (telegram[1]) {
    case 0x80:  // OPENREAD
    case 0x81:  // OPENWRITE
    case 0x85:  // DELETE
    case 0x86:  // FINDFIRST
    case 0x89:  // OPENWRITELINEAR
    case 0x8b:  // OPENWRITEDATA
      break;
    default:
      return false;
  }
  for (std::size_t i = 2; i < length && i < 22 && telegram[i] != 0; ++i) {
    if (telegram[i] < 0x20 || telegram[i] > 0x7e) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  static const SimBrickConfig kConfig;  // the same power-up for every input
  // Made once: a reset sets every field of the brick anew, as a new one.
  static SimBrick brick;
  static TelegramSlot slot;
  SimTime now{};
  simBrickReset(brick, kConfig, now);
  std::size_t i = 0;
  while (i + 2 <= size) {
    const std::size_t length = data[i];
    now += std::chrono::milliseconds(data[i + 1]);
    i += 2;
    if (length > size - i) break;
    const std::uint8_t* telegram = data + i;
    i += length;
    SimReply reply;
    const bool answered = simBrickReceive(brick, slot.hold(telegram, length), length, now, reply);
    slot.release();
    if (!answered) continue;
    if (length < 2 || (telegram[0] & 0x80) != 0) std::abort();  // must stay silent
    if (reply.length < 3 || reply.length > sizeof reply.bytes) std::abort();
    if (reply.bytes[0] != 0x02 || reply.bytes[1] != telegram[1]) std::abort();
    // Illegal name, or no more handles: the loader looks at handles first.
    if (namesUnprintableFile(telegram, length) && reply.bytes[2] != 0x92 &&
        reply.bytes[2] != 0x81) {
      std::abort();
    }
  }
  return 0;
}
