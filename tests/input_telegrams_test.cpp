#include "directcmd/input_telegrams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/transport_sim.h"

namespace {

// A scripted brick. LSGETSTATUS is answered with the bytes-ready counts of
// `bytesReady` in turn (the last one repeats), LSREAD with `distance` as
// its first data byte, GETINPUTVALUES with `scaled` in its scaled field,
// any other telegram that wants a reply with a bare success. With
// `silent` nothing is ever answered, so every response buffer keeps its
// fill.
struct Script {
  std::vector<std::uint8_t> bytesReady = {1};
  std::size_t statusQueries = 0;
  std::uint8_t distance = 0;
  std::uint8_t scaled[2] = {0, 0};
  bool silent = false;
};

bool answer(Script& script, const std::uint8_t* telegram, std::size_t length, SimReply& reply) {
  reply.length = 0;
  if (script.silent || length < 2 || (telegram[0] & nxt::kNoReplyBit) != 0) return true;
  const std::uint8_t opcode = telegram[1];
  simReplyBegin(reply, opcode, nxt::BrickStatus::kSuccess);
  switch (static_cast<nxt::Opcode>(opcode)) {
    case nxt::Opcode::kLsGetStatus: {
      const std::size_t i = std::min(script.statusQueries++, script.bytesReady.size() - 1);
      simReplyByte(reply, script.bytesReady[i]);
      break;
    }
    case nxt::Opcode::kLsRead:
      simReplyByte(reply, 1);
      simReplyByte(reply, script.distance);
      for (int i = 0; i < 15; ++i) simReplyByte(reply, 0);
      break;
    case nxt::Opcode::kGetInputValues:
      for (int i = 0; i < 9; ++i) simReplyByte(reply, 0);  // port .. normalized
      simReplyByte(reply, script.scaled[0]);
      simReplyByte(reply, script.scaled[1]);
      simReplyU16(reply, 0);
      break;
    default:
      break;
  }
  return true;
}

class InputTelegrams : public ::testing::Test {
 protected:
  // A brick that answers from `script`, or, with null, the model itself.
  void useBrick(std::shared_ptr<Script> script, bool keepTrace = true,
                SimBrickConfig config = {}) {
    SimTransportSettings settings;
    settings.keepTrace = keepTrace;
    settings.brick = config;
    if (script) {
      settings.script = [script](const std::uint8_t* t, std::size_t n, SimReply& r) {
        return answer(*script, t, n, r);
      };
    }
    ASSERT_TRUE(simTransportSetUp(settings));
    ASSERT_TRUE(linkOpenUsb());
  }

  void TearDown() override { linkClose(); }

  // What the host sent, without the "> ".
  static std::vector<std::string> sent() {
    std::vector<std::string> lines;
    for (const std::string& line : simTransportTrace().lines) {
      if (line.rfind("> ", 0) == 0) lines.push_back(line.substr(2));
    }
    return lines;
  }
};

TEST_F(InputTelegrams, EachCommandSendsItsTelegram) {
  struct Case {
    const char* name;
    std::function<void()> call;
    const char* telegram;
  };
  const Case cases[] = {
      {"touch", [] { sensorSetTouch(2); }, "80 05 02 01 20"},
      {"sound", [] { sensorSetSound(1); }, "80 05 01 07 80"},
      {"light on", [] { sensorSetLight(0, true); }, "80 05 00 05 80"},
      {"light off", [] { sensorSetLight(3, false); }, "80 05 03 06 80"},
      {"sonar", [] { sensorSetSonar(3); }, "80 05 03 0b 00"},
      {"raw", [] { sensorSetRaw(0); }, "80 05 00 07 00"},
      {"get value", [] { sensorGetValue(1); }, "00 07 01"},
      {"ls status", [] { sensorLsGetStatus(3); }, "00 0e 03"},
      {"sonar off", [] { sonarOff(3); }, "00 0f 03 03 00 02 41 00"},
      {"single shot", [] { sonarSingleShot(2); }, "00 0f 02 03 00 02 41 01"},
      {"continuous", [] { sonarContinuous(1); }, "00 0f 01 03 00 02 41 02"},
      {"interval 300", [] { sonarContinuousInterval(3, 300); }, "00 0f 03 03 00 02 40 2c"},
      {"interval -1", [] { sonarContinuousInterval(0, -1); }, "00 0f 00 03 00 02 40 ff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    useBrick(std::make_shared<Script>());
    c.call();
    EXPECT_EQ(sent(), std::vector<std::string>{c.telegram});
    linkClose();
  }
}

TEST_F(InputTelegrams, GetValueDecodesUnsignedScaledValue) {
  struct Case {
    std::uint8_t low, high;
    std::uint16_t value;
  };
  for (const Case c : {Case{0x34, 0x12, 4660}, Case{0xff, 0xff, 65535}, Case{0x00, 0x80, 32768}}) {
    auto script = std::make_shared<Script>();
    script->scaled[0] = c.low;
    script->scaled[1] = c.high;
    useBrick(script);
    EXPECT_EQ(sensorGetValue(0), c.value);
    linkClose();
  }
}

TEST_F(InputTelegrams, UntouchedBuffersDecodeFromTheFill) {
  auto script = std::make_shared<Script>();
  script->silent = true;
  useBrick(script);
  EXPECT_EQ(sensorGetValue(2), 257);
  EXPECT_EQ(sensorLsGetStatus(2), 1);
  // The fill reports one byte ready, so the wait ends after one pass and
  // the byte read is the fill too.
  const SonarReading reading = sonarGetValue(2);
  EXPECT_FALSE(reading.timedOut);
  EXPECT_EQ(reading.distance, 1);
  EXPECT_EQ(reading.passes, 1u);
}

TEST_F(InputTelegrams, LsGetStatusIsUnsigned) {
  auto script = std::make_shared<Script>();
  script->bytesReady = {200};
  useBrick(script);
  EXPECT_EQ(sensorLsGetStatus(1), 200);
}

TEST_F(InputTelegrams, SonarPollsUntilAByteIsReady) {
  const std::string write = "00 0f 03 03 00 02 41 02";
  const std::string request = "00 0f 03 02 01 02 42";
  const std::string status = "00 0e 03";
  const std::string read = "00 10 03";
  struct Case {
    std::vector<std::uint8_t> bytesReady;
    std::vector<std::string> telegrams;
  };
  const Case cases[] = {
      {{0, 1}, {write, request, status, request, status, read}},
      {{2}, {write, request, status, read}},
      {{0, 0, 0, 16}, {write, request, status, request, status, request, status, request, status,
                       read}},
  };
  for (const Case& c : cases) {
    auto script = std::make_shared<Script>();
    script->bytesReady = c.bytesReady;
    script->distance = 200;
    useBrick(script);
    const SonarReading reading = sonarGetValue(3);
    EXPECT_FALSE(reading.timedOut);
    EXPECT_EQ(reading.distance, 200);
    EXPECT_EQ(sent(), c.telegrams);
    linkClose();
  }
}

TEST_F(InputTelegrams, SonarWaitEndsAtItsLimitWithoutReading) {
  auto script = std::make_shared<Script>();
  script->bytesReady = {0};
  useBrick(script);
  const SonarReading reading = sonarGetValue(1, std::chrono::milliseconds(20));
  EXPECT_TRUE(reading.timedOut);
  EXPECT_GE(reading.passes, 1u);
  const std::vector<std::string> telegrams = sent();
  ASSERT_EQ(telegrams.size(), 1 + 2 * reading.passes);
  EXPECT_EQ(telegrams.back(), "00 0e 01");
}

// The same operations against the simulated brick's own model.
TEST_F(InputTelegrams, SonarAgainstTheModel) {
  SimBrickConfig config;
  config.sonarCm[3] = 42;
  useBrick(nullptr, false, config);
  sensorSetSonar(3);
  const SonarReading seen = sonarGetValue(3);
  EXPECT_FALSE(seen.timedOut);
  EXPECT_EQ(seen.distance, 42);

  // A low-speed port with nothing on it, and a port not set up at all.
  sensorSetSonar(1);
  EXPECT_TRUE(sonarGetValue(1, std::chrono::milliseconds(40)).timedOut);
  EXPECT_TRUE(sonarGetValue(2, std::chrono::milliseconds(40)).timedOut);
}

}  // namespace
