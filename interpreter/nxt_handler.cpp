// The "nxt" module; its commands are listed at handleNxt in
// command_interpreter.h.
#include "directcmd/brick_telegrams.h"
#include "interpreter/command_interpreter.h"

std::string CommandInterpreter::handleNxt(const Words& cmds) {
  const std::string& cmd = cmds[1];
  const std::size_t n = cmds.size();

  if (cmd == "open") {
    if (!brickOpen()) return kErrOpenFailed;
    interfaceEnabled = true;
    return kReplyOk;
  }
  if (cmd == "close") {
    brickClose();
    interfaceEnabled = false;
    return kReplyOk;
  }
  if (cmd == "batterylevel") {
    const std::optional<std::uint16_t> millivolts = brickBatteryLevel();
    return millivolts ? queryReply(intToString(*millivolts)) : kErrTimeout;
  }
  if (cmd == "getname") {
    const std::optional<std::string> name = brickGetName();
    return name ? queryReply(*name) : kErrTimeout;
  }
  if (cmd == "startprogram") {
    if (n < 3 || !fileNameFits(cmds[2])) return kErrWrongParams;
    return actionReply(brickStartProgram(cmds[2]));
  }
  if (cmd == "stopprogram") {
    return actionReply(brickStopProgram());
  }
  if (cmd == "playtone") {
    if (n < 4) return kErrWrongParams;
    return actionReply(brickPlayTone(toInt(cmds[2]), toInt(cmds[3])));
  }
  if (cmd == "playsoundfile") {
    if (n < 4 || !isTruthWord(cmds[3]) || !fileNameFits(cmds[2])) return kErrWrongParams;
    return actionReply(brickPlaySoundFile(cmds[2], toBool(cmds[3])));
  }
  if (cmd == "stopsound") {
    return actionReply(brickStopSound());
  }
  return kErrUnknownCommand + cmd;
}
