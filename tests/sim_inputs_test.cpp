#include "sim/sim_inputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim_brick.h"
#include "sim/sim_trace.h"
#include "sim_test_support.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// The firmware model driven with synthetic times: every telegram is given
// as spaced hex, type byte first, at a time counted from power-up.
class SimInputModel : public ::testing::Test {
 protected:
  void powerUp() { simBrickReset(brick, config, t0); }

  // The reply as spaced hex from 0x02 on, or "" for none.
  std::string send(const std::string& hex, microseconds at = microseconds(0)) {
    return brickReply(brick, bytesOf(hex), t0 + at);
  }

  const SimTime t0 = kSimStart;
  SimBrickConfig config;
  SimBrick brick;
};

microseconds ms(double value) { return microseconds(std::lround(value * 1000)); }

TEST(SimInputValues, NormalizedAndScaledByTypeAndMode) {
  struct Case {
    std::uint8_t type, mode;
    std::uint16_t raw;
    std::int16_t scaled;
  };
  const Case cases[] = {
      {nxt::kSensorSwitch, nxt::kSensorModeBoolean, 460, 1},
      {nxt::kSensorSwitch, nxt::kSensorModeBoolean, 461, 0},
      {nxt::kSensorLightActive, nxt::kSensorModePercentFullScale, 500, 56},
      {nxt::kSensorLightInactive, nxt::kSensorModePercentFullScale, 1023, 0},
      {nxt::kSensorLightActive, nxt::kSensorModeBoolean, 900, 1},  // dark reads 1
      {nxt::kSensorSoundDb, nxt::kSensorModePercentFullScale, 162, 100},
      {nxt::kSensorSoundDb, nxt::kSensorModeRaw, 512, 602},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "type " << int{c.type} << " mode " << int{c.mode} << " raw " << c.raw);
    EXPECT_EQ(simScale(c.mode, simNormalize(c.type, c.raw)), c.scaled);
  }
}

TEST_F(SimInputModel, GetInputValuesKeepsOldValuesUntilValid) {
  config.sensorRaw[1] = 183;
  powerUp();
  // No sensor type computes nothing: the values of power-up, 0.
  EXPECT_EQ(send("00 07 01", ms(5)), "02 07 00 01 01 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(send("00 05 01 01 20", ms(10)), "02 05 00");
  // port, valid, calibrated, type, mode, raw, normalized, scaled, calibrated
  EXPECT_EQ(send("00 07 01", ms(29)), "02 07 00 01 00 00 01 20 00 00 00 00 00 00 00 00");
  EXPECT_EQ(send("00 07 01", ms(30)), "02 07 00 01 01 00 01 20 b7 00 b7 00 01 00 b7 00");
  // A reading that changes while the data are valid shows at once.
  brick.config.sensorRaw[1] = 1023;
  EXPECT_EQ(send("00 07 01", ms(31)), "02 07 00 01 01 00 01 20 ff 03 ff 03 00 00 ff 03");
  // A type change keeps the values of the type before through its window;
  // so does a change back to no sensor, for good.
  send("00 05 01 05 80", ms(40));
  brick.config.sensorRaw[1] = 183;
  EXPECT_EQ(send("00 07 01", ms(59)), "02 07 00 01 00 00 05 80 ff 03 ff 03 00 00 ff 03");
  send("00 05 01 00 00", ms(100));
  EXPECT_EQ(send("00 07 01", ms(200)), "02 07 00 01 01 00 00 00 b7 00 ff 03 64 00 ff 03");
}

TEST_F(SimInputModel, InvalidWindowDependsOnWhatChanged) {
  struct Step {
    const char* telegram;
    double atMs;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    double validFromMs;
  };
  const Case cases[] = {
      {"type change", {{"00 05 00 00 00", 0}, {"00 05 00 05 80", 100}}, 120},
      {"to sound", {{"00 05 00 00 00", 0}, {"00 05 00 07 80", 100}}, 400},
      {"mode only", {{"00 05 00 05 00", 0}, {"00 05 00 05 80", 100}}, 101},
      // A mode change does not shorten a type change's window.
      {"mode in a type change", {{"00 05 00 05 00", 99}, {"00 05 00 05 80", 100}}, 119},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    powerUp();
    for (const Step& step : c.steps) send(step.telegram, ms(step.atMs));
    EXPECT_EQ(bytesOf(send("00 07 00", ms(c.validFromMs - 0.5)))[4], 0);
    EXPECT_EQ(bytesOf(send("00 07 00", ms(c.validFromMs)))[4], 1);
  }
}

TEST_F(SimInputModel, BadPortIsOutOfRange) {
  powerUp();
  EXPECT_EQ(send("00 05 04 01 20"), "02 05 c0");
  EXPECT_EQ(send("00 07 04"), "02 07 c0" + zeros(13));
  EXPECT_EQ(send("00 0e 04"), "02 0e c0");
  EXPECT_EQ(send("00 0f 04 02 01 02 42"), "02 0f c0");
  EXPECT_EQ(send("00 10 ff"), "02 10 c0");
}

TEST_F(SimInputModel, LowSpeedStatusesWithoutASensor) {
  config.sonarCm[2] = 30;  // on port 2, which stays LOWSPEED without 9 V
  powerUp();
  // Not a low-speed type.
  EXPECT_EQ(send("00 0f 00 02 01 02 42"), "02 0f e0");
  EXPECT_EQ(send("00 0e 00"), "02 0e e0 00");
  // LOWSPEED_9V with nothing plugged in: not ready at first, then four
  // tries without an acknowledge (11 ms) and a bus error until the next
  // LSWRITE.
  send("00 05 01 0b 00");
  EXPECT_EQ(send("00 0f 01 02 01 02 42", ms(19.9)), "02 0f e0");
  EXPECT_EQ(send("00 0f 01 02 01 02 42", ms(20)), "02 0f 00");
  EXPECT_EQ(send("00 0e 01", ms(21)), "02 0e 20 00");
  EXPECT_EQ(send("00 0f 01 02 01 02 42", ms(21)), "02 0f e0");
  EXPECT_EQ(send("00 0e 01", ms(30.9)), "02 0e 20 00");
  EXPECT_EQ(send("00 0e 01", ms(31)), "02 0e dd 00");
  EXPECT_EQ(send("00 0f 01 02 01 02 42", ms(31)), "02 0f 00");
  EXPECT_EQ(send("00 0e 01", ms(32)), "02 0e 20 00");
  // The sensor needs the 9 V supply: on plain LOWSPEED it never answers.
  send("00 05 02 0a 00", ms(40));
  EXPECT_EQ(send("00 0f 02 02 01 02 42", ms(100)), "02 0f 00");
  EXPECT_EQ(send("00 0e 02", ms(111)), "02 0e dd 00");
  // A bus in error takes an LSWRITE whatever the port's type, and fails
  // again; the error outlives type changes.
  send("00 05 02 01 00", ms(120));
  EXPECT_EQ(send("00 0e 02", ms(150)), "02 0e e0 00");
  EXPECT_EQ(send("00 0f 02 02 01 02 42", ms(150)), "02 0f 00");
  send("00 05 02 0a 00", ms(160));
  EXPECT_EQ(send("00 0e 02", ms(180)), "02 0e dd 00");
  // Lengths over 16.
  EXPECT_EQ(send("00 0f 01 11 00 02", ms(180)), "02 0f ed");
  EXPECT_EQ(send("00 0f 01 02 11 02 42", ms(180)), "02 0f ed");
}

TEST_F(SimInputModel, SonarDistanceReadTakesMilliseconds) {
  config.sonarCm[3] = 37;
  powerUp();
  send("00 05 03 0b 00");
  EXPECT_EQ(send("00 0e 03", ms(10)), "02 0e e0 00");
  // Not answering in its first 50 ms after power-up.
  EXPECT_EQ(send("00 0f 03 02 01 02 42", ms(20)), "02 0f 00");
  EXPECT_EQ(send("00 0e 03", ms(31)), "02 0e dd 00");
  // Init and load passes, 4 bytes on the wire: the byte is in at 55.4 ms,
  // the bus idle a pass later. Bytes ready while pending are handed over
  // with status 0x00.
  EXPECT_EQ(send("00 0f 03 02 01 02 42", ms(50)), "02 0f 00");
  EXPECT_EQ(send("00 0e 03", ms(55.3)), "02 0e 20 00");
  EXPECT_EQ(send("00 10 03", ms(55.3)), "02 10 20 00" + zeros(16));
  EXPECT_EQ(send("00 0e 03", ms(55.4)), "02 0e 20 01");
  EXPECT_EQ(send("00 10 03", ms(55.5)), "02 10 00 01 25" + zeros(15));
  EXPECT_EQ(send("00 0e 03", ms(56.4)), "02 0e 00 00");
  EXPECT_EQ(send("00 10 03", ms(56.4)), "02 10 00 00" + zeros(16));

  // Bytes pile up until LSREAD takes them; an LSREAD without a reply
  // takes nothing, and neither do the other reads without one.
  send("00 0f 03 02 01 02 42", ms(60));
  send("00 0f 03 02 01 02 42", ms(70));
  EXPECT_EQ(send("80 10 03", ms(80)), "");
  EXPECT_EQ(send("80 0e 03", ms(80)), "");
  EXPECT_EQ(send("80 07 03", ms(80)), "");
  EXPECT_EQ(send("00 0e 03", ms(80)), "02 0e 00 02");
  EXPECT_EQ(send("00 10 03", ms(80)), "02 10 00 02 25 25" + zeros(14));
}

TEST_F(SimInputModel, ReceiveBufferIsCircularAndErrorsKeepTheBytes) {
  config.sonarCm[0] = 37;
  powerUp();
  send("00 05 00 0b 00");
  // 16 bytes piled up read as none ready; the 17th as one.
  send("00 0f 00 02 08 02 42", ms(60));
  send("00 0f 00 02 08 02 42", ms(80));
  EXPECT_EQ(send("00 0e 00", ms(100)), "02 0e 00 00");
  send("00 0f 00 02 01 02 42", ms(100));
  EXPECT_EQ(send("00 10 00", ms(110)), "02 10 00 01 25" + zeros(15));
  // A byte ready, then a transfer that nobody acknowledges: 0xDD with the
  // count, a reply short by the bytes ready, and the byte stays.
  send("00 0f 00 02 01 02 42", ms(120));
  send("00 0f 00 02 01 04 42", ms(130));
  EXPECT_EQ(send("00 0e 00", ms(145)), "02 0e dd 01");
  EXPECT_EQ(send("00 10 00", ms(145)), "02 10 dd 01" + zeros(15));
  // A type change in the middle of a transfer is a bus error; it and the
  // byte outlive the change back.
  EXPECT_EQ(send("00 0f 00 02 01 02 42", ms(150)), "02 0f 00");
  send("00 05 00 01 00", ms(152));
  send("00 05 00 0b 00", ms(160));
  EXPECT_EQ(send("00 10 00", ms(180)), "02 10 dd 01" + zeros(15));
  // Once the sensor answers again, the next transfer adds its byte.
  send("00 0f 00 02 01 02 42", ms(220));
  EXPECT_EQ(send("00 10 00", ms(230)), "02 10 00 02 25 25" + zeros(14));
}

TEST_F(SimInputModel, SonarRegisters) {
  config.sonarCm[0] = 37;
  powerUp();
  send("00 05 00 0b 00");
  // Reads one register block at `atMs`: its bytes as text or hex.
  auto readRegisters = [&](const std::string& reg, int count, double atMs) {
    char request[32];
    std::snprintf(request, sizeof request, "00 0f 00 02 %02x 02 %s", count, reg.c_str());
    EXPECT_EQ(send(request, ms(atMs)), "02 0f 00");
    const std::vector<std::uint8_t> reply = bytesOf(send("00 10 00", ms(atMs + 15)));
    return std::vector<std::uint8_t>(reply.begin() + 4, reply.begin() + 4 + count);
  };
  auto text = [](const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
  };
  EXPECT_EQ(text(readRegisters("00", 8, 60)), "V1.0");
  EXPECT_EQ(text(readRegisters("08", 8, 80)), "LEGO");
  EXPECT_EQ(text(readRegisters("10", 8, 100)), "Sonar");
  EXPECT_EQ(text(readRegisters("14", 8, 120)), "10E-2m");

  // Interval and command read back what was written; continuous is the
  // power-up state.
  EXPECT_EQ(readRegisters("41", 1, 140), std::vector<std::uint8_t>{0x02});
  EXPECT_EQ(send("00 0f 00 03 00 02 40 2c", ms(160)), "02 0f 00");
  EXPECT_EQ(readRegisters("40", 1, 170), std::vector<std::uint8_t>{0x2c});

  // Single shot: the echoes are stored 20 ms after the command and stay.
  EXPECT_EQ(send("00 0f 00 03 00 02 41 01", ms(240)), "02 0f 00");
  const std::vector<std::uint8_t> before = readRegisters("42", 8, 246);
  EXPECT_EQ(before, (std::vector<std::uint8_t>{37, 0, 0, 0, 0, 0, 0, 0}));
  brick.config.sonarCm[0] = 90;
  const std::vector<std::uint8_t> shot = readRegisters("42", 8, 270);
  EXPECT_EQ(shot, (std::vector<std::uint8_t>{90, 255, 255, 255, 255, 255, 255, 255}));
  brick.config.sonarCm[0] = 120;
  EXPECT_EQ(readRegisters("42", 1, 340), std::vector<std::uint8_t>{90});

  // Off: no pings, the distance stays. Continuous again: a ping within
  // 15 ms; nothing in sight reads 255.
  send("00 0f 00 03 00 02 41 00", ms(440));
  EXPECT_EQ(readRegisters("42", 1, 540), std::vector<std::uint8_t>{90});
  brick.config.sonarCm[0] = 255;
  send("00 0f 00 03 00 02 41 02", ms(640));
  EXPECT_EQ(readRegisters("42", 1, 660), std::vector<std::uint8_t>{255});
}

TEST_F(SimInputModel, ProgramStartAndStopResetTheInputs) {
  config.sensorRaw[0] = 183;
  config.sonarCm[3] = 37;
  powerUp();
  const std::string demo = "00 00" + nameField("demo.rxe");
  const std::string missing = "00 00" + nameField("none");
  struct Case {
    const char* name;
    std::string telegram;
    bool resets;
  };
  const Case cases[] = {
      {"missing program", missing, false},
      {"start", demo, true},
      {"stop", "00 01", true},
      {"stop with none running", "00 01", false},
  };
  double t = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    send("00 05 00 01 20", ms(t));
    send("00 05 03 0b 00", ms(t));
    send("00 0f 03 02 01 02 42", ms(t + 60));
    send(c.telegram, ms(t + 70));
    // Type, mode and raw value of port 0, and the bytes ready on port 3.
    const std::vector<std::uint8_t> values = bytesOf(send("00 07 00", ms(t + 80)));
    EXPECT_EQ(values[6], c.resets ? 0x00 : 0x01);
    EXPECT_EQ(values[7], c.resets ? 0x00 : 0x20);
    EXPECT_EQ(values[8], c.resets ? 0x00 : 0xb7);
    EXPECT_EQ(send("00 0e 03", ms(t + 80)), c.resets ? "02 0e e0 00" : "02 0e 00 01");
    send("00 10 03", ms(t + 80));
    t += 100;
  }
}

}  // namespace
