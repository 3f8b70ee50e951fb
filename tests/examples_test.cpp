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

// Runs examples/python/`script` against the server on `port`; returns what it
// wrote (standard error too) and its exit status in `status`.
std::string runPython(const std::string& script, int port, int& status, int timeoutSeconds = 30) {
  return runCommand(
      "python3 " + example("python/" + script) + " --port " + std::to_string(port) + " 2>&1",
      status, timeoutSeconds);
}

TEST(Examples, PythonDrivesToTheTargetAndReadsTheSonar) {
  SimServer s;
  ASSERT_TRUE(startServerListening(s, {"--sonar", "in_4=37", "--name", "Robo1"})) << s.stderrText;
  int status = -1;
  const std::string out = runPython("drive_and_sense.py", s.port, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("brick Robo1 battery 8100 mV\n"), std::string::npos) << out;
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(out, m, std::regex("motor A at (-?[0-9]+) degrees \\(target 720\\)")))
      << out;
  EXPECT_GE(std::stoi(m[1]), 720);
  EXPECT_LT(std::stoi(m[1]), 800);
  EXPECT_NE(out.find("obstacle at 37 cm\n"), std::string::npos) << out;
  EXPECT_EQ(waitForExit(s), 0);
}

TEST(Examples, PythonReportsAStall) {
  SimServer s;
  ASSERT_TRUE(startServerListening(s, {"--load", "out_a=0"})) << s.stderrText;
  int status = -1;
  const std::string out = runPython("drive_and_sense.py", s.port, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("the motor stalled before the target\n"), std::string::npos) << out;
  EXPECT_NE(out.find("no ultrasonic sensor on port 4\n"), std::string::npos) << out;
  EXPECT_EQ(waitForExit(s), 0);
}

TEST(Examples, PythonExitsWithAMessageWhenNoServerListens) {
  const int port = freeLoopbackPort();
  int status = -1;
  const std::string out = runPython("stop_before_wall.py", port, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, "no server at localhost:" + std::to_string(port) + ": Connection refused\n");
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

TEST(Examples, PythonStopsTheRobotBeforeTheWall) {
  SimServer s;
  ASSERT_TRUE(
      startServerListening(s, {"--world", example("worlds/wall.json"), "--latency-us", "2000"}))
      << s.stderrText;
  int status = -1;
  const std::string out = runPython("stop_before_wall.py", s.port, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("wall ahead at 154 cm\n"), std::string::npos) << out;
  EXPECT_EQ(waitForExit(s), 0);
  Pose pose;
  ASSERT_TRUE(poseOf(s.stderrText, pose)) << s.stderrText;
  // The wall stands at x = 2000; the sonar's mount 60 mm ahead of the axle.
  const double h = pose.heading * 3.14159265358979 / 180;
  const double alongAxis = (2000 - (pose.x + 60 * std::cos(h))) / std::cos(h);
  EXPECT_GE(alongAxis, 170) << s.stderrText;
  EXPECT_LE(alongAxis, 230) << s.stderrText;
}

TEST(Examples, PythonFollowsTheLineForOneLap) {
  SimServer s;
  ASSERT_TRUE(
      startServerListening(s, {"--world", example("worlds/oval.json"), "--latency-us", "2000"}))
      << s.stderrText;
  int status = -1;
  const std::string out = runPython("follow_line.py", s.port, status, 60);
  EXPECT_EQ(status, 0) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("one lap in ([0-9.]+) s\n"))) << out;
  EXPECT_LE(std::stod(m[1]), 30.0);
  EXPECT_EQ(waitForExit(s), 0);
  // Round once and back where it started, at (600, 290) facing +x.
  Pose pose;
  ASSERT_TRUE(poseOf(s.stderrText, pose)) << s.stderrText;
  EXPECT_LT(std::hypot(pose.x - 600, pose.y - 290), 100) << s.stderrText;
  EXPECT_LT(std::min(pose.heading, 360 - pose.heading), 15) << s.stderrText;
}

}  // namespace
