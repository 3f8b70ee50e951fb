// The three outputs of the simulated brick (motor ports A, B and C): the
// firmware's output module, pass by pass, driving a model of an NXT motor.
//
// Each output holds what the last SETOUTPUTSTATE set (power, mode,
// regulation mode, turn ratio, run state, tacho limit), the regulator's
// state, the motor's motion, and three counters, one count per degree,
// that differ only in what resets them:
// - TachoCount: every degree since power-up or the last program start or
//   stop; RESETMOTORPOSITION never resets it;
// - BlockTachoCount: reset by RESETMOTORPOSITION with relative != 0;
// - RotationCount: reset by RESETMOTORPOSITION with relative 0.
//
// Time: the firmware runs its output module once a millisecond (a pass);
// the regulator runs every 101st pass (a tick). A telegram takes effect when
// it arrives; the drive it leads to is applied from the next pass. The
// motion is evaluated lazily: every call that reads or changes an output
// first runs the passes up to the time passed in, so the result does not
// depend on how often it is looked at. The counters reported are those of
// the last pass, as in the firmware's IO map.
//
// The firmware's logic, as modelled:
// - A run (MOTORON|REGULATED, MOTOR_SPEED, RUNNING) aims at `power` counts
//   per tick, about 10 degrees per second per unit of power. At each tick a
//   PID (P 3, I 1, D 1 on the accumulated position error, clamped to 333
//   counts; the sum halved) sets the drive, -100..100 %. From rest the tick
//   counter restarts: no drive for the first 101 ms. A reversal keeps the
//   old drive until the next tick.
// - A braked stop (power 0, BRAKE, RUNNING) zeroes the drive and the
//   errors; from the next tick the regulator pulls the motor back to where
//   braking began and holds it there.
// - A coast (no MOTORON, or run state IDLE) lets the drive fall by 1 % a
//   millisecond toward 0 with the windings open; the run state reads IDLE.
// - Without regulation the drive is the power itself. A tacho limit above 0
//   (cumulative from the previous target) ends the run as a coast when the
//   count reaches it.
// - Synchronised regulation (MOTOR_SYNC without MOTOR_SPEED) pairs two
//   outputs that both have it (A with B, else A with C, else B with C; the
//   first is the pair's leader) and drives each at its power less or plus a
//   correction, a PID (P 3, I 1, D 1, the sum quartered) on the difference
//   of their BlockTachoCounts, taken at the leader's tick: the faster motor
//   yields and the slower one gets more. A turn ratio adds, at every tick,
//   twice its share of the power to the difference they must keep, so that
//   the second motor turns ahead at a positive ratio and the leader at a
//   negative one (50: one stands, 100: they turn against each other); then
//   neither is driven beyond its power. A tacho limit stops both together,
//   when either reaches it (ratio 0) or when the one ahead does.
// - RAMPUP raises the drive from 10 % to the power, a step each time the
//   count has moved its share of the tacho limit, and ends as a coast at the
//   limit; RAMPDOWN lowers it toward 10 % likewise and stops at the limit.
//   Speed regulation follows the ramp's power; without it a stalled ramp is
//   pushed on every 100 ms.
// - GETOUTPUTSTATE reports the live run state (RUNNING while braked).
//
// The motor: a DC motor with a mechanical time constant of 15 ms and dry
// friction. At full drive it reaches its free speed, 0.111 degrees per
// second per millivolt of battery (900 deg/s at the default 8100 mV) times
// the output's load percent; so at 8100 mV powers above about 90 saturate,
// and a load lowers the top speed but not a regulated speed below it. The
// motor drivers take at most 10.5 V (their absolute maximum supply): above
// that the windings see no more, so a brick on a power supply turns its
// motors as on 10.5 V, 1165 deg/s. The battery level and the loads in force
// are those of the last telegram's time: a change while serving reaches the
// motors from then on. With no drive and the BRAKE bit the windings are
// shorted (it stops within 15 degrees from full speed); with them open only
// friction (2700 deg/s^2, 40 deg/s of drive) slows it. At rest it starts
// only above about 6 % drive (the firmware ramps up from 10 %). A load of 0 blocks
// the motor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/nxt_protocol.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "sim/sim_reply.h"

// The motor model.
constexpr double kSimFreeSpeedPerMillivolt = 0.111;  // deg/s at full drive, unloaded
constexpr double kSimMotorTimeConstant = 0.015;      // s
constexpr double kSimMotorFriction = 2700.0;         // deg/s^2
constexpr std::uint16_t kSimDriveCeilingMillivolts = 10500;
// The firmware's timing.
constexpr auto kSimOutputPass = std::chrono::milliseconds(1);
constexpr int kSimRegulationPasses = 101;

// The regulator's run state as the firmware keeps it, with the firmware's
// values; kHold is the moment between a braked stop and the next pass. Any
// other value a client sends is kept and does nothing.
enum class SimRunState : std::uint8_t {
  kIdle = nxt::kRunStateIdle,
  kRampUp = nxt::kRunStateRampUp,
  kRunning = nxt::kRunStateRunning,
  kRampDown = nxt::kRunStateRampDown,
  kHold = 0x60,
};

struct SimOutput {
  // As the last SETOUTPUTSTATE set them (GETOUTPUTSTATE echoes them, the
  // run state live).
  std::int8_t power = 0;
  std::uint8_t mode = 0;
  std::uint8_t regulationMode = nxt::kRegulationIdle;
  std::int8_t turnRatio = 0;
  std::uint8_t runStateSet = nxt::kRunStateIdle;
  std::uint32_t tachoLimit = 0;

  // The firmware's regulator.
  SimRunState runState = SimRunState::kIdle;
  std::uint8_t regulation = nxt::kRegulationIdle;  // in force: speed, sync bits
  bool brake = false;                              // windings shorted while the drive is 0
  int setSpeed = 0;                                // power units
  int targetSpeed = 0;                             // power units
  int turn = 0;                                    // the turn ratio in force
  int drive = 0;                                   // -100..100, what the motor gets
  int positionError = 0;
  int accumulatedError = 0;
  int passesSinceTick = 0;
  std::int64_t countAtTick = 0;  // whole degrees at the last tick
  bool runForever = true;
  std::int64_t countToRun = 0;  // in TachoCount units
  // The ramps: counts between steps of the drive, where they counted from.
  int rampIncrement = 0;
  std::uint16_t rampCount = 0;  // passes without a step
  std::int64_t rampCountOld = 0;
  std::int64_t rampCountStart = 0;

  // The motion as of the last pass: degrees since power-up, deg/s.
  double position = 0;
  double speed = 0;

  // Each counter is the whole degrees of `position` less its origin.
  std::int64_t tachoOrigin = 0;
  std::int64_t blockTachoOrigin = 0;
  std::int64_t rotationOrigin = 0;

  // The free speed at full drive, deg/s (battery and load); 0 blocks it.
  // Follows the brick's configuration; program resets keep it.
  double freeSpeed = 0;
  std::uint8_t loadPercent = 100;
};

// The synchronised pair's shared regulator.
struct SimSync {
  std::int64_t turnDifference = 0;  // the difference the turn ratio asks for
  int lastError = 0;
  int accumulatedError = 0;
  bool operator==(const SimSync& other) const {
    return turnDifference == other.turnDifference && lastError == other.lastError &&
           accumulatedError == other.accumulatedError;
  }
};

struct SimOutputs {
  SimOutput port[kSimOutputCount];
  SimSync sync;
  SimTime poweredUp{};      // pass n runs at poweredUp + n ms
  std::int64_t passes = 0;  // passes run since power-up
  std::uint16_t batteryMillivolts = 0;
};

// The free speed at full drive, deg/s, of a motor with `loadPercent` (0-100;
// 0 blocks it) on a battery of `batteryMillivolts`.
double simMotorFreeSpeed(std::uint16_t batteryMillivolts, std::uint8_t loadPercent);

// Power-up: every output off and coasting at rest, counters 0; the free
// speeds from `batteryMillivolts` and `loadPercent` (one per port, 0-100).
void simOutputsPowerUp(SimOutputs& outputs, const std::uint8_t (&loadPercent)[kSimOutputCount],
                       std::uint16_t batteryMillivolts, SimTime now);

// A new battery level or new loads: the motion up to `now` is that of the
// old ones; nothing happens when neither changed.
void simOutputsSupply(SimOutputs& outputs, const std::uint8_t (&loadPercent)[kSimOutputCount],
                      std::uint16_t batteryMillivolts, SimTime now);

// What a program start or stop does to the outputs: each coasts (mode,
// power, regulation and run state 0, no tacho limit) and its three counters
// become 0. A motor that was turning runs down from where it is.
void simOutputsProgramReset(SimOutputs& outputs, SimTime now);

// Runs the passes of every output up to `now`; an earlier time changes
// nothing.
void simOutputsAdvance(SimOutputs& outputs, SimTime now);

// The counters as of the last pass.
std::int32_t simOutputTachoCount(const SimOutput& output);
std::int32_t simOutputBlockTachoCount(const SimOutput& output);
std::int32_t simOutputRotationCount(const SimOutput& output);

// The run state byte that GETOUTPUTSTATE reports.
std::uint8_t simOutputRunStateByte(const SimOutput& output);

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
