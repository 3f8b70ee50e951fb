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
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"
#include "sim/sim_files.h"
#include "sim/sim_inputs.h"
#include "sim/sim_outputs.h"

// The flash of a brick as it starts without --flash: "demo.rxe" (a
// stand-in program: its bytes are no real program), "click.rso" and
// "attention.rso" (stand-in sounds).
std::vector<SimFile> simDefaultFiles();

struct SimBrickConfig {
  std::string name = "NXT";
  std::uint16_t batteryMillivolts = 8100;
  // The files in the brick's flash at power-up, newest first.
  std::vector<SimFile> files = simDefaultFiles();
  // Where the flash is kept between runs; empty: in memory only.
  std::string flashFolder;
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

// One reply telegram as the brick sends it, 0x02 first.
struct SimReply {
  std::uint8_t bytes[nxt::kMaxTelegramLength] = {};
  std::size_t length = 0;
};

struct SimBrick {
  SimBrickConfig config;
  SimFlash flash;
  std::string runningProgram;  // empty when no program runs
  // The mailboxes of the running program, each at most 5 messages.
  std::deque<std::vector<std::uint8_t>> mailboxes[nxt::kMailboxCount];
  // What happened inside the brick since the caller last looked, e.g.
  // "program demo.rxe started"; the caller empties it.
  std::vector<std::string> events;
  // The reply buffer as the last command left it.
  SimReply lastReply;
  std::string playingSound;  // empty when silent
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
