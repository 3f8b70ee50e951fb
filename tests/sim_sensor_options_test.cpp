#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "server/sim_options.h"

namespace {

bool parse(std::vector<std::string> args, SimProgramOptions& options, std::string& error) {
  args.insert(args.begin(), "nxt-bridge-sim");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return parseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(SimSensorOptions, ReadingsAndSonars) {
  SimProgramOptions options;
  std::string error;
  ASSERT_TRUE(parse({"--sensor", "in_1=183", "--sensor=in_4=0", "--sonar", "in_2=255",
                     "--sonar=in_3=0", "--console"},
                    options, error))
      << error;
  const SimBrickConfig& brick = options.transport.brick;
  EXPECT_EQ(brick.sensorRaw, (std::array<std::uint16_t, 4>{183, 1023, 1023, 0}));
  EXPECT_EQ(brick.sonarCm, (std::array<std::int16_t, 4>{-1, 255, 0, -1}));
  EXPECT_TRUE(options.console);
}

TEST(SimSensorOptions, BadValuesAreRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"--sensor", "in_1=1024"}, {"--sensor", "in_5=5"}, {"--sensor", "in_1"},
      {"--sonar", "in_4=256"},   {"--sonar", "in_4=-1"}, {"--sonar"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    SimProgramOptions options;
    std::string error;
    EXPECT_FALSE(parse(args, options, error));
    EXPECT_NE(error, "");
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(SimSensorOptions, ConsoleLines) {
  SimBrickConfig config;
  std::function<void(SimBrickConfig&)> change;
  std::string error;
  ASSERT_TRUE(parseConsoleLine("sensor in_2=183", change, error)) << error;
  change(config);
  ASSERT_TRUE(parseConsoleLine("  --sonar   in_4=40 ", change, error)) << error;
  change(config);
  EXPECT_EQ(config.sensorRaw[1], 183);
  EXPECT_EQ(config.sonarCm[3], 40);
  EXPECT_EQ(config.name, "NXT");  // nothing else changes

  for (const char* line : {"sensor in_2=2000", "port 2057", "sensor", "sensor in_1=5 x"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(parseConsoleLine(line, change, error));
    EXPECT_NE(error, "");
  }
}

}  // namespace
