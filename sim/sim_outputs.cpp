#include "sim/sim_outputs.h"

#include <algorithm>
#include <cmath>

#include "protocol/little_endian.h"
#include "protocol/no_coverage.h"

namespace {

using nxt::BrickStatus;
using nxt::Opcode;

constexpr std::uint8_t kAllPorts = 0xFF;
constexpr std::size_t kOutputStateFields = 22;  // reply bytes after 02, opcode, status

// The regulator's constants: gains 3, 1 and 1, the position error clamped
// so that 3 x error stays within 16 bits' 32000 (333 counts), the
// accumulated error within 800, each term and the drive within 100.
constexpr int kGainP = 3;
constexpr int kGainI = 1;
constexpr int kGainD = 1;
constexpr int kMaxPositionError = 32000 / (kGainP * 32);
constexpr int kMaxAccumulatedError = 800;
constexpr int kMaxDrive = 100;
// The synchronised regulator's clamps, the least drive a ramp starts from,
// and the count at which a run without limit starts counting afresh.
constexpr int kMaxSyncError = 500;
constexpr int kMaxSyncAccumulated = 900;
constexpr int kMinMovementPower = 10;
constexpr std::int64_t kMaxCountToRun = 10000000;

// The friction in terms of the drive's speed; a motor at rest needs twice
// half as much again (static friction) to start.
constexpr double kFrictionSpeed = kSimMotorFriction * kSimMotorTimeConstant;  // deg/s
constexpr double kStartingSpeed = 1.5 * kFrictionSpeed;

NXT_NO_COVERAGE std::int64_t wholeDegrees(const SimOutput& o) {
  return static_cast<std::int64_t>(std::floor(o.position));
}

// The low 32 bits of `value`, read as a signed count.
std::int32_t counterBits(std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return bits < 0x80000000u ? static_cast<std::int32_t>(bits)
                            : -static_cast<std::int32_t>(~bits) - 1;
}

int towardZero(int value) { return value > 0 ? value - 1 : value < 0 ? value + 1 : 0; }

// The speed the drive pushes the motor toward, before friction.
NXT_NO_COVERAGE double driveSpeed(const SimOutput& o) {
  return o.drive / 100.0 * (o.freeSpeed + kFrictionSpeed);
}

// Whether the windings carry current: driven, or shorted by the brake.
NXT_NO_COVERAGE bool electrical(const SimOutput& o) { return o.drive != 0 || o.brake; }

NXT_NO_COVERAGE bool startsFromRest(const SimOutput& o) {
  return o.freeSpeed > 0 && electrical(o) && std::abs(driveSpeed(o)) > kStartingSpeed;
}

// The decay over one pass, the step of almost every call of move(),
// worked out once as move() works it out (at run time, like every other).
struct PassDecay {
  double step;
  double value;
};
NXT_NO_COVERAGE const PassDecay& passDecay() {
  static const PassDecay once = [] {
    const double step = std::chrono::duration<double>(kSimOutputPass).count();
    volatile double tau = kSimMotorTimeConstant;  // not folded by the compiler
    return PassDecay{step, std::exp(-step / tau)};
  }();
  return once;
}

// `step` seconds of motion with driven or shorted windings: the speed heads
// exponentially toward `heading` (the drive's speed less friction); `decay`
// is exp(-step / time constant).
NXT_NO_COVERAGE void approach(SimOutput& o, double heading, double step, double decay) {
  o.position += heading * step + (o.speed - heading) * kSimMotorTimeConstant * (1 - decay);
  o.speed = heading + (o.speed - heading) * decay;
}

// `step` seconds of motion with open windings: friction alone slows it; `s`
// is the sign of the speed.
NXT_NO_COVERAGE void slide(SimOutput& o, double s, double step) {
  o.position += o.speed * step - 0.5 * s * kSimMotorFriction * step * step;
  o.speed = o.speed - s * kSimMotorFriction * step;
}

// `dt` seconds of motion with the drive held. Driven or shorted windings:
// the speed heads exponentially (time constant) toward the drive's speed,
// less friction; open windings: friction alone. A motor that comes to rest
// stays there unless the drive overcomes friction.
NXT_NO_COVERAGE void move(SimOutput& o, double dt) {
  if (o.speed == 0 && o.drive == 0) return;  // at rest, and nothing starts it
  if (o.freeSpeed <= 0) {
    o.speed = 0;  // blocked
    return;
  }
  const double u = driveSpeed(o);
  const bool shorted = electrical(o);
  for (int part = 0; part < 3 && dt > 0; ++part) {
    double s = o.speed > 0 ? 1.0 : -1.0;
    if (o.speed == 0) {
      if (!startsFromRest(o)) return;
      s = u > 0 ? 1.0 : -1.0;
    }
    double step = dt;
    bool stops = false;
    if (shorted) {
      const double heading = u - s * kFrictionSpeed;
      if (heading * s < 0) {
        const double untilRest = kSimMotorTimeConstant * std::log((o.speed - heading) / -heading);
        if (untilRest <= step) {
          step = untilRest;
          stops = true;
        }
      }
      const PassDecay& onePass = passDecay();
      const double decay =
          step == onePass.step ? onePass.value : std::exp(-step / kSimMotorTimeConstant);
      approach(o, heading, step, decay);
    } else {
      const double untilRest = std::abs(o.speed) / kSimMotorFriction;
      if (untilRest <= step) {
        step = untilRest;
        stops = true;
      }
      slide(o, s, step);
    }
    if (stops) o.speed = 0;
    dt -= step;
  }
}

// Where a tacho limit is watched on one motor: its run ends after the first
// pass that leaves the motor at or above `above` degrees, or below `below`
// (infinite: not watched).
struct Bounds {
  double above;
  double below;
};
constexpr Bounds kUnwatched = {HUGE_VAL, -HUGE_VAL};

NXT_NO_COVERAGE bool beyond(const SimOutput& o, const Bounds& bounds) {
  return o.position >= bounds.above || o.position < bounds.below;
}

// Up to `passes` passes of motion with the drive held, each as move() turns
// one, with its cases worked out once where the drive decides them; stops
// after the first pass that leaves the motor beyond `bounds`. Returns the
// passes turned.
NXT_NO_COVERAGE std::int64_t turn(SimOutput& o, std::int64_t passes, const Bounds& bounds) {
  const PassDecay& onePass = passDecay();
  const double step = onePass.step;
  const bool shorted = electrical(o);
  const double u = driveSpeed(o);
  std::int64_t done = 0;
  while (done < passes) {
    if (o.speed == 0 && !startsFromRest(o)) {
      // At rest for good: it was not beyond after the pass before.
      return done == 0 && beyond(o, bounds) ? 1 : passes;
    }
    if (o.speed != 0 && o.freeSpeed > 0) {
      const double s = o.speed > 0 ? 1.0 : -1.0;
      if (shorted) {
        const double heading = u - s * kFrictionSpeed;
        if (heading * s >= 0) {
          // Heading away from rest: no stop within the pass.
          do {
            approach(o, heading, step, onePass.value);
            if (beyond(o, bounds)) return done + 1;
          } while (++done < passes && o.speed * s > 0);
          continue;
        }
      } else if (std::abs(o.speed) / kSimMotorFriction > step) {
        do {
          slide(o, s, step);
          if (beyond(o, bounds)) return done + 1;
        } while (++done < passes && std::abs(o.speed) / kSimMotorFriction > step);
        continue;
      }
    }
    move(o, step);
    if (beyond(o, bounds)) return done + 1;
    ++done;
  }
  return done;
}

// What an idle output does at each pass after its motor has turned: the
// windings open, and the drive and the speeds it aims at fall 1 % a pass.
void coast(SimOutput& o) {
  o.brake = false;
  o.drive = towardZero(o.drive);
  o.targetSpeed = towardZero(o.targetSpeed);
  o.setSpeed = towardZero(o.setSpeed);
}

// `value` after `times` steps toward zero.
int towardZero(int value, std::int64_t times) {
  if (value > 0) return static_cast<int>(std::max<std::int64_t>(value - times, 0));
  return static_cast<int>(std::min<std::int64_t>(value + times, 0));
}

// Up to `passes` passes of an idle output: the motor turns, and after each
// of the first `coasts` of them the output coasts, unless the motor is then
// beyond `bounds`, which ends it. Once the drive is 0 with the windings open
// the motion no longer depends on the speeds aimed at. Returns the passes
// turned.
std::int64_t coastFor(SimOutput& o, std::int64_t passes, std::int64_t coasts,
                      const Bounds& bounds) {
  std::int64_t done = 0;
  for (; done < passes && electrical(o); ++done) {
    move(o, passDecay().step);
    if (beyond(o, bounds)) return done + 1;
    if (done < coasts) coast(o);
  }
  if (done == passes) return done;
  const std::int64_t turned = done + turn(o, passes - done, bounds);
  const std::int64_t coasted = beyond(o, bounds) ? turned - 1 : turned;
  const std::int64_t times = std::max<std::int64_t>(std::min(coasted, coasts) - done, 0);
  o.targetSpeed = towardZero(o.targetSpeed, times);
  o.setSpeed = towardZero(o.setSpeed, times);
  return turned;
}

std::int64_t tachoCount(const SimOutput& o) { return wholeDegrees(o) - o.tachoOrigin; }
std::int64_t blockCount(const SimOutput& o) { return wholeDegrees(o) - o.blockTachoOrigin; }
void setTachoCount(SimOutput& o, std::int64_t count) { o.tachoOrigin = wholeDegrees(o) - count; }

bool speedRegulated(const SimOutput& o) { return (o.regulation & nxt::kRegulationMotorSpeed) != 0; }
bool synchronised(const SimOutput& o) { return (o.regulation & nxt::kRegulationSync) != 0; }

// The output that `n` is synchronised with: the first other one with
// synchronised regulation; -1 for none.
int partnerOf(const SimOutputs& outputs, int n) {
  for (int i = 0; i < kSimOutputCount; ++i) {
    if (i != n && synchronised(outputs.port[i])) return i;
  }
  return -1;
}

// The partner whose drive `n` sets at its tick: A leads B, else C; B leads
// C unless A is synchronised too; C never leads.
int ledBy(const SimOutputs& outputs, int n) {
  const auto sync = [&](int i) { return synchronised(outputs.port[i]); };
  if (n == 0) return sync(1) ? 1 : sync(2) ? 2 : -1;
  if (n == 1) return sync(2) && !sync(0) ? 2 : -1;
  return -1;
}

// The speed regulator at a tick: the position error grows by the setpoint
// and shrinks by the counts moved since the last tick.
void regulate(SimOutput& o, std::int64_t count) {
  const std::int64_t moved = count - o.countAtTick;
  const std::int64_t error = o.positionError - moved + o.targetSpeed;
  const int e =
      static_cast<int>(std::clamp<std::int64_t>(error, -kMaxPositionError, kMaxPositionError));
  const int p = std::clamp(e * kGainP, -kMaxDrive, kMaxDrive);
  const int d = (e - o.positionError) * kGainD;
  o.positionError = e;
  o.accumulatedError =
      std::clamp((o.accumulatedError * 3 + e) / 4, -kMaxAccumulatedError, kMaxAccumulatedError);
  const int i = std::clamp(o.accumulatedError * kGainI, -kMaxDrive, kMaxDrive);
  o.drive = std::clamp((p + i + d) / 2, -kMaxDrive, kMaxDrive);
}

// The synchronised regulator at the leader's tick.
void regulatePair(SimOutputs& outputs, int leader, int follower) {
  SimOutput& one = outputs.port[leader];
  SimOutput& two = outputs.port[follower];
  SimSync& sync = outputs.sync;
  const std::int64_t blockOne = blockCount(one);
  const std::int64_t blockTwo = blockCount(two);
  // The turn ratio's share of the power, counts per tick; before either
  // has moved, the ratio itself.
  int share = 0;
  if (one.turn != 0) {
    if (blockOne == 0 && blockTwo == 0) {
      share = one.turn;
    } else if (one.targetSpeed >= 0) {
      share = one.turn > 0 ? two.turn * two.targetSpeed / 100 : one.turn * one.targetSpeed / 100;
    } else {
      share = one.turn > 0 ? one.turn * -one.targetSpeed / 100 : two.turn * -two.targetSpeed / 100;
    }
  }
  sync.turnDifference += 2 * share;
  const int error = static_cast<int>(std::clamp<std::int64_t>(
      blockOne - blockTwo + sync.turnDifference, -kMaxSyncError, kMaxSyncError));
  const int p = error * kGainP;
  const int d = (error - sync.lastError) * kGainD;
  sync.lastError = error;
  sync.accumulatedError =
      std::clamp(sync.accumulatedError + error, -kMaxSyncAccumulated, kMaxSyncAccumulated);
  const int correction = (p + sync.accumulatedError * kGainI + d) / 4;
  int driveOne = std::clamp(one.targetSpeed - correction, -kMaxDrive, kMaxDrive);
  int driveTwo = std::clamp(two.targetSpeed + correction, -kMaxDrive, kMaxDrive);
  if (one.turn != 0) {
    driveOne = std::clamp(driveOne, -std::abs(one.targetSpeed), std::abs(one.targetSpeed));
    driveTwo = std::clamp(driveTwo, -std::abs(two.targetSpeed), std::abs(two.targetSpeed));
  }
  one.drive = driveOne;
  two.drive = driveTwo;
}

void regulateAtTick(SimOutputs& outputs, int n, std::int64_t count) {
  SimOutput& o = outputs.port[n];
  if (speedRegulated(o)) {
    regulate(o, count);
  } else if (synchronised(o)) {
    const int follower = ledBy(outputs, n);
    if (follower >= 0) regulatePair(outputs, n, follower);
  }
}

void stop(SimOutput& o) {
  o.setSpeed = 0;
  o.targetSpeed = 0;
  o.drive = 0;
  o.runState = SimRunState::kIdle;
  o.regulation = nxt::kRegulationIdle;
}

// The tacho limit reached at the end of a ramp down: a synchronised pair
// stops together.
void reachedLimit(SimOutputs& outputs, int n) {
  SimOutput& o = outputs.port[n];
  if (synchronised(o)) {
    const int partner = partnerOf(outputs, n);
    stop(o);
    if (partner >= 0) stop(outputs.port[partner]);
    return;
  }
  if (o.setSpeed == 0) {
    o.targetSpeed = 0;
    o.drive = 0;
  }
  o.runState = SimRunState::kIdle;
  o.regulation = nxt::kRegulationIdle;
}

// A count at which a tacho limit ends a run: the whole degrees of output `n`
// at or above `degrees` (`above`), or at or below.
struct LimitWatch {
  int n;
  std::int64_t degrees;
  bool above;
};

// Where the watch is reached, as motor positions.
Bounds boundsOf(const LimitWatch& watch) {
  const auto degrees = static_cast<double>(watch.degrees);
  return watch.above ? Bounds{degrees, -HUGE_VAL} : Bounds{HUGE_VAL, degrees + 1};
}

bool reached(const SimOutputs& outputs, const LimitWatch& watch) {
  return beyond(outputs.port[watch.n], boundsOf(watch));
}

// The counts at which the tacho limit ends the run of output `n`, running
// with one; returns how many. A run of its own ends at its count; a
// synchronised pair without turn ratio when either reaches its count; with
// one, when the one ahead does (the first watch).
int limitWatches(const SimOutputs& outputs, int n, LimitWatch (&watches)[2]) {
  const SimOutput& o = outputs.port[n];
  int count = 0;
  const auto watch = [&](int of, bool above) {
    const SimOutput& w = outputs.port[of];
    watches[count++] = {of, w.countToRun + w.tachoOrigin, above};
  };
  const int partner = synchronised(o) ? partnerOf(outputs, n) : -1;
  if (synchronised(o) && partner < 0) return 0;
  if (partner < 0 || o.turn == 0) {
    if (o.setSpeed == 0) return 0;
    watch(n, o.setSpeed > 0);
    if (partner >= 0) watch(partner, o.setSpeed > 0);
    return count;
  }
  const SimOutput& two = outputs.port[partner];
  const bool forward = o.turn > 0 ? two.targetSpeed >= 0 : o.targetSpeed >= 0;
  watch((o.turn > 0) == forward ? partner : n, forward);
  return count;
}

// Whether the tacho limit of output `n` ends its run now; `watches` gets
// what limitWatches() gives.
bool limitReached(const SimOutputs& outputs, int n, LimitWatch (&watches)[2]) {
  const int count = limitWatches(outputs, n, watches);
  bool any = false;
  for (int i = 0; i < count; ++i) any = any || reached(outputs, watches[i]);
  return any;
}

// The tacho limit of a synchronised pair, when reached: both stop, and with
// a turn ratio the one behind takes over the counts of the one ahead.
void pairLimit(SimOutputs& outputs, int n) {
  LimitWatch watches[2];
  if (!limitReached(outputs, n, watches)) return;
  const int partner = partnerOf(outputs, n);
  outputs.port[n].runState = SimRunState::kIdle;
  outputs.port[partner].runState = SimRunState::kIdle;
  if (outputs.port[n].turn != 0) {
    const SimOutput& ahead = outputs.port[watches[0].n];
    SimOutput& behind = outputs.port[watches[0].n == n ? partner : n];
    setTachoCount(behind, tachoCount(ahead));
    behind.countToRun = ahead.countToRun;
  }
}

// A step of the drive for a ramp, the divisor 0 read as no step size (the
// firmware would divide by zero).
int rampStep(std::int64_t counts, int steps) {
  return steps == 0 ? 0 : static_cast<std::int16_t>(counts / steps);
}

void rampUp(SimOutput& o) {
  const std::int64_t count = tachoCount(o);
  const int direction = o.setSpeed > 0 ? 1 : -1;
  if (o.targetSpeed == 0) {
    o.targetSpeed = direction * kMinMovementPower;
  } else {
    if (o.rampIncrement == 0) {
      o.rampIncrement =
          direction * rampStep(o.countToRun - o.rampCountStart, o.setSpeed - o.targetSpeed);
      o.rampCountOld = count;
    }
    if (direction > 0 ? count > o.rampCountOld + o.rampIncrement
                      : count < o.rampCountOld + o.rampIncrement) {
      o.targetSpeed += direction;
      o.rampCountOld = count;
      o.rampCount = 0;
    } else if (!speedRegulated(o) && ++o.rampCount > 100) {
      o.rampCount = 0;
      o.targetSpeed += direction;
    }
  }
  if (direction > 0 ? count - o.rampCountStart >= o.countToRun - o.rampCountStart
                    : count + o.rampCountStart <= o.countToRun + o.rampCountStart) {
    o.targetSpeed = o.setSpeed;
    o.runState = SimRunState::kIdle;
  }
  o.targetSpeed =
      direction > 0 ? std::min(o.targetSpeed, o.setSpeed) : std::max(o.targetSpeed, o.setSpeed);
  if (o.regulation == nxt::kRegulationIdle) o.drive = o.targetSpeed;
}

// A partner turning against the leader during its ramp down is slowed too.
void rampDownPartner(SimOutputs& outputs, int n) {
  const SimOutput& one = outputs.port[n];
  const int partner = partnerOf(outputs, n);
  if (partner < 0 || one.turn == 0) return;
  SimOutput& two = outputs.port[partner];
  if (one.targetSpeed >= 0) {
    if (two.drive < 0) --two.targetSpeed;
  } else if (two.drive > 0) {
    ++two.targetSpeed;
  }
}

void rampDown(SimOutputs& outputs, int n) {
  SimOutput& o = outputs.port[n];
  const std::int64_t count = tachoCount(o);
  if (o.rampIncrement == 0) {
    const std::int64_t left = o.countToRun - count;
    const int span = o.targetSpeed - o.setSpeed;
    if (o.targetSpeed > 0) {
      const bool toRest = o.targetSpeed > kMinMovementPower && o.setSpeed == 0;
      o.rampIncrement = rampStep(left, toRest ? span - kMinMovementPower : span);
    } else {
      const bool toRest = o.targetSpeed < -kMinMovementPower && o.setSpeed == 0;
      o.rampIncrement = -rampStep(left, toRest ? span + kMinMovementPower : span);
    }
    o.rampCountOld = count;
  }
  const bool forward = o.targetSpeed > 0;
  if (forward ? count > o.rampCountOld + o.rampIncrement
              : count < o.rampCountOld + o.rampIncrement) {
    o.targetSpeed = forward ? std::max(o.targetSpeed - 1, kMinMovementPower)
                            : std::min(o.targetSpeed + 1, -kMinMovementPower);
    o.rampCountOld = count;
    o.rampCount = 0;
    rampDownPartner(outputs, n);
  } else if (!speedRegulated(o)) {
    // Stalled: pushed on again, then given time.
    const int increment = forward ? o.rampIncrement : -o.rampIncrement;
    if (++o.rampCount > static_cast<std::uint16_t>(30 * increment)) {
      o.rampCount = static_cast<std::uint16_t>(20 * increment);
      o.targetSpeed += forward ? 1 : -1;
    }
  }
  if (synchronised(o) && o.turn != 0) {
    pairLimit(outputs, n);
    if (o.runState == SimRunState::kIdle) reachedLimit(outputs, n);
  } else if (forward ? count >= o.countToRun : count <= o.countToRun) {
    reachedLimit(outputs, n);
  }
  if (o.regulation == nxt::kRegulationIdle) o.drive = o.targetSpeed;
}

void runningLimit(SimOutputs& outputs, int n) {
  SimOutput& o = outputs.port[n];
  if (!o.runForever) {
    LimitWatch watches[2];
    if (synchronised(o)) {
      pairLimit(outputs, n);
    } else if (limitReached(outputs, n, watches)) {
      o.runState = SimRunState::kIdle;
      o.regulation = nxt::kRegulationIdle;
    }
  } else {
    if (tachoCount(o) > kMaxCountToRun) setTachoCount(o, 0);
    if (o.targetSpeed != 0) o.countToRun = tachoCount(o);
  }
  if (o.regulation == nxt::kRegulationIdle) o.drive = o.targetSpeed;
}

// The firmware's speed setting: from a standstill setpoint the errors and
// the tick counter start afresh; a ramp toward a speed already passed runs
// at once.
void setSpeed(SimOutput& o, SimRunState next, int speed, int turn) {
  if (o.setSpeed == speed && o.runState == next && next != SimRunState::kIdle && o.turn == turn) {
    return;
  }
  if (o.targetSpeed == 0) {
    o.accumulatedError = 0;
    o.positionError = 0;
    o.passesSinceTick = 0;
    o.countAtTick = wholeDegrees(o);
  }
  const auto startRamp = [&] {
    o.setSpeed = speed;
    o.turn = turn;
    o.rampIncrement = 0;
    o.rampCountStart = tachoCount(o);
    o.rampCount = 0;
  };
  switch (next) {
    case SimRunState::kIdle:
      o.regulation = nxt::kRegulationIdle;
      break;
    case SimRunState::kRampUp:
      if (o.setSpeed != 0 && (speed > 0 ? o.setSpeed >= speed : o.setSpeed <= speed)) {
        next = SimRunState::kRunning;
      } else {
        startRamp();
      }
      break;
    case SimRunState::kRunning:
      o.setSpeed = speed;
      o.targetSpeed = speed;
      o.turn = turn;
      if (speed == 0) next = SimRunState::kHold;
      break;
    case SimRunState::kRampDown:
      if (o.targetSpeed >= 0 ? o.setSpeed <= speed : o.setSpeed >= speed) {
        next = SimRunState::kRunning;
      } else {
        startRamp();
      }
      break;
    default:
      break;
  }
  o.runState = next;
}

void setTachoLimit(SimOutput& o, std::uint32_t limit) {
  if (limit == 0) {
    o.runForever = true;
    return;
  }
  o.runForever = false;
  const int direction = o.setSpeed != 0 ? o.setSpeed : o.targetSpeed;
  o.countToRun += direction > 0 ? limit : -static_cast<std::int64_t>(limit);
}

// SETOUTPUTSTATE as the firmware's output module takes it: the speed and
// run state, then the tacho limit, then the mode and regulation.
void setOutputState(SimOutputs& outputs, int n, const std::uint8_t* fields) {
  SimOutput& o = outputs.port[n];
  o.power = static_cast<std::int8_t>(fields[0]);
  o.mode = fields[1];
  o.regulationMode = fields[2];
  o.turnRatio = static_cast<std::int8_t>(fields[3]);
  o.runStateSet = fields[4];
  o.tachoLimit = nxt::readU32(fields + 5);
  const bool on = (o.mode & nxt::kModeMotorOn) != 0;
  if (on) {
    setSpeed(o, static_cast<SimRunState>(o.runStateSet), std::clamp<int>(o.power, -100, 100),
             o.turnRatio);
  }
  setTachoLimit(o, o.tachoLimit);
  o.brake = (o.mode & nxt::kModeBrake) != 0;
  if (!on) {
    setSpeed(o, SimRunState::kIdle, 0, 0);
    o.regulation = nxt::kRegulationIdle;
  } else if ((o.mode & nxt::kModeRegulated) == 0) {
    o.regulation = nxt::kRegulationIdle;
  } else {
    o.regulation = o.regulationMode;
    const bool rampingDown = o.runState == SimRunState::kRampDown;
    if (speedRegulated(o) && o.setSpeed == 0 && !rampingDown) {
      o.accumulatedError = 0;
      o.positionError = 0;
    }
    if (synchronised(o) && !rampingDown) outputs.sync = SimSync{};
  }
}

// The firmware's look at output `n` at a pass, but for a run's tacho limit,
// the hold after a braked stop and the tick: the ramps move the drive
// along, and an idle output coasts (also when a ramp has just ended).
void ownStep(SimOutputs& outputs, int n) {
  SimOutput& o = outputs.port[n];
  switch (o.runState) {
    case SimRunState::kRampUp:
      rampUp(o);
      break;
    case SimRunState::kRampDown:
      rampDown(outputs, n);
      break;
    case SimRunState::kIdle:
      coast(o);
      return;
    default:
      return;
  }
  if (o.runState == SimRunState::kIdle) coast(o);  // the ramp has ended
}

// The firmware's look at each count in turn, after the motors have turned.
void passLogic(SimOutputs& outputs);

// One pass of the output module: every motor turns a millisecond with the
// drive of the pass before, then the firmware looks at each count in turn.
void pass(SimOutputs& outputs) {
  const double dt = std::chrono::duration<double>(kSimOutputPass).count();
  for (SimOutput& o : outputs.port) move(o, dt);
  passLogic(outputs);
}

void passLogic(SimOutputs& outputs) {
  ++outputs.passes;
  for (int n = 0; n < kSimOutputCount; ++n) {
    SimOutput& o = outputs.port[n];
    const std::int64_t count = wholeDegrees(o);
    ++o.passesSinceTick;
    // A run ends only as idle (and then coasts), a ramp never turns into a
    // run, and the hold after a braked stop does nothing else.
    switch (o.runState) {
      case SimRunState::kRunning:
        runningLimit(outputs, n);
        ownStep(outputs, n);
        break;
      case SimRunState::kHold:
        o.setSpeed = 0;
        o.targetSpeed = 0;
        o.drive = 0;
        o.passesSinceTick = 0;
        o.countAtTick = count;
        o.runState = SimRunState::kRunning;
        break;
      default:
        ownStep(outputs, n);
        break;
    }
    if (o.passesSinceTick >= kSimRegulationPasses) {
      o.passesSinceTick = 0;
      regulateAtTick(outputs, n, count);
      o.countAtTick = count;
    }
  }
}

// True when further passes change nothing but the pass counters: every
// motor rests and stays at rest, and a tick would leave its regulator, and
// the synchronised pair's, as they are.
NXT_NO_COVERAGE bool settled(const SimOutputs& outputs) {
  for (int n = 0; n < kSimOutputCount; ++n) {
    const SimOutput& o = outputs.port[n];
    if (o.speed != 0 || startsFromRest(o)) return false;
    switch (o.runState) {
      case SimRunState::kIdle:
        if (o.drive != 0 || o.targetSpeed != 0 || o.setSpeed != 0) return false;
        break;
      case SimRunState::kRunning:
        if (o.regulation == nxt::kRegulationIdle && o.drive != o.targetSpeed) return false;
        break;
      case SimRunState::kRampUp:
      case SimRunState::kRampDown:
      case SimRunState::kHold:
        return false;
      default:
        break;
    }
    if (speedRegulated(o)) {
      if (wholeDegrees(o) != o.countAtTick) return false;
      SimOutput next = o;
      regulate(next, o.countAtTick);
      if (next.positionError != o.positionError || next.accumulatedError != o.accumulatedError ||
          next.drive != o.drive) {
        return false;
      }
    } else if (synchronised(o) && ledBy(outputs, n) >= 0) {
      const int follower = ledBy(outputs, n);
      SimOutputs next = outputs;
      regulatePair(next, n, follower);
      if (!(next.sync == outputs.sync) || next.port[n].drive != o.drive ||
          next.port[follower].drive != outputs.port[follower].drive) {
        return false;
      }
    }
  }
  return true;
}

// True when a pass that is no tick does nothing to output `n` but turn its
// motor, or what quietRun() does as pass() would: a run whose drive is set,
// without tacho limit (far from the count at which it starts counting
// afresh) or with one that quietRun() watches; a coast; a ramp that reads
// and sets nothing of another output (a ramp up never does); a run state
// that does nothing. A synchronised run with a limit reads its partner's
// limit and speeds too, so the partner must run with a limit as well (a run
// without one moves its limit along every pass), or coast with a speed
// aimed at that keeps its sign (a coast moves it toward 0).
NXT_NO_COVERAGE bool quiet(const SimOutputs& outputs, int n) {
  const SimOutput& o = outputs.port[n];
  switch (o.runState) {
    case SimRunState::kIdle:
      return true;
    case SimRunState::kRunning: {
      if (o.regulation == nxt::kRegulationIdle && o.drive != o.targetSpeed) return false;
      if (o.runForever) return tachoCount(o) < kMaxCountToRun / 2;
      if (!synchronised(o)) return true;
      const int partner = partnerOf(outputs, n);
      if (partner < 0) return true;
      const SimOutput& two = outputs.port[partner];
      if (two.runState == SimRunState::kIdle) return o.turn <= 0 || two.targetSpeed >= 0;
      return two.runState == SimRunState::kRunning && !two.runForever;
    }
    case SimRunState::kRampUp:
      return true;
    case SimRunState::kRampDown:
      return !synchronised(o) && (o.turn == 0 || partnerOf(outputs, n) < 0);
    case SimRunState::kHold:
      return false;
    default:
      return true;
  }
}

// How many of the next passes, at most `most`, are no tick and quiet for
// every output.
NXT_NO_COVERAGE std::int64_t quietPasses(const SimOutputs& outputs, std::int64_t most) {
  for (int n = 0; n < kSimOutputCount; ++n) {
    if (!quiet(outputs, n)) return 0;
    most = std::min<std::int64_t>(most, kSimRegulationPasses - 1 - outputs.port[n].passesSinceTick);
  }
  return most;
}

// `passes` passes of output `n`, ramping on its own: the motor turns, and
// after each of the first `steps` of them the firmware's step follows; once
// the ramp has ended it coasts.
void rampFor(SimOutputs& outputs, int n, std::int64_t passes, std::int64_t steps) {
  SimOutput& o = outputs.port[n];
  std::int64_t done = 0;
  for (; done < passes && o.runState != SimRunState::kIdle; ++done) {
    move(o, passDecay().step);
    if (done < steps) ownStep(outputs, n);
  }
  if (done < passes) coastFor(o, passes - done, steps - done, kUnwatched);
}

// Up to `count` quiet passes, each motor on its own, as pass() turns them:
// coasting outputs coast and ramps that ramp alone step after each pass as
// there, and what pass() would set at the others is set once at the end. The first pass at which a
// tacho limit is reached (the watched motors are turned first, to learn which one it is) is
// finished by the firmware's logic, and is the last. Returns the passes run.
std::int64_t quietRun(SimOutputs& outputs, std::int64_t count) {
  Bounds bounds[kSimOutputCount] = {kUnwatched, kUnwatched, kUnwatched};
  bool watched[kSimOutputCount] = {};
  for (int n = 0; n < kSimOutputCount; ++n) {
    const SimOutput& o = outputs.port[n];
    if (o.runState != SimRunState::kRunning || o.runForever) continue;
    LimitWatch watches[2];
    const int watchCount = limitWatches(outputs, n, watches);
    for (int i = 0; i < watchCount; ++i) {
      const Bounds b = boundsOf(watches[i]);
      Bounds& to = bounds[watches[i].n];
      to = {std::min(to.above, b.above), std::max(to.below, b.below)};
      watched[watches[i].n] = true;
    }
  }
  SimOutput turned[kSimOutputCount];
  std::int64_t turnedPasses[kSimOutputCount] = {};
  std::int64_t run = count;
  bool reachedAtLast = false;
  for (int n = 0; n < kSimOutputCount; ++n) {
    if (!watched[n]) continue;
    turned[n] = outputs.port[n];
    turnedPasses[n] = turned[n].runState == SimRunState::kIdle
                          ? coastFor(turned[n], run, run, bounds[n])
                          : turn(turned[n], run, bounds[n]);
    if (beyond(turned[n], bounds[n])) {
      run = turnedPasses[n];
      reachedAtLast = true;
    }
  }
  for (int n = 0; n < kSimOutputCount; ++n) {
    SimOutput& o = outputs.port[n];
    // A watched coast turned as far has coasted after its last pass too,
    // unless that pass reached its own watch.
    if (watched[n] && turnedPasses[n] == run &&
        (beyond(turned[n], bounds[n]) || !reachedAtLast || o.runState != SimRunState::kIdle)) {
      o = turned[n];
    } else if (o.runState == SimRunState::kIdle) {
      coastFor(o, run, reachedAtLast ? run - 1 : run, kUnwatched);
    } else if (o.runState == SimRunState::kRampUp || o.runState == SimRunState::kRampDown) {
      rampFor(outputs, n, run, reachedAtLast ? run - 1 : run);
    } else {
      turn(o, run, kUnwatched);
    }
  }
  const std::int64_t finished = reachedAtLast ? run - 1 : run;
  outputs.passes += finished;
  for (SimOutput& o : outputs.port) {
    o.passesSinceTick += static_cast<int>(finished);
    if (o.runState == SimRunState::kRunning && o.runForever && o.targetSpeed != 0) {
      o.countToRun = tachoCount(o);
    }
  }
  if (reachedAtLast) passLogic(outputs);
  return run;
}

// Runs the passes up to `now`. Passes that change nothing are skipped, and
// quiet ones run only the motors: the result is that of every pass run in
// full, however the time is cut.
void advance(SimOutputs& outputs, SimTime now) {
  if (now <= outputs.poweredUp) return;
  const std::int64_t due = (now - outputs.poweredUp) / kSimOutputPass;
  while (outputs.passes < due) {
    if (settled(outputs)) {
      const std::int64_t skipped = due - outputs.passes;
      for (SimOutput& o : outputs.port) {
        o.passesSinceTick = static_cast<int>((o.passesSinceTick + skipped) % kSimRegulationPasses);
      }
      outputs.passes = due;
      return;
    }
    const std::int64_t quietCount = quietPasses(outputs, due - outputs.passes);
    if (quietCount > 0) {
      quietRun(outputs, quietCount);
    } else {
      pass(outputs);
    }
  }
}

void zeroCounters(SimOutput& o) {
  const std::int64_t whole = wholeDegrees(o);
  o.tachoOrigin = whole;
  o.blockTachoOrigin = whole;
  o.rotationOrigin = whole;
  o.countToRun = 0;
}

BrickStatus getOutputState(SimOutputs& outputs, std::uint8_t port, SimTime now, SimReply& reply) {
  const auto opcode = nxt::byteOf(Opcode::kGetOutputState);
  if (port >= kSimOutputCount) {
    simReplyBegin(reply, opcode, BrickStatus::kOutOfRange);
    for (std::size_t i = 0; i < kOutputStateFields; ++i) simReplyByte(reply, 0);
    return BrickStatus::kOutOfRange;
  }
  advance(outputs, now);
  const SimOutput& o = outputs.port[port];
  simReplyBegin(reply, opcode, BrickStatus::kSuccess);
  simReplyByte(reply, port);
  simReplyByte(reply, static_cast<std::uint8_t>(o.power));
  simReplyByte(reply, o.mode);
  simReplyByte(reply, o.regulationMode);
  simReplyByte(reply, static_cast<std::uint8_t>(o.turnRatio));
  simReplyByte(reply, simOutputRunStateByte(o));
  simReplyU32(reply, o.tachoLimit);
  simReplyU32(reply, static_cast<std::uint32_t>(simOutputTachoCount(o)));
  simReplyU32(reply, static_cast<std::uint32_t>(simOutputBlockTachoCount(o)));
  simReplyU32(reply, static_cast<std::uint32_t>(simOutputRotationCount(o)));
  return BrickStatus::kSuccess;
}

}  // namespace

double simMotorFreeSpeed(std::uint16_t batteryMillivolts, std::uint8_t loadPercent) {
  const std::uint16_t windings = std::min(batteryMillivolts, kSimDriveCeilingMillivolts);
  return kSimFreeSpeedPerMillivolt * windings * std::min<int>(loadPercent, 100) / 100.0;
}

void simOutputsPowerUp(SimOutputs& outputs, const std::uint8_t (&loadPercent)[kSimOutputCount],
                       std::uint16_t batteryMillivolts, SimTime now) {
  outputs = SimOutputs{};
  outputs.poweredUp = now;
  outputs.batteryMillivolts = batteryMillivolts;
  for (int i = 0; i < kSimOutputCount; ++i) {
    outputs.port[i].loadPercent = loadPercent[i];
    outputs.port[i].freeSpeed = simMotorFreeSpeed(batteryMillivolts, loadPercent[i]);
  }
}

void simOutputsSupply(SimOutputs& outputs, const std::uint8_t (&loadPercent)[kSimOutputCount],
                      std::uint16_t batteryMillivolts, SimTime now) {
  bool same = outputs.batteryMillivolts == batteryMillivolts;
  for (int i = 0; i < kSimOutputCount; ++i)
    same = same && outputs.port[i].loadPercent == loadPercent[i];
  if (same) return;
  simOutputsAdvance(outputs, now);
  outputs.batteryMillivolts = batteryMillivolts;
  for (int i = 0; i < kSimOutputCount; ++i) {
    outputs.port[i].loadPercent = loadPercent[i];
    outputs.port[i].freeSpeed = simMotorFreeSpeed(batteryMillivolts, loadPercent[i]);
  }
}

void simOutputsProgramReset(SimOutputs& outputs, SimTime now) {
  static const std::uint8_t kCoast[9] = {};
  advance(outputs, now);
  for (int n = 0; n < kSimOutputCount; ++n) {
    setOutputState(outputs, n, kCoast);
    zeroCounters(outputs.port[n]);
  }
}

void simOutputsAdvance(SimOutputs& outputs, SimTime now) { advance(outputs, now); }

std::int32_t simOutputTachoCount(const SimOutput& o) {
  return counterBits(wholeDegrees(o) - o.tachoOrigin);
}

std::int32_t simOutputBlockTachoCount(const SimOutput& o) {
  return counterBits(wholeDegrees(o) - o.blockTachoOrigin);
}

std::int32_t simOutputRotationCount(const SimOutput& o) {
  return counterBits(wholeDegrees(o) - o.rotationOrigin);
}

std::uint8_t simOutputRunStateByte(const SimOutput& o) {
  return static_cast<std::uint8_t>(o.runState == SimRunState::kHold ? SimRunState::kRunning
                                                                    : o.runState);
}

bool simOutputsHandles(nxt::Opcode op) {
  return op == Opcode::kSetOutputState || op == Opcode::kGetOutputState ||
         op == Opcode::kResetMotorPosition;
}

nxt::BrickStatus simOutputsCommand(SimOutputs& outputs, nxt::Opcode op, const std::uint8_t* p,
                                   std::size_t n, SimTime now, SimReply& reply) {
  // The firmware does not check lengths: missing parameters read as 0.
  std::uint8_t params[10] = {};
  std::copy(p, p + std::min(n, sizeof params), params);
  const std::uint8_t port = params[0];
  switch (op) {
    case Opcode::kSetOutputState:
      if (port != kAllPorts && port >= kSimOutputCount) return BrickStatus::kOutOfRange;
      advance(outputs, now);
      for (int i = 0; i < kSimOutputCount; ++i) {
        if (port == kAllPorts || port == i) setOutputState(outputs, i, params + 1);
      }
      return BrickStatus::kSuccess;
    case Opcode::kGetOutputState:
      return getOutputState(outputs, port, now, reply);
    case Opcode::kResetMotorPosition: {
      if (port >= kSimOutputCount) return BrickStatus::kOutOfRange;
      advance(outputs, now);
      SimOutput& o = outputs.port[port];
      if (params[1] != 0) {
        o.blockTachoOrigin = wholeDegrees(o);
      } else {
        o.rotationOrigin = wholeDegrees(o);
      }
      return BrickStatus::kSuccess;
    }
    default:
      return BrickStatus::kUnknownOpcode;
  }
}
