// Fuzzes the simulated brick's telegram parser: the input is a series of
// telegrams, each a length byte, a time step byte (milliseconds) and the
// telegram's bytes. Every answer must be a well-formed reply, and a file
// name with a byte outside printable ASCII is always an illegal name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/sim_brick.h"

namespace {

// True for a system command that names a file in its first 20 bytes, and
// whose name there has a byte outside 0x20-0x7E before its zero.
bool namesUnprintableFile(const std::vector<std::uint8_t>& telegram) {
  if (telegram.size() < 2 || (telegram[0] & 0x7f) != 0x01) return false;
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
  for (std::size_t i = 2; i < telegram.size() && i < 22 && telegram[i] != 0; ++i) {
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
  SimTime now{};
  simBrickReset(brick, kConfig, now);
  std::size_t i = 0;
  while (i + 2 <= size) {
    const std::size_t length = data[i];
    now += std::chrono::milliseconds(data[i + 1]);
    i += 2;
    if (length > size - i) break;
    // An exact-size copy, so that a read past the telegram is caught.
    const std::vector<std::uint8_t> telegram(data + i, data + i + length);
    i += length;
    SimReply reply;
    const bool answered = simBrickReceive(brick, telegram.data(), telegram.size(), now, reply);
    if (!answered) continue;
    if (telegram.size() < 2 || (telegram[0] & 0x80) != 0) std::abort();  // must stay silent
    if (reply.length < 3 || reply.length > sizeof reply.bytes) std::abort();
    if (reply.bytes[0] != 0x02 || reply.bytes[1] != telegram[1]) std::abort();
    // Illegal name, or no more handles: the loader looks at handles first.
    if (namesUnprintableFile(telegram) && reply.bytes[2] != 0x92 && reply.bytes[2] != 0x81) {
      std::abort();
    }
  }
  return 0;
}
