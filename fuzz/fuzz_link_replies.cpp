// Fuzzes the driver's reply check and the reply decoders: the input is
// split at 0xFF 0xFF into replies that stand in for the brick's answers to
// the queries of the direct-command layer: battery, name, rotation
// count, sensor value, bus status and the sonar's polling.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "directcmd/brick_telegrams.h"
#include "directcmd/input_telegrams.h"
#include "directcmd/output_telegrams.h"
#include "link/device_link.h"
#include "link/transport_sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024) return 0;
  static const bool opened = [] {
    simTransportSetUp(SimTransportSettings{});
    return brickOpen();
  }();
  if (!opened) std::abort();

  std::vector<std::vector<std::uint8_t>> replies(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (i + 1 < size && data[i] == 0xff && data[i + 1] == 0xff) {
      replies.emplace_back();
      ++i;
    } else {
      replies.back().push_back(data[i]);
    }
  }
  simTransportScriptReplies(replies);
  for (std::size_t i = 0; i < replies.size(); ++i) {
    switch (i % 6) {
      case 0:
        brickBatteryLevel();
        break;
      case 1: {
        const std::string name = brickGetName();
        if (name.size() > 15) std::abort();
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
