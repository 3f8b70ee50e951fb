#include "protocol/little_endian.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

// Each case: the wire bytes, low byte first, and the values they carry.
struct Case16 {
  std::uint8_t bytes[2];
  std::uint16_t u;
  std::int16_t i;
};

struct Case32 {
  std::uint8_t bytes[4];
  std::uint32_t u;
  std::int32_t i;
};

TEST(LittleEndian, SixteenBitsLowByteFirst) {
  const Case16 cases[] = {
      {{0x34, 0x12}, 0x1234, 0x1234},
      {{0x5c, 0x1d}, 7516, 7516},
      {{0xff, 0x7f}, 0x7fff, std::numeric_limits<std::int16_t>::max()},
      {{0x00, 0x80}, 0x8000, std::numeric_limits<std::int16_t>::min()},
      {{0xff, 0xff}, 0xffff, -1},
      {{0xd4, 0xfe}, 0xfed4, -300},
  };
  for (const Case16& c : cases) {
    SCOPED_TRACE(c.u);
    EXPECT_EQ(nxt::readU16(c.bytes), c.u);
    EXPECT_EQ(nxt::readI16(c.bytes), c.i);
    std::uint8_t written[2] = {};
    nxt::writeU16(written, c.u);
    EXPECT_EQ(written[0], c.bytes[0]);
    EXPECT_EQ(written[1], c.bytes[1]);
    std::uint8_t writtenSigned[2] = {};
    nxt::writeI16(writtenSigned, c.i);
    EXPECT_EQ(writtenSigned[0], c.bytes[0]);
    EXPECT_EQ(writtenSigned[1], c.bytes[1]);
  }
}

TEST(LittleEndian, ThirtyTwoBitsLowByteFirst) {
  const Case32 cases[] = {
      {{0x78, 0x56, 0x34, 0x12}, 0x12345678, 0x12345678},
      {{0x60, 0xea, 0x00, 0x00}, 60000, 60000},
      {{0x01, 0x01, 0x01, 0x01}, 16843009, 16843009},
      {{0xff, 0xff, 0xff, 0x7f}, 0x7fffffff, std::numeric_limits<std::int32_t>::max()},
      {{0x00, 0x00, 0x00, 0x80}, 0x80000000, std::numeric_limits<std::int32_t>::min()},
      {{0xff, 0xff, 0xff, 0xff}, 0xffffffff, -1},
      {{0x4c, 0xff, 0xff, 0xff}, 0xffffff4c, -180},
  };
  for (const Case32& c : cases) {
    SCOPED_TRACE(c.u);
    EXPECT_EQ(nxt::readU32(c.bytes), c.u);
    EXPECT_EQ(nxt::readI32(c.bytes), c.i);
    std::uint8_t written[4] = {};
    nxt::writeU32(written, c.u);
    std::uint8_t writtenSigned[4] = {};
    nxt::writeI32(writtenSigned, c.i);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(written[k], c.bytes[k]);
      EXPECT_EQ(writtenSigned[k], c.bytes[k]);
    }
  }
}

TEST(LittleEndian, LowByteKeepsTheLowEightBits) {
  EXPECT_EQ(nxt::lowByte(0), 0x00);
  EXPECT_EQ(nxt::lowByte(300), 0x2c);
  EXPECT_EQ(nxt::lowByte(-1), 0xff);
  EXPECT_EQ(nxt::lowByte(-100), 0x9c);
}

TEST(LittleEndian, HighByteIsTheSecondByteOnTheWire) {
  std::uint8_t bytes[2];
  nxt::writeU16(bytes, 0x0302);  // a string descriptor (3), index 2
  EXPECT_EQ(nxt::highByte(0x0302), bytes[1]);
  EXPECT_EQ(nxt::highByte(0x0302), 0x03);
  EXPECT_EQ(nxt::highByte(0x00ff), 0x00);
}

}  // namespace
