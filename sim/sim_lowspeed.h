// The low-speed (I2C) bus of one input port, as the firmware drives it.
// An LSWRITE starts a transaction that takes as long as its bytes take on
// the wire; while it runs the bus is pending. When it ends, the bytes that
// the device sent are added to the port's 16-byte receive buffer (a new
// transaction does not clear it; bytes pile up until LSREAD takes them),
// or, when no device acknowledged, the bus is in error until the next
// transaction starts.
//
// Time is evaluated lazily: simLowSpeedAdvance ends a transaction whose
// time has come, as seen at the time it is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/nxt_protocol.h"
#include "sim/sim_sonar.h"

enum class SimBusState : std::uint8_t { kIdle, kPending, kError };

struct SimLowSpeedBus {
  SimBusState state = SimBusState::kIdle;
  SimTime endsAt{};  // of the pending transaction
  std::uint8_t tx[nxt::kLowSpeedBufferLength] = {};
  std::uint8_t txLength = 0;
  std::uint8_t rxLength = 0;
  std::uint8_t received[nxt::kLowSpeedBufferLength] = {};
  std::uint8_t receivedCount = 0;  // bytes ready for LSREAD
};

// About 0.85 ms for each byte on the wire (the address is sent again
// before a read) and 1 ms to set up: a one-byte read of the ultrasonic
// sensor (02 42, then 1 byte) takes 4.4 ms.
std::chrono::microseconds simLowSpeedDuration(std::size_t txLength, std::size_t rxLength);

// Starts a transaction at `now`: `txLength` bytes of `tx` to transmit
// (first the device address), `rxLength` bytes to receive. REQUIRES: both
// lengths at most 16 and the bus not pending.
void simLowSpeedStart(SimLowSpeedBus& bus, const std::uint8_t* tx, std::size_t txLength,
                      std::size_t rxLength, SimTime now);

// Ends the pending transaction if its time has come by `now`. `sonar` is
// the device on the bus, null when none answers (none plugged in, or not
// powered); it sees `distanceCm`.
void simLowSpeedAdvance(SimLowSpeedBus& bus, SimSonar* sonar, int distanceCm, SimTime now);

// Hands over every byte in the receive buffer: copies them to `out` (room
// for 16), empties the buffer, returns their number.
std::size_t simLowSpeedTake(SimLowSpeedBus& bus, std::uint8_t* out);
