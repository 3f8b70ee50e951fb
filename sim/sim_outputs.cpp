#include "sim/sim_outputs.h"

#include <algorithm>
#include <cmath>

#include "protocol/little_endian.h"

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

// The friction in terms of the drive's speed; a motor at rest needs twice
// half as much again (static friction) to start.
constexpr double kFrictionSpeed = kSimMotorFriction * kSimMotorTimeConstant;  // deg/s
constexpr double kStartingSpeed = 1.5 * kFrictionSpeed;

std::int64_t wholeDegrees(const SimOutput& o) {
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
double driveSpeed(const SimOutput& o) { return o.drive / 100.0 * (o.freeSpeed + kFrictionSpeed); }

// Whether the windings carry current: driven, or shorted by the brake.
bool electrical(const SimOutput& o) { return o.drive != 0 || o.brake; }

bool startsFromRest(const SimOutput& o) {
  return o.freeSpeed > 0 && electrical(o) && std::abs(driveSpeed(o)) > kStartingSpeed;
}

// `dt` seconds of motion with the drive held. Driven or shorted windings:
// the speed heads exponentially (time constant) toward the drive's speed,
// less friction; open windings: friction alone. A motor that comes to rest
// stays there unless the drive overcomes friction.
void move(SimOutput& o, double dt) {
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
      const double decay = std::exp(-step / kSimMotorTimeConstant);
      o.position += heading * step + (o.speed - heading) * kSimMotorTimeConstant * (1 - decay);
      o.speed = stops ? 0 : heading + (o.speed - heading) * decay;
    } else {
      const double untilRest = std::abs(o.speed) / kSimMotorFriction;
      if (untilRest <= step) {
        step = untilRest;
        stops = true;
      }
      o.position += o.speed * step - 0.5 * s * kSimMotorFriction * step * step;
      o.speed = stops ? 0 : o.speed - s * kSimMotorFriction * step;
    }
    dt -= step;
  }
}

// The regulator at a tick: the position error grows by the setpoint and
// shrinks by the counts moved since the last tick.
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

// The firmware's speed setting: from a standstill setpoint the errors and
// the tick counter start afresh.
void setSpeed(SimOutput& o, std::uint8_t runState, int speed, std::int64_t count) {
  SimRunState next = runState == nxt::kRunStateIdle ? SimRunState::kIdle : SimRunState::kRunning;
  if (o.setSpeed == speed && o.runState == next && next != SimRunState::kIdle) return;
  if (o.targetSpeed == 0) {
    o.accumulatedError = 0;
    o.positionError = 0;
    o.passesSinceTick = 0;
    o.countAtTick = count;
  }
  if (next == SimRunState::kIdle) {
    o.regulated = false;
  } else {
    o.setSpeed = speed;
    o.targetSpeed = speed;
    if (speed == 0) next = SimRunState::kHold;
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

void setOutputState(SimOutput& o, const std::uint8_t* fields) {
  o.power = static_cast<std::int8_t>(fields[0]);
  o.mode = fields[1];
  o.regulationMode = fields[2];
  o.turnRatio = static_cast<std::int8_t>(fields[3]);
  o.runStateSet = fields[4];
  o.tachoLimit = nxt::readU32(fields + 5);
  const std::int64_t count = wholeDegrees(o);
  const int speed = std::clamp<int>(o.power, -100, 100);
  const bool on = (o.mode & nxt::kModeMotorOn) != 0;
  if (on) setSpeed(o, o.runStateSet, speed, count);
  o.brake = (o.mode & nxt::kModeBrake) != 0;
  if (on && (o.mode & nxt::kModeRegulated) != 0) {
    o.regulated = (o.regulationMode & 0x03) != 0;
    if (o.regulated && o.setSpeed == 0) {
      o.accumulatedError = 0;
      o.positionError = 0;
    }
  } else {
    if (!on) setSpeed(o, nxt::kRunStateIdle, 0, count);
    o.regulated = false;
  }
  setTachoLimit(o, o.tachoLimit);
}

// One pass of the output module: the motor turns a millisecond with the
// drive of the pass before, then the firmware looks at the count.
void pass(SimOutput& o) {
  move(o, std::chrono::duration<double>(kSimOutputPass).count());
  const std::int64_t count = wholeDegrees(o);
  ++o.passes;
  ++o.passesSinceTick;
  if (o.runState == SimRunState::kRunning) {
    const std::int64_t tacho = count - o.tachoOrigin;
    if (!o.runForever) {
      if ((o.setSpeed > 0 && tacho >= o.countToRun) || (o.setSpeed < 0 && tacho <= o.countToRun)) {
        o.runState = SimRunState::kIdle;
        o.regulated = false;
      }
    } else if (o.targetSpeed != 0) {
      o.countToRun = tacho;
    }
    if (!o.regulated) o.drive = o.targetSpeed;
  }
  if (o.runState == SimRunState::kIdle) {
    // Coasting: the windings open, the drive falls 1 % a pass.
    o.brake = false;
    o.drive = towardZero(o.drive);
    o.targetSpeed = towardZero(o.targetSpeed);
    o.setSpeed = towardZero(o.setSpeed);
  }
  if (o.runState == SimRunState::kHold) {
    o.setSpeed = 0;
    o.targetSpeed = 0;
    o.drive = 0;
    o.passesSinceTick = 0;
    o.countAtTick = count;
    o.runState = SimRunState::kRunning;
  }
  if (o.passesSinceTick >= kSimRegulationPasses) {
    o.passesSinceTick = 0;
    if (o.regulated) regulate(o, count);
    o.countAtTick = count;
  }
}

// True when further passes change nothing but the pass counters: the motor
// rests and stays at rest, and a tick would leave the regulator as it is.
bool settled(const SimOutput& o) {
  if (o.speed != 0 || startsFromRest(o) || o.runState == SimRunState::kHold) return false;
  if (o.runState == SimRunState::kIdle) {
    return o.drive == 0 && o.targetSpeed == 0 && o.setSpeed == 0;
  }
  if (!o.regulated) return o.drive == o.targetSpeed;
  if (wholeDegrees(o) != o.countAtTick) return false;
  SimOutput next = o;
  regulate(next, o.countAtTick);
  return next.positionError == o.positionError && next.accumulatedError == o.accumulatedError &&
         next.drive == o.drive;
}

void advance(const SimOutputs& outputs, SimOutput& o, SimTime now) {
  if (now <= outputs.poweredUp) return;
  const std::int64_t due = (now - outputs.poweredUp) / kSimOutputPass;
  while (o.passes < due) {
    if (settled(o)) {
      const std::int64_t skipped = due - o.passes;
      o.passesSinceTick = static_cast<int>((o.passesSinceTick + skipped) % kSimRegulationPasses);
      o.passes = due;
      return;
    }
    pass(o);
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
  SimOutput& o = outputs.port[port];
  advance(outputs, o, now);
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
  for (SimOutput& o : outputs.port) {
    advance(outputs, o, now);
    setOutputState(o, kCoast);
    zeroCounters(o);
  }
}

void simOutputsAdvance(SimOutputs& outputs, SimTime now) {
  for (SimOutput& o : outputs.port) advance(outputs, o, now);
}

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
  return o.runState == SimRunState::kIdle ? nxt::kRunStateIdle : o.runStateSet;
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
      if (port == kAllPorts) {
        for (SimOutput& o : outputs.port) {
          advance(outputs, o, now);
          setOutputState(o, params + 1);
        }
        return BrickStatus::kSuccess;
      }
      if (port >= kSimOutputCount) return BrickStatus::kOutOfRange;
      advance(outputs, outputs.port[port], now);
      setOutputState(outputs.port[port], params + 1);
      return BrickStatus::kSuccess;
    case Opcode::kGetOutputState:
      return getOutputState(outputs, port, now, reply);
    case Opcode::kResetMotorPosition: {
      if (port >= kSimOutputCount) return BrickStatus::kOutOfRange;
      SimOutput& o = outputs.port[port];
      advance(outputs, o, now);
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
