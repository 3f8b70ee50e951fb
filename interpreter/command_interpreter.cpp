#include "interpreter/command_interpreter.h"

#include <string_view>

using namespace std::string_view_literals;

const char kReplyOk[] = "ok";
const char kErrWrongParams[] = "err: wrong_params";
const char kErrNotEnableInterface[] = "err: not_enable_interface";
const char kErrUnknownModule[] = "err: unknown_module";
const char kErrUnknownCommand[] = "err: unknown_command: ";
const char kErrOpenFailed[] = "err";
const char kErrTimeout[] = "err: timeout";

void CommandInterpreter::setShortReplyMode() { shortReplyMode = true; }

std::string CommandInterpreter::actionReply(bool done) { return done ? kReplyOk : kErrTimeout; }

std::string CommandInterpreter::errorAbout(std::string_view error, std::string_view separator,
                                           std::string_view word) {
  std::string reply;
  reply.reserve(error.size() + separator.size() + word.size());
  reply.append(error).append(separator).append(word);
  return reply;
}

std::string CommandInterpreter::interpretLine(const std::string& line) {
  splitRequest(line, lineWords);
  return dispatchModule(lineWords);
}

std::string CommandInterpreter::dispatchModule(const Words& cmds) {
  if (cmds.empty()) return kErrUnknownModule;
  const std::string& module = cmds[0];
  if (module != "motor"sv && module != "sensor"sv && module != "nxt"sv) {
    return errorAbout(kErrUnknownModule, ": ", module);
  }
  if (cmds.size() < 2) return kErrWrongParams;
  if (!interfaceEnabled && !(module == "nxt"sv && cmds[1] == "open"sv)) {
    return kErrNotEnableInterface;
  }
  if (module == "motor"sv) return handleMotor(cmds);
  if (module == "sensor"sv) return handleSensor(cmds);
  return handleNxt(cmds);
}

std::string CommandInterpreter::queryReply(const std::string& res) const {
  return shortReplyMode ? kReplyOk + res : res;
}
