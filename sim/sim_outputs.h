// The three outputs of the simulated brick (motor ports A, B and C) as the
// firmware keeps them, and a model of how an NXT motor turns.
//
// Each output holds what the last SETOUTPUTSTATE set (power, mode,
// regulation mode, turn ratio, run state, tacho limit) and three counters,
// one count per degree, that differ only in what resets them:
// - TachoCount: every degree since power-up or the last program start or
//   stop; RESETMOTORPOSITION never resets it;
// - BlockTachoCount: reset by RESETMOTORPOSITION with relative != 0;
// - RotationCount: reset by RESETMOTORPOSITION with relative 0.
//
// The motion is evaluated lazily: every call that reads or changes an
// output first moves it to the time passed in. Between two times the model
// integrates exactly (constant acceleration in each phase), so the result
// does not depend on how often it is looked at.
//
// The model:
// - Driven (MOTORON set and run state not IDLE): the speed goes toward
//   power x 9 deg/s (900 deg/s at full power, an NXT motor's free speed at
//   about 9 V), scaled by the output's load percent. Speed regulation is
//   taken as saturated: a load slows a regulated motor too. The speed
//   changes at 10000 deg/s^2; with the BRAKE bit it falls at 200000 deg/s^2,
//   so the braked stop (power 0) halts a motor within about 2 degrees from
//   full speed and then holds it.
// - Not driven (no MOTORON, or run state IDLE): the motor coasts, slowing at
//   7500 deg/s^2 (about 54 degrees from full speed).
// - A tacho limit above 0 ends a driven run once the motor has turned that
//   many degrees in the power's direction since the SETOUTPUTSTATE: the run
//   state becomes IDLE and the motor coasts.
// - Turn ratio and synchronised regulation are kept and reported, not
//   modelled. The battery level does not change the speed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "sim/sim_reply.h"

constexpr double kSimDegreesPerSecondPerPower = 9.0;
constexpr double kSimDriveAcceleration = 10000.0;   // deg/s^2
constexpr double kSimBrakeDeceleration = 200000.0;  // deg/s^2
constexpr double kSimCoastDeceleration = 7500.0;    // deg/s^2

struct SimOutput {
  // As the last SETOUTPUTSTATE set them; the run state also goes IDLE when a
  // tacho limit ends the run.
  std::int8_t power = 0;
  std::uint8_t mode = 0;
  std::uint8_t regulationMode = nxt::kRegulationIdle;
  std::int8_t turnRatio = 0;
  std::uint8_t runState = nxt::kRunStateIdle;
  std::uint32_t tachoLimit = 0;

  // The motion: degrees turned since power-up, and the speed in deg/s
  // (negative backwards), both as of `updated`.
  double position = 0;
  double speed = 0;
  double runStart = 0;  // position when the run was set, for the tacho limit
  SimTime updated{};

  // Each counter is the whole degrees of `position` less its origin.
  std::int64_t tachoOrigin = 0;
  std::int64_t blockTachoOrigin = 0;
  std::int64_t rotationOrigin = 0;

  // Percent of the free speed that the motor reaches; 0 blocks it. Set at
  // power-up from the brick's configuration; program resets keep it.
  int loadPercent = 100;
};

struct SimOutputs {
  SimOutput port[kSimOutputCount];
};

// Power-up: every output off and coasting at rest, counters 0, the loads
// from `loadPercent` (one per port, each 0 to 100).
void simOutputsPowerUp(SimOutputs& outputs, const std::uint8_t (&loadPercent)[kSimOutputCount],
                       SimTime now);

// What a program start or stop does to the outputs: each coasts (mode,
// power, regulation and run state 0, no tacho limit) and its three counters
// become 0. A motor that was turning runs down from where it is.
void simOutputsProgramReset(SimOutputs& outputs, SimTime now);

// Moves the output to `now`; an earlier time changes nothing.
void simOutputAdvance(SimOutput& output, SimTime now);

// The counters as of the last advance.
std::int32_t simOutputTachoCount(const SimOutput& output);
std::int32_t simOutputBlockTachoCount(const SimOutput& output);
std::int32_t simOutputRotationCount(const SimOutput& output);

// True for the opcodes handled here: SETOUTPUTSTATE, GETOUTPUTSTATE and
// RESETMOTORPOSITION.
bool simOutputsHandles(nxt::Opcode op);

// Carries out one of those opcodes with its parameters `p` (the `n` bytes
// after the opcode; missing ones read as 0, as the firmware does not check
// lengths) and returns the status. GETOUTPUTSTATE writes its whole reply
// into `reply` (25 bytes; for a bad port status 0xC0 and zeros); the others
// leave it empty. The caller does not ask for GETOUTPUTSTATE when the
// telegram wants no reply.
nxt::BrickStatus simOutputsCommand(SimOutputs& outputs, nxt::Opcode op, const std::uint8_t* p,
                                   std::size_t n, SimTime now, SimReply& reply);
