#include "sim/sim_outputs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/little_endian.h"
#include "sim/sim_brick.h"
#include "sim/sim_trace.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const SimTime kStart = SimTime{} + std::chrono::hours(1);

SimTime at(double seconds) {
  return kStart +
         std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(seconds));
}

struct OutputState {
  int power = 0;  // signed, as set
  int mode = 0;
  int runState = 0;
  std::int32_t tacho = 0;
  std::int32_t block = 0;
  std::int32_t rotation = 0;
};

// A simulated brick driven with telegrams at made-up times (in seconds
// after power-up).
struct Bench {
  SimBrick brick;

  explicit Bench(const SimBrickConfig& config = SimBrickConfig{}) {
    simBrickReset(brick, config, kStart);
  }

  // The reply as spaced hex, 02 first; empty when the brick sends none.
  std::string send(const Bytes& telegram, double t) {
    SimReply reply;
    if (!simBrickReceive(brick, telegram.data(), telegram.size(), at(t), reply)) return "";
    return traceLine('<', reply.bytes, reply.length).substr(2);
  }

  void run(std::uint8_t port, int power, double t, std::uint32_t limit = 0) {
    Bytes telegram = {0x80, 0x04, port, static_cast<std::uint8_t>(power), 0x05, 0x01, 0x00, 0x20, 0,
                      0,    0,    0};
    nxt::writeU32(telegram.data() + 8, limit);
    send(telegram, t);
  }
  void brake(std::uint8_t port, double t) {
    send({0x80, 0x04, port, 0x00, 0x07, 0x01, 0x00, 0x20, 0, 0, 0, 0}, t);
  }
  void coast(std::uint8_t port, double t) {
    send({0x80, 0x04, port, 0, 0, 0, 0, 0, 0, 0, 0, 0}, t);
  }
  std::string reset(std::uint8_t port, bool relative, double t) {
    return send({0x00, 0x0A, port, static_cast<std::uint8_t>(relative ? 1 : 0)}, t);
  }
  std::string program(std::uint8_t opcode, const std::string& name, double t) {
    Bytes telegram = {0x00, opcode};
    if (opcode == 0x00) {
      telegram.resize(22, 0);
      std::copy(name.begin(), name.end(), telegram.begin() + 2);
    }
    return send(telegram, t);
  }

  OutputState state(std::uint8_t port, double t) {
    SimReply reply;
    const std::uint8_t telegram[] = {0x00, 0x06, port};
    EXPECT_TRUE(simBrickReceive(brick, telegram, sizeof telegram, at(t), reply));
    EXPECT_EQ(reply.length, 25u);
    const std::uint8_t* b = reply.bytes;
    auto s32 = [&](int i) { return nxt::readI32(b + i); };
    OutputState s;
    s.power = static_cast<std::int8_t>(b[4]);
    s.mode = b[5];
    s.runState = b[8];
    s.tacho = s32(13);
    s.block = s32(17);
    s.rotation = s32(21);
    return s;
  }
  std::int32_t rotation(std::uint8_t port, double t) { return state(port, t).rotation; }
};

TEST(SimOutputs, SpeedFollowsPowerAtNineDegreesPerSecondPerUnit) {
  for (int power : {100, 75, 30, 1, -50, -100}) {
    Bench bench;
    bench.run(0, power, 0.0);
    const std::int32_t oneSecond = bench.rotation(0, 1.0);
    const std::int32_t twoSeconds = bench.rotation(0, 2.0);
    EXPECT_NEAR(twoSeconds - oneSecond, power * 9, 1) << power;
    // Up to speed within the first tenth of a second.
    EXPECT_NEAR(oneSecond, power * 9, std::abs(power) * 9 * 0.1 + 1) << power;
  }
}

TEST(SimOutputs, LoadSlowsTheMotorAndZeroBlocksIt) {
  struct Case {
    std::uint8_t load;
    int degreesPerSecond;  // at power 100
  };
  for (const Case c : {Case{100, 900}, Case{50, 450}, Case{10, 90}, Case{0, 0}}) {
    SimBrickConfig config;
    config.motorLoadPercent[1] = c.load;
    Bench bench(config);
    bench.run(1, 100, 0.0);
    const std::int32_t oneSecond = bench.rotation(1, 1.0);
    EXPECT_NEAR(bench.rotation(1, 2.0) - oneSecond, c.degreesPerSecond, 1) << +c.load;
  }
}

TEST(SimOutputs, BrakedStopHaltsWithinAFewDegreesAndHolds) {
  for (int power : {100, -100, 30}) {
    Bench bench;
    bench.run(2, power, 0.0);
    const std::int32_t atBrake = bench.rotation(2, 1.0);
    bench.brake(2, 1.0);
    const std::int32_t stopped = bench.rotation(2, 1.5);
    EXPECT_LE(std::abs(stopped - atBrake), 3) << power;
    EXPECT_EQ(bench.rotation(2, 5.0), stopped) << power;
  }
}

TEST(SimOutputs, CoastingStopRunsDownThenRests) {
  Bench bench;
  bench.run(0, 100, 0.0);
  const std::int32_t atStop = bench.rotation(0, 1.0);
  bench.coast(0, 1.0);
  const std::int32_t rest = bench.rotation(0, 2.0);
  EXPECT_GE(rest - atStop, 40);
  EXPECT_LE(rest - atStop, 80);
  EXPECT_EQ(bench.rotation(0, 4.0), rest);
  EXPECT_EQ(bench.state(0, 4.0).runState, 0x00);
}

TEST(SimOutputs, MotionDoesNotDependOnHowOftenItIsRead) {
  // The same commands, read once a millisecond or only at the end.
  Bench often;
  Bench once;
  for (Bench* bench : {&often, &once}) {
    bench->run(0, 80, 0.0);
    bench->coast(0, 0.7);
    bench->run(0, -60, 0.75);
    bench->brake(0, 1.3);
    bench->run(0, 40, 1.4, 100);
  }
  for (int ms = 0; ms <= 2000; ++ms) often.rotation(0, ms / 1000.0);
  EXPECT_NEAR(often.rotation(0, 2.0), once.rotation(0, 2.0), 1);
}

TEST(SimOutputs, TachoLimitEndsTheRunByCoasting) {
  struct Case {
    int power;
    std::uint32_t limit;
  };
  for (const Case c : {Case{100, 360}, Case{-100, 360}, Case{50, 90}, Case{100, 5}}) {
    Bench bench;
    bench.run(1, c.power, 0.0, c.limit);
    EXPECT_EQ(bench.state(1, 0.001).runState, 0x20) << c.power << " " << c.limit;
    const OutputState done = bench.state(1, 3.0);
    EXPECT_EQ(done.runState, 0x00) << c.power << " " << c.limit;
    EXPECT_EQ(done.power, c.power) << "power stays as set";
    EXPECT_EQ(done.mode, 0x05);
    const std::int32_t turned = c.power > 0 ? done.rotation : -done.rotation;
    EXPECT_GE(turned, static_cast<std::int32_t>(c.limit)) << c.power << " " << c.limit;
    EXPECT_LE(turned, static_cast<std::int32_t>(c.limit) + 60) << c.power << " " << c.limit;
    EXPECT_EQ(bench.rotation(1, 5.0), done.rotation) << "at rest";
  }
}

TEST(SimOutputs, ResetMotorPositionResetsOneCounterTachoCountNever) {
  Bench bench;
  bench.run(0, 50, 0.0);
  bench.brake(0, 1.0);
  const OutputState first = bench.state(0, 1.5);
  ASSERT_GT(first.tacho, 400);
  EXPECT_EQ(first.block, first.tacho);
  EXPECT_EQ(first.rotation, first.tacho);

  EXPECT_EQ(bench.reset(0, true, 1.5), "02 0a 00");
  OutputState s = bench.state(0, 1.5);
  EXPECT_EQ(s.tacho, first.tacho);
  EXPECT_EQ(s.block, 0);
  EXPECT_EQ(s.rotation, first.tacho);

  bench.run(0, -50, 1.5);
  bench.brake(0, 2.5);
  const OutputState second = bench.state(0, 3.0);
  const std::int32_t moved = second.tacho - first.tacho;
  ASSERT_LT(moved, -400);
  EXPECT_EQ(second.block, moved);
  EXPECT_EQ(second.rotation, second.tacho);

  EXPECT_EQ(bench.reset(0, false, 3.0), "02 0a 00");
  s = bench.state(0, 3.0);
  EXPECT_EQ(s.tacho, second.tacho);
  EXPECT_EQ(s.block, moved);
  EXPECT_EQ(s.rotation, 0);
}

TEST(SimOutputs, GetOutputStateAnswersTheFirmwaresReply) {
  Bench bench;
  bench.send({0x80, 0x04, 0x01, 0xB5, 0x05, 0x01, 0x10, 0x20, 0x04, 0x03, 0x02, 0x01}, 0.0);
  EXPECT_EQ(bench.send({0x00, 0x06, 0x01}, 0.0),
            "02 06 00 01 b5 05 01 10 20 04 03 02 01 00 00 00 00 00 00 00 00 00 00 00 00");

  // The counters, little-endian: TachoCount, BlockTachoCount, RotationCount.
  SimOutput& o = bench.brick.outputs.port[2];
  o.tachoOrigin = -0x01020304;
  o.blockTachoOrigin = 2;
  o.rotationOrigin = -300;
  EXPECT_EQ(bench.send({0x00, 0x06, 0x02}, 0.0),
            "02 06 00 02 00 00 00 00 00 00 00 00 00 04 03 02 01 fe ff ff ff 2c 01 00 00");
}

TEST(SimOutputs, BadPortsAndTheNoReplyType) {
  const std::string zeros = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
  Bench bench;
  EXPECT_EQ(bench.send({0x00, 0x06, 0x03}, 0.0), "02 06 c0" + zeros);
  EXPECT_EQ(bench.send({0x00, 0x06, 0xFF}, 0.0), "02 06 c0" + zeros);
  EXPECT_EQ(bench.send({0x00, 0x04, 0x03, 0x64, 0x05, 0x01, 0, 0x20, 0, 0, 0, 0}, 0.0), "02 04 c0");
  EXPECT_EQ(bench.send({0x00, 0x0A, 0x03, 0x00}, 0.0), "02 0a c0");
  EXPECT_EQ(bench.send({0x80, 0x06, 0x00}, 0.0), "") << "a read without reply does nothing";
  EXPECT_EQ(bench.send({0x00, 0x04, 0x00, 0x64, 0x05, 0x01, 0, 0x20, 0, 0, 0, 0}, 0.0), "02 04 00");
}

TEST(SimOutputs, PortFFSetsAllThreeOutputs) {
  Bench bench;
  bench.run(0xFF, 75, 0.0);
  for (std::uint8_t port = 0; port < 3; ++port) {
    const OutputState s = bench.state(port, 1.0);
    EXPECT_EQ(s.power, 75) << +port;
    EXPECT_EQ(s.runState, 0x20) << +port;
    EXPECT_GT(s.rotation, 600) << +port;
  }
}

TEST(SimOutputs, ProgramStartAndStopMakeMotorsCoastWithCountersZero) {
  Bench bench;
  bench.run(0, 100, 0.0);
  EXPECT_EQ(bench.program(0x00, "nothere.rxe", 1.0), "02 00 c0");
  EXPECT_EQ(bench.state(0, 1.0).runState, 0x20) << "a failed start changes nothing";

  EXPECT_EQ(bench.program(0x00, "demo.rxe", 1.0), "02 00 00");
  const OutputState s = bench.state(0, 1.0);
  EXPECT_EQ(std::vector<int>({s.mode, s.power, s.runState, s.tacho, s.block, s.rotation}),
            std::vector<int>(6, 0));
  const std::int32_t runDown = bench.rotation(0, 2.0);  // from where it was
  EXPECT_GE(runDown, 40);
  EXPECT_LE(runDown, 80);

  EXPECT_EQ(bench.program(0x01, "", 3.0), "02 01 00");
  EXPECT_EQ(bench.rotation(0, 3.0), 0);
  bench.run(0, 100, 3.0);
  EXPECT_EQ(bench.program(0x01, "", 4.0), "02 01 ec") << "no program runs";
  EXPECT_EQ(bench.state(0, 4.0).runState, 0x20) << "so nothing is reset";
}

TEST(SimOutputs, LoadSurvivesProgramResetsAndPowerUp) {
  SimBrickConfig config;
  config.motorLoadPercent[2] = 0;
  Bench bench(config);
  EXPECT_EQ(bench.program(0x00, "demo.rxe", 0.0), "02 00 00");
  bench.run(2, 100, 0.0);
  EXPECT_EQ(bench.rotation(2, 1.0), 0);
  simBrickReset(bench.brick, bench.brick.config, at(1.0));
  bench.run(2, 100, 1.0);
  EXPECT_EQ(bench.rotation(2, 2.0), 0);
}

}  // namespace
