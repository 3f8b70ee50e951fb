// Direct commands for the brick's three outputs (motor ports A, B and C,
// ports 0 to 2): SETOUTPUTSTATE to run, stop and brake a motor,
// GETOUTPUTSTATE to read its rotation count, RESETMOTORPOSITION to reset its
// counters, and motorGoTo, which drives a motor to a rotation count with the
// others. Each builds its telegram (opcode first, no telegram-type byte)
// and hands it to linkTransact.
//
// Ports and powers go into the telegrams as their low 8 bits; nothing here
// checks their range (the motor handler passes ports 0 to 2 and powers 0
// to 100). The actions return true once their telegram was handed to a
// link that is up; the rotation count is empty when no reply answered.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// GETOUTPUTSTATE 06 pp, reply wanted: RotationCount, bytes 20 to 23 of the
// 24-byte reply (counted without its 0x02), signed little-endian. Empty
// when no reply for this port came (driver.h).
std::optional<std::int32_t> motorGetRotationCount(std::int32_t port);

// RESETMOTORPOSITION 0a pp rr, no reply. `relative` true (rr = 01) resets
// the count relative to the last movement (BlockTachoCount); false
// (rr = 00) the absolute one (RotationCount).
bool motorResetRotationCount(std::int32_t port, bool relative);

// SETOUTPUTSTATE 04 pp PP 05 01 00 20 00000000, no reply: runs the motor
// without limit, speed-regulated, at power PP (reverse: at -PP).
bool motorSetForward(std::int32_t port, std::int32_t power);
bool motorSetReverse(std::int32_t port, std::int32_t power);

// The braked stop, 04 pp 00 07 01 00 20 00000000, holds the motor where it
// is; the coasting stop, 04 pp and nine zero bytes, lets it run down. Both
// without reply. motorStop sends the braked one when `brake` is true.
bool motorStop(std::int32_t port, bool brake);
bool motorBrakeOn(std::int32_t port);
bool motorBrakeOff(std::int32_t port);

// The coasting stop to motors A, B and C. When the link is lost and a stop
// cannot go out, the link is opened once more (a brick whose line dropped
// is usually back at once) and the stops sent again. True when all three
// went out.
bool motorCoastAll();

// How long motorGoTo waits for a motor that comes no nearer to its target,
// and the clock it measures that with (replaceable for tests).
struct GoToWait {
  std::chrono::steady_clock::duration noProgressLimit = std::chrono::seconds(1);
  std::chrono::steady_clock::time_point (*now)() = [] { return std::chrono::steady_clock::now(); };
};

enum class GoToResult {
  kReached,    // a poll found the count at or past the target
  kTimedOut,   // the count came no nearer to the target for noProgressLimit,
               // or a read of the count got no reply
  kCancelled,  // waitCancelled() said so; no stop was sent
};

// Drives the motor at `power` until its RotationCount reaches or passes
// `target` (an absolute count, not a distance), then stops it, braked or
// coasting as `brake` says. Reads the count once; runs forward when the
// target is at or above it, in reverse when below; then polls the count
// back to back, with no pause, until a poll finds it at or past the target.
// Only counts from replies that answered their poll are believed: a poll
// without one ends the wait as timed out. The stop is sent also when the
// wait times out (over a lost link after opening it once more), but not
// when it is cancelled (wait_cancel.h): the motor then runs on until the
// one who cancelled stops it. The count is not read again after the stop:
// the motor ends as a rule a little past the target.
GoToResult motorGoTo(std::int32_t port, std::int32_t power, std::int32_t target, bool brake,
                     const GoToWait& wait = GoToWait{});
