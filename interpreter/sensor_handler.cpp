// The "sensor" module; its commands are listed at handleSensor in
// command_interpreter.h.
#include <string_view>

#include "directcmd/input_telegrams.h"
#include "interpreter/command_interpreter.h"

using namespace std::string_view_literals;

namespace {

// The commands whose only argument is the port word and whose reply is
// "ok" once the telegram is on its way (and, for the LSWRITEs of the
// ultrasonic sensor, answered), "err: timeout" otherwise.
struct PortAction {
  std::string_view word;
  bool (*operation)(int port);
};

constexpr PortAction kPortActions[] = {
    {"settouch", sensorSetTouch},
    {"setsound", sensorSetSound},
    {"setsonar", sensorSetSonar},
    {"setraw", sensorSetRaw},
    {"setsonaroff", sonarOff},
    {"setsonarsingleshot", sonarSingleShot},
    {"setsonarcontinuous", sonarContinuous},
};

}  // namespace

std::string CommandInterpreter::handleSensor(const Words& cmds) {
  const std::string& cmd = cmds[1];
  const std::size_t n = cmds.size();

  // The port of word 2, or -1 when the request has fewer than `words`
  // words or word 2 names no sensor port.
  auto portOf = [&](std::size_t words) {
    return n >= words && isSensorPort(cmds[2]) ? toSensorPort(cmds[2]) : -1;
  };

  for (const PortAction& action : kPortActions) {
    if (cmd != action.word) continue;
    const int port = portOf(3);
    if (port < 0) return kErrWrongParams;
    return actionReply(action.operation(port));
  }
  if (cmd == "setlight"sv) {
    const int port = portOf(4);
    if (port < 0 || !isTruthWord(cmds[3])) return kErrWrongParams;
    return actionReply(sensorSetLight(port, toBool(cmds[3])));
  }
  if (cmd == "setsonarcontinuousinterval"sv) {
    const int port = portOf(4);
    if (port < 0) return kErrWrongParams;
    return actionReply(sonarContinuousInterval(port, toInt(cmds[3])));
  }
  if (cmd == "getvalue"sv) {
    const int port = portOf(3);
    if (port < 0) return kErrWrongParams;
    const std::optional<std::uint16_t> value = sensorGetValue(port);
    return value ? queryReply(intToString(*value)) : kErrTimeout;
  }
  if (cmd == "lsgetstatus"sv) {
    const int port = portOf(3);
    if (port < 0) return kErrWrongParams;
    const std::optional<std::uint8_t> ready = sensorLsGetStatus(port);
    return ready ? queryReply(intToString(*ready)) : kErrTimeout;
  }
  if (cmd == "getsonarvalue"sv) {
    const int port = portOf(3);
    if (port < 0) return kErrWrongParams;
    const SonarReading reading = sonarGetValue(port);
    // A sensor that is unplugged, or a port not set up for it, never
    // reports a byte ready; the wait ends at its limit. So does a link
    // that answers no exchange.
    // A cancelled wait ends the session: the reply is never sent.
    if (reading.timedOut || reading.cancelled) return kErrTimeout;
    return queryReply(intToString(reading.distanceCm));
  }
  return errorAbout(kErrUnknownCommand, "", cmd);
}
