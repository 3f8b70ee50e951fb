#include "sim/sim_brick.h"

#include <algorithm>
#include <cstring>

#include "protocol/little_endian.h"

namespace {

using nxt::BrickStatus;
using nxt::Opcode;

// Reads the zero-terminated file name that starts at `field`; the field
// ends at the telegram's end or after 20 bytes, whichever comes first.
std::string fileNameAt(const std::uint8_t* field, std::size_t available) {
  const std::size_t limit = std::min(available, nxt::kFileNameField);
  std::size_t n = 0;
  while (n < limit && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

bool hasFile(const SimBrick& brick, const std::string& name) {
  return std::find(brick.config.files.begin(), brick.config.files.end(), name) !=
         brick.config.files.end();
}

// Direct commands of the brick as a whole. `p` are the parameters after the
// opcode, `n` their count. The firmware does not check lengths; a short
// telegram reads as zeros here.
BrickStatus systemDirect(SimBrick& brick, Opcode op, const std::uint8_t* p, std::size_t n,
                         SimTime now, SimReply& reply) {
  auto param = [&](std::size_t i) -> std::uint8_t { return i < n ? p[i] : 0; };
  switch (op) {
    case Opcode::kStartProgram: {
      const std::string name = fileNameAt(p, n);
      if (!hasFile(brick, name)) return BrickStatus::kOutOfRange;
      brick.runningProgram = name;
      simOutputsProgramReset(brick.outputs, now);
      simInputsReset(brick.inputs, now);
      return BrickStatus::kSuccess;
    }
    case Opcode::kStopProgram:
      if (brick.runningProgram.empty()) return BrickStatus::kNoActiveProgram;
      brick.runningProgram.clear();
      simOutputsProgramReset(brick.outputs, now);
      simInputsReset(brick.inputs, now);
      return BrickStatus::kSuccess;
    case Opcode::kPlaySoundFile: {
      const std::string name = fileNameAt(n > 1 ? p + 1 : p, n > 1 ? n - 1 : 0);
      if (!hasFile(brick, name)) return BrickStatus::kOutOfRange;
      brick.playingSound = name;
      brick.soundLoops = param(0) != 0;
      return BrickStatus::kSuccess;
    }
    case Opcode::kPlayTone: {
      // The sound driver clamps the tone; the command always succeeds.
      const std::uint8_t fields[] = {param(0), param(1), param(2), param(3)};
      const std::uint16_t hz = nxt::readU16(fields);
      const std::uint16_t ms = nxt::readU16(fields + 2);
      brick.toneFrequencyHz = std::clamp<std::uint16_t>(hz, 220, 14080);
      brick.toneDurationMs = std::max<std::uint16_t>(ms, 10);
      brick.toneEnds = now + std::chrono::milliseconds(brick.toneDurationMs);
      return BrickStatus::kSuccess;
    }
    case Opcode::kGetBatteryLevel:
      simReplyBegin(reply, nxt::byteOf(op), BrickStatus::kSuccess);
      simReplyU16(reply, brick.config.batteryMillivolts);
      return BrickStatus::kSuccess;
    case Opcode::kStopSoundPlayback:
      brick.playingSound.clear();
      brick.soundLoops = false;
      return BrickStatus::kSuccess;
    case Opcode::kKeepAlive:
      simReplyBegin(reply, nxt::byteOf(op), BrickStatus::kSuccess);
      simReplyU32(reply, 600000);  // sleep time limit, ms
      return BrickStatus::kSuccess;
    default:
      return BrickStatus::kUnknownOpcode;
  }
}

void deviceInfo(const SimBrick& brick, SimReply& reply) {
  simReplyBegin(reply, nxt::byteOf(nxt::SystemOpcode::kGetDeviceInfo), BrickStatus::kSuccess);
  std::uint8_t name[nxt::kBrickNameField] = {};
  std::memcpy(name, brick.config.name.data(),
              std::min(brick.config.name.size(), nxt::kBrickNameField));
  for (std::uint8_t b : name) simReplyByte(reply, b);
  for (std::uint8_t b : brick.config.bluetoothAddress) simReplyByte(reply, b);
  simReplyByte(reply, 0);
  simReplyU32(reply, 0);  // signal strength of the four connection slots
  simReplyU32(reply, brick.config.availableFlash);
}

}  // namespace

void simBrickReset(SimBrick& brick, const SimBrickConfig& config, SimTime now) {
  const SimBrickConfig kept = config;  // `config` may be brick.config itself
  brick = SimBrick{};
  brick.config = kept;
  simOutputsPowerUp(brick.outputs, brick.config.motorLoadPercent, brick.config.batteryMillivolts,
                    now);
  simInputsReset(brick.inputs, now);
}

bool simBrickReceive(SimBrick& brick, const std::uint8_t* telegram, std::size_t length, SimTime now,
                     SimReply& reply) {
  reply.length = 0;
  if (length < 2) return false;
  const std::uint8_t type = telegram[0];
  const std::uint8_t opcode = telegram[1];
  const bool wantsReply = (type & nxt::kNoReplyBit) == 0;
  const std::uint8_t kind = type & static_cast<std::uint8_t>(~nxt::kNoReplyBit);
  const std::uint8_t* params = telegram + 2;
  const std::size_t paramCount = length - 2;

  if (kind == nxt::byteOf(nxt::TelegramType::kSystemReply)) {
    // Only GETDEVICEINFO is modelled; the firmware's answer to other system
    // opcodes is not defined, so the model stays silent.
    if (opcode != nxt::byteOf(nxt::SystemOpcode::kGetDeviceInfo) || !wantsReply) return false;
    deviceInfo(brick, reply);
    return true;
  }
  if (kind != nxt::byteOf(nxt::TelegramType::kDirectReply)) return false;

  const auto op = static_cast<Opcode>(opcode);
  if (simInputsHandles(opcode)) {
    return simInputsReceive(brick.inputs, brick.config, opcode, params, paramCount, wantsReply, now,
                            reply);
  }
  // With the no-reply type, commands that only read do nothing at all.
  if (!wantsReply && (op == Opcode::kGetBatteryLevel || op == Opcode::kGetOutputState)) {
    return false;
  }

  SimReply scratch;
  const BrickStatus status =
      simOutputsHandles(op) ? simOutputsCommand(brick.outputs, op, params, paramCount, now, scratch)
                            : systemDirect(brick, op, params, paramCount, now, scratch);
  if (!wantsReply) return false;
  // A command that formed its own reply keeps it, also with an error status
  // (GETOUTPUTSTATE answers a bad port with 0xC0 and zeros, full length).
  if (scratch.length > 0) {
    reply = scratch;
  } else {
    simReplyBegin(reply, opcode, status);
  }
  return true;
}
