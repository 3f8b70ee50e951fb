#include "sim_programs/view_messages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "link/transport.h"
#include "protocol/little_endian.h"
#include "sim_programs/sim_console.h"
#include "sim_programs/sim_options.h"
#include "sim_programs/sim_view.h"
#include "sim_test_support.h"
#include "tools/loopback_sockets.h"

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
  const OpenedBrick brick;
  ASSERT_NE(brick.device, nullptr);
  EXPECT_EQ(transportExchange(brick.device, {0x00, 0x0b}), "02 0b 00 e8 1c");  // 7400 mV
  EXPECT_EQ(simTransportBrick().config.sonarCm[3], 42);
}

// With a world, "pose" tells and places the robot; the page's message and
// the brick's sensors follow the placement.
TEST(ViewControls, PoseLinesTellAndPlaceTheRobot) {
  std::string error;
  std::string answer;
  freshSimBrick();
  EXPECT_FALSE(simConsoleApply("pose", error, answer));
  EXPECT_EQ(error, "there is no world (--world)");
  SimSnapshot s;
  simTransportSnapshot(s);
  EXPECT_TRUE(Json::parse(viewStateMessage(s, 0))["world"].is_null());

  const char* argv[] = {"nxt-bridge-sim", "--world", "default"};
  SimProgramOptions o;
  ASSERT_TRUE(parseSimOptions(3, argv, o, error)) << error;
  freshSimBrick(o.transport);
  ASSERT_TRUE(simConsoleApply("pose", error, answer)) << error;
  EXPECT_EQ(answer, "robot at x 150 mm, y 300 mm, heading 90 degrees");
  for (const char* line : {"pose 20 300 90", "pose 1 2", "pose 1 2 3 4", "pose x 2 3"}) {
    EXPECT_FALSE(simConsoleApply(line, error, answer)) << line;
  }
  // Facing the right-hand wall (x 2000) from 500 mm: the sonar's mount is
  // 60 mm ahead of the axle.
  ASSERT_TRUE(simConsoleApply("pose 1500 1000 0", error, answer)) << error;
  simTransportSnapshot(s);
  const Json robot = Json::parse(viewStateMessage(s, 0))["world"]["robot"];
  EXPECT_EQ(robot["blocked"], false);
  EXPECT_EQ(robot["sonar"]["cm"], 44);
  std::int32_t result = 0;
  TransportDevice* device = transportOpenFirstBrick(result);
  ASSERT_NE(device, nullptr);
  ASSERT_NE(transportExchange(device, {0x00, 0x0d}), "send failed");
  EXPECT_EQ(simTransportBrick().config.sonarCm[3], 44);
  EXPECT_EQ(simTransportBrick().config.sensorRaw[0], kSimTouchReleasedRaw);
  transportCloseBrick(device);
  freshSimBrick();
}

TEST(ViewOptions, PortAndAddress) {
  const std::vector<std::pair<std::vector<const char*>, bool>> cases = {
      {{"--view", "8080"}, true},
      {{"--view=8080", "--view-bind", "0.0.0.0"}, true},
      {{"--view", "8080", "--view-bind=::1"}, true},
      {{"--view", "0"}, false},
      {{"--view", "70000"}, false},
      {{"--view-bind", "localhost"}, false},
      {{"--view-bind", "0.0.0.0"}, false},  // no page to serve
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

// What a browser sends for a page of this one (127.0.0.1:8080, bound to
// 127.0.0.1, on machine "robotlab"), and what another site can make it send.
TEST(ViewOrigin, OnlyThePagesOwnNamesAndOrigin) {
  const ViewAddress page{8080, "127.0.0.1", "RobotLab"};
  const struct {
    const char* host;
    bool allowed;
  } hosts[] = {
      {"127.0.0.1:8080", true},
      {"localhost:8080", true},
      {"LocalHost:8080", true},
      {"10.0.0.7:8080", true},
      {"[::1]:8080", true},
      {"robotlab:8080", true},
      {"robotlab.local:8080", true},
      {"127.0.0.1", false},
      {"127.0.0.1:8081", false},
      {"127.0.0.1:", false},
      {"127.0.0.1:8080x", false},
      {"evil.example:8080", false},
      {"localhost.evil:8080", false},
      {"[::1:8080", false},
      {"::1:8080", false},
      {"[evil]:8080", false},
      {"", false},
      {"robotlab.lan:8080", false},
  };
  for (const auto& c : hosts) EXPECT_EQ(viewHostAllowed(c.host, page), c.allowed) << c.host;
  EXPECT_TRUE(viewHostAllowed("localhost", ViewAddress{80, "127.0.0.1", ""}));

  EXPECT_TRUE(viewOriginAllowed("http://127.0.0.1:8080", "127.0.0.1:8080"));
  EXPECT_TRUE(viewOriginAllowed("http://LOCALHOST:8080", "localhost:8080"));
  for (const char* origin : {"", "null", "http://evil.example", "https://127.0.0.1:8080",
                             "http://127.0.0.1:8081", "http://127.0.0.1:8080/"}) {
    EXPECT_FALSE(viewOriginAllowed(origin, "127.0.0.1:8080")) << origin;
  }
}

// The status line that the page answers `request` with.
std::string statusOf(int port, const std::string& request) {
  std::string head;
  const int fd = askLoopback(port, 5000, request, "\r\n", head);
  if (fd >= 0) ::close(fd);
  return head.substr(0, head.find("\r\n"));
}

// A WebSocket is made only for the page's own origin; another site (DNS
// rebinding, a foreign page, a sandboxed one) gets 403 for any request.
TEST(ViewOrigin, ThePageRefusesOtherSites) {
  const int port = freeLoopbackPort();
  std::string error;
  ASSERT_TRUE(startSimView("127.0.0.1", static_cast<std::uint16_t>(port), error)) << error;
  const std::string own = "127.0.0.1:" + std::to_string(port);
  const std::string evil = "evil.example:" + std::to_string(port);
  auto upgrade = [](const std::string& host, const std::string& origin) {
    return "GET /ws HTTP/1.1\r\nHost: " + host + "\r\n" + origin +
           "Upgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  };
  const struct {
    std::string request;
    const char* status;
  } cases[] = {
      {upgrade(own, "Origin: http://" + own + "\r\n"), "HTTP/1.1 101 Switching Protocols"},
      {upgrade(own, "Origin: http://evil.example\r\n"), "HTTP/1.1 403 Forbidden"},
      {upgrade(own, "Origin: null\r\n"), "HTTP/1.1 403 Forbidden"},
      {upgrade(own, ""), "HTTP/1.1 403 Forbidden"},
      {upgrade(evil, "Origin: http://" + evil + "\r\n"), "HTTP/1.1 403 Forbidden"},
      {"GET / HTTP/1.1\r\nHost: " + own + "\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET / HTTP/1.1\r\nHost: " + evil + "\r\n\r\n", "HTTP/1.1 403 Forbidden"},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 403 Forbidden"},
  };
  for (const auto& c : cases) EXPECT_EQ(statusOf(port, c.request), c.status) << c.request;
  const int watcher = liveViewSocket(port, 5000);  // as our own clients open it
  EXPECT_GE(watcher, 0);
  ::close(watcher);
}

}  // namespace
