// The simulated brick: a model of an NXT's firmware that receives each
// telegram exactly as a brick on USB does (type byte first) and answers as
// the firmware does (0x02, opcode, status, fields), or not at all for a
// telegram with the no-reply bit. It keeps the brick's state: name, battery,
// the files in flash, the running program and sound, and its outputs and
// inputs, all evolving with the time passed in by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "sim/sim_inputs.h"
#include "sim/sim_outputs.h"
#include "sim/sim_reply.h"

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
