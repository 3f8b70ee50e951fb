#include "server/sim_options.h"

#include <gtest/gtest.h>

namespace {

bool parse(std::vector<const char*> args, SimProgramOptions& options, std::string& error) {
  args.insert(args.begin(), "nxt-bridge-sim");
  return parseSimOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(SimOptions, Defaults) {
  SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(parse({}, o, error));
  EXPECT_EQ(o.port, 2056);
  EXPECT_TRUE(o.transport.brickAttached);
  EXPECT_EQ(o.transport.brick.name, "NXT");
  EXPECT_EQ(o.transport.brick.batteryMillivolts, 8100);
  EXPECT_EQ(o.transport.latency.count(), 2000) << "a brick on USB";
  EXPECT_TRUE(o.transport.traceFile.empty());
}

TEST(SimOptions, EveryOptionInBothForms) {
  SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--port", "3000", "--name", "Robo 1", "--battery=7400", "--no-brick",
                     "--latency-us", "1000", "--trace=/tmp/x"},
                    o, error))
      << error;
  EXPECT_EQ(o.port, 3000);
  EXPECT_EQ(o.transport.brick.name, "Robo 1");
  EXPECT_EQ(o.transport.brick.batteryMillivolts, 7400);
  EXPECT_FALSE(o.transport.brickAttached);
  EXPECT_EQ(o.transport.latency.count(), 1000);
  EXPECT_EQ(o.transport.traceFile, "/tmp/x");
}

TEST(SimOptions, BadOptionsAreRefusedWithOneLine) {
  const std::vector<std::vector<const char*>> bad = {
      {"--bogus"},
      {"--port"},
      {"--port", "0"},
      {"--port", "65536"},
      {"--port", "12ab"},
      {"--port", "-5"},
      {"--battery", "70000"},
      {"--latency-us", "x"},
      {"--no-brick=yes"},
      {"--trace", ""},
      {"port"},
      {"--port="},
  };
  for (const auto& args : bad) {
    SimProgramOptions o;
    std::string error;
    EXPECT_FALSE(parse(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(SimOptions, HelpListsEveryOption) {
  SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--help"}, o, error));
  EXPECT_TRUE(o.help);
  const std::string usage = simUsage();
  for (const char* name :
       {"--port", "--name", "--battery", "--no-brick", "--latency-us", "--trace", "--help"}) {
    EXPECT_NE(usage.find(name), std::string::npos) << name;
  }
}

}  // namespace
