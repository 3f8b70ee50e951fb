// The "nxt" module; its commands are listed at handleNxt in
// command_interpreter.h.
#include <string_view>

#include "directcmd/brick_telegrams.h"
#include "interpreter/command_interpreter.h"

using namespace std::string_view_literals;

std::string CommandInterpreter::handleNxt(const Words& cmds) {
  const std::string& cmd = cmds[1];
  const std::size_t n = cmds.size();

  if (cmd == "open"sv) {
    if (!brickOpen()) return kErrOpenFailed;
    interfaceEnabled = true;
    return kReplyOk;
  }
  if (cmd == "close"sv) {
    brickClose();
    interfaceEnabled = false;
    return kReplyOk;
  }
  if (cmd == "batterylevel"sv) {
    const std::optional<std::uint16_t> millivolts = brickBatteryLevel();
    return millivolts ? queryReply(intToString(*millivolts)) : kErrTimeout;
  }
  if (cmd == "getname"sv) {
    const std::optional<std::string> name = brickGetName();
    return name ? queryReply(*name) : kErrTimeout;
  }
  if (cmd == "startprogram"sv) {
    if (n < 3 || !fileNameFits(cmds[2])) return kErrWrongParams;
    return actionReply(brickStartProgram(cmds[2]));
  }
  if (cmd == "stopprogram"sv) {
    return actionReply(brickStopProgram());
  }
  if (cmd == "playtone"sv) {
    if (n < 4) return kErrWrongParams;
    return actionReply(brickPlayTone(toInt(cmds[2]), toInt(cmds[3])));
  }
  if (cmd == "playsoundfile"sv) {
    if (n < 4 || !isTruthWord(cmds[3]) || !fileNameFits(cmds[2])) return kErrWrongParams;
    return actionReply(brickPlaySoundFile(cmds[2], toBool(cmds[3])));
  }
  if (cmd == "stopsound"sv) {
    return actionReply(brickStopSound());
  }
  return errorAbout(kErrUnknownCommand, "", cmd);
}
