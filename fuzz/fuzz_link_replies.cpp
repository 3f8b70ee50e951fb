// Fuzzes the driver's reply check and the reply decoders: the input is
// split at 0xFF 0xFF into replies that stand in for the brick's answers to
// the queries of the direct-command layer: battery, name, rotation
// count, sensor value, bus status and the sonar's polling.
//
// Once the input's replies run out the brick answers for itself, and its
// LSGETSTATUS reports a byte ready: the sonar's wait then ends at once
// instead of polling back to back until its time limit, which made every
// input that reached it cost a whole millisecond.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "directcmd/brick_telegrams.h"
#include "directcmd/input_telegrams.h"
#include "directcmd/output_telegrams.h"
#include "link/device_link.h"
#include "link/transport_sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024) return 0;
  static const bool opened = [] {
    SimTransportSettings settings;
    settings.script = [](const std::uint8_t* telegram, std::size_t length, SimReply& reply) {
      if (length < 2 || telegram[0] != 0x00 ||
          telegram[1] != nxt::byteOf(nxt::Opcode::kLsGetStatus)) {
        return false;
      }
      simReplyBegin(reply, telegram[1], nxt::BrickStatus::kSuccess);
      simReplyByte(reply, 1);  // one byte ready
      return true;
    };
    simTransportSetUp(settings);
    return brickOpen();
  }();
  if (!opened) std::abort();

  // Each reply an exact-size copy, so that a read past its end is caught.
  std::vector<std::vector<std::uint8_t>> replies;
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || (i + 1 < size && data[i] == 0xff && data[i + 1] == 0xff)) {
      replies.emplace_back(data + begin, data + i);
      begin = i + 2;
      ++i;
    }
  }
  const std::size_t replyCount = replies.size();
  simTransportScriptReplies(std::move(replies));
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
  simTransportScriptReplies({});
  return 0;
}
