#include "interpreter/command_interpreter.h"

const char kReplyOk[] = "ok";
const char kErrWrongParams[] = "err: wrong_params";
const char kErrNotEnableInterface[] = "err: not_enable_interface";
const char kErrUnknownModule[] = "err: unknown_module";
const char kErrUnknownCommand[] = "err: unknown_command: ";
const char kErrOpenFailed[] = "err";
const char kErrTimeout[] = "err: timeout";

void CommandInterpreter::setShortReplyMode() { shortReplyMode = true; }

std::string CommandInterpreter::interpretLine(const std::string& line) {
  return dispatchModule(splitRequest(line));
}

std::string CommandInterpreter::dispatchModule(const Words& cmds) {
  if (cmds.empty()) return kErrUnknownModule;
  if (cmds[0] == "motor") return handleMotor(cmds);
  if (cmds[0] == "sensor") return handleSensor(cmds);
  if (cmds[0] == "nxt") return handleNxt(cmds);
  return std::string(kErrUnknownModule) + ": " + cmds[0];
}

std::string CommandInterpreter::queryReply(const std::string& res) const {
  return shortReplyMode ? kReplyOk + res : res;
}
