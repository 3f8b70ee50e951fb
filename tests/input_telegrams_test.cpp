#include "directcmd/input_telegrams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/transport_sim.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

// A scripted brick: answers each opcode with its replies in turn, the last
// one repeating, given as spaced hex from the leading 0x02 on. An opcode
// without replies, and any telegram of the no-reply type, gets no answer,
// so its response buffer keeps its 0x01 fill.
struct Script {
  std::map<std::uint8_t, Lines> replies;
  std::map<std::uint8_t, std::size_t> answered;
};

class InputTelegrams : public SimLinkTest {
 protected:
  void useBrick(std::map<std::uint8_t, Lines> replies = {}) {
    auto script = std::make_shared<Script>();
    script->replies = std::move(replies);
    settings.script = [script](const std::uint8_t* telegram, std::size_t, SimReply& reply) {
      reply.length = 0;
      const Lines& answers = script->replies[telegram[1]];
      if ((telegram[0] & nxt::kNoReplyBit) != 0 || answers.empty()) return true;
      const std::size_t i = std::min(script->answered[telegram[1]]++, answers.size() - 1);
      for (std::uint8_t byte : bytesOf(answers[i])) simReplyByte(reply, byte);
      return true;
    };
    freshLink();
    ASSERT_TRUE(linkOpenUsb());
  }
};

constexpr std::uint8_t kGetInputValues = 0x07, kLsGetStatus = 0x0e, kLsWrite = 0x0f, kLsRead = 0x10;
const std::string kLsWriteDone = "02 0f 00";
const std::string kLsRead200 = "02 10 00 01 c8 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

TEST_F(InputTelegrams, EachCommandSendsItsTelegram) {
  struct Case {
    std::function<void()> call;
    const char* telegram;
  };
  const Case cases[] = {
      {[] { sensorSetTouch(2); }, "80 05 02 01 20"},
      {[] { sensorSetSound(1); }, "80 05 01 07 80"},
      {[] { sensorSetLight(0, true); }, "80 05 00 05 80"},
      {[] { sensorSetLight(3, false); }, "80 05 03 06 80"},
      {[] { sensorSetSonar(3); }, "80 05 03 0b 00"},
      {[] { sensorSetRaw(0); }, "80 05 00 07 00"},
      {[] { sensorGetValue(1); }, "00 07 01"},
      {[] { sensorLsGetStatus(3); }, "00 0e 03"},
      {[] { sonarOff(3); }, "00 0f 03 03 00 02 41 00"},
      {[] { sonarSingleShot(2); }, "00 0f 02 03 00 02 41 01"},
      {[] { sonarContinuous(1); }, "00 0f 01 03 00 02 41 02"},
      {[] { sonarContinuousInterval(3, 300); }, "00 0f 03 03 00 02 40 2c"},
      {[] { sonarContinuousInterval(0, -1); }, "00 0f 00 03 00 02 40 ff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.telegram);
    useBrick({{kLsWrite, {kLsWriteDone}}});
    c.call();
    EXPECT_EQ(hostTelegrams(), Lines{c.telegram});
    linkClose();
  }
}

TEST_F(InputTelegrams, QueriesDecodeFixedOffsetsUnsigned) {
  useBrick({{kGetInputValues,
             {"02 07 00 00 01 00 01 20 00 00 00 00 34 12 00 00",
              "02 07 00 00 01 00 01 20 00 00 00 00 ff ff 00 00"}},
            {kLsGetStatus, {"02 0e 00 c8"}}});
  EXPECT_EQ(sensorGetValue(0), 4660);
  EXPECT_EQ(sensorGetValue(0), 65535);
  EXPECT_EQ(sensorLsGetStatus(0), 200);
}

TEST_F(InputTelegrams, NoReplyGivesNoValue) {
  useBrick();
  EXPECT_EQ(sensorGetValue(2), std::nullopt);
  EXPECT_EQ(sensorLsGetStatus(2), std::nullopt);
  EXPECT_FALSE(sonarOff(2));
  // Not even the first LSWRITE is answered: no pass, and no value.
  const SonarReading reading = sonarGetValue(2);
  EXPECT_TRUE(reading.timedOut);
  EXPECT_EQ(reading.passes, 0u);
}

TEST_F(InputTelegrams, SonarTakesOnlyAReadOfStatusZeroWithAByte) {
  // The bus is not ready (0xE0, one byte counted, 20 - 1 bytes long), then
  // a read of no byte, then the distance.
  Lines reads = {"02 10 e0 01", "02 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                 kLsRead200};
  for (int i = 0; i < 15; ++i) reads[0] += " 00";
  useBrick({{kLsWrite, {kLsWriteDone}}, {kLsGetStatus, {"02 0e 00 01"}}, {kLsRead, reads}});
  const SonarReading reading = sonarGetValue(3);
  EXPECT_FALSE(reading.timedOut);
  EXPECT_EQ(reading.distanceCm, 200);
  EXPECT_EQ(reading.passes, 3u);
}

TEST_F(InputTelegrams, SonarPollsUntilAByteIsReady) {
  const std::string write = "00 0f 03 03 00 02 41 02";
  const std::string request = "00 0f 03 02 01 02 42";
  const std::string status = "00 0e 03";
  const std::string read = "00 10 03";
  struct Case {
    Lines statusReplies;
    Lines telegrams;
  };
  const Case cases[] = {
      // The second status query is the first to report a byte.
      {{"02 0e 20 00", "02 0e 00 01"}, {write, request, status, request, status, read}},
      {{"02 0e 00 02"}, {write, request, status, read}},
      {{"02 0e e0 00", "02 0e 20 00", "02 0e dd 00", "02 0e 00 10"},
       {write, request, status, request, status, request, status, request, status, read}},
  };
  for (const Case& c : cases) {
    useBrick(
        {{kLsWrite, {kLsWriteDone}}, {kLsGetStatus, c.statusReplies}, {kLsRead, {kLsRead200}}});
    const SonarReading reading = sonarGetValue(3);
    EXPECT_FALSE(reading.timedOut);
    EXPECT_EQ(reading.distanceCm, 200);
    EXPECT_EQ(hostTelegrams(), c.telegrams);
    linkClose();
  }
}

TEST_F(InputTelegrams, SonarWaitEndsAtItsLimitWithoutReading) {
  useBrick({{kLsWrite, {"02 0f e0"}}, {kLsGetStatus, {"02 0e e0 00"}}, {kLsRead, {kLsRead200}}});
  const SonarReading reading = sonarGetValue(1, std::chrono::milliseconds(20));
  EXPECT_TRUE(reading.timedOut);
  EXPECT_GE(reading.passes, 1u);
  const Lines telegrams = hostTelegrams();
  ASSERT_EQ(telegrams.size(), 1 + 2 * reading.passes);
  EXPECT_EQ(telegrams.back(), "00 0e 01");
}

}  // namespace
