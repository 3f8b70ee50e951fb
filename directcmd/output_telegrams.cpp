#include "directcmd/output_telegrams.h"

#include "directcmd/direct_command.h"
#include "directcmd/wait_cancel.h"
#include "protocol/little_endian.h"
#include "protocol/nxt_protocol.h"

namespace {

using nxt::byteOf;
using nxt::lowByte;
using nxt::Opcode;

constexpr std::uint32_t kOutputStateReplyLength = 24;  // without the leading 0x02
constexpr std::size_t kRotationCountOffset = 20;

// SETOUTPUTSTATE, no reply: the fields in wire order.
bool setOutputState(std::int32_t port, std::int32_t power, std::uint8_t mode,
                    std::uint8_t regulationMode, std::uint8_t runState) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kSetOutputState),
                                              lowByte(port),
                                              lowByte(power),  // signed set-point
                                              mode,
                                              regulationMode,
                                              0x00,  // turn ratio
                                              runState,
                                              0x00,  // tacho limit 0: run without limit
                                              0x00,
                                              0x00,
                                              0x00};
  return sendCommand(directCommandBuffer);
}

bool run(std::int32_t port, std::int32_t power) {
  return setOutputState(port, power, nxt::kModeMotorOn | nxt::kModeRegulated,
                        nxt::kRegulationMotorSpeed, nxt::kRunStateRunning);
}

// How far `count` is from `target`, in degrees; 64 bits, so that no pair of
// 32-bit counts overflows.
std::int64_t distance(std::int32_t count, std::int32_t target) {
  const std::int64_t d = static_cast<std::int64_t>(target) - count;
  return d < 0 ? -d : d;
}

}  // namespace

std::optional<std::int32_t> motorGetRotationCount(std::int32_t port) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kGetOutputState), lowByte(port)};
  std::uint8_t responseBuffer[kOutputStateReplyLength];
  if (!askCommand(directCommandBuffer, responseBuffer)) return std::nullopt;
  return nxt::readI32(responseBuffer + kRotationCountOffset);
}

bool motorResetRotationCount(std::int32_t port, bool relative) {
  const std::uint8_t directCommandBuffer[] = {byteOf(Opcode::kResetMotorPosition), lowByte(port),
                                              static_cast<std::uint8_t>(relative ? 1 : 0)};
  return sendCommand(directCommandBuffer);
}

bool motorSetForward(std::int32_t port, std::int32_t power) { return run(port, power); }

bool motorSetReverse(std::int32_t port, std::int32_t power) { return run(port, -power); }

bool motorStop(std::int32_t port, bool brake) {
  return brake ? motorBrakeOn(port) : motorBrakeOff(port);
}

bool motorBrakeOn(std::int32_t port) {
  return setOutputState(port, 0, nxt::kModeMotorOn | nxt::kModeBrake | nxt::kModeRegulated,
                        nxt::kRegulationMotorSpeed, nxt::kRunStateRunning);
}

bool motorBrakeOff(std::int32_t port) {
  return setOutputState(port, 0, 0x00, nxt::kRegulationIdle, nxt::kRunStateIdle);
}

bool motorCoastAll() {
  bool sent = true;
  for (std::int32_t port = 0; port < 3; ++port) sent = motorBrakeOff(port) && sent;
  if (sent || !linkOpenUsb()) return sent;
  sent = true;
  for (std::int32_t port = 0; port < 3; ++port) sent = motorBrakeOff(port) && sent;
  return sent;
}

GoToResult motorGoTo(std::int32_t port, std::int32_t power, std::int32_t target, bool brake,
                     const GoToWait& wait) {
  // Over a lost link the stop goes out once the link is open again.
  const auto stop = [&] {
    if (!motorStop(port, brake) && linkOpenUsb()) motorStop(port, brake);
  };
  const std::optional<std::int32_t> first = motorGetRotationCount(port);
  if (!first) {
    stop();
    return GoToResult::kTimedOut;
  }
  const std::int32_t current = *first;
  const bool reverse = target < current;
  if (reverse) {
    motorSetReverse(port, power);
  } else {
    motorSetForward(port, power);
  }

  // A motor at power 0, a blocked one or a lost link would keep the count
  // where it is for ever: give up once it has come no nearer to the target
  // for the whole limit.
  std::int64_t nearest = distance(current, target);
  auto lastProgress = wait.now();
  GoToResult result = GoToResult::kReached;
  for (;;) {
    const std::optional<std::int32_t> polled = motorGetRotationCount(port);
    if (!polled) {
      result = GoToResult::kTimedOut;
      break;
    }
    const std::int32_t count = *polled;
    if (reverse ? count <= target : count >= target) break;
    if (waitCancelled()) return GoToResult::kCancelled;
    const std::int64_t d = distance(count, target);
    const auto now = wait.now();
    if (d < nearest) {
      nearest = d;
      lastProgress = now;
    } else if (now - lastProgress >= wait.noProgressLimit) {
      result = GoToResult::kTimedOut;
      break;
    }
  }
  stop();
  return result;
}
