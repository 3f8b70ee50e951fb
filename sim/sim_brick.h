// The simulated brick: a model of an NXT's firmware that receives each
// telegram exactly as a brick on USB does (type byte first) and answers as
// the firmware does (0x02, opcode, status, fields), or not at all for a
// telegram with the no-reply bit. It keeps the brick's state: name, battery,
// the files in flash, the running program and sound, and its outputs and
// inputs, all evolving with the time passed in by the caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"
#include "sim/sim_inputs.h"
#include "sim/sim_outputs.h"

struct SimBrickConfig {
  std::string name = "NXT";
  std::uint16_t batteryMillivolts = 8100;
  // Files in the brick's flash: programs (.rxe) and sounds (.rso). Looked up
  // by exact name, as the client sends it.
  std::vector<std::string> files = {"demo.rxe", "click.rso", "attention.rso"};
  std::uint8_t bluetoothAddress[6] = {0x00, 0x16, 0x53, 0x0a, 0x0b, 0x0c};
  std::uint32_t availableFlash = 60000;
  // Percent of its free speed that each motor (A, B, C) reaches, 0 to 100;
  // 0 blocks it. A load stays over every reset of the brick.
  std::uint8_t motorLoadPercent[kSimOutputCount] = {100, 100, 100};
  // The inputs: the raw A/D reading of each port, 0-1023 (1023 is what an
  // open input reads), and the distance in centimetres that an ultrasonic
  // sensor on the port sees, 0-255 (255: nothing in sight), -1 for none.
  std::array<std::uint16_t, kSimInputPorts> sensorRaw{{1023, 1023, 1023, 1023}};
  std::array<std::int16_t, kSimInputPorts> sonarCm{{-1, -1, -1, -1}};
};

// One reply telegram as the brick sends it, 0x02 first.
struct SimReply {
  std::uint8_t bytes[nxt::kMaxTelegramLength] = {};
  std::size_t length = 0;
};

struct SimBrick {
  SimBrickConfig config;
  std::string runningProgram;  // empty when no program runs
  std::string playingSound;    // empty when silent
  bool soundLoops = false;
  std::uint16_t toneFrequencyHz = 0;  // the last tone played
  std::uint16_t toneDurationMs = 0;
  SimTime toneEnds{};
  SimOutputs outputs;
  SimInputs inputs;
};

// Puts the brick in its power-up state with `config`.
void simBrickReset(SimBrick& brick, const SimBrickConfig& config, SimTime now);

// Handles one telegram of `length` bytes as received over USB. Returns true
// and fills `reply` when the firmware answers; false when it sends nothing
// (no-reply type, unknown type, a reply sent to it, an empty telegram).
bool simBrickReceive(SimBrick& brick, const std::uint8_t* telegram, std::size_t length, SimTime now,
                     SimReply& reply);

// Helpers for building replies, shared by the parts of the model.
void simReplyBegin(SimReply& reply, std::uint8_t opcode, nxt::BrickStatus status);
void simReplyByte(SimReply& reply, std::uint8_t value);
void simReplyU16(SimReply& reply, std::uint16_t value);
void simReplyU32(SimReply& reply, std::uint32_t value);
