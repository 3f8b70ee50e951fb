// The "motor" module; its commands are listed at handleMotor in
// command_interpreter.h.
#include <string_view>

#include "directcmd/output_telegrams.h"
#include "interpreter/command_interpreter.h"

using namespace std::string_view_literals;

namespace {

// Commands of a port word alone, of a port and a power, and of a port and a
// truth word; each answers "ok" once its telegram is on its way, and
// "err: timeout" when the link to the brick is lost.
struct PortAction {
  std::string_view word;
  bool (*operation)(std::int32_t port);
};
struct PowerAction {
  std::string_view word;
  bool (*operation)(std::int32_t port, std::int32_t power);
};
struct TruthAction {
  std::string_view word;
  bool (*operation)(std::int32_t port, bool truth);
};

constexpr PortAction kPortActions[] = {{"brakeon", motorBrakeOn}, {"brakeoff", motorBrakeOff}};
constexpr PowerAction kPowerActions[] = {{"setforward", motorSetForward},
                                         {"setreverse", motorSetReverse}};
constexpr TruthAction kTruthActions[] = {{"resetrotationcount", motorResetRotationCount},
                                         {"stop", motorStop}};

}  // namespace

std::string CommandInterpreter::handleMotor(const Words& cmds) {
  const std::string& cmd = cmds[1];
  const std::size_t n = cmds.size();

  if (cmd == "getrotationcount"sv) {
    if (n < 3 || !isMotorPort(cmds[2])) return kErrWrongParams;
    const std::optional<std::int32_t> count = motorGetRotationCount(toMotorPort(cmds[2]));
    return count ? queryReply(intToString(*count)) : kErrTimeout;
  }
  for (const PortAction& action : kPortActions) {
    if (cmd != action.word) continue;
    if (n < 3 || !isMotorPort(cmds[2])) return kErrWrongParams;
    return actionReply(action.operation(toMotorPort(cmds[2])));
  }
  for (const PowerAction& action : kPowerActions) {
    if (cmd != action.word) continue;
    if (n < 4 || !isMotorPort(cmds[2]) || !isPower(cmds[3])) return kErrWrongParams;
    return actionReply(action.operation(toMotorPort(cmds[2]), toInt(cmds[3])));
  }
  for (const TruthAction& action : kTruthActions) {
    if (cmd != action.word) continue;
    if (n < 4 || !isMotorPort(cmds[2]) || !isTruthWord(cmds[3])) return kErrWrongParams;
    return actionReply(action.operation(toMotorPort(cmds[2]), toBool(cmds[3])));
  }
  if (cmd == "goto"sv) {
    if (n < 6 || !isMotorPort(cmds[2]) || !isPower(cmds[3]) || !isTruthWord(cmds[5])) {
      return kErrWrongParams;
    }
    const GoToResult result =
        motorGoTo(toMotorPort(cmds[2]), toInt(cmds[3]), toInt(cmds[4]), toBool(cmds[5]));
    // A cancelled run is not reported as done; the server, which
    // cancelled it, ends the session without sending this reply.
    return result == GoToResult::kReached ? kReplyOk : kErrTimeout;
  }
  return errorAbout(kErrUnknownCommand, ">>", cmd);
}

bool CommandInterpreter::coastAllMotors() { return interfaceEnabled && motorCoastAll(); }
