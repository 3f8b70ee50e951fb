#include "directcmd/brick_telegrams.h"

#include <gtest/gtest.h>

#include "link/device_link.h"
#include "sim_test_support.h"

namespace {

class BrickTelegrams : public SimLinkTest {
 protected:
  void SetUp() override {
    SimLinkTest::SetUp();
    ASSERT_TRUE(brickOpen());
    clearTrace();
  }
  void TearDown() override { brickClose(); }
};

TEST_F(BrickTelegrams, PlayToneSendsRemainderAndQuotientBy256) {
  struct Case {
    std::int32_t frequency;
    std::int32_t duration;
    const char* sent;
  } cases[] = {
      {440, 200, "80 03 b8 01 c8 00"},  {440, 1000, "80 03 b8 01 e8 03"},
      {0, 0, "80 03 00 00 00 00"},      {65535, 65535, "80 03 ff ff ff ff"},
      {70000, 10, "80 03 70 11 0a 00"},  // quotient 273 kept to its low byte
      {-1, -1, "80 03 ff 00 ff 00"},     // remainder -1, quotient 0
      {-300, 5, "80 03 d4 ff 05 00"},    // -300 % 256 = -44, -300 / 256 = -1
  };
  for (const Case& c : cases) {
    clearTrace();
    brickPlayTone(c.frequency, c.duration);
    EXPECT_EQ(hostTelegrams(), std::vector<std::string>{c.sent}) << c.frequency;
  }
}

TEST_F(BrickTelegrams, SingleByteCommands) {
  brickStopProgram();
  brickStopSound();
  EXPECT_EQ(hostTelegrams(), (std::vector<std::string>{"80 01", "80 0c"}));
}

TEST_F(BrickTelegrams, StartProgramPadsTheNameWithZeros) {
  brickStartProgram("a");
  EXPECT_EQ(hostTelegrams(), std::vector<std::string>{"80 00" + nameField("a")});
}

TEST_F(BrickTelegrams, PlaySoundFileLoopFlag) {
  brickPlaySoundFile("ab", false);
  brickPlaySoundFile("ab", true);
  EXPECT_EQ(hostTelegrams(),
            (std::vector<std::string>{"80 02 00" + nameField("ab"), "80 02 01" + nameField("ab")}));
}

TEST_F(BrickTelegrams, NamesThatDoNotFitAreNeverSent) {
  EXPECT_TRUE(fileNameFits(std::string(19, 'n')));
  EXPECT_FALSE(fileNameFits(std::string(20, 'n')));
  brickStartProgram(std::string(20, 'n'));
  brickPlaySoundFile(std::string(64, 'n'), true);
  EXPECT_TRUE(hostTelegrams().empty());
}

TEST_F(BrickTelegrams, BatteryLevelDecodesMillivolts) {
  for (std::uint16_t mv : {7516, 0, 65535, 9000}) {
    SimTransportSettings s;
    s.brick.batteryMillivolts = mv;
    freshSimBrick(s);
    EXPECT_EQ(brickBatteryLevel(), mv);
  }
}

TEST_F(BrickTelegrams, QueriesWithoutABrickAreEmpty) {
  brickClose();
  EXPECT_EQ(brickBatteryLevel(), std::nullopt);
  EXPECT_EQ(brickGetName(), std::nullopt);
  EXPECT_FALSE(brickStopSound());
}

TEST_F(BrickTelegrams, NameComesFromGetDeviceInfoAndIsCutTo15) {
  settings.brick.name = "ABCDEFGHIJKLMNOPQRS";
  freshSimBrick(settings);
  EXPECT_EQ(brickGetName(), "ABCDEFGHIJKLMNO");
  ASSERT_GE(simTransportTrace().lines.size(), 2u);
  EXPECT_EQ(simTransportTrace().lines[0], "> 01 9b");
  // 33 bytes: "< " and 33 bytes of two digits each, blank-separated.
  EXPECT_EQ(simTransportTrace().lines[1].size(), 2 + 33 * 3 - 1);
}

TEST_F(BrickTelegrams, NameIsTheOneTheBrickHolds) {
  SimTransportSettings s;
  s.brick.name = "Robo1";
  freshSimBrick(s);
  EXPECT_EQ(brickGetName(), "Robo1");
}

}  // namespace
