#include "sim/sim_reply.h"

#include "protocol/little_endian.h"

void simReplyBegin(SimReply& reply, std::uint8_t opcode, nxt::BrickStatus status) {
  reply.length = 0;
  simReplyByte(reply, nxt::byteOf(nxt::TelegramType::kReply));
  simReplyByte(reply, opcode);
  simReplyByte(reply, nxt::byteOf(status));
}

void simReplyByte(SimReply& reply, std::uint8_t value) {
  if (reply.length < sizeof reply.bytes) reply.bytes[reply.length++] = value;
}

void simReplyU16(SimReply& reply, std::uint16_t value) {
  std::uint8_t field[2];
  nxt::writeU16(field, value);
  for (std::uint8_t b : field) simReplyByte(reply, b);
}

void simReplyU32(SimReply& reply, std::uint32_t value) {
  std::uint8_t field[4];
  nxt::writeU32(field, value);
  for (std::uint8_t b : field) simReplyByte(reply, b);
}
