// The simulated brick's configuration: what it is when it powers up (name,
// battery, files in flash, Bluetooth address), the load on each
// motor and what each input sees. Set by the options of nxt-bridge-sim and
// by tests; the brick's parts read it and never change it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_files.h"
#include "sim/sim_host_files.h"

constexpr int kSimOutputCount = 3;         // motor ports A, B and C
constexpr std::size_t kSimInputPorts = 4;  // sensor ports 1 to 4

struct SimBrickConfig {
  std::string name = "NXT";
  std::uint16_t batteryMillivolts = 8100;
  // The files in the brick's flash at power-up, newest first; shared, so
  // that a brick made with them copies no file. Null: none.
  std::shared_ptr<const std::vector<SimFile>> files = simDefaultFiles();
  // Where the flash is kept between runs; null: in memory only.
  std::shared_ptr<const SimFlashFolder> flashFolder;
  std::uint8_t bluetoothAddress[6] = {0x00, 0x16, 0x53, 0x0a, 0x0b, 0x0c};
  // Percent of its free speed that each motor (A, B, C) reaches, 0 to 100;
  // 0 blocks it. A load stays over every reset of the brick.
  std::uint8_t motorLoadPercent[kSimOutputCount] = {100, 100, 100};
  // The inputs: the raw A/D reading of each port, 0-1023 (1023 is what an
  // open input reads), and the distance in centimetres that an ultrasonic
  // sensor on the port sees, 0-255 (255: nothing in sight), -1 for none.
  std::array<std::uint16_t, kSimInputPorts> sensorRaw{{1023, 1023, 1023, 1023}};
  std::array<std::int16_t, kSimInputPorts> sonarCm{{-1, -1, -1, -1}};
};
