// The two ways every operation of the direct-command layer hands its
// telegram (opcode first, no telegram-type byte) to the link: without a
// reply, or with one into a response buffer that is first filled with
// 0x01, so that a reply that never arrives decodes the same way every time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/device_link.h"

// Sends `command` without asking for a reply.
template <std::size_t N>
void sendCommand(const std::uint8_t (&command)[N]) {
  linkTransact(0, command, N, nullptr, 0);
}

// Sends `command` (a system command when `kind` says so) and brings its
// reply (without the leading 0x02) into `response`, after filling it with
// 0x01; the link's result, the number of reply bytes brought in.
template <std::size_t N, std::size_t M>
std::uint32_t askCommand(const std::uint8_t (&command)[N], std::uint8_t (&response)[M],
                         CommandKind kind = CommandKind::kDirect) {
  std::memset(response, 0x01, M);
  return linkTransact(1, command, N, response, M, kind);
}
