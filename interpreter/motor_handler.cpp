// The "motor" module: the three outputs of the brick.
#include "interpreter/command_interpreter.h"

std::string CommandInterpreter::handleMotor(const Words& cmds) {
  if (cmds.size() < 2) return kErrWrongParams;
  const std::string& cmd = cmds[1];
  if (!interfaceEnabled) return kErrNotEnableInterface;
  return std::string(kErrUnknownCommand) + ">>" + cmd;
}
