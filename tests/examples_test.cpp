// The example clients, run against nxt-bridge-sim as a user would run them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>

#include "e2e_harness.h"

namespace {

std::string example(const std::string& relative) {
  return std::string(NXT_SOURCE_DIR) + "/examples/" + relative;
}

// Runs examples/python/`script` against the server on loopback `port`; returns what it
// wrote (standard error too) and its exit status in `status`.
std::string runPython(const std::string& script, int port, int& status, int timeoutSeconds = 30) {
  return runCommand("python3 " + example("python/" + script) + " --host 127.0.0.1 --port " +
                        std::to_string(port) + " 2>&1",
                    status, timeoutSeconds);
}

// Runs examples/python/`script` against nxt-bridge-sim started with
// `args` and checks that both end well; returns what the script wrote, and
// what the server wrote on standard error in `serverText`.
std::string runAgainstSim(const std::vector<std::string>& args, const std::string& script,
                          std::string& serverText, int timeoutSeconds = 30) {
  SimServer s;
  if (!startServerListening(s, args)) {
    ADD_FAILURE() << s.stderrText;
    return "";
  }
  int status = -1;
  const std::string out = runPython(script, s.port, status, timeoutSeconds);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(waitForExit(s), 0);
  serverText = s.stderrText;
  return out;
}

TEST(Examples, PythonDrivesToTheTargetAndReadsTheSonar) {
  std::string serverText;
  const std::string out =
      runAgainstSim({"--sonar", "in_4=37", "--name", "Robo1"}, "drive_and_sense.py", serverText);
  EXPECT_NE(out.find("brick Robo1 battery 8100 mV\n"), std::string::npos) << out;
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(out, m, std::regex("motor A at (-?[0-9]+) degrees \\(target 720\\)")))
      << out;
  EXPECT_GE(std::stoi(m[1]), 720);
  EXPECT_LT(std::stoi(m[1]), 800);
  EXPECT_NE(out.find("obstacle at 37 cm\n"), std::string::npos) << out;
}

TEST(Examples, PythonReportsAStall) {
  std::string serverText;
  const std::string out = runAgainstSim({"--load", "out_a=0"}, "drive_and_sense.py", serverText);
  EXPECT_NE(out.find("the motor stalled before the target\n"), std::string::npos) << out;
  EXPECT_NE(out.find("no ultrasonic sensor on port 4\n"), std::string::npos) << out;
}

TEST(Examples, PythonExitsWithAMessageWhenNoServerListens) {
  const int port = freeLoopbackPort();
  int status = -1;
  const std::string out = runPython("stop_before_wall.py", port, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, "no server at 127.0.0.1:" + std::to_string(port) + ": Connection refused\n");
}

TEST(Examples, ShellSendsOneRequestAtATime) {
  for (const auto& [raw, word] : {std::pair<const char*, const char*>{"183", "pressed"},
                                  std::pair<const char*, const char*>{"1023", "released"}}) {
    SimServer s;
    ASSERT_TRUE(startServerListening(s, {"--sensor", std::string("in_1=") + raw}));
    int status = -1;
    const std::string out = runCommand("bash " + example("shell/one_request_at_a_time.sh") +
                                           " 127.0.0.1 " + std::to_string(s.port),
                                       status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, std::string("battery: 8100 mV\ntouch sensor: ") + word + "\n");
    EXPECT_EQ(waitForExit(s), 0);
  }
}

// The robot's pose as nxt-bridge-sim tells it when serving ends.
struct Pose {
  double x = 0, y = 0, heading = 0;
};

bool poseOf(const std::string& stderrText, Pose& pose) {
  std::smatch m;
  if (!std::regex_search(stderrText, m,
                         std::regex("robot at x (-?[0-9]+) mm, y (-?[0-9]+) mm, heading "
                                    "([0-9]+) degrees\n"))) {
    return false;
  }
  pose = {std::stod(m[1]), std::stod(m[2]), std::stod(m[3])};
  return true;
}

// Runs examples/python/`script` in the room examples/worlds/`world`;
// returns what it wrote, and in `pose` where the robot ended.
std::string runInWorld(const std::string& world, const std::string& script, Pose& pose,
                       int timeoutSeconds = 30) {
  std::string serverText;
  const std::string out =
      runAgainstSim({"--world", example("worlds/" + world), "--latency-us", "2000"}, script,
                    serverText, timeoutSeconds);
  EXPECT_TRUE(poseOf(serverText, pose)) << serverText;
  return out;
}

TEST(Examples, PythonStopsTheRobotBeforeTheWall) {
  Pose pose;
  const std::string out = runInWorld("wall.json", "stop_before_wall.py", pose);
  EXPECT_NE(out.find("wall ahead at 154 cm\n"), std::string::npos) << out;
  // The wall stands at x = 2000; the sonar's mount 60 mm ahead of the axle.
  const double h = pose.heading * 3.14159265358979 / 180;
  const double alongAxis = (2000 - (pose.x + 60 * std::cos(h))) / std::cos(h);
  EXPECT_GE(alongAxis, 170) << out;
  EXPECT_LE(alongAxis, 230) << out;
}

TEST(Examples, PythonFollowsTheLineForOneLap) {
  Pose pose;
  const std::string out = runInWorld("oval.json", "follow_line.py", pose, 60);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("one lap in ([0-9.]+) s\n"))) << out;
  EXPECT_LE(std::stod(m[1]), 30.0);
  // Round once and back where it started, at (600, 290) facing +x.
  EXPECT_LT(std::hypot(pose.x - 600, pose.y - 290), 100) << out;
  EXPECT_LT(std::min(pose.heading, 360 - pose.heading), 15) << out;
}

}  // namespace
