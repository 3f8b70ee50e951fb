#include "sim_programs/sim_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

bool parse(std::vector<std::string> args, SimProgramOptions& options, std::string& error) {
  args.insert(args.begin(), "nxt-bridge-sim");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return parseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error);
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
  const struct {
    std::vector<std::string> args;
    const char* error;
  } bad[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--port"}, "option --port needs a value N"},
      {{"--port", "0"}, "bad value '0' for --port N"},
      {{"--port", "65536"}, "bad value '65536' for --port N"},
      {{"--port", "12ab"}, "bad value '12ab' for --port N"},
      {{"--port", "-5"}, "bad value '-5' for --port N"},
      {{"--port", "99999999999999999999"}, "bad value '99999999999999999999' for --port N"},
      {{"--battery", "70000"}, "bad value '70000' for --battery MV"},
      {{"--latency-us", "x"}, "bad value 'x' for --latency-us N"},
      {{"--no-brick=yes"}, "option --no-brick takes no value"},
      {{"--trace", ""}, "bad value '' for --trace FILE"},
      {{"port"}, "unknown option 'port'"},
      {{"--port="}, "bad value '' for --port N"},
      // Only whole names: an abbreviation is unknown, not taken for the
      // option it begins.
      {{"--por", "3000"}, "unknown option '--por'"},
      {{"--por=3000"}, "unknown option '--por'"},
      // Arguments are taken in order: the first bad one is told.
      {{"word", "--port", "3000"}, "unknown option 'word'"},
      {{"--port", "3000", "word", "--bogus"}, "unknown option 'word'"},
      {{"--"}, "unknown option '--'"},
      {{"-p", "3000"}, "unknown option '-p'"},
  };
  for (const auto& [args, expected] : bad) {
    SimProgramOptions o;
    std::string error;
    EXPECT_FALSE(parse(args, o, error)) << args[0];
    EXPECT_EQ(error, expected);
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
  ASSERT_EQ(o.transport.brick.files->size(), 4u);  // the default files and this one
  EXPECT_EQ((*o.transport.brick.files)[0].name, "Prog.rxe");
  EXPECT_EQ((*o.transport.brick.files)[0].bytes, (std::vector<std::uint8_t>{'a', 'b', 'c'}));

  // A new folder is an empty flash; --file goes into it too, and is there
  // at the next start.
  SimProgramOptions kept;
  ASSERT_TRUE(parse({"--flash", flash.c_str(), "--file", host.c_str()}, kept, error)) << error;
  ASSERT_EQ(kept.transport.brick.files->size(), 1u);
  ASSERT_NE(kept.transport.brick.flashFolder, nullptr);
  EXPECT_EQ(kept.transport.brick.flashFolder->path, flash);
  SimProgramOptions again;
  ASSERT_TRUE(parse({"--flash", flash.c_str()}, again, error)) << error;
  ASSERT_EQ(again.transport.brick.files->size(), 1u);
  EXPECT_EQ((*again.transport.brick.files)[0].bytes, (*kept.transport.brick.files)[0].bytes);

  // One line that names the file and says what is wrong with it.
  const std::string big = std::string(dir) + "/big.rxe";
  std::fclose(std::fopen(big.c_str(), "wb"));
  ASSERT_EQ(::truncate(big.c_str(), 200000), 0);
  for (const auto& [bad, why] : std::vector<std::pair<std::string, std::string>>{
           {std::string(dir) + "/missing.rxe", "No such file"},
           {std::string(dir) + "/" + std::string(20, 'n'), "No such file"},
           {flash, "is a folder"},
           {big, "200000 bytes"}}) {
    SimProgramOptions o2;
    EXPECT_FALSE(parse({"--file", bad.c_str()}, o2, error)) << bad;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_NE(error.find(bad), std::string::npos) << error;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  // Each fits alone, not both: the sizes are told.
  const std::string halves[] = {std::string(dir) + "/a.rxe", std::string(dir) + "/b.rxe"};
  for (const std::string& half : halves) {
    std::fclose(std::fopen(half.c_str(), "wb"));
    ASSERT_EQ(::truncate(half.c_str(), 60000), 0);
  }
  SimProgramOptions both;
  EXPECT_FALSE(parse({"--file", halves[0].c_str(), "--file", halves[1].c_str()}, both, error));
  EXPECT_NE(error.find("bytes) do not fit in its"), std::string::npos) << error;
  EXPECT_TRUE(both.fileError);
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace
