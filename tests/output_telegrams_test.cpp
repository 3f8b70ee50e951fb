#include "directcmd/output_telegrams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/transport_sim.h"
#include "protocol/little_endian.h"
#include "sim_test_support.h"

namespace {

// Telegrams as the trace shows them: type byte first, spaced hex.
const char kBrakedStopA[] = "80 04 00 00 07 01 00 20 00 00 00 00";
const char kCoastStopA[] = "80 04 00 00 00 00 00 00 00 00 00 00";
const char kPollA[] = "00 06 00";

class OutputTelegrams : public SimLinkTest {
 protected:
  void SetUp() override { setUpBrick(SimBrickConfig{}); }

  void setUpBrick(const SimBrickConfig& brick) {
    settings.brick = brick;
    freshLink();
    ASSERT_TRUE(linkOpenUsb());
    clearTrace();
  }

  // The RotationCount in a GETOUTPUTSTATE reply line: its last four bytes.
  static std::int32_t countIn(const std::string& replyLine) {
    const Bytes bytes = bytesOf(replyLine);
    return nxt::readI32(bytes.data() + bytes.size() - 4);
  }
};

TEST_F(OutputTelegrams, ActionsSendOneTelegramWithoutReply) {
  struct Case {
    const char* what;
    std::function<void()> send;
    const char* telegram;
  };
  const Case cases[] = {
      {"forward 75", [] { motorSetForward(0, 75); }, "80 04 00 4b 05 01 00 20 00 00 00 00"},
      {"forward 0", [] { motorSetForward(1, 0); }, "80 04 01 00 05 01 00 20 00 00 00 00"},
      {"forward 100", [] { motorSetForward(2, 100); }, "80 04 02 64 05 01 00 20 00 00 00 00"},
      {"reverse 75", [] { motorSetReverse(0, 75); }, "80 04 00 b5 05 01 00 20 00 00 00 00"},
      {"reverse 100", [] { motorSetReverse(2, 100); }, "80 04 02 9c 05 01 00 20 00 00 00 00"},
      {"reverse 0", [] { motorSetReverse(1, 0); }, "80 04 01 00 05 01 00 20 00 00 00 00"},
      {"stop braked", [] { motorStop(2, true); }, "80 04 02 00 07 01 00 20 00 00 00 00"},
      {"brake on", [] { motorBrakeOn(2); }, "80 04 02 00 07 01 00 20 00 00 00 00"},
      {"stop coasting", [] { motorStop(2, false); }, "80 04 02 00 00 00 00 00 00 00 00 00"},
      {"brake off", [] { motorBrakeOff(2); }, "80 04 02 00 00 00 00 00 00 00 00 00"},
      {"reset relative", [] { motorResetRotationCount(0, true); }, "80 0a 00 01"},
      {"reset absolute", [] { motorResetRotationCount(1, false); }, "80 0a 01 00"},
  };
  for (const Case& c : cases) {
    clearTrace();
    c.send();
    EXPECT_EQ(telegramsOf(simTransportTrace().lines, '>'), std::vector<std::string>{c.telegram})
        << c.what;
    EXPECT_TRUE(telegramsOf(simTransportTrace().lines, '<').empty()) << c.what;
  }
}

TEST_F(OutputTelegrams, RotationCountDecodesBytes20To23) {
  struct Case {
    std::int32_t count;
    const char* bytes;  // as they arrive in the reply
  };
  const Case cases[] = {
      {40000, "40 9c 00 00"}, {-40000, "c0 63 ff ff"},     {-1, "ff ff ff ff"},
      {65536, "00 00 01 00"}, {32767, "ff 7f 00 00"},      {-32768, "00 80 ff ff"},
      {0, "00 00 00 00"},     {2147483647, "ff ff ff 7f"}, {-2147483647 - 1, "00 00 00 80"},
  };
  for (const Case& c : cases) {
    clearTrace();
    simSetRotationCount(1, c.count);
    EXPECT_EQ(motorGetRotationCount(1), c.count) << c.bytes;
    EXPECT_EQ(telegramsOf(simTransportTrace().lines, '>'), std::vector<std::string>{"00 06 01"});
    const std::vector<std::string> replies = telegramsOf(simTransportTrace().lines, '<');
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].size(), 25u * 3 - 1) << "a 25-byte reply";
    EXPECT_EQ(replies[0].substr(replies[0].size() - 11), c.bytes);
  }
}

TEST_F(OutputTelegrams, RotationCountWithoutReplyIsEmpty) {
  linkClose();
  EXPECT_EQ(motorGetRotationCount(0), std::nullopt);
  EXPECT_TRUE(simTransportTrace().lines.empty());
}

// The telegrams of one motorGoTo, checked against its algorithm: a first
// read, the run telegram, polls, the stop; every poll but the last finds
// the count short of the target.
struct GoToTrace {
  std::vector<std::string> sent;
  std::vector<std::int32_t> polled;  // the counts the brick answered
};

class GoTo : public OutputTelegrams {
 protected:
  GoToTrace trace() {
    GoToTrace t;
    t.sent = telegramsOf(simTransportTrace().lines, '>');
    for (const std::string& reply : telegramsOf(simTransportTrace().lines, '<'))
      t.polled.push_back(countIn(reply));
    return t;
  }
};

TEST_F(GoTo, ForwardStopsAtTheFirstCountAtOrPastTheTarget) {
  EXPECT_EQ(motorGoTo(0, 100, 30, true), GoToResult::kReached);
  const GoToTrace t = trace();
  ASSERT_GE(t.sent.size(), 4u);
  EXPECT_EQ(t.sent[0], kPollA);
  EXPECT_EQ(t.sent[1], "80 04 00 64 05 01 00 20 00 00 00 00");
  for (std::size_t i = 2; i + 1 < t.sent.size(); ++i) ASSERT_EQ(t.sent[i], kPollA) << i;
  EXPECT_EQ(t.sent.back(), kBrakedStopA);
  ASSERT_EQ(t.polled.size(), t.sent.size() - 2);
  for (std::size_t i = 0; i + 1 < t.polled.size(); ++i) ASSERT_LT(t.polled[i], 30) << i;
  EXPECT_GE(t.polled.back(), 30);
}

TEST_F(GoTo, BelowTheCountRunsInReverseAndCoastsWhenAsked) {
  simSetRotationCount(0, 40);
  EXPECT_EQ(motorGoTo(0, 100, 10, false), GoToResult::kReached);
  const GoToTrace t = trace();
  ASSERT_GE(t.sent.size(), 4u);
  EXPECT_EQ(t.sent[0], kPollA);
  EXPECT_EQ(t.sent[1], "80 04 00 9c 05 01 00 20 00 00 00 00");
  for (std::size_t i = 2; i + 1 < t.sent.size(); ++i) ASSERT_EQ(t.sent[i], kPollA) << i;
  EXPECT_EQ(t.sent.back(), kCoastStopA);
  EXPECT_EQ(t.polled.front(), 40);
  for (std::size_t i = 0; i + 1 < t.polled.size(); ++i) ASSERT_GT(t.polled[i], 10) << i;
  EXPECT_LE(t.polled.back(), 10);
}

TEST_F(GoTo, AtTheTargetStillRunsForwardPollsOnceAndStops) {
  simSetRotationCount(0, 250);
  EXPECT_EQ(motorGoTo(0, 50, 250, true), GoToResult::kReached);
  const std::vector<std::string> expected = {kPollA, "80 04 00 32 05 01 00 20 00 00 00 00", kPollA,
                                             kBrakedStopA};
  EXPECT_EQ(trace().sent, expected);
}

// A made-up clock for the no-progress bound: each reading is 100 ms later.
int fakeTicks = 0;
std::chrono::steady_clock::time_point fakeNow() {
  return std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(100) * fakeTicks++;
}

TEST_F(GoTo, StallEndsAfterTheBoundWithTheStopAsked) {
  struct Case {
    const char* what;
    std::uint8_t load;
    std::int32_t power;
  };
  const Case cases[] = {{"blocked motor", 0, 100}, {"power 0", 100, 0}};
  for (const Case& c : cases) {
    SimBrickConfig brick;
    brick.motorLoadPercent[0] = c.load;
    setUpBrick(brick);
    fakeTicks = 0;
    GoToWait wait;
    wait.now = fakeNow;
    EXPECT_EQ(motorGoTo(0, c.power, 720, false, wait), GoToResult::kTimedOut) << c.what;
    const GoToTrace t = trace();
    ASSERT_GE(t.sent.size(), 3u) << c.what;
    EXPECT_EQ(t.sent.back(), kCoastStopA) << c.what;
    // One second of the made-up clock is about ten polls after the run.
    const std::size_t polls = t.sent.size() - 3;
    EXPECT_GE(polls, 9u) << c.what;
    EXPECT_LE(polls, 11u) << c.what;
  }
}

TEST_F(GoTo, BoundCountsFromTheLastProgressNotFromTheStart) {
  // At a fifth of its free speed the run takes far longer than the bound,
  // but once the motor moves (after the brick's first regulation tick,
  // 101 ms) the count comes nearer every few milliseconds.
  SimBrickConfig brick;
  brick.motorLoadPercent[0] = 20;
  setUpBrick(brick);
  GoToWait wait;
  wait.noProgressLimit = std::chrono::milliseconds(300);
  EXPECT_EQ(motorGoTo(0, 100, 180, true, wait), GoToResult::kReached);
  EXPECT_GE(trace().polled.back(), 180);
}

}  // namespace
