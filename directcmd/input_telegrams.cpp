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

void setInputMode(int port, std::uint8_t type, std::uint8_t mode) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kSetInputMode), lowByte(port), type,
                                              mode};
  sendCommand(directCommandBuffer);
}

// LSWRITE of one byte into a register of the ultrasonic sensor.
void sonarWriteRegister(int port, std::uint8_t reg, std::uint8_t value) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kLsWrite), lowByte(port), 0x03, 0x00,
                                              nxt::kSonarBusAddress,    reg,           value};
  std::uint8_t responseBuffer[kLsWriteReplyLength];
  askCommand(directCommandBuffer, responseBuffer);
}

// LSWRITE that asks the sensor for its first measurement byte.
void sonarRequestDistance(int port) {
  // Two bytes to transmit (address, register), one to receive.
  const std::uint8_t directCommandBuffer[] = {
      byteOf(Opcode::kLsWrite),   lowByte(port), 0x02, 0x01, nxt::kSonarBusAddress,
      nxt::kSonarRegisterDistance};
  std::uint8_t responseBuffer[kLsWriteReplyLength];
  askCommand(directCommandBuffer, responseBuffer);
}

// LSREAD: the first received byte, reply byte 3.
std::uint8_t lsReadFirstByte(int port) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kLsRead), lowByte(port)};
  std::uint8_t responseBuffer[kLsReadReplyLength];
  askCommand(directCommandBuffer, responseBuffer);
  return responseBuffer[3];
}

}  // namespace

void sensorSetTouch(int port) { setInputMode(port, nxt::kSensorSwitch, nxt::kSensorModeBoolean); }

void sensorSetSound(int port) {
  setInputMode(port, nxt::kSensorSoundDb, nxt::kSensorModePercentFullScale);
}

void sensorSetLight(int port, bool active) {
  setInputMode(port, active ? nxt::kSensorLightActive : nxt::kSensorLightInactive,
               nxt::kSensorModePercentFullScale);
}

void sensorSetSonar(int port) { setInputMode(port, nxt::kSensorLowSpeed9V, nxt::kSensorModeRaw); }

void sensorSetRaw(int port) { setInputMode(port, nxt::kSensorSoundDb, nxt::kSensorModeRaw); }

std::uint16_t sensorGetValue(int port) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kGetInputValues), lowByte(port)};
  std::uint8_t responseBuffer[kInputValuesReplyLength];
  askCommand(directCommandBuffer, responseBuffer);
  return nxt::readU16(responseBuffer + 11);
}

std::uint8_t sensorLsGetStatus(int port) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kLsGetStatus), lowByte(port)};
  std::uint8_t responseBuffer[kLsGetStatusReplyLength];
  askCommand(directCommandBuffer, responseBuffer);
  return responseBuffer[2];
}

void sonarOff(int port) {
  sonarWriteRegister(port, nxt::kSonarRegisterCommand, nxt::kSonarCommandOff);
}

void sonarSingleShot(int port) {
  sonarWriteRegister(port, nxt::kSonarRegisterCommand, nxt::kSonarCommandSingleShot);
}

void sonarContinuous(int port) {
  sonarWriteRegister(port, nxt::kSonarRegisterCommand, nxt::kSonarCommandContinuous);
}

void sonarContinuousInterval(int port, std::int32_t interval) {
  sonarWriteRegister(port, nxt::kSonarRegisterInterval, lowByte(interval));
}

SonarReading sonarGetValue(int port, std::chrono::milliseconds waitLimit) {
  SonarReading reading;
  sonarContinuous(port);
  const auto waitBegan = std::chrono::steady_clock::now();
  std::uint8_t bytesReady = 0;
  while (bytesReady < 1) {
    if (reading.passes > 0 && waitCancelled()) {
      reading.cancelled = true;
      return reading;
    }
    sonarRequestDistance(port);
    ++reading.passes;
    // A dead link reports the fill, one byte ready: no wait, distance 1.
    bytesReady = sensorLsGetStatus(port);
    if (bytesReady < 1 && std::chrono::steady_clock::now() - waitBegan >= waitLimit) {
      reading.timedOut = true;
      return reading;
    }
  }
  reading.distanceCm = lsReadFirstByte(port);
  return reading;
}
