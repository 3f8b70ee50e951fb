#include "sim_programs/view_messages.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "sim/sim_describe.h"
#include "sim_programs/view_world.h"

namespace {

// Members in the order they are set, as the page's readers expect to see
// them when they look at a message by eye.
using Json = nlohmann::ordered_json;

// One decimal is all the page shows; nothing that is not a number.
double oneDecimal(double value) { return std::isfinite(value) ? std::round(value * 10) / 10 : 0.0; }

bool isDriven(const SimOutput& o) {
  return (o.mode & nxt::kModeMotorOn) != 0 && o.runState != SimRunState::kIdle;
}

const char* motorState(const SimOutput& o) {
  if (!isDriven(o)) return "coasting";
  if (o.power == 0) return (o.mode & nxt::kModeBrake) != 0 ? "braked" : "coasting";
  return o.freeSpeed <= 0 ? "blocked" : "running";  // a load of 0 holds it
}

bool isLowSpeed(std::uint8_t type) {
  return type == nxt::kSensorLowSpeed || type == nxt::kSensorLowSpeed9V;
}

Json motors(const SimSnapshot& s) {
  Json list = Json::array();
  for (int i = 0; i < kSimOutputCount; ++i) {
    const SimOutput& o = s.outputs.port[i];
    list.push_back({{"port", std::string(1, static_cast<char>('A' + i))},
                    {"power", o.power},
                    {"state", motorState(o)},
                    {"regulated", o.regulationMode == nxt::kRegulationMotorSpeed},
                    {"speed", oneDecimal(o.speed)},
                    {"tacho", simOutputTachoCount(o)},
                    {"block", simOutputBlockTachoCount(o)},
                    {"rotation", simOutputRotationCount(o)},
                    {"load", o.loadPercent}});
  }
  return list;
}

Json sensors(const SimSnapshot& s) {
  Json list = Json::array();
  for (std::size_t i = 0; i < kSimInputPorts; ++i) {
    const SimInput& in = s.inputs.ports[i];
    Json sensor = {{"port", i + 1},
                   {"type", simSensorTypeName(in.type)},
                   {"mode", simSensorModeName(in.mode)},
                   {"raw", nullptr},
                   {"scaled", nullptr}};
    if (!isLowSpeed(in.type)) {
      const std::uint16_t raw = std::min<std::uint16_t>(s.sensorRaw[i], 1023);
      sensor["raw"] = raw;
      sensor["scaled"] = simScale(in.mode, simNormalize(in.type, raw));
    }
    sensor["sonar"] = s.sonarCm[i] < 0 ? Json(nullptr) : Json(s.sonarCm[i]);
    list.push_back(std::move(sensor));
  }
  return list;
}

Json log(const SimSnapshot& s) {
  Json list = Json::array();
  const std::size_t kept =
      static_cast<std::size_t>(std::min<std::uint64_t>(s.recordCount, kSimSnapshotTelegrams));
  for (std::size_t age = 0; age < kept; ++age) {
    const SimTelegramRecord& r = simSnapshotRecent(s, age);
    std::string line = simDescribeTelegram(r.telegram, r.telegramLength, r.reply, r.replyLength);
    if (r.repeats > 1) line += " (" + std::to_string(r.repeats) + " times)";
    list.push_back(std::move(line));
  }
  return list;
}

}  // namespace

std::string viewStateMessage(const SimSnapshot& s, double telegramsPerSecond) {
  const Json message = {
      {"link",
       {{"attached", s.brickAttached},
        {"open", s.linkOpen},
        {"telegrams", s.telegramCount},
        {"perSecond", oneDecimal(telegramsPerSecond)}}},
      {"brick",
       {{"name", s.name},
        {"battery", s.batteryMillivolts},
        {"program", s.runningProgram},
        {"sound", s.playingSound},
        {"soundLoops", s.soundLoops},
        {"tone", {{"count", s.toneCount}, {"hz", s.toneFrequencyHz}, {"ms", s.toneDurationMs}}}}},
      {"motors", motors(s)},
      {"sensors", sensors(s)},
      {"log", log(s)},
      {"world", viewWorld(s.world, s.inputs)}};
  // A name, a program or a file name is whatever a client sent the brick:
  // bytes that are not UTF-8 become U+FFFD instead of an exception.
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}
