// The simulated brick: a model of an NXT's firmware that receives each
// telegram exactly as a brick on USB does (type byte first) and answers as
// the firmware does (0x02, opcode, status, fields), or not at all for a
// telegram with the no-reply bit. It keeps the brick's state: name, battery,
// the files in flash, the running program with its mailboxes, the sound,
// and its outputs and inputs, all evolving with the time passed in by the
// caller.
//
// Programs: STARTPROGRAM of a file that is missing answers 0xC0; of a file
// that is no program (.rxe) 0x00, but nothing runs; of a program while
// another one runs 0x00, and the running one goes on. Starting or stopping a
// program resets every motor and sensor and empties the mailboxes. Each
// start and stop is told as an event: "program NAME started" or "program
// NAME stopped".
//
// Making a brick, resetting it and handling a telegram allocate nothing
// (a flash folder aside, whose host files are written as they change).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "sim/sim_files.h"
#include "sim/sim_inputs.h"
#include "sim/sim_outputs.h"
#include "sim/sim_reply.h"

constexpr std::size_t kSimMessagesPerMailbox = 5;

// A mailbox of the running program: a ring of at most five messages, the
// oldest at `first`; it holds them in place, without allocating. Only the
// `count` messages from `first` on are ever read, so a new brick leaves
// the rest as it finds it.
struct SimMailbox {
  std::uint8_t messages[kSimMessagesPerMailbox][nxt::kMessageField];
  std::uint8_t sizes[kSimMessagesPerMailbox];
  std::size_t first = 0;
  std::size_t count = 0;
};

// Something that happened inside the brick: a program started or stopped.
struct SimBrickEvent {
  bool started = false;
  char program[kSimNameBytes] = {};
};

constexpr std::size_t kSimEventsKept = 4;

// Every field is set anew by simBrickReset.
struct SimBrick {
  SimBrickConfig config;
  SimFlash flash;
  char runningProgram[kSimNameBytes] = {};  // empty when no program runs
  SimMailbox mailboxes[nxt::kMailboxCount];
  // What happened inside the brick since the caller last looked, oldest
  // first; the caller empties it (eventCount 0). Unseen, the oldest go.
  SimBrickEvent events[kSimEventsKept];
  std::size_t eventCount = 0;
  // The reply buffer as the last command left it.
  SimReply lastReply;
  char playingSound[kSimNameBytes] = {};  // empty when silent
  bool soundLoops = false;
  std::uint16_t toneFrequencyHz = 0;  // the last tone played
  std::uint16_t toneDurationMs = 0;
  SimTime toneEnds{};
  SimOutputs outputs;
  SimInputs inputs;
};

// Puts the brick in its power-up state with `config`.
void simBrickReset(SimBrick& brick, const SimBrickConfig& config, SimTime now);

// The event as a line of text: "program demo.rxe started".
std::string simBrickEventText(const SimBrickEvent& event);

// Handles one telegram of `length` bytes as received over USB. Returns true
// and fills `reply` when the firmware answers; false when it sends nothing
// (no-reply type, unknown type, a reply sent to it, an empty telegram).
bool simBrickReceive(SimBrick& brick, const std::uint8_t* telegram, std::size_t length, SimTime now,
                     SimReply& reply);
