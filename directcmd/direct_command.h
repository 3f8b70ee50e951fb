// The two ways every operation of the direct-command layer hands its
// telegram (opcode first, no telegram-type byte) to the link: without a
// reply, or with one into a response buffer. Both say whether the exchange
// went through, so that a failure reaches the client as an error word and
// never as a value read from a buffer that no reply filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/device_link.h"

// Sends `command` without asking for a reply. True once the telegram was
// handed to a link that is up.
template <std::size_t N>
bool sendCommand(const std::uint8_t (&command)[N]) {
  linkTransact(0, command, N, nullptr, 0);
  return !isFatal(deviceLink.status);
}

// Sends `command` (a system command when `kind` says so) and brings its
// reply (without the leading 0x02) into `response`, after filling it with
// 0x01. True when a reply that answers this telegram came (driver.h); only
// then does `response` hold it.
template <std::size_t N, std::size_t M>
bool askCommand(const std::uint8_t (&command)[N], std::uint8_t (&response)[M],
                CommandKind kind = CommandKind::kDirect) {
  std::memset(response, 0x01, M);
  return linkTransact(1, command, N, response, M, kind) > 0 && !isFatal(deviceLink.status);
}
