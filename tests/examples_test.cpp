// The example clients, run against nxt-bridge-sim as a user would run them.
#include <gtest/gtest.h>

#include <regex>

#include "e2e_harness.h"

namespace {

std::string example(const std::string& relative) {
  return std::string(NXT_SOURCE_DIR) + "/examples/" + relative;
}

TEST(Examples, PythonDrivesToTheTargetAndReadsTheSonar) {
  SimServer s;
  ASSERT_TRUE(startServerListening(s, {"--sonar", "in_4=37", "--name", "Robo1"})) << s.stderrText;
  int status = -1;
  const std::string out = runCommand(
      "python3 " + example("python/drive_and_sense.py") + " --port " + std::to_string(s.port),
      status);
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
  const std::string out = runCommand(
      "python3 " + example("python/drive_and_sense.py") + " --port " + std::to_string(s.port),
      status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("the motor stalled before the target\n"), std::string::npos) << out;
  EXPECT_NE(out.find("no ultrasonic sensor on port 4\n"), std::string::npos) << out;
  EXPECT_EQ(waitForExit(s), 0);
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

}  // namespace
