// The shape of the firmware's reply to each telegram this system sends with
// a reply wanted: its length, 0x02 included, and whether it names a port.
// One table for the driver, which takes a reply only when it fits the
// telegram it answers, and for the Bluetooth link, which drops a line whose
// frames cannot be replies. The lengths are those the firmware's command
// interpreter gives (c_cmd.c of firmware 1.29).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/nxt_protocol.h"

namespace nxt {

struct ReplyShape {
  std::uint8_t opcode;
  std::uint8_t length;  // 0x02 included
  bool namesPort;       // byte 3 is the port that the telegram named
  const char* name;
};

constexpr ReplyShape kReplyShapes[] = {
    {byteOf(Opcode::kGetOutputState), 25, true, "GETOUTPUTSTATE"},
    {byteOf(Opcode::kGetInputValues), 16, true, "GETINPUTVALUES"},
    {byteOf(Opcode::kLsGetStatus), 4, false, "LSGETSTATUS"},
    {byteOf(Opcode::kLsWrite), 3, false, "LSWRITE"},
    {byteOf(Opcode::kGetBatteryLevel), 5, false, "GETBATTERYLEVEL"},
    {byteOf(Opcode::kLsRead), 20, false, "LSREAD"},
    {byteOf(SystemOpcode::kGetDeviceInfo), 33, false, "GETDEVICEINFO"},
};

// The reply bytes that settle its length: 0x02, the opcode, the status and
// byte 3 (an LSREAD's count, which shortens it after an error status).
constexpr std::size_t kReplyHeadLength = 4;

// The shape of the replies to `opcode`; null when this system never asks
// the brick for one.
inline const ReplyShape* replyShapeOf(std::uint8_t opcode) {
  for (const ReplyShape& shape : kReplyShapes) {
    if (shape.opcode == opcode) return &shape;
  }
  return nullptr;
}

// The length that the firmware gives a reply beginning with `head` (0x02,
// opcode, status, byte 3: the first `known` of them, at least 2): the
// table's, except an LSREAD whose status is 0xE0 (port not ready) or 0xDD
// (bus error), which carries only its count N and 16 - N zeros, 20 - N
// bytes. 0 when no reply of ours has that opcode.
inline std::size_t firmwareReplyLength(const std::uint8_t* head, std::size_t known) {
  const ReplyShape* shape = replyShapeOf(head[1]);
  if (shape == nullptr) return 0;
  if (shape->opcode == byteOf(Opcode::kLsRead) && known >= kReplyHeadLength &&
      (head[2] == byteOf(BrickStatus::kPortNotReady) ||
       head[2] == byteOf(BrickStatus::kBusError))) {
    return head[3] <= kLowSpeedBufferLength ? shape->length - head[3] : 0;
  }
  return shape->length;
}

// True when `reply` (`length` bytes, 0x02 first) has the shape of the
// firmware's reply to one of the telegrams above.
inline bool isWellFormedReply(const std::uint8_t* reply, std::size_t length) {
  if (length < 3 || reply[0] != byteOf(TelegramType::kReply)) return false;
  return firmwareReplyLength(reply, length) == length;
}

// "GETOUTPUTSTATE A", "GETINPUTVALUES 2", "GETBATTERYLEVEL": the telegram
// that a well-formed `reply` answers, for messages to the operator.
inline std::string replyAnswers(const std::uint8_t* reply) {
  const ReplyShape* shape = replyShapeOf(reply[1]);
  if (shape == nullptr) return "opcode " + std::to_string(reply[1]);
  std::string text = shape->name;
  if (shape->opcode == byteOf(Opcode::kGetOutputState)) {
    text += ' ';
    text += static_cast<char>('A' + reply[3] % 26);
  } else if (shape->namesPort) {
    text += ' ' + std::to_string(reply[3] + 1);
  }
  return text;
}

}  // namespace nxt
