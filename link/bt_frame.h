// Telegrams over a Bluetooth serial link. Each telegram travels as one
// frame: its length in two bytes, low byte first (the two not counted),
// then the telegram. The brick's Bluetooth buffer holds 128 bytes, so a
// length of 0 or above 128 means that the reader has lost step with the
// stream: nothing after it can be trusted.
//
// The functions work on a link to the brick (BtHandle) and wait never past
// their deadline: on POSIX systems a non-blocking file descriptor (a
// socket or a serial device), waited on with poll(2); on Windows a COM
// port's handle, whose reads and writes are bounded by its timeouts.
// Reading takes exactly the two length bytes, then exactly the telegram,
// never a byte of the next frame; a frame may arrive in any number of
// pieces, and one that is not whole at the deadline is kept in its
// BtFrameReader for the next call to finish.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/little_endian.h"

// A file descriptor, or on Windows a HANDLE, as an integer.
using BtHandle = std::intptr_t;
constexpr BtHandle kNoBtHandle = -1;

constexpr std::size_t kBtFrameHeader = 2;
constexpr std::size_t kBtMaxFrameBody = 128;

enum class BtIoResult {
  kOk,
  kTimeout,    // the deadline passed first
  kClosed,     // end of file: the other side hung up
  kError,      // the system call failed; `error` holds errno (Windows: its error code)
  kOutOfStep,  // a frame length of 0 or above 128
  kOverflow,   // a whole frame, longer than the caller's buffer: dropped
};

// A frame that is being read: the bytes of it received so far.
struct BtFrameReader {
  std::uint8_t bytes[kBtFrameHeader + kBtMaxFrameBody];
  std::size_t have = 0;
};

// The length that a frame's two header bytes give.
inline std::size_t btFrameLength(const std::uint8_t* header) { return nxt::readU16(header); }

// Writes the frame of `telegram` (`length` bytes, 1 to 128) into `frame`,
// which has room for length + 2 bytes. Returns the frame's size.
std::size_t btEncodeFrame(const std::uint8_t* telegram, std::size_t length, std::uint8_t* frame);

// A test of a frame that is coming in: false when a frame of `length`
// bytes that begins with `head` (`known` bytes of it, at least
// min(length, kBtFrameHeadCheck)) cannot be right.
using BtFrameCheck = bool (*)(const std::uint8_t* head, std::size_t known, std::size_t length);
constexpr std::size_t kBtFrameHeadCheck = 4;

// Reads until `reader` holds a whole frame, then copies its telegram into
// `buffer` (room for `capacity` bytes), sets `received` and empties the
// reader. `received` is 0 on every other outcome. With `check`, a frame
// that fails it is out of step as soon as its first bytes show it. After
// kOutOfStep the reader holds the bad frame's first bytes; the stream is
// unusable.
BtIoResult btReadFrame(BtHandle link, BtFrameReader& reader, std::uint8_t* buffer,
                       std::size_t capacity, std::size_t& received,
                       std::chrono::steady_clock::time_point deadline, int& error,
                       BtFrameCheck check = nullptr);

// Writes `length` bytes, in one write when the link takes them all, the
// rest as it takes more, until the deadline.
BtIoResult btWriteAll(BtHandle link, const std::uint8_t* bytes, std::size_t length,
                      std::chrono::steady_clock::time_point deadline, int& error);

// One read of at most `wanted` bytes (1 or more): what has arrived, waiting
// for the first byte until the deadline. kOk with `got` set, or why not.
BtIoResult btReadSome(BtHandle link, std::uint8_t* into, std::size_t wanted, std::size_t& got,
                      std::chrono::steady_clock::time_point deadline, int& error);

// One write of up to `length` bytes: what the link takes, waiting for room
// until the deadline. kOk with `written` (1 or more) set, or why not.
BtIoResult btWriteSome(BtHandle link, const std::uint8_t* bytes, std::size_t length,
                       std::size_t& written, std::chrono::steady_clock::time_point deadline,
                       int& error);
