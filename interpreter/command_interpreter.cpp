#include "interpreter/command_interpreter.h"

const char kReplyOk[] = "ok";
const char kErrWrongParams[] = "err: wrong_params";
const char kErrNotEnableInterface[] = "err: not_enable_interface";
const char kErrUnknownModule[] = "err: unknown_module";
const char kErrUnknownCommand[] = "err: unknown_command: ";
const char kErrOpenFailed[] = "err";
const char kErrTimeout[] = "err: timeout";

void CommandInterpreter::setShortReplyMode() { shortReplyMode = true; }

std::string CommandInterpreter::actionReply(bool done) { return done ? kReplyOk : kErrTimeout; }

std::string CommandInterpreter::interpretLine(const std::string& line) {
  return dispatchModule(splitRequest(line));
}

std::string CommandInterpreter::dispatchModule(const Words& cmds) {
  if (cmds.empty()) return kErrUnknownModule;
  const std::string& module = cmds[0];
  if (module != "motor" && module != "sensor" && module != "nxt") {
    return std::string(kErrUnknownModule) + ": " + module;
  }
  if (cmds.size() < 2) return kErrWrongParams;
  if (!interfaceEnabled && !(module == "nxt" && cmds[1] == "open")) {
    return kErrNotEnableInterface;
  }
  if (module == "motor") return handleMotor(cmds);
  if (module == "sensor") return handleSensor(cmds);
  return handleNxt(cmds);
}

std::string CommandInterpreter::queryReply(const std::string& res) const {
  return shortReplyMode ? kReplyOk + res : res;
}
