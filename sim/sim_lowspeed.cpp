#include "sim/sim_lowspeed.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::chrono::microseconds kByteTime{850};
constexpr std::chrono::microseconds kSetUpTime{1000};

}  // namespace

std::chrono::microseconds simLowSpeedDuration(std::size_t txLength, std::size_t rxLength) {
  const std::size_t onWire = txLength + rxLength + (rxLength > 0 ? 1 : 0);
  return kSetUpTime + kByteTime * static_cast<long>(onWire);
}

void simLowSpeedStart(SimLowSpeedBus& bus, const std::uint8_t* tx, std::size_t txLength,
                      std::size_t rxLength, SimTime now) {
  bus.txLength = static_cast<std::uint8_t>(std::min(txLength, sizeof bus.tx));
  bus.rxLength = static_cast<std::uint8_t>(std::min(rxLength, sizeof bus.received));
  std::memcpy(bus.tx, tx, bus.txLength);
  bus.state = SimBusState::kPending;
  bus.endsAt = now + simLowSpeedDuration(bus.txLength, bus.rxLength);
}

void simLowSpeedAdvance(SimLowSpeedBus& bus, SimSonar* sonar, int distanceCm, SimTime now) {
  if (bus.state != SimBusState::kPending || now < bus.endsAt) return;
  std::uint8_t rx[nxt::kLowSpeedBufferLength] = {};
  const bool acknowledged =
      sonar != nullptr &&
      simSonarTransfer(*sonar, distanceCm, bus.tx, bus.txLength, rx, bus.rxLength, bus.endsAt);
  if (!acknowledged) {
    bus.state = SimBusState::kError;
    return;
  }
  // A full buffer takes no more; the rest is lost.
  for (std::size_t i = 0; i < bus.rxLength && bus.receivedCount < sizeof bus.received; ++i) {
    bus.received[bus.receivedCount++] = rx[i];
  }
  bus.state = SimBusState::kIdle;
}

std::size_t simLowSpeedTake(SimLowSpeedBus& bus, std::uint8_t* out) {
  const std::size_t count = bus.receivedCount;
  std::memcpy(out, bus.received, count);
  bus.receivedCount = 0;
  return count;
}
