#include "directcmd/input_telegrams.h"

#include "directcmd/direct_command.h"
#include "directcmd/wait_cancel.h"
#include "protocol/little_endian.h"
#include "protocol/nxt_protocol.h"

namespace {

using nxt::byteOf;
using nxt::lowByte;
using nxt::Opcode;

// Reply lengths as the link hands them over, without the leading 0x02.
constexpr std::uint32_t kInputValuesReplyLength = 15;
constexpr std::uint32_t kLsGetStatusReplyLength = 3;
constexpr std::uint32_t kLsWriteReplyLength = 2;
constexpr std::uint32_t kLsReadReplyLength = 19;

bool setInputMode(int port, std::uint8_t type, std::uint8_t mode) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kSetInputMode), lowByte(port), type,
                                              mode};
  return sendCommand(directCommandBuffer);
}

// LSWRITE of one byte into a register of the ultrasonic sensor.
bool sonarWriteRegister(int port, std::uint8_t reg, std::uint8_t value) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kLsWrite), lowByte(port), 0x03, 0x00,
                                              nxt::kSonarBusAddress,    reg,           value};
  std::uint8_t responseBuffer[kLsWriteReplyLength];
  return askCommand(directCommandBuffer, responseBuffer);
}

// LSWRITE that asks the sensor for its first measurement byte.
bool sonarRequestDistance(int port) {
  // Two bytes to transmit (address, register), one to receive.
  const std::uint8_t directCommandBuffer[] = {
      byteOf(Opcode::kLsWrite),   lowByte(port), 0x02, 0x01, nxt::kSonarBusAddress,
      nxt::kSonarRegisterDistance};
  std::uint8_t responseBuffer[kLsWriteReplyLength];
  return askCommand(directCommandBuffer, responseBuffer);
}

enum class LsRead { kNoReply, kNoByte, kByte };

// LSREAD: the first received byte, reply byte 3, when the reply's status
// is 0x00 and its count (byte 2) at least 1.
LsRead lsReadFirstByte(int port, std::uint8_t& first) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kLsRead), lowByte(port)};
  std::uint8_t responseBuffer[kLsReadReplyLength];
  if (!askCommand(directCommandBuffer, responseBuffer)) return LsRead::kNoReply;
  if (responseBuffer[1] != byteOf(nxt::BrickStatus::kSuccess) || responseBuffer[2] < 1) {
    return LsRead::kNoByte;
  }
  first = responseBuffer[3];
  return LsRead::kByte;
}

}  // namespace

bool sensorSetTouch(int port) {
  return setInputMode(port, nxt::kSensorSwitch, nxt::kSensorModeBoolean);
}

bool sensorSetSound(int port) {
  return setInputMode(port, nxt::kSensorSoundDb, nxt::kSensorModePercentFullScale);
}

bool sensorSetLight(int port, bool active) {
  return setInputMode(port, active ? nxt::kSensorLightActive : nxt::kSensorLightInactive,
                      nxt::kSensorModePercentFullScale);
}

bool sensorSetSonar(int port) {
  return setInputMode(port, nxt::kSensorLowSpeed9V, nxt::kSensorModeRaw);
}

bool sensorSetRaw(int port) { return setInputMode(port, nxt::kSensorSoundDb, nxt::kSensorModeRaw); }

std::optional<std::uint16_t> sensorGetValue(int port) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kGetInputValues), lowByte(port)};
  std::uint8_t responseBuffer[kInputValuesReplyLength];
  if (!askCommand(directCommandBuffer, responseBuffer)) return std::nullopt;
  return nxt::readU16(responseBuffer + 11);
}

std::optional<std::uint8_t> sensorLsGetStatus(int port) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kLsGetStatus), lowByte(port)};
  std::uint8_t responseBuffer[kLsGetStatusReplyLength];
  if (!askCommand(directCommandBuffer, responseBuffer)) return std::nullopt;
  return responseBuffer[2];
}

bool sonarOff(int port) {
  return sonarWriteRegister(port, nxt::kSonarRegisterCommand, nxt::kSonarCommandOff);
}

bool sonarSingleShot(int port) {
  return sonarWriteRegister(port, nxt::kSonarRegisterCommand, nxt::kSonarCommandSingleShot);
}

bool sonarContinuous(int port) {
  return sonarWriteRegister(port, nxt::kSonarRegisterCommand, nxt::kSonarCommandContinuous);
}

bool sonarContinuousInterval(int port, std::int32_t interval) {
  return sonarWriteRegister(port, nxt::kSonarRegisterInterval, lowByte(interval));
}

SonarReading sonarGetValue(int port, std::chrono::milliseconds waitLimit) {
  SonarReading reading;
  if (!sonarContinuous(port)) {
    reading.timedOut = true;
    return reading;
  }
  const auto waitBegan = std::chrono::steady_clock::now();
  for (;;) {
    if (reading.passes > 0 && waitCancelled()) {
      reading.cancelled = true;
      return reading;
    }
    const bool requested = sonarRequestDistance(port);
    ++reading.passes;
    const std::optional<std::uint8_t> bytesReady =
        requested ? sensorLsGetStatus(port) : std::nullopt;
    if (!bytesReady) break;
    if (*bytesReady >= 1) {
      const LsRead read = lsReadFirstByte(port, reading.distanceCm);
      if (read == LsRead::kByte) return reading;
      if (read == LsRead::kNoReply) break;
    }
    if (std::chrono::steady_clock::now() - waitBegan >= waitLimit) break;
  }
  reading.timedOut = true;
  return reading;
}
