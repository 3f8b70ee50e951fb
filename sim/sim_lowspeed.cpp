#include "sim/sim_lowspeed.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::chrono::microseconds kByteTime{850};
constexpr std::chrono::microseconds kPass{1000};
constexpr std::chrono::microseconds kTry{2500};
constexpr int kTries = 4;
constexpr std::uint8_t kBufferMask = nxt::kLowSpeedBufferLength - 1;

// The init and load passes and the wire time.
std::chrono::microseconds untilData(std::size_t txLength, std::size_t rxLength) {
  const std::size_t onWire = txLength + rxLength + (rxLength > 0 ? 1 : 0);
  return 2 * kPass + kByteTime * static_cast<long>(onWire);
}

}  // namespace

std::chrono::microseconds simLowSpeedDuration(std::size_t txLength, std::size_t rxLength,
                                              bool acknowledged) {
  if (!acknowledged) return kPass + kTry * kTries;
  return untilData(txLength, rxLength) + kPass;
}

void simLowSpeedStart(SimLowSpeedBus& bus, const std::uint8_t* tx, std::size_t txLength,
                      std::size_t rxLength, bool acknowledged, SimTime now) {
  bus.txLength = static_cast<std::uint8_t>(std::min(txLength, sizeof bus.tx));
  bus.rxLength = static_cast<std::uint8_t>(std::min(rxLength, sizeof bus.received));
  std::memcpy(bus.tx, tx, bus.txLength);
  bus.state = SimBusState::kPending;
  bus.acknowledged = acknowledged;
  bus.delivered = false;
  bus.endsAt = now + simLowSpeedDuration(bus.txLength, bus.rxLength, acknowledged);
  bus.dataAt = acknowledged ? now + untilData(bus.txLength, bus.rxLength) : bus.endsAt;
}

void simLowSpeedFail(SimLowSpeedBus& bus) {
  if (bus.state == SimBusState::kPending) bus.state = SimBusState::kError;
}

void simLowSpeedAdvance(SimLowSpeedBus& bus, SimSonar* sonar, int distanceCm, SimTime now) {
  if (bus.state != SimBusState::kPending || now < bus.dataAt) return;
  if (!bus.delivered) {
    bus.delivered = true;
    std::uint8_t rx[nxt::kLowSpeedBufferLength] = {};
    const bool answered =
        bus.acknowledged && sonar != nullptr &&
        simSonarTransfer(*sonar, distanceCm, bus.tx, bus.txLength, rx, bus.rxLength, bus.dataAt);
    if (!answered) {
      bus.state = SimBusState::kError;
      return;
    }
    for (std::size_t i = 0; i < bus.rxLength; ++i) {
      bus.received[bus.in] = rx[i];
      bus.in = (bus.in + 1) & kBufferMask;
    }
  }
  if (now >= bus.endsAt) bus.state = SimBusState::kIdle;
}

std::uint8_t simLowSpeedReady(const SimLowSpeedBus& bus) {
  return (bus.in - bus.out) & kBufferMask;
}

std::size_t simLowSpeedTake(SimLowSpeedBus& bus, std::uint8_t* out) {
  const std::size_t count = simLowSpeedReady(bus);
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = bus.received[bus.out];
    bus.out = (bus.out + 1) & kBufferMask;
  }
  return count;
}
