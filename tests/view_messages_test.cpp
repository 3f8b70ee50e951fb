#include "sim_programs/view_messages.h"

#include <gtest/gtest.h>

#include "link/transport.h"
#include "protocol/little_endian.h"
#include "sim_programs/sim_console.h"
#include "sim_programs/sim_options.h"
#include "sim_test_support.h"

namespace {

TEST(JsonString, EscapesAndKeepsTextValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"NXT", "\"NXT\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\there\n\x1b[2J", "\"tab\\u0009here\\u000a\\u001b[2J\""},
      {"Rob\xc3\xb4 \xe2\x82\xac \xf0\x9f\xa4\x96",
       "\"Rob\xc3\xb4 \xe2\x82\xac \xf0\x9f\xa4\x96\""},
      {"\xff", "\"\xef\xbf\xbd\""},                                  // not UTF-8
      {"\xc3", "\"\xef\xbf\xbd\""},                                  // cut short
      {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                  // overlong
      {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // a surrogate
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(jsonString(text), json);
}

// The member of `message` that starts with `key`, up to the next comma or
// brace.
std::string member(const std::string& message, const std::string& key, std::size_t from = 0) {
  const std::size_t at = message.find("\"" + key + "\":", from);
  if (at == std::string::npos) return "(none)";
  const std::size_t end = message.find_first_of(",}]", at);
  return message.substr(at, end - at);
}

TEST(ViewStateMessage, MotorStatesSensorsAndLog) {
  SimSnapshot s;
  s.name = "Bot \"1\"";
  s.outputs.port[0].mode = nxt::kModeMotorOn | nxt::kModeBrake;
  s.outputs.port[0].runState = SimRunState::kRunning;  // power 0, brake: braked
  s.outputs.port[1].mode = nxt::kModeMotorOn;
  s.outputs.port[1].runState = SimRunState::kRunning;
  s.outputs.port[1].power = -40;
  s.outputs.port[1].freeSpeed = 0;  // driven but held: blocked
  s.outputs.port[2].power = 50;     // no MOTORON: coasting
  s.inputs.ports[0].type = nxt::kSensorSwitch;
  s.inputs.ports[0].mode = nxt::kSensorModeBoolean;
  s.sensorRaw = {183, 1023, 1023, 1023};
  s.sonarCm = {-1, -1, -1, 37};
  s.inputs.ports[3].type = nxt::kSensorLowSpeed9V;
  const std::uint8_t tone[] = {0x80, 0x03, 0xb8, 0x01, 0xc8, 0x00};
  const std::uint8_t battery[] = {0x00, 0x0b};
  const std::uint8_t level[] = {0x02, 0x0b, 0x00, 0xa4, 0x1f};
  simSnapshotRecord(s, tone, sizeof tone, nullptr, 0);
  simSnapshotRecord(s, battery, sizeof battery, level, sizeof level);
  simSnapshotRecord(s, battery, sizeof battery, level, sizeof level);

  const std::string m = viewStateMessage(s, 12.34);
  EXPECT_EQ(m.front(), '{');
  EXPECT_EQ(m.back(), '}');
  EXPECT_EQ(member(m, "name"), "\"name\":\"Bot \\\"1\\\"\"");
  EXPECT_EQ(member(m, "perSecond"), "\"perSecond\":12.3");
  EXPECT_EQ(member(m, "telegrams"), "\"telegrams\":3");
  EXPECT_EQ(member(m, "count"), "\"count\":1");
  const std::size_t motors = m.find("\"motors\"");
  EXPECT_EQ(member(m, "state", motors), "\"state\":\"braked\"");
  EXPECT_NE(m.find("\"port\":\"B\",\"power\":-40,\"state\":\"blocked\""), std::string::npos);
  EXPECT_NE(m.find("\"port\":\"C\",\"power\":50,\"state\":\"coasting\""), std::string::npos);
  // A pressed touch sensor reads 1; a low-speed port has no analog values.
  EXPECT_NE(m.find("\"port\":1,\"type\":\"SWITCH\",\"mode\":\"BOOLEAN\",\"raw\":183,\"scaled\":1,"
                   "\"sonar\":null"),
            std::string::npos);
  EXPECT_NE(m.find("\"port\":4,\"type\":\"LOWSPEED_9V\",\"mode\":\"RAW\",\"raw\":null,"
                   "\"scaled\":null,\"sonar\":37"),
            std::string::npos);
  EXPECT_NE(m.find("\"log\":[\"GETBATTERYLEVEL -> 8100 mV (2 times)\",\"PLAYTONE 440 Hz 200 ms\"]"),
            std::string::npos)
      << m;
}

// The page's controls are console lines, applied before the next telegram.
TEST(ViewControls, ConsoleLinesReachTheBrick) {
  freshSimBrick();
  std::string error;
  EXPECT_TRUE(simConsoleApply("battery 7400", error)) << error;
  EXPECT_TRUE(simConsoleApply("sonar in_4=42", error)) << error;
  for (const char* line : {"battery 70000", "battery", "motor out_a=5", "sensor in_9=1"}) {
    EXPECT_FALSE(simConsoleApply(line, error)) << line;
  }
  std::int32_t result = 0;
  TransportDevice* device = transportOpenFirstBrick(result);
  ASSERT_NE(device, nullptr);
  const std::uint8_t battery[] = {0x00, 0x0b};
  ASSERT_EQ(transportSend(device, battery, sizeof battery), kTransportOk);
  std::uint8_t reply[8] = {};
  std::size_t received = 0;
  ASSERT_EQ(transportReceive(device, reply, sizeof reply, received), kTransportOk);
  EXPECT_EQ(nxt::readU16(&reply[3]), 7400);
  EXPECT_EQ(simTransportBrick().config.sonarCm[3], 42);
  transportCloseBrick(device);
}

TEST(ViewOptions, PortAndAddress) {
  const std::vector<std::pair<std::vector<const char*>, bool>> cases = {
      {{"--view", "8080"}, true},
      {{"--view=8080", "--view-bind", "0.0.0.0"}, true},
      {{"--view", "8080", "--view-bind=::1"}, true},
      {{"--view", "0"}, false},
      {{"--view", "70000"}, false},
      {{"--view-bind", "localhost"}, false},
      {{"--view-bind", "127.0.0.256"}, false},
  };
  for (const auto& [args, ok] : cases) {
    std::vector<const char*> argv = {"nxt-bridge-sim"};
    argv.insert(argv.end(), args.begin(), args.end());
    SimProgramOptions o;
    std::string error;
    EXPECT_EQ(parseSimOptions(static_cast<int>(argv.size()), argv.data(), o, error), ok)
        << args[0] << " " << args[1];
    if (ok) {
      EXPECT_EQ(o.viewPort, 8080);
    }
  }
  SimProgramOptions o;
  EXPECT_EQ(o.viewBind, "127.0.0.1");  // loopback unless told otherwise
}

}  // namespace
