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
  if (cmd == "batterylevel") return queryReply(intToString(brickBatteryLevel()));
  if (cmd == "getname") return queryReply(brickGetName());
  if (cmd == "startprogram") {
    if (n < 3 || !fileNameFits(cmds[2])) return kErrWrongParams;
    brickStartProgram(cmds[2]);
    return kReplyOk;
  }
  if (cmd == "stopprogram") {
    brickStopProgram();
    return kReplyOk;
  }
  if (cmd == "playtone") {
    if (n < 4) return kErrWrongParams;
    brickPlayTone(toInt(cmds[2]), toInt(cmds[3]));
    return kReplyOk;
  }
  if (cmd == "playsoundfile") {
    if (n < 4 || !isTruthWord(cmds[3]) || !fileNameFits(cmds[2])) return kErrWrongParams;
    brickPlaySoundFile(cmds[2], toBool(cmds[3]));
    return kReplyOk;
  }
  if (cmd == "stopsound") {
    brickStopSound();
    return kReplyOk;
  }
  return kErrUnknownCommand + cmd;
}
