// The shape of the firmware's reply to each telegram this system sends with
// a reply wanted: its length, 0x02 included, and whether it names a port.
// One table for the driver, which takes a reply only when it fits the
// telegram it answers, and for the Bluetooth link, which drops a line whose
// frames cannot be replies. The lengths are those the firmware's command
// interpreter gives (c_cmd.c of firmware 1.29).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// For each opcode byte, its entry in kReplyShapes plus one; 0 for none.
struct ReplyShapeIndex {
  std::uint8_t entry[256];
};

constexpr ReplyShapeIndex makeReplyShapeIndex() {
  ReplyShapeIndex index{};
  for (std::size_t i = 0; i < sizeof kReplyShapes / sizeof kReplyShapes[0]; ++i) {
    index.entry[kReplyShapes[i].opcode] = static_cast<std::uint8_t>(i + 1);
  }
  return index;
}

inline constexpr ReplyShapeIndex kReplyShapeIndex = makeReplyShapeIndex();

// The shape of the replies to `opcode`; null when this system never asks
// the brick for one. One lookup: the driver asks on every reply.
inline const ReplyShape* replyShapeOf(std::uint8_t opcode) {
  const std::uint8_t entry = kReplyShapeIndex.entry[opcode];
  return entry == 0 ? nullptr : &kReplyShapes[entry - 1];
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

// Room for replyAnswers' text: "GETINPUTVALUES 256" at the longest.
constexpr std::size_t kReplyAnswersRoom = 24;

// "GETOUTPUTSTATE A", "GETINPUTVALUES 2", "GETBATTERYLEVEL": the telegram
// that a well-formed `reply` answers, for messages to the operator. Written
// into `text` without a terminating zero; returns its length.
inline std::size_t replyAnswers(const std::uint8_t* reply, char (&text)[kReplyAnswersRoom]) {
  const ReplyShape* shape = replyShapeOf(reply[1]);
  const char* name = shape != nullptr ? shape->name : "opcode";
  std::size_t length = std::strlen(name);
  std::memcpy(text, name, length);
  if (shape != nullptr && shape->opcode == byteOf(Opcode::kGetOutputState)) {
    text[length++] = ' ';
    text[length++] = static_cast<char>('A' + reply[3] % 26);
  } else if (shape == nullptr || shape->namesPort) {
    // The opcode itself, or the port counted from 1, in decimal.
    const unsigned number = shape == nullptr ? reply[1] : reply[3] + 1u;
    text[length++] = ' ';
    if (number >= 100) text[length++] = static_cast<char>('0' + number / 100);
    if (number >= 10) text[length++] = static_cast<char>('0' + number / 10 % 10);
    text[length++] = static_cast<char>('0' + number % 10);
  }
  return length;
}

}  // namespace nxt
