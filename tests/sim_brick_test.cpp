#include "sim/sim_brick.h"

#include <gtest/gtest.h>

#include "sim/sim_trace.h"

namespace {

// Sends `telegram` to a brick and gives its answer as a trace line
// ("< 02 ..."), or "" when it sends nothing.
std::string answer(SimBrick& brick, std::vector<std::uint8_t> telegram) {
  SimReply reply;
  if (!simBrickReceive(brick, telegram.data(), telegram.size(), SimClock::now(), reply)) return "";
  return traceLine('<', reply.bytes, reply.length);
}

std::vector<std::uint8_t> withName(std::vector<std::uint8_t> head, const std::string& name) {
  for (char c : name) head.push_back(static_cast<std::uint8_t>(c));
  head.resize(head.size() + 20 - name.size(), 0);
  return head;
}

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
      {{0x00, 0x0b}, "< 02 0b 00 a4 1f"},
      {{0x80, 0x0b}, ""},  // reads do nothing without a reply
      {{0x00, 0x03, 0xb8, 0x01, 0xc8, 0x00}, "< 02 03 00"},
      {{0x80, 0x03, 0xb8, 0x01, 0xc8, 0x00}, ""},
      {{0x00, 0x01}, "< 02 01 ec"},  // no program running
      {{0x00, 0x0c}, "< 02 0c 00"},
      {{0x00, 0x7e}, "< 02 7e be"},  // unknown opcode
      {{0x02, 0x0b}, ""},            // a reply sent to the brick
      {{0x55, 0x0b}, ""},            // an unknown telegram type
      {{0x00}, ""},
      {{0x81, 0x9b}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(answer(brick, c.telegram), c.reply);
}

TEST_F(SimBrickTest, ProgramsAndSoundsAreLookedUpByName) {
  EXPECT_EQ(answer(brick, withName({0x00, 0x00}, "nosuch.rxe")), "< 02 00 c0");
  EXPECT_EQ(brick.runningProgram, "");
  EXPECT_EQ(answer(brick, withName({0x00, 0x00}, "demo.rxe")), "< 02 00 00");
  EXPECT_EQ(brick.runningProgram, "demo.rxe");
  EXPECT_EQ(answer(brick, {0x00, 0x01}), "< 02 01 00");
  EXPECT_EQ(brick.runningProgram, "");
  EXPECT_EQ(answer(brick, withName({0x00, 0x02, 0x01}, "click.rso")), "< 02 02 00");
  EXPECT_EQ(brick.playingSound, "click.rso");
  EXPECT_TRUE(brick.soundLoops);
  EXPECT_EQ(answer(brick, withName({0x00, 0x02, 0x00}, "gone.rso")), "< 02 02 c0");
  EXPECT_EQ(answer(brick, {0x80, 0x0c}), "");
  EXPECT_EQ(brick.playingSound, "");
}

TEST_F(SimBrickTest, NameWithoutZeroInItsFieldIsCutAt20) {
  std::vector<std::uint8_t> t = {0x00, 0x00};
  t.resize(2 + 40, 'x');  // no zero byte anywhere
  EXPECT_EQ(answer(brick, t), "< 02 00 c0");
}

TEST_F(SimBrickTest, ToneIsClampedByTheSoundDriver) {
  answer(brick, {0x80, 0x03, 0x0a, 0x00, 0x01, 0x00});
  EXPECT_EQ(brick.toneFrequencyHz, 220);
  EXPECT_EQ(brick.toneDurationMs, 10);
}

TEST_F(SimBrickTest, DeviceInfoCarriesTheNameZeroPadded) {
  config.name = "Robo1";
  config.availableFlash = 0x01020304;
  simBrickReset(brick, config, SimClock::now());
  EXPECT_EQ(answer(brick, {0x01, 0x9b}),
            "< 02 9b 00 52 6f 62 6f 31 00 00 00 00 00 00 00 00 00 00 00 16 53 0a 0b 0c 00 00 00 "
            "00 00 04 03 02 01");
  config.name = std::string(20, 'z');
  simBrickReset(brick, config, SimClock::now());
  EXPECT_EQ(answer(brick, {0x01, 0x9b}).substr(0, 55),
            "< 02 9b 00 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a 7a");
}

TEST(SimTrace, LineFormat) {
  const std::uint8_t bytes[] = {0x00, 0x0b, 0xff, 0xa4};
  EXPECT_EQ(traceLine('>', bytes, 4), "> 00 0b ff a4");
  EXPECT_EQ(traceLine('<', bytes, 0), "<");
}

}  // namespace
