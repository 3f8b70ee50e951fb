// The low-speed (I2C) bus of one input port, as the firmware drives it.
// An LSWRITE starts a transfer: an init pass and a load pass (1 ms each),
// the bytes on the wire (about 0.85 ms each; the address goes again before
// a read), then a done pass. The bytes that the device sent arrive in the
// port's receive buffer at the end of the wire time, a pass before the bus
// is idle again. A device that does not acknowledge its address costs four
// tries (about 2.5 ms each) before the bus is in error.
//
// The receive buffer is the firmware's: 16 bytes, circular. A new transfer
// does not clear it; bytes pile up until LSREAD takes them, and the count of
// bytes ready is taken modulo 16 (16 piled up read as 0, 17 as 1, the
// oldest overwritten). Only a program start or stop empties it.
//
// Time is evaluated lazily: simLowSpeedAdvance carries out what has come
// due by the time it is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/nxt_protocol.h"
#include "sim/sim_sonar.h"

enum class SimBusState : std::uint8_t { kIdle, kPending, kError };

struct SimLowSpeedBus {
  SimBusState state = SimBusState::kIdle;
  bool acknowledged = false;  // the device answers this transfer
  bool delivered = false;     // its bytes are in the buffer
  SimTime dataAt{};           // the wire time ends (or the last try fails)
  SimTime endsAt{};           // the bus is idle (or in error) again
  std::uint8_t tx[nxt::kLowSpeedBufferLength] = {};
  std::uint8_t txLength = 0;
  std::uint8_t rxLength = 0;
  std::uint8_t received[nxt::kLowSpeedBufferLength] = {};
  std::uint8_t in = 0;   // where the next received byte goes
  std::uint8_t out = 0;  // the next byte LSREAD hands over
};

// How long a transfer keeps the bus pending: with `acknowledged`, 2 ms,
// the wire time of its bytes and the done pass (a one-byte read of the
// ultrasonic sensor, 02 42 then 1 byte, takes 6.4 ms); without, the init
// pass and four tries, 11 ms.
std::chrono::microseconds simLowSpeedDuration(std::size_t txLength, std::size_t rxLength,
                                              bool acknowledged);

// Starts a transfer at `now`: `txLength` bytes of `tx` to transmit (first
// the device address), `rxLength` bytes to receive; `acknowledged` tells
// whether a device answers. REQUIRES: both lengths at most 16.
void simLowSpeedStart(SimLowSpeedBus& bus, const std::uint8_t* tx, std::size_t txLength,
                      std::size_t rxLength, bool acknowledged, SimTime now);

// Puts a pending transfer in error at once (the port stopped being a
// low-speed port under it).
void simLowSpeedFail(SimLowSpeedBus& bus);

// Carries the pending transfer on to `now`. `sonar` is the device on the
// bus, null when none answers; it sees `distanceCm`.
void simLowSpeedAdvance(SimLowSpeedBus& bus, SimSonar* sonar, int distanceCm, SimTime now);

// The number of bytes ready, modulo 16.
std::uint8_t simLowSpeedReady(const SimLowSpeedBus& bus);

// Hands over every byte ready: copies them to `out` (room for 16), oldest
// first, and returns their number.
std::size_t simLowSpeedTake(SimLowSpeedBus& bus, std::uint8_t* out);
