// The "sensor" module: the four inputs of the brick and the ultrasonic
// sensor on their low-speed bus.
#include "interpreter/command_interpreter.h"

std::string CommandInterpreter::handleSensor(const Words& cmds) {
  if (cmds.size() < 2) return kErrWrongParams;
  const std::string& cmd = cmds[1];
  if (!interfaceEnabled) return kErrNotEnableInterface;
  return kErrUnknownCommand + cmd;
}
