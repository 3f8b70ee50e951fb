// The LEGO ultrasonic sensor as it answers on a port's low-speed bus, at
// bus address 0x02. Its registers:
//   0x00 version "V1.0", 0x08 product id "LEGO", 0x10 sensor type "Sonar",
//   0x14 units "10E-2m" (text, zero-padded, read from the register's start);
//   0x40 continuous measurement interval (kept, read back);
//   0x41 command: 0 off, 1 single shot, 2 continuous (the power-up state),
//        3 event capture (sends no pings here), 4 warm reset;
//   0x42-0x49 measurement bytes 0-7, in centimetres, 255 when no echo.
// Continuous measurement refreshes byte 0 every 15 ms, the first time 15 ms
// after the mode began. A single shot stores its echoes 20 ms after the
// command, byte 0 the distance and the others 255, and they stay until the
// next shot. Off sends no pings; the bytes keep what they hold.
//
// After it is powered the sensor does not answer on the bus for 50 ms while
// it starts up (client libraries wait 100 ms before the first command).
//
// Time is evaluated lazily: each transfer brings the measurements up to
// the time it is given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"

constexpr std::uint8_t kSonarCommandEventCapture = 0x03;
constexpr std::uint8_t kSonarCommandWarmReset = 0x04;
constexpr std::uint8_t kSonarNoEcho = 255;
constexpr std::size_t kSonarMeasurementBytes = 8;
constexpr auto kSonarPingPeriod = std::chrono::milliseconds(15);
constexpr auto kSonarShotDelay = std::chrono::milliseconds(20);
constexpr auto kSonarStartUp = std::chrono::milliseconds(50);

struct SimSonar {
  std::uint8_t command = nxt::kSonarCommandContinuous;
  std::uint8_t interval = 0;
  std::uint8_t measurement[kSonarMeasurementBytes] = {};
  SimTime modeBegan{};  // when continuous mode began, or the last shot
  SimTime poweredUp{};
  bool shotPending = false;  // a single shot whose echoes are not stored yet
};

// The sensor as it comes up when its port starts giving it 9 V at `now`:
// continuous measurement, no echo stored yet (all measurement bytes 0).
void simSonarPowerUp(SimSonar& sonar, SimTime now);

// Whether the sensor acknowledges a transfer that starts at `at` with the
// `txLength` bytes of `tx`: addressed to it, and started up.
bool simSonarAcknowledges(const SimSonar& sonar, const std::uint8_t* tx, std::size_t txLength,
                          SimTime at);

// One bus transaction with the sensor at time `at`, the sensor seeing
// `distanceCm` (0-255). `tx` holds what the brick transmitted: the bus
// address, the register, then bytes to write there. When `rxLength` is not
// 0, the sensor then sends `rxLength` bytes, starting at the register after
// the ones written, into `rx`. Returns false, writing nothing, when the
// sensor does not acknowledge (another address, or nothing transmitted).
bool simSonarTransfer(SimSonar& sonar, int distanceCm, const std::uint8_t* tx, std::size_t txLength,
                      std::uint8_t* rx, std::size_t rxLength, SimTime at);
