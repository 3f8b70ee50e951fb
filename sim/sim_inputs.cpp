#include "sim/sim_inputs.h"

#include <algorithm>

namespace {

using nxt::BrickStatus;
using nxt::Opcode;

constexpr auto kTypeChangeInvalid = std::chrono::milliseconds(20);
constexpr auto kSoundTypeChangeInvalid = std::chrono::milliseconds(300);
constexpr auto kModeChangeInvalid = std::chrono::milliseconds(1);
constexpr std::uint16_t kRawMax = 1023;
constexpr std::uint16_t kBooleanThreshold = 460;

bool isLowSpeed(std::uint8_t type) {
  return type == nxt::kSensorLowSpeed || type == nxt::kSensorLowSpeed9V;
}

bool isSound(std::uint8_t type) {
  return type == nxt::kSensorSoundDb || type == nxt::kSensorSoundDba;
}

bool isValid(const SimInput& input, SimTime now) { return now >= input.invalidUntil; }

std::uint16_t rawReading(const SimBrickConfig& config, std::size_t port) {
  return std::min<std::uint16_t>(config.sensorRaw[port], kRawMax);
}

// The ultrasonic sensor that answers on the port's bus, or null.
SimSonar* sonarOnBus(SimInput& input, const SimBrickConfig& config, std::size_t port) {
  if (config.sonarCm[port] < 0 || input.type != nxt::kSensorLowSpeed9V) return nullptr;
  return &input.sonar;
}

// Brings the values and the bus of a port up to `now`.
void advance(SimInput& input, const SimBrickConfig& config, std::size_t port, SimTime now) {
  if (isValid(input, now) && !isLowSpeed(input.type)) {
    input.raw = rawReading(config, port);
    input.normalized = simNormalize(input.type, input.raw);
    input.scaled = simScale(input.mode, input.normalized);
  }
  simLowSpeedAdvance(input.bus, sonarOnBus(input, config, port), config.sonarCm[port], now);
}

// The status of a port's bus as LSGETSTATUS and LSREAD report it.
BrickStatus busStatus(const SimInput& input, SimTime now) {
  if (!isLowSpeed(input.type) || !isValid(input, now)) return BrickStatus::kPortNotReady;
  switch (input.bus.state) {
    case SimBusState::kPending:
      return BrickStatus::kPendingCommunication;
    case SimBusState::kError:
      return BrickStatus::kBusError;
    case SimBusState::kIdle:
      break;
  }
  return BrickStatus::kSuccess;
}

void setInputMode(SimInput& input, const SimBrickConfig& config, std::size_t port,
                  std::uint8_t type, std::uint8_t mode, SimTime now) {
  // The firmware kept the values up to date until now.
  advance(input, config, port, now);
  const bool typeChanged = type != input.type;
  input.type = type;
  input.mode = mode;
  if (!typeChanged) {
    input.invalidUntil = now + kModeChangeInvalid;
    return;
  }
  input.invalidUntil = now + (isSound(type) ? kSoundTypeChangeInvalid : kTypeChangeInvalid);
  input.bus = SimLowSpeedBus{};
  // The ultrasonic sensor runs on the 9 V that only this type supplies.
  if (type == nxt::kSensorLowSpeed9V) simSonarPowerUp(input.sonar, now);
}

BrickStatus lsWrite(SimInput& input, const SimBrickConfig& config, std::size_t port,
                    const std::uint8_t* params, std::size_t paramCount, SimTime now) {
  auto param = [&](std::size_t i) -> std::uint8_t { return i < paramCount ? params[i] : 0; };
  const std::size_t txLength = param(1);
  const std::size_t rxLength = param(2);
  if (txLength > nxt::kLowSpeedBufferLength || rxLength > nxt::kLowSpeedBufferLength) {
    return BrickStatus::kSpecifiedTooLong;
  }
  advance(input, config, port, now);
  if (!isLowSpeed(input.type) || !isValid(input, now) || input.bus.state == SimBusState::kPending) {
    return BrickStatus::kPortNotReady;
  }
  std::uint8_t tx[nxt::kLowSpeedBufferLength] = {};
  for (std::size_t i = 0; i < txLength; ++i) tx[i] = param(3 + i);
  simLowSpeedStart(input.bus, tx, txLength, rxLength, now);
  return BrickStatus::kSuccess;
}

void inputValuesReply(SimInput& input, const SimBrickConfig& config, std::size_t port, SimTime now,
                      SimReply& reply) {
  advance(input, config, port, now);
  simReplyBegin(reply, nxt::byteOf(Opcode::kGetInputValues), BrickStatus::kSuccess);
  simReplyByte(reply, static_cast<std::uint8_t>(port));
  simReplyByte(reply, isValid(input, now) ? 1 : 0);
  simReplyByte(reply, 0);  // not calibrated
  simReplyByte(reply, input.type);
  simReplyByte(reply, input.mode);
  simReplyU16(reply, input.raw);
  simReplyU16(reply, input.normalized);
  simReplyU16(reply, static_cast<std::uint16_t>(input.scaled));
  simReplyU16(reply, input.normalized);  // the calibrated value is a copy
}

}  // namespace

std::uint16_t simNormalize(std::uint8_t type, std::uint16_t raw) {
  const int value = std::min<int>(raw, kRawMax);
  switch (type) {
    case nxt::kSensorLightActive:
    case nxt::kSensorLightInactive:
      return static_cast<std::uint16_t>(kRawMax -
                                        std::min(1023, std::max(0, value - 200) * 100 / 68));
    case nxt::kSensorSoundDb:
    case nxt::kSensorSoundDba:
      return static_cast<std::uint16_t>(kRawMax -
                                        std::min(1023, std::max(0, value - 162) * 100 / 83));
    default:
      return static_cast<std::uint16_t>(value);
  }
}

std::int16_t simScale(std::uint8_t mode, std::uint16_t normalized) {
  switch (mode & 0xE0) {
    case nxt::kSensorModeBoolean:
      return normalized <= kBooleanThreshold ? 1 : 0;
    case nxt::kSensorModePercentFullScale:
      return static_cast<std::int16_t>(normalized * 100 / kRawMax);
    default:
      return static_cast<std::int16_t>(normalized);
  }
}

void simInputsReset(SimInputs& inputs, SimTime now) {
  for (SimInput& input : inputs.ports) {
    input = SimInput{};
    input.invalidUntil = now;
  }
}

bool simInputsHandles(std::uint8_t opcode) {
  switch (static_cast<Opcode>(opcode)) {
    case Opcode::kSetInputMode:
    case Opcode::kGetInputValues:
    case Opcode::kLsGetStatus:
    case Opcode::kLsWrite:
    case Opcode::kLsRead:
      return true;
    default:
      return false;
  }
}

bool simInputsReceive(SimInputs& inputs, const SimBrickConfig& config, std::uint8_t opcode,
                      const std::uint8_t* params, std::size_t paramCount, bool wantsReply,
                      SimTime now, SimReply& reply) {
  const auto op = static_cast<Opcode>(opcode);
  const bool onlyReads =
      op == Opcode::kGetInputValues || op == Opcode::kLsGetStatus || op == Opcode::kLsRead;
  if (onlyReads && !wantsReply) return false;

  const std::size_t port = paramCount > 0 ? params[0] : 0;
  if (port >= kSimInputPorts) {
    simReplyBegin(reply, opcode, BrickStatus::kOutOfRange);
    // GETINPUTVALUES keeps its length, in zeros; the others are 3 bytes.
    if (op == Opcode::kGetInputValues) {
      while (reply.length < 16) simReplyByte(reply, 0);
    }
    return wantsReply;
  }
  SimInput& input = inputs.ports[port];
  auto param = [&](std::size_t i) -> std::uint8_t { return i < paramCount ? params[i] : 0; };

  switch (op) {
    case Opcode::kSetInputMode:
      setInputMode(input, config, port, param(1), param(2), now);
      simReplyBegin(reply, opcode, BrickStatus::kSuccess);
      break;
    case Opcode::kGetInputValues:
      inputValuesReply(input, config, port, now, reply);
      break;
    case Opcode::kLsGetStatus:
      advance(input, config, port, now);
      simReplyBegin(reply, opcode, busStatus(input, now));
      simReplyByte(reply, input.bus.receivedCount);
      break;
    case Opcode::kLsWrite:
      simReplyBegin(reply, opcode, lsWrite(input, config, port, params, paramCount, now));
      break;
    case Opcode::kLsRead: {
      advance(input, config, port, now);
      simReplyBegin(reply, opcode, busStatus(input, now));
      std::uint8_t data[nxt::kLowSpeedBufferLength] = {};
      simReplyByte(reply, static_cast<std::uint8_t>(simLowSpeedTake(input.bus, data)));
      for (std::uint8_t b : data) simReplyByte(reply, b);
      break;
    }
    default:
      return false;
  }
  return wantsReply;
}
