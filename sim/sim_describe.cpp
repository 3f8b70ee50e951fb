#include "sim/sim_describe.h"

#include <array>
#include <cstdio>

#include "protocol/little_endian.h"
#include "protocol/nxt_protocol.h"

namespace {

using nxt::Opcode;

// Reads fields of a telegram or a reply; a byte past the end reads as 0.
struct Fields {
  const std::uint8_t* bytes;
  std::size_t length;
  std::uint8_t u8(std::size_t i) const { return i < length ? bytes[i] : 0; }
  std::uint16_t u16(std::size_t i) const { return nxt::readU16(padded(i).data()); }
  std::uint32_t u32(std::size_t i) const { return nxt::readU32(padded(i).data()); }
  // Four bytes from `i`.
  std::array<std::uint8_t, 4> padded(std::size_t i) const {
    return {u8(i), u8(i + 1), u8(i + 2), u8(i + 3)};
  }
  // A zero-terminated name of at most `field` bytes from `i`, control bytes
  // written as '?'.
  std::string text(std::size_t i, std::size_t field) const {
    std::string s;
    for (std::size_t k = i; k < i + field && k < length && bytes[k] != 0; ++k) {
      s += (bytes[k] < 0x20 || bytes[k] >= 0x7f) ? '?' : static_cast<char>(bytes[k]);
    }
    return s;
  }
};

std::string hex(const std::uint8_t* bytes, std::size_t length) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(b, sizeof b, i == 0 ? "%02x" : " %02x", bytes[i]);
    s += b;
  }
  return s;
}

std::string number(long long value) { return std::to_string(value); }

std::string motorPort(std::uint8_t port) {
  if (port < 3) return std::string(1, static_cast<char>('A' + port));
  if (port == 0xff) return "ALL";
  return "port " + number(port);
}

std::string sensorPort(std::uint8_t port) {
  return port < 4 ? number(port + 1) : "port " + number(port);
}

std::string sensorTypeName(std::uint8_t type) {
  static const char* const kNames[] = {
      "NO_SENSOR",      "SWITCH",   "TEMPERATURE", "REFLECTION", "ANGLE",    "LIGHT_ACTIVE",
      "LIGHT_INACTIVE", "SOUND_DB", "SOUND_DBA",   "CUSTOM",     "LOWSPEED", "LOWSPEED_9V"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "type " + number(type);
}

std::string sensorModeName(std::uint8_t mode) {
  static const char* const kNames[] = {"RAW",          "BOOLEAN", "TRANSITIONCNT", "PERIODCOUNTER",
                                       "PCTFULLSCALE", "CELSIUS", "FAHRENHEIT",    "ANGLESTEP"};
  if ((mode & 0x1f) == 0) return kNames[mode >> 5];
  return "mode " + number(mode);
}

std::string runState(std::uint8_t state) {
  static constexpr struct {
    std::uint8_t state;
    const char* name;
  } kNames[] = {{nxt::kRunStateIdle, "idle"},
                {nxt::kRunStateRampUp, "rampup"},
                {nxt::kRunStateRunning, "running"},
                {nxt::kRunStateRampDown, "rampdown"}};
  for (const auto& known : kNames) {
    if (known.state == state) return known.name;
  }
  return "runstate " + number(state);
}

// SETOUTPUTSTATE's fields from `i`: power, mode, regulation, turn ratio,
// run state, tacho limit.
std::string outputFields(const Fields& f, std::size_t i) {
  const std::uint8_t mode = f.u8(i + 1);
  std::string s = "power " + number(static_cast<std::int8_t>(f.u8(i)));
  if ((mode & nxt::kModeMotorOn) == 0) s += " off";
  if ((mode & nxt::kModeBrake) != 0) s += " brake";
  switch (f.u8(i + 2)) {
    case nxt::kRegulationIdle:
      break;
    case nxt::kRegulationMotorSpeed:
      s += " regulated";
      break;
    case nxt::kRegulationSync:
      s += " synced";
      break;
    default:
      s += " regulation " + number(f.u8(i + 2));
  }
  if (f.u8(i + 3) != 0) s += " turn " + number(static_cast<std::int8_t>(f.u8(i + 3)));
  s += " " + runState(f.u8(i + 4));
  if (f.u32(i + 5) != 0) s += " limit " + number(f.u32(i + 5));
  return s;
}

std::string describeCommand(const Fields& t) {
  const std::uint8_t op = t.u8(1);
  const std::uint8_t port = t.u8(2);
  switch (static_cast<Opcode>(op)) {
    case Opcode::kStartProgram:
      return "STARTPROGRAM " + t.text(2, nxt::kFileNameField);
    case Opcode::kStopProgram:
      return "STOPPROGRAM";
    case Opcode::kPlaySoundFile:
      return "PLAYSOUNDFILE " + t.text(3, nxt::kFileNameField) + (t.u8(2) != 0 ? " loop" : "");
    case Opcode::kPlayTone:
      return "PLAYTONE " + number(t.u16(2)) + " Hz " + number(t.u16(4)) + " ms";
    case Opcode::kSetOutputState:
      return "SETOUTPUTSTATE " + motorPort(port) + " " + outputFields(t, 3);
    case Opcode::kSetInputMode:
      return "SETINPUTMODE " + sensorPort(port) + " " + sensorTypeName(t.u8(3)) + " " +
             sensorModeName(t.u8(4));
    case Opcode::kGetOutputState:
      return "GETOUTPUTSTATE " + motorPort(port);
    case Opcode::kGetInputValues:
      return "GETINPUTVALUES " + sensorPort(port);
    case Opcode::kResetMotorPosition:
      return "RESETMOTORPOSITION " + motorPort(port) + (t.u8(3) != 0 ? " relative" : " absolute");
    case Opcode::kGetBatteryLevel:
      return "GETBATTERYLEVEL";
    case Opcode::kStopSoundPlayback:
      return "STOPSOUNDPLAYBACK";
    case Opcode::kKeepAlive:
      return "KEEPALIVE";
    case Opcode::kLsGetStatus:
      return "LSGETSTATUS " + sensorPort(port);
    case Opcode::kLsWrite: {
      const std::size_t txLength = t.u8(3);
      std::string s = "LSWRITE " + sensorPort(port) + " tx";
      for (std::size_t k = 0; k < txLength && k < nxt::kLowSpeedBufferLength; ++k) {
        const std::uint8_t b = t.u8(5 + k);
        s += " " + hex(&b, 1);
      }
      return s + " rx " + number(t.u8(4));
    }
    case Opcode::kLsRead:
      return "LSREAD " + sensorPort(port);
    default:
      return "";
  }
}

// The answer's fields (`r` from 0x02); empty when there is nothing to say
// beyond success.
std::string describeReply(std::uint8_t op, const Fields& r) {
  const std::uint8_t status = r.u8(2);
  if (status != 0 && status != nxt::byteOf(nxt::BrickStatus::kPendingCommunication)) {
    char b[16];
    std::snprintf(b, sizeof b, "status 0x%02x", status);
    return b;
  }
  switch (static_cast<Opcode>(op)) {
    case Opcode::kGetOutputState:
      return outputFields(r, 4) + " tacho " + number(static_cast<std::int32_t>(r.u32(13))) +
             " block " + number(static_cast<std::int32_t>(r.u32(17))) + " rotation " +
             number(static_cast<std::int32_t>(r.u32(21)));
    case Opcode::kGetInputValues:
      return std::string(r.u8(4) != 0 ? "" : "invalid ") + "raw " + number(r.u16(8)) + " scaled " +
             number(static_cast<std::int16_t>(r.u16(12)));
    case Opcode::kGetBatteryLevel:
      return number(r.u16(3)) + " mV";
    case Opcode::kLsGetStatus:
      return (status != 0 ? "pending, " : "") + number(r.u8(3)) + " ready";
    case Opcode::kLsRead: {
      std::string s = "read";
      for (std::size_t k = 0; k < r.u8(3) && k < nxt::kLowSpeedBufferLength; ++k) {
        s += " " + number(r.u8(4 + k));
      }
      return s;
    }
    case Opcode::kKeepAlive:
      return number(r.u32(3)) + " ms";
    default:
      return status != 0 ? "pending" : "";
  }
}

}  // namespace

std::string simDescribeTelegram(const std::uint8_t* telegram, std::size_t length,
                                const std::uint8_t* reply, std::size_t replyLength) {
  const Fields t{telegram, length};
  const Fields r{reply, replyLength};
  const std::uint8_t kind = t.u8(0) & static_cast<std::uint8_t>(~nxt::kNoReplyBit);
  std::string words;
  std::string answer;
  if (length >= 2 && kind == nxt::byteOf(nxt::TelegramType::kDirectReply)) {
    words = describeCommand(t);
    if (replyLength > 0) answer = describeReply(t.u8(1), r);
  } else if (length >= 2 && kind == nxt::byteOf(nxt::TelegramType::kSystemReply) &&
             t.u8(1) == nxt::byteOf(nxt::SystemOpcode::kGetDeviceInfo)) {
    words = "GETDEVICEINFO";
    if (replyLength > 0) {
      answer = r.u8(2) != 0 ? describeReply(t.u8(1), r) : r.text(3, nxt::kBrickNameField);
    }
  }
  if (words.empty()) words = hex(telegram, length);
  if (!answer.empty()) words += " -> " + answer;
  return words;
}

std::string simSensorTypeName(std::uint8_t type) { return sensorTypeName(type); }
std::string simSensorModeName(std::uint8_t mode) { return sensorModeName(mode); }
