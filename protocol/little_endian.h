// Little-endian integers as they cross the wire, low byte first: the
// readers and writers for 16 and 32 bits, signed and unsigned, that every
// encoder and decoder of telegrams uses, and the one-byte form of a port or
// value. The only place that turns bytes into integers and back.
//
// REQUIRES: `bytes` points at 2 (16-bit) or 4 (32-bit) readable or writable
// bytes. Signed values are two's complement on the wire; no conversion here
// depends on how the compiler converts an out-of-range value.
#pragma once

#include <cstdint>

namespace nxt {

constexpr std::uint16_t readU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

constexpr std::uint32_t readU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

constexpr std::int16_t readI16(const std::uint8_t* bytes) {
  const std::uint16_t bits = readU16(bytes);
  return bits < 0x8000u ? static_cast<std::int16_t>(bits)
                        : static_cast<std::int16_t>(-static_cast<std::int32_t>(0xffffu - bits) - 1);
}

constexpr std::int32_t readI32(const std::uint8_t* bytes) {
  const std::uint32_t bits = readU32(bytes);
  return bits < 0x80000000u ? static_cast<std::int32_t>(bits)
                            : -static_cast<std::int32_t>(~bits) - 1;
}

inline void writeU16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value & 0xff);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void writeU32(std::uint8_t* bytes, std::uint32_t value) {
  writeU16(bytes, static_cast<std::uint16_t>(value & 0xffff));
  writeU16(bytes + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void writeI16(std::uint8_t* bytes, std::int16_t value) {
  writeU16(bytes, static_cast<std::uint16_t>(value));
}

inline void writeI32(std::uint8_t* bytes, std::int32_t value) {
  writeU32(bytes, static_cast<std::uint32_t>(value));
}

// The low 8 bits of `value`: how ports, powers and other one-byte fields go
// into a telegram (-1 gives 0xff, 300 gives 0x2c).
constexpr std::uint8_t lowByte(std::int32_t value) {
  return static_cast<std::uint8_t>(value & 0xff);
}

// The high 8 bits of a 16-bit field (a USB request's wValue carries the
// descriptor type there, its index in the low byte).
constexpr std::uint8_t highByte(std::uint16_t value) {
  return static_cast<std::uint8_t>(value >> 8);
}

}  // namespace nxt
