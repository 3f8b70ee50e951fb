// One reply telegram of the simulated brick and the builders that fill it
// in wire order: 0x02, the echoed opcode, the status, then the fields, the
// multi-byte ones little-endian. Bytes past the 64 a telegram can hold are
// dropped, so no builder writes past the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/nxt_protocol.h"

// One reply telegram as the brick sends it, 0x02 first.
struct SimReply {
  std::uint8_t bytes[nxt::kMaxTelegramLength] = {};
  std::size_t length = 0;
};

// Starts `reply` afresh: 0x02, `opcode`, `status`.
void simReplyBegin(SimReply& reply, std::uint8_t opcode, nxt::BrickStatus status);

// Appends one field.
void simReplyByte(SimReply& reply, std::uint8_t value);
void simReplyU16(SimReply& reply, std::uint16_t value);
void simReplyU32(SimReply& reply, std::uint32_t value);
