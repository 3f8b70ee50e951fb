#include "sim_programs/view_messages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "link/transport.h"
#include "protocol/little_endian.h"
#include "sim_programs/sim_console.h"
#include "sim_programs/sim_options.h"
#include "sim_test_support.h"

namespace {

using Json = nlohmann::json;

TEST(ViewStateMessage, MotorStatesSensorsAndLog) {
  SimSnapshot s;
  s.name = "Bot \"1\"\t\xff";  // a quote, a control byte, a byte that is not UTF-8
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

  const std::string text = viewStateMessage(s, 12.34);
  const Json m = Json::parse(text, nullptr, false);
  ASSERT_FALSE(m.is_discarded()) << text;
  EXPECT_EQ(m["brick"]["name"], "Bot \"1\"\t\xef\xbf\xbd");
  EXPECT_EQ(m["link"]["perSecond"], 12.3);
  EXPECT_EQ(m["link"]["telegrams"], 3);
  EXPECT_EQ(m["brick"]["tone"]["count"], 1);
  const Json& motors = m["motors"];
  ASSERT_EQ(motors.size(), 3u);
  EXPECT_EQ(motors[0]["state"], "braked");
  EXPECT_EQ(motors[1], (Json{{"port", "B"},
                             {"power", -40},
                             {"state", "blocked"},
                             {"regulated", false},
                             {"speed", 0.0},
                             {"tacho", 0},
                             {"block", 0},
                             {"rotation", 0},
                             {"load", 100}}));
  EXPECT_EQ(motors[2]["state"], "coasting");
  EXPECT_EQ(motors[2]["power"], 50);
  // A pressed touch sensor reads 1; a low-speed port has no analog values.
  const Json& sensors = m["sensors"];
  ASSERT_EQ(sensors.size(), 4u);
  EXPECT_EQ(sensors[0], (Json{{"port", 1},
                              {"type", "SWITCH"},
                              {"mode", "BOOLEAN"},
                              {"raw", 183},
                              {"scaled", 1},
                              {"sonar", nullptr}}));
  EXPECT_EQ(sensors[3], (Json{{"port", 4},
                              {"type", "LOWSPEED_9V"},
                              {"mode", "RAW"},
                              {"raw", nullptr},
                              {"scaled", nullptr},
                              {"sonar", 37}}));
  EXPECT_EQ(m["log"], (Json{"GETBATTERYLEVEL -> 8100 mV (2 times)", "PLAYTONE 440 Hz 200 ms"}));
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
