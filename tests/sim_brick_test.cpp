#include "sim/sim_brick.h"

#include <gtest/gtest.h>

#include "sim/sim_trace.h"
#include "sim_test_support.h"

namespace {

class SimBrickTest : public ::testing::Test {
 protected:
  void SetUp() override { simBrickReset(brick, config, SimClock::now()); }
  SimBrickConfig config;
  SimBrick brick;
};

TEST_F(SimBrickTest, BrickWideCommandsAnswerOrStaySilentByType) {
  struct Case {
    std::vector<std::uint8_t> telegram;
    const char* reply;
  } cases[] = {
      {{0x00, 0x0b}, "02 0b 00 a4 1f"},
      {{0x80, 0x0b}, ""},  // reads do nothing without a reply
      {{0x00, 0x03, 0xb8, 0x01, 0xc8, 0x00}, "02 03 00"},
      {{0x80, 0x03, 0xb8, 0x01, 0xc8, 0x00}, ""},
      {{0x00, 0x01}, "02 01 ec"},  // no program running
      {{0x00, 0x0c}, "02 0c 00"},
      {{0x00, 0x7e}, "02 7e be"},  // unknown opcode
      {{0x02, 0x0b}, ""},          // a reply sent to the brick
      {{0x55, 0x0b}, ""},          // an unknown telegram type
      {{0x00}, ""},
      {{0x81, 0x9b}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(brickReply(brick, c.telegram), c.reply);
}

TEST_F(SimBrickTest, ProgramsAndSoundsAreLookedUpByName) {
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x00}, "nosuch.rxe")), "02 00 c0");
  EXPECT_STREQ(brick.runningProgram, "");
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x00}, "demo.rxe")), "02 00 00");
  EXPECT_STREQ(brick.runningProgram, "demo.rxe");
  EXPECT_EQ(brickReply(brick, {0x00, 0x01}), "02 01 00");
  EXPECT_STREQ(brick.runningProgram, "");
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x02, 0x01}, "click.rso")), "02 02 00");
  EXPECT_STREQ(brick.playingSound, "click.rso");
  EXPECT_TRUE(brick.soundLoops);
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x02, 0x00}, "gone.rso")), "02 02 c0");
  EXPECT_EQ(brickReply(brick, {0x80, 0x0c}), "");
  EXPECT_STREQ(brick.playingSound, "");
}

TEST_F(SimBrickTest, NameWithoutZeroInItsFieldIsCutAt20) {
  std::vector<std::uint8_t> t = {0x00, 0x00};
  t.resize(2 + 40, 'x');  // no zero byte anywhere
  EXPECT_EQ(brickReply(brick, t), "02 00 c0");
}

TEST_F(SimBrickTest, ToneIsClampedByTheSoundDriver) {
  brickReply(brick, {0x80, 0x03, 0x0a, 0x00, 0x01, 0x00});
  EXPECT_EQ(brick.toneFrequencyHz, 220);
  EXPECT_EQ(brick.toneDurationMs, 10);
}

TEST_F(SimBrickTest, DeviceInfoCarriesTheNameZeroPadded) {
  config.name = "Robo1";
  config.files = nullptr;  // an empty flash: 113756 bytes free
  simBrickReset(brick, config, SimClock::now());
  EXPECT_EQ(brickReply(brick, {0x01, 0x9b}),
            "02 9b 00 52 6f 62 6f 31 00 00 00 00 00 00 00 00 00 00 00 16 53 0a 0b 0c 00 00 00 "
            "00 00 5c bc 01 00");
  config.name = std::string(20, 'z');
  simBrickReset(brick, config, SimClock::now());
  EXPECT_EQ(brickReply(brick, {0x01, 0x9b}).substr(0, 53),
            "02 9b 00 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a");
}

TEST_F(SimBrickTest, OnlyAProgramStartsAndItIsNamedAndStopped) {
  auto currentName = [&] { return brickReply(brick, {0x00, 0x11}); };
  EXPECT_EQ(currentName(), "02 11 ec" + zeros(20));
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x00}, "click.rso")), "02 00 00");  // no program
  EXPECT_STREQ(brick.runningProgram, "");
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x00}, "DEMO.RXE")), "02 00 00");
  EXPECT_EQ(currentName(), "02 11 00 44 45 4d 4f 2e 52 58 45" + zeros(12));
  EXPECT_EQ(brickReply(brick, withName({0x00, 0x00}, "demo.rxe")), "02 00 00");  // one at a time
  EXPECT_STREQ(brick.runningProgram, "DEMO.RXE");
  EXPECT_EQ(brickReply(brick, {0x80, 0x11}), "");
  EXPECT_EQ(brickReply(brick, {0x00, 0x01}), "02 01 00");
  ASSERT_EQ(brick.eventCount, 2u);
  EXPECT_EQ(simBrickEventText(brick.events[0]), "program DEMO.RXE started");
  EXPECT_EQ(simBrickEventText(brick.events[1]), "program DEMO.RXE stopped");
}

TEST_F(SimBrickTest, MailboxesOfTheRunningProgram) {
  const std::vector<std::uint8_t> hi = {0x00, 0x09, 0x01, 0x03, 'h', 'i', 0x00};
  const std::vector<std::uint8_t> read = {0x00, 0x13, 0x01, 0x05, 0x01};
  EXPECT_EQ(brickReply(brick, hi), "02 09 ec");
  brickReply(brick, withName({0x00, 0x00}, "demo.rxe"));
  struct Case {
    std::vector<std::uint8_t> telegram;
    std::string reply;
  } cases[] = {
      {hi, "02 09 00"},
      {{0x00, 0x09, 0x01, 0x02, 'h', 'i'}, "02 09 c0"},  // not ended by a zero
      {{0x00, 0x09, 0x01, 0x00}, "02 09 c0"},
      {{0x00, 0x09, 0x14, 0x01, 0x00}, "02 09 ee"},   // mailbox 20
      {read, "02 13 00 05 03 68 69 00" + zeros(56)},  // 64 bytes in all
      {read, "02 13 40 05 00" + zeros(59)},           // empty
      {{0x00, 0x13, 0x14, 0x00, 0x01}, "02 13 ee 00 00" + zeros(59)},
  };
  for (const Case& c : cases) EXPECT_EQ(brickReply(brick, c.telegram), c.reply);
  brickReply(brick, {0x00, 0x01});
  EXPECT_EQ(brickReply(brick, read).substr(0, 8), "02 13 ec");
}

TEST_F(SimBrickTest, ResetInputScaledValue) {
  brick.inputs.ports[2].scaled = 55;
  EXPECT_EQ(brickReply(brick, {0x00, 0x08, 0x02}), "02 08 00");
  EXPECT_EQ(brick.inputs.ports[2].scaled, 0);
  EXPECT_EQ(brickReply(brick, {0x00, 0x08, 0x04}), "02 08 c0");
}

TEST(SimTrace, LineFormat) {
  const std::uint8_t bytes[] = {0x00, 0x0b, 0xff, 0xa4};
  EXPECT_EQ(traceLine('>', bytes, 4), "> 00 0b ff a4");
  EXPECT_EQ(traceLine('<', bytes, 0), "<");
}

}  // namespace
