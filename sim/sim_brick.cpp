#include "sim/sim_brick.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "protocol/little_endian.h"

namespace {

// GETFIRMWAREVERSION: protocol 1.124, firmware 1.29, minor number first.
constexpr std::uint8_t kFirmwareVersions[] = {0x7C, 0x01, 0x1D, 0x01};

using nxt::BrickStatus;
using nxt::Opcode;

// Reads the zero-terminated file name that starts at `field`; the field
// ends at the telegram's end or after 20 bytes, whichever comes first.
std::string_view fileNameAt(const std::uint8_t* field, std::size_t available) {
  const std::size_t limit = std::min(available, nxt::kFileNameField);
  std::size_t n = 0;
  while (n < limit && field[n] != 0) ++n;
  return std::string_view(reinterpret_cast<const char*>(field), n);
}

bool isProgram(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr || std::strlen(dot) != 4) return false;
  const char* ext = ".rxe";
  for (std::size_t i = 0; i < 4; ++i) {
    if (std::tolower(static_cast<unsigned char>(dot[i])) != ext[i]) return false;
  }
  return true;
}

bool running(const SimBrick& brick) { return brick.runningProgram[0] != '\0'; }

void tell(SimBrick& brick, bool started, const char* program) {
  if (brick.eventCount == kSimEventsKept) {
    std::copy(brick.events + 1, brick.events + kSimEventsKept, brick.events);
    --brick.eventCount;
  }
  SimBrickEvent& event = brick.events[brick.eventCount++];
  event.started = started;
  simNameCopy(event.program, program);
}

void programReset(SimBrick& brick, SimTime now) {
  simOutputsProgramReset(brick.outputs, now);
  simInputsReset(brick.inputs, now);
  for (SimMailbox& mailbox : brick.mailboxes) mailbox.count = 0;
}

// MESSAGEWRITE: inbox, size, the message with its zero.
BrickStatus messageWrite(SimBrick& brick, const std::uint8_t* p, std::size_t n) {
  const std::uint8_t inbox = n > 0 ? p[0] : 0;
  const std::size_t size = n > 1 ? p[1] : 0;
  const std::uint8_t last = size > 0 && 1 + size < n ? p[1 + size] : 0;
  if (size == 0 || size > nxt::kMessageField || last != 0) return BrickStatus::kOutOfRange;
  if (inbox >= nxt::kMailboxCount) return BrickStatus::kInvalidMailbox;
  if (!running(brick)) return BrickStatus::kNoActiveProgram;
  SimMailbox& mailbox = brick.mailboxes[inbox];
  if (mailbox.count == kSimMessagesPerMailbox) {  // the oldest makes room
    mailbox.first = (mailbox.first + 1) % kSimMessagesPerMailbox;
    --mailbox.count;
  }
  const std::size_t slot = (mailbox.first + mailbox.count) % kSimMessagesPerMailbox;
  for (std::size_t i = 0; i < size; ++i) mailbox.messages[slot][i] = 2 + i < n ? p[2 + i] : 0;
  mailbox.sizes[slot] = static_cast<std::uint8_t>(size);
  ++mailbox.count;
  return BrickStatus::kSuccess;
}

// MESSAGEREAD: remote inbox (read here), local inbox (echoed), remove.
void messageRead(SimBrick& brick, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::uint8_t inbox = n > 0 ? p[0] : 0;
  const std::uint8_t echoed = n > 1 ? p[1] : 0;
  const bool remove = n > 2 && p[2] != 0;
  BrickStatus status = BrickStatus::kSuccess;
  const std::uint8_t* message = nullptr;
  std::size_t size = 0;
  if (inbox >= nxt::kMailboxCount) {
    status = BrickStatus::kInvalidMailbox;
  } else if (!running(brick)) {
    status = BrickStatus::kNoActiveProgram;
  } else if (brick.mailboxes[inbox].count == 0) {
    status = BrickStatus::kMailboxEmpty;
  } else {
    SimMailbox& mailbox = brick.mailboxes[inbox];
    message = mailbox.messages[mailbox.first];
    size = mailbox.sizes[mailbox.first];
    if (remove) {
      mailbox.first = (mailbox.first + 1) % kSimMessagesPerMailbox;
      --mailbox.count;
    }
  }
  simReplyBegin(reply, nxt::byteOf(Opcode::kMessageRead), status);
  simReplyByte(reply, echoed);
  simReplyByte(reply, static_cast<std::uint8_t>(size));
  for (std::size_t i = 0; i < nxt::kMessageField; ++i)
    simReplyByte(reply, i < size ? message[i] : 0);
}

// Direct commands of the brick as a whole. `p` are the parameters after the
// opcode, `n` their count. The firmware does not check lengths; a short
// telegram reads as zeros here.
BrickStatus systemDirect(SimBrick& brick, Opcode op, const std::uint8_t* p, std::size_t n,
                         SimTime now, SimReply& reply) {
  auto param = [&](std::size_t i) -> std::uint8_t { return i < n ? p[i] : 0; };
  switch (op) {
    case Opcode::kStartProgram: {
      const std::string_view name = fileNameAt(p, n);
      const SimFlashFile* file = simFlashFind(brick.flash, name);
      if (file == nullptr) return BrickStatus::kOutOfRange;
      // Another file than a program fails to start, and a program waits
      // for the running one to end: both are accepted and come to nothing.
      if (!isProgram(file->name) || running(brick)) return BrickStatus::kSuccess;
      simNameCopy(brick.runningProgram, name);
      programReset(brick, now);
      tell(brick, true, brick.runningProgram);
      return BrickStatus::kSuccess;
    }
    case Opcode::kStopProgram:
      if (!running(brick)) return BrickStatus::kNoActiveProgram;
      tell(brick, false, brick.runningProgram);
      simNameCopy(brick.runningProgram, "");
      programReset(brick, now);
      return BrickStatus::kSuccess;
    case Opcode::kPlaySoundFile: {
      const std::string_view name = fileNameAt(n > 1 ? p + 1 : p, n > 1 ? n - 1 : 0);
      if (simFlashFind(brick.flash, name) == nullptr) return BrickStatus::kOutOfRange;
      simNameCopy(brick.playingSound, name);
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
      simNameCopy(brick.playingSound, "");
      brick.soundLoops = false;
      return BrickStatus::kSuccess;
    case Opcode::kResetInputScaledValue:
      if (param(0) >= kSimInputPorts) return BrickStatus::kOutOfRange;
      brick.inputs.ports[param(0)].scaled = 0;
      return BrickStatus::kSuccess;
    case Opcode::kMessageWrite:
      return messageWrite(brick, p, n);
    case Opcode::kMessageRead:
      messageRead(brick, p, n, reply);
      return BrickStatus::kSuccess;
    case Opcode::kGetCurrentProgramName: {
      simReplyBegin(reply, nxt::byteOf(op),
                    running(brick) ? BrickStatus::kSuccess : BrickStatus::kNoActiveProgram);
      for (std::size_t i = 0; i < nxt::kFileNameField; ++i) {
        simReplyByte(reply, static_cast<std::uint8_t>(brick.runningProgram[i]));
      }
      return BrickStatus::kSuccess;
    }
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
  simReplyU32(reply, simFlashFree(brick.flash));
}

// A system command: the firmware's reply. To an opcode it does not know, it
// answers 0x02, the opcode, and as many bytes again as the request had,
// which are what the reply buffer held.
void systemCommand(SimBrick& brick, std::uint8_t opcode, const std::uint8_t* p, std::size_t n,
                   std::size_t telegramLength, SimReply& reply) {
  const auto op = static_cast<nxt::SystemOpcode>(opcode);
  if (op == nxt::SystemOpcode::kGetDeviceInfo) {
    deviceInfo(brick, reply);
  } else if (op == nxt::SystemOpcode::kGetFirmwareVersion) {
    simReplyBegin(reply, opcode, BrickStatus::kSuccess);
    for (std::uint8_t b : kFirmwareVersions) simReplyByte(reply, b);
  } else if (!simFilesReceive(brick.flash, opcode, p, n, reply)) {
    reply = brick.lastReply;
    reply.bytes[0] = nxt::byteOf(nxt::TelegramType::kReply);
    reply.bytes[1] = opcode;
    reply.length = std::min(telegramLength + 2, sizeof reply.bytes);
  }
}

}  // namespace

void simBrickReset(SimBrick& brick, const SimBrickConfig& config, SimTime now) {
  // The files are shared, and a brick's name fits a string's own buffer:
  // the copy allocates nothing.
  if (&config != &brick.config) brick.config = config;
  simFlashReset(brick.flash, brick.config.files.get(), brick.config.flashFolder);
  simNameCopy(brick.runningProgram, "");
  for (SimMailbox& mailbox : brick.mailboxes) {
    mailbox.first = 0;
    mailbox.count = 0;
  }
  brick.eventCount = 0;
  brick.lastReply = SimReply{};
  simNameCopy(brick.playingSound, "");
  brick.soundLoops = false;
  brick.toneFrequencyHz = 0;
  brick.toneDurationMs = 0;
  brick.toneEnds = SimTime{};
  simOutputsPowerUp(brick.outputs, brick.config.motorLoadPercent, brick.config.batteryMillivolts,
                    now);
  simInputsReset(brick.inputs, now);
}

std::string simBrickEventText(const SimBrickEvent& event) {
  return std::string("program ") + event.program + (event.started ? " started" : " stopped");
}

bool simBrickReceive(SimBrick& brick, const std::uint8_t* telegram, std::size_t length, SimTime now,
                     SimReply& reply) {
  reply.length = 0;
  simOutputsSupply(brick.outputs, brick.config.motorLoadPercent, brick.config.batteryMillivolts,
                   now);
  if (length < 2) return false;
  const std::uint8_t type = telegram[0];
  const std::uint8_t opcode = telegram[1];
  const bool wantsReply = (type & nxt::kNoReplyBit) == 0;
  const std::uint8_t kind = type & static_cast<std::uint8_t>(~nxt::kNoReplyBit);
  const std::uint8_t* params = telegram + 2;
  const std::size_t paramCount = length - 2;

  if (kind == nxt::byteOf(nxt::TelegramType::kSystemReply)) {
    systemCommand(brick, opcode, params, paramCount, length, reply);
    brick.lastReply = reply;
    if (wantsReply) return true;
    reply.length = 0;
    return false;
  }
  if (kind != nxt::byteOf(nxt::TelegramType::kDirectReply)) return false;

  const auto op = static_cast<Opcode>(opcode);
  if (simInputsHandles(opcode)) {
    return simInputsReceive(brick.inputs, brick.config, opcode, params, paramCount, wantsReply, now,
                            reply);
  }
  // With the no-reply type, commands that only read do nothing at all.
  if (!wantsReply && (op == Opcode::kGetBatteryLevel || op == Opcode::kGetOutputState ||
                      op == Opcode::kGetCurrentProgramName || op == Opcode::kMessageRead)) {
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
  brick.lastReply = reply;
  return true;
}
