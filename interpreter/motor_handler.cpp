// The "motor" module: the three outputs of the brick.
//
//   getrotationcount;PORT              the count, as a query reply
//   resetrotationcount;PORT;RELATIVE   ok
//   setforward;PORT;POWER              ok
//   setreverse;PORT;POWER              ok
//   stop;PORT;BRAKE                    ok
//   brakeon;PORT / brakeoff;PORT       ok
//   goto;PORT;POWER;TARGET;BRAKE       ok once at the target, or err: timeout
//
// PORT is out_a, out_b, out_c (or a, b, c), POWER 0 to 100, RELATIVE and
// BRAKE true or false; TARGET is any number. Every word is checked before
// anything is sent to the brick.
#include "directcmd/output_telegrams.h"
#include "interpreter/command_interpreter.h"

std::string CommandInterpreter::handleMotor(const Words& cmds) {
  if (cmds.size() < 2) return kErrWrongParams;
  const std::string& cmd = cmds[1];
  const std::size_t n = cmds.size();
  if (!interfaceEnabled) return kErrNotEnableInterface;

  if (cmd == "getrotationcount") {
    if (n < 3 || !isMotorPort(cmds[2])) return kErrWrongParams;
    return queryReply(intToString(motorGetRotationCount(toMotorPort(cmds[2]))));
  }
  if (cmd == "resetrotationcount") {
    if (n < 4 || !isMotorPort(cmds[2]) || !isTruthWord(cmds[3])) return kErrWrongParams;
    motorResetRotationCount(toMotorPort(cmds[2]), toBool(cmds[3]));
    return kReplyOk;
  }
  if (cmd == "setforward") {
    if (n < 4 || !isMotorPort(cmds[2]) || !isPower(cmds[3])) return kErrWrongParams;
    motorSetForward(toMotorPort(cmds[2]), toInt(cmds[3]));
    return kReplyOk;
  }
  if (cmd == "setreverse") {
    if (n < 4 || !isMotorPort(cmds[2]) || !isPower(cmds[3])) return kErrWrongParams;
    motorSetReverse(toMotorPort(cmds[2]), toInt(cmds[3]));
    return kReplyOk;
  }
  if (cmd == "stop") {
    if (n < 4 || !isMotorPort(cmds[2]) || !isTruthWord(cmds[3])) return kErrWrongParams;
    motorStop(toMotorPort(cmds[2]), toBool(cmds[3]));
    return kReplyOk;
  }
  if (cmd == "brakeon") {
    if (n < 3 || !isMotorPort(cmds[2])) return kErrWrongParams;
    motorBrakeOn(toMotorPort(cmds[2]));
    return kReplyOk;
  }
  if (cmd == "brakeoff") {
    if (n < 3 || !isMotorPort(cmds[2])) return kErrWrongParams;
    motorBrakeOff(toMotorPort(cmds[2]));
    return kReplyOk;
  }
  if (cmd == "goto") {
    if (n < 6 || !isMotorPort(cmds[2]) || !isPower(cmds[3]) || !isTruthWord(cmds[5])) {
      return kErrWrongParams;
    }
    const GoToResult result =
        motorGoTo(toMotorPort(cmds[2]), toInt(cmds[3]), toInt(cmds[4]), toBool(cmds[5]));
    // A cancelled run is not reported as done; the server, which
    // cancelled it, ends the session without sending this reply.
    return result == GoToResult::kReached ? kReplyOk : kErrTimeout;
  }
  return std::string(kErrUnknownCommand) + ">>" + cmd;
}

void CommandInterpreter::coastAllMotors() {
  if (!interfaceEnabled) return;
  for (int port = 0; port < 3; ++port) motorBrakeOff(port);
}
