#include "server/sim_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
  EXPECT_EQ(o.transport.latency.count(), 0);
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

TEST(SimOptions, FileAndFlashPutHostFilesOnTheBrick) {
  char dir[] = "/tmp/nxt-options-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string flash = std::string(dir) + "/flash";
  const std::string host = std::string(dir) + "/Prog.rxe";
  std::FILE* file = std::fopen(host.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("abc", file);
  std::fclose(file);

  SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--file", host.c_str()}, o, error)) << error;
  ASSERT_EQ(o.transport.brick.files.size(), 4u);  // the default files and this one
  EXPECT_EQ(o.transport.brick.files[0].name, "Prog.rxe");
  EXPECT_EQ(o.transport.brick.files[0].bytes, (std::vector<std::uint8_t>{'a', 'b', 'c'}));

  // A new folder is an empty flash; --file goes into it too, and is there
  // at the next start.
  SimProgramOptions kept;
  ASSERT_TRUE(parse({"--flash", flash.c_str(), "--file", host.c_str()}, kept, error)) << error;
  ASSERT_EQ(kept.transport.brick.files.size(), 1u);
  EXPECT_EQ(kept.transport.brick.flashFolder, flash);
  SimProgramOptions again;
  ASSERT_TRUE(parse({"--flash", flash.c_str()}, again, error)) << error;
  ASSERT_EQ(again.transport.brick.files.size(), 1u);
  EXPECT_EQ(again.transport.brick.files[0].bytes, kept.transport.brick.files[0].bytes);

  for (const std::string& bad :
       {std::string(dir) + "/missing.rxe", std::string(dir) + "/" + std::string(20, 'n')}) {
    SimProgramOptions o2;
    EXPECT_FALSE(parse({"--file", bad.c_str()}, o2, error)) << bad;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace
