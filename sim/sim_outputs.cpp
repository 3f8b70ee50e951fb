#include "sim/sim_outputs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "protocol/little_endian.h"

namespace {

using nxt::BrickStatus;
using nxt::Opcode;

constexpr std::uint8_t kAllPorts = 0xFF;
constexpr std::size_t kOutputStateFields = 22;  // reply bytes after 02, opcode, status

bool isDriven(const SimOutput& o) {
  return (o.mode & nxt::kModeMotorOn) != 0 && o.runState != nxt::kRunStateIdle;
}

bool limitApplies(const SimOutput& o) { return isDriven(o) && o.tachoLimit > 0 && o.power != 0; }

// Degrees turned since the run was set, counted in the power's direction.
double runTravel(const SimOutput& o, double position) {
  return (o.power > 0 ? 1.0 : -1.0) * (position - o.runStart);
}

// A stretch of constant acceleration: it lasts `duration` seconds at most
// and ends at `endSpeed`.
struct Phase {
  double acceleration = 0;
  double duration = std::numeric_limits<double>::infinity();
  double endSpeed = 0;
};

// The phase the output is in now. A change of direction is split at
// standstill, so that within one phase the motor never turns back (the
// tacho limit relies on that).
Phase phaseOf(const SimOutput& o) {
  const bool driven = isDriven(o);
  double target = 0;
  double rate = kSimCoastDeceleration;
  if (driven) {
    const int power = std::clamp<int>(o.power, -100, 100);
    target = power * kSimDegreesPerSecondPerPower * o.loadPercent / 100.0;
    rate = kSimDriveAcceleration;
  }
  Phase phase;
  phase.endSpeed = target;
  if (o.speed == target) return phase;
  const bool turning = (o.speed > 0 && target < 0) || (o.speed < 0 && target > 0);
  const bool slowing = turning || std::abs(target) < std::abs(o.speed);
  if (driven && slowing && (o.mode & nxt::kModeBrake) != 0) rate = kSimBrakeDeceleration;
  if (turning) phase.endSpeed = 0;
  phase.acceleration = phase.endSpeed > o.speed ? rate : -rate;
  phase.duration = std::abs(phase.endSpeed - o.speed) / rate;
  return phase;
}

double positionAfter(const SimOutput& o, const Phase& phase, double t) {
  return o.position + o.speed * t + 0.5 * phase.acceleration * t * t;
}

std::int64_t wholeDegrees(const SimOutput& o) {
  return static_cast<std::int64_t>(std::floor(o.position));
}

// The low 32 bits of `value`, read as a signed count.
std::int32_t counterBits(std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return bits < 0x80000000u ? static_cast<std::int32_t>(bits)
                            : -static_cast<std::int32_t>(~bits) - 1;
}

void zeroCounters(SimOutput& o) {
  const std::int64_t whole = wholeDegrees(o);
  o.tachoOrigin = whole;
  o.blockTachoOrigin = whole;
  o.rotationOrigin = whole;
}

void setOutputState(SimOutput& o, const std::uint8_t* fields, SimTime now) {
  simOutputAdvance(o, now);
  o.power = static_cast<std::int8_t>(fields[0]);
  o.mode = fields[1];
  o.regulationMode = fields[2];
  o.turnRatio = static_cast<std::int8_t>(fields[3]);
  o.runState = fields[4];
  o.tachoLimit = nxt::readU32(fields + 5);
  o.runStart = o.position;
}

BrickStatus getOutputState(SimOutputs& outputs, std::uint8_t port, SimTime now, SimReply& reply) {
  const auto opcode = nxt::byteOf(Opcode::kGetOutputState);
  if (port >= kSimOutputCount) {
    simReplyBegin(reply, opcode, BrickStatus::kOutOfRange);
    for (std::size_t i = 0; i < kOutputStateFields; ++i) simReplyByte(reply, 0);
    return BrickStatus::kOutOfRange;
  }
  SimOutput& o = outputs.port[port];
  simOutputAdvance(o, now);
  simReplyBegin(reply, opcode, BrickStatus::kSuccess);
  simReplyByte(reply, port);
  simReplyByte(reply, static_cast<std::uint8_t>(o.power));
  simReplyByte(reply, o.mode);
  simReplyByte(reply, o.regulationMode);
  simReplyByte(reply, static_cast<std::uint8_t>(o.turnRatio));
  simReplyByte(reply, o.runState);
  simReplyU32(reply, o.tachoLimit);
  simReplyU32(reply, static_cast<std::uint32_t>(simOutputTachoCount(o)));
  simReplyU32(reply, static_cast<std::uint32_t>(simOutputBlockTachoCount(o)));
  simReplyU32(reply, static_cast<std::uint32_t>(simOutputRotationCount(o)));
  return BrickStatus::kSuccess;
}

}  // namespace

void simOutputsPowerUp(SimOutputs& outputs, const std::uint8_t (&loadPercent)[kSimOutputCount],
                       SimTime now) {
  for (int i = 0; i < kSimOutputCount; ++i) {
    outputs.port[i] = SimOutput{};
    outputs.port[i].loadPercent = std::min<int>(loadPercent[i], 100);
    outputs.port[i].updated = now;
  }
}

void simOutputsProgramReset(SimOutputs& outputs, SimTime now) {
  for (SimOutput& o : outputs.port) {
    simOutputAdvance(o, now);
    o.power = 0;
    o.mode = 0;
    o.regulationMode = nxt::kRegulationIdle;
    o.turnRatio = 0;
    o.runState = nxt::kRunStateIdle;
    o.tachoLimit = 0;
    o.runStart = o.position;
    zeroCounters(o);
  }
}

void simOutputAdvance(SimOutput& o, SimTime now) {
  if (now <= o.updated) return;
  double remaining = std::chrono::duration<double>(now - o.updated).count();
  o.updated = now;
  if (o.loadPercent <= 0) {
    o.speed = 0;  // blocked: it does not turn at all
    return;
  }
  // Each pass ends a phase, the interval, or the run at its tacho limit; a
  // few passes cover any interval.
  for (int pass = 0; pass < 16 && remaining > 0; ++pass) {
    const Phase phase = phaseOf(o);
    double step = std::min(remaining, phase.duration);
    bool limitReached = false;
    if (limitApplies(o)) {
      // Within a phase the travel only grows or only shrinks, so the moment
      // it reaches the limit can be found by halving.
      auto beyond = [&](double t) {
        return runTravel(o, positionAfter(o, phase, t)) >= o.tachoLimit;
      };
      if (beyond(step)) {
        double before = 0;
        double after = step;
        if (beyond(0)) after = 0;
        for (int i = 0; i < 60 && after > 0; ++i) {
          const double middle = (before + after) / 2;
          if (beyond(middle)) {
            after = middle;
          } else {
            before = middle;
          }
        }
        step = after;
        limitReached = true;
      }
    }
    o.position = positionAfter(o, phase, step);
    o.speed = step >= phase.duration ? phase.endSpeed : o.speed + phase.acceleration * step;
    remaining -= step;
    // The firmware never brakes by itself: at the limit the motor coasts.
    if (limitReached) o.runState = nxt::kRunStateIdle;
  }
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
        for (SimOutput& o : outputs.port) setOutputState(o, params + 1, now);
        return BrickStatus::kSuccess;
      }
      if (port >= kSimOutputCount) return BrickStatus::kOutOfRange;
      setOutputState(outputs.port[port], params + 1, now);
      return BrickStatus::kSuccess;
    case Opcode::kGetOutputState:
      return getOutputState(outputs, port, now, reply);
    case Opcode::kResetMotorPosition: {
      if (port >= kSimOutputCount) return BrickStatus::kOutOfRange;
      SimOutput& o = outputs.port[port];
      simOutputAdvance(o, now);
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
