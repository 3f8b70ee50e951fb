#include "sim_programs/view_messages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/sim_describe.h"

namespace {

// The length of the well-formed UTF-8 sequence at `s[i]`, 0 when there is
// none (a stray continuation byte, an overlong form, a surrogate, beyond
// U+10FFFF, or cut short).
std::size_t utf8Sequence(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xbf;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) return 0;
  }
  return length;
}

struct Json {
  std::string out;
  bool first = true;  // no comma before the next member

  void open(char c) {
    out += c;
    first = true;
  }
  void close(char c) {
    out += c;
    first = false;
  }
  void key(const char* name) {
    if (!first) out += ',';
    first = false;
    out += '"';
    out += name;
    out += "\":";
  }
  void element() {
    if (!first) out += ',';
    first = false;
  }
  void field(const char* name, long long value) {
    key(name);
    out += std::to_string(value);
  }
  void field(const char* name, bool value) {
    key(name);
    out += value ? "true" : "false";
  }
  void field(const char* name, const std::string& value) {
    key(name);
    out += jsonString(value);
  }
  void fieldNull(const char* name) {
    key(name);
    out += "null";
  }
  void fieldFixed(const char* name, double value) {
    key(name);
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", std::isfinite(value) ? value : 0.0);
    out += b;
  }
};

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

void motors(Json& j, const SimSnapshot& s) {
  j.key("motors");
  j.open('[');
  for (int i = 0; i < kSimOutputCount; ++i) {
    const SimOutput& o = s.outputs.port[i];
    j.element();
    j.open('{');
    j.field("port", std::string(1, static_cast<char>('A' + i)));
    j.field("power", static_cast<long long>(o.power));
    j.field("state", std::string(motorState(o)));
    j.field("regulated", o.regulationMode == nxt::kRegulationMotorSpeed);
    j.fieldFixed("speed", o.speed);
    j.field("tacho", static_cast<long long>(simOutputTachoCount(o)));
    j.field("block", static_cast<long long>(simOutputBlockTachoCount(o)));
    j.field("rotation", static_cast<long long>(simOutputRotationCount(o)));
    j.field("load", static_cast<long long>(o.loadPercent));
    j.close('}');
  }
  j.close(']');
}

void sensors(Json& j, const SimSnapshot& s) {
  j.key("sensors");
  j.open('[');
  for (std::size_t i = 0; i < kSimInputPorts; ++i) {
    const SimInput& in = s.inputs.ports[i];
    j.element();
    j.open('{');
    j.field("port", static_cast<long long>(i + 1));
    j.field("type", simSensorTypeName(in.type));
    j.field("mode", simSensorModeName(in.mode));
    if (isLowSpeed(in.type)) {
      j.fieldNull("raw");
      j.fieldNull("scaled");
    } else {
      const std::uint16_t raw = std::min<std::uint16_t>(s.sensorRaw[i], 1023);
      j.field("raw", static_cast<long long>(raw));
      j.field("scaled", static_cast<long long>(simScale(in.mode, simNormalize(in.type, raw))));
    }
    if (s.sonarCm[i] < 0) {
      j.fieldNull("sonar");
    } else {
      j.field("sonar", static_cast<long long>(s.sonarCm[i]));
    }
    j.close('}');
  }
  j.close(']');
}

void log(Json& j, const SimSnapshot& s) {
  j.key("log");
  j.open('[');
  const std::size_t kept =
      static_cast<std::size_t>(std::min<std::uint64_t>(s.recordCount, kSimSnapshotTelegrams));
  for (std::size_t age = 0; age < kept; ++age) {
    const SimTelegramRecord& r = simSnapshotRecent(s, age);
    std::string line = simDescribeTelegram(r.telegram, r.telegramLength, r.reply, r.replyLength);
    if (r.repeats > 1) line += " (" + std::to_string(r.repeats) + " times)";
    j.element();
    j.out += jsonString(line);
  }
  j.close(']');
}

}  // namespace

std::string jsonString(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8Sequence(text, i);
    if (length == 0) {
      out += "\xef\xbf\xbd";  // U+FFFD
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0x0f];
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string viewStateMessage(const SimSnapshot& s, double telegramsPerSecond) {
  Json j;
  j.out.reserve(4096);
  j.open('{');
  j.key("link");
  j.open('{');
  j.field("attached", s.brickAttached);
  j.field("open", s.linkOpen);
  j.field("telegrams", static_cast<long long>(s.telegramCount));
  j.fieldFixed("perSecond", telegramsPerSecond);
  j.close('}');

  j.key("brick");
  j.open('{');
  j.field("name", s.name);
  j.field("battery", static_cast<long long>(s.batteryMillivolts));
  j.field("program", s.runningProgram);
  j.field("sound", s.playingSound);
  j.field("soundLoops", s.soundLoops);
  j.key("tone");
  j.open('{');
  j.field("count", static_cast<long long>(s.toneCount));
  j.field("hz", static_cast<long long>(s.toneFrequencyHz));
  j.field("ms", static_cast<long long>(s.toneDurationMs));
  j.close('}');
  j.close('}');

  motors(j, s);
  sensors(j, s);
  log(j, s);
  j.close('}');
  return j.out;
}
