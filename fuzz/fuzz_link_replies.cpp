// Fuzzes the driver's reply check and the reply decoders: the input is
// split at 0xFF 0xFF into replies that stand in for the brick's answers to
// the queries of the direct-command layer: battery, name, rotation
// count, sensor value, bus status and the sonar's polling.
//
// While the input's replies last, the brick's own answers would be dropped,
// so it is not asked: the model's work would be most of each input's cost.
// Once they run out the brick answers for itself, and its LSGETSTATUS and
// LSREAD report a byte ready and read: the sonar's wait then ends at once
// instead of polling back to back until its time limit, which made every
// input that reached it cost a whole millisecond.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "directcmd/brick_telegrams.h"
#include "directcmd/input_telegrams.h"
#include "directcmd/output_telegrams.h"
#include "fuzz/asan_poison.h"
#include "link/device_link.h"
#include "link/transport_sim.h"

namespace {

// Telegrams that want a reply, at most, that the input's replies answer.
std::size_t scriptedLeft = 0;

// Takes the driver's notes on dropped late replies, which most inputs make:
// written to the terminal they were a system call each, and drowned
// libFuzzer's own output.
class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char_type*, std::streamsize count) override { return count; }
};

// Where the next separator 0xFF 0xFF starts in data[from, size), or size.
// Found by memchr: byte by byte, every compare was a call into libFuzzer's
// comparison hooks, the most of this target's own cost.
std::size_t nextSeparator(const std::uint8_t* data, std::size_t from, std::size_t size) {
  while (from + 1 < size) {
    const void* found = std::memchr(data + from, 0xff, size - from - 1);
    if (found == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
    if (data[at + 1] == 0xff) return at;
    from = at + 1;
  }
  return size;
}

// Replies that an input of at most 1024 bytes can hold.
constexpr std::size_t kMaxReplies = 1024 / 2 + 1;

// ASan's granule: one can be poisoned after its first bytes, not between.
constexpr std::size_t kGranule = 8;
// The poisoned gap before each reply, at least as wide as the redzone that
// ASan puts around a heap block.
constexpr std::size_t kGap = 16;

std::size_t roundUp(std::size_t offset) { return (offset + kGranule - 1) / kGranule * kGranule; }

// The input's replies, each in a granule of its own, with a gap after it.
alignas(16) std::uint8_t arena[kGap + 1024 + kMaxReplies * (kGranule + kGap)];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024) return 0;
  static const bool opened = [] {
    SimTransportSettings settings;
    settings.script = [](const std::uint8_t* telegram, std::size_t length, SimReply& reply) {
      const bool wantsReply = length > 0 && (telegram[0] & 0x80) == 0;
      if (wantsReply && scriptedLeft > 0) {
        --scriptedLeft;
        return true;  // no answer of its own: a scripted reply stands in
      }
      if (length < 2 || telegram[0] != 0x00) return false;
      if (telegram[1] == nxt::byteOf(nxt::Opcode::kLsGetStatus)) {
        simReplyBegin(reply, telegram[1], nxt::BrickStatus::kSuccess);
        simReplyByte(reply, 1);  // one byte ready
        return true;
      }
      if (telegram[1] == nxt::byteOf(nxt::Opcode::kLsRead)) {
        simReplyBegin(reply, telegram[1], nxt::BrickStatus::kSuccess);
        simReplyByte(reply, 1);                               // one byte read,
        simReplyByte(reply, 42);                              // the distance,
        for (int i = 0; i < 15; ++i) simReplyByte(reply, 0);  // and the rest of the buffer
        return true;
      }
      return false;
    };
    ASAN_POISON_MEMORY_REGION(arena, sizeof arena);
    simTransportSetUp(settings);
    static Discard discard;
    std::cerr.rdbuf(&discard);
    return brickOpen();
  }();
  if (!opened) std::abort();

  // Each reply is copied into the arena at a granule boundary, after a
  // poisoned gap; all the rest of it stays poisoned, so that a read past a
  // reply is caught as past an exact-size copy of its own, and nothing is
  // allocated.
  static SimScriptedReply replies[kMaxReplies];
  std::size_t replyCount = 0;
  std::size_t offset = kGap;
  for (std::size_t begin = 0;;) {
    const std::size_t end = nextSeparator(data, begin, size);
    const std::size_t length = end - begin;
    ASAN_UNPOISON_MEMORY_REGION(arena + offset, length);
    std::memcpy(arena + offset, data + begin, length);
    replies[replyCount++] = SimScriptedReply{arena + offset, length};
    offset = roundUp(offset + length) + kGap;
    if (end == size) break;
    begin = end + 2;
  }
  scriptedLeft = replyCount;
  simTransportScriptReplies(replies, replyCount);
  for (std::size_t i = 0; i < replyCount; ++i) {
    switch (i % 6) {
      case 0:
        brickBatteryLevel();
        break;
      case 1: {
        const std::optional<std::string> name = brickGetName();
        if (name && name->size() > 15) std::abort();
        break;
      }
      case 2:
        motorGetRotationCount(static_cast<std::int32_t>(i % 3));
        break;
      case 3:
        sensorGetValue(static_cast<int>(i % 4));
        break;
      case 4:
        sensorLsGetStatus(static_cast<int>(i % 4));
        break;
      case 5:
        // Once per input, with a short wait: the scripted replies decide
        // when a byte is ready, and then the brick's own answers.
        if (i == 5) sonarGetValue(static_cast<int>(i % 4), std::chrono::milliseconds(1));
        break;
    }
  }
  simTransportScriptReplies(nullptr, 0);
  scriptedLeft = 0;
  ASAN_POISON_MEMORY_REGION(arena, offset);
  return 0;
}
