#include "directcmd/brick_telegrams.h"

#include <cstring>

#include "directcmd/direct_command.h"
#include "protocol/little_endian.h"
#include "protocol/nxt_protocol.h"

namespace {

using nxt::byteOf;
using nxt::lowByte;
using nxt::Opcode;

constexpr std::size_t kBrickNameOffset = 2;  // in the GETDEVICEINFO reply, without its 0x02

// Writes the name and its zero byte into the 20-byte field at `field`; the
// bytes after the zero are zero too.
void putFileName(std::uint8_t* field, const std::string& name) {
  std::memset(field, 0, nxt::kFileNameField);
  std::memcpy(field, name.data(), name.size());
}

}  // namespace

bool fileNameFits(const std::string& name) { return name.size() <= nxt::kMaxFileNameLength; }

bool brickPlayTone(std::int32_t frequencyHz, std::int32_t durationMs) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kPlayTone), lowByte(frequencyHz % 256),
                                              lowByte(frequencyHz / 256), lowByte(durationMs % 256),
                                              lowByte(durationMs / 256)};
  return sendCommand(directCommandBuffer);
}

std::optional<std::uint16_t> brickBatteryLevel() {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kGetBatteryLevel)};
  std::uint8_t responseBuffer[4];
  if (!askCommand(directCommandBuffer, responseBuffer)) return std::nullopt;
  return nxt::readU16(responseBuffer + 2);
}

bool brickStartProgram(std::string fileName) {
  if (!fileNameFits(fileName)) return false;
  std::uint8_t directCommandBuffer[1 + nxt::kFileNameField];
  directCommandBuffer[0] = byteOf(Opcode::kStartProgram);
  putFileName(directCommandBuffer + 1, fileName);
  return sendCommand(directCommandBuffer);
}

bool brickStopProgram() {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kStopProgram)};
  return sendCommand(directCommandBuffer);
}

bool brickPlaySoundFile(std::string fileName, bool loop) {
  if (!fileNameFits(fileName)) return false;
  std::uint8_t directCommandBuffer[2 + nxt::kFileNameField];
  directCommandBuffer[0] = byteOf(Opcode::kPlaySoundFile);
  directCommandBuffer[1] = loop ? 1 : 0;
  putFileName(directCommandBuffer + 2, fileName);
  return sendCommand(directCommandBuffer);
}

bool brickStopSound() {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kStopSoundPlayback)};
  return sendCommand(directCommandBuffer);
}

std::optional<std::string> brickGetName() {
  const std::uint8_t systemCommandBuffer[] = {byteOf(nxt::SystemOpcode::kGetDeviceInfo)};
  std::uint8_t responseBuffer[nxt::kDeviceInfoReplyLength - 1];
  if (!askCommand(systemCommandBuffer, responseBuffer, CommandKind::kSystem)) return std::nullopt;
  const char* name = reinterpret_cast<const char*>(responseBuffer + kBrickNameOffset);
  const void* zero = std::memchr(name, '\0', nxt::kBrickNameField);
  return std::string(
      name, zero != nullptr ? static_cast<const char*>(zero) - name : nxt::kBrickNameField);
}

bool brickOpen() { return linkOpenUsb(); }
void brickClose() { linkClose(); }
