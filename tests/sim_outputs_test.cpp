#include "sim/sim_outputs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/little_endian.h"
#include "sim/sim_brick.h"
#include "sim/sim_trace.h"
#include "sim_test_support.h"

namespace {

struct OutputState {
  int power = 0;  // signed, as set
  int mode = 0;
  int turn = 0;
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
    simBrickReset(brick, config, kSimStart);
  }

  // The reply as spaced hex, 02 first; empty when the brick sends none.
  std::string send(const Bytes& telegram, double t) {
    return brickReply(brick, telegram, simAt(t));
  }

  // SETOUTPUTSTATE with MOTORON|REGULATED: `regulation` 1 speed, 2 sync.
  void set(std::uint8_t port, int power, int regulation, int turn, std::uint8_t runState,
           std::uint32_t limit, double t) {
    Bytes telegram = {0x80,
                      0x04,
                      port,
                      static_cast<std::uint8_t>(power),
                      0x05,
                      static_cast<std::uint8_t>(regulation),
                      static_cast<std::uint8_t>(turn),
                      runState,
                      0,
                      0,
                      0,
                      0};
    nxt::writeU32(telegram.data() + 8, limit);
    send(telegram, t);
  }
  void run(std::uint8_t port, int power, double t, std::uint32_t limit = 0) {
    set(port, power, 0x01, 0, 0x20, limit, t);
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
    return send(opcode == 0x00 ? withName({0x00, opcode}, name) : Bytes{0x00, opcode}, t);
  }

  // B and C synchronised, as a client library sets a pair: B, then C.
  void sync(int power, int turn, double t, std::uint32_t limit = 0) {
    set(1, power, 0x02, turn, 0x20, limit, t);
    set(2, power, 0x02, turn, 0x20, limit, t);
  }

  OutputState state(std::uint8_t port, double t) {
    SimReply reply;
    const std::uint8_t telegram[] = {0x00, 0x06, port};
    EXPECT_TRUE(simBrickReceive(brick, telegram, sizeof telegram, simAt(t), reply));
    EXPECT_EQ(reply.length, 25u);
    const std::uint8_t* b = reply.bytes;
    auto s32 = [&](int i) { return nxt::readI32(b + i); };
    OutputState s;
    s.power = static_cast<std::int8_t>(b[4]);
    s.mode = b[5];
    s.turn = static_cast<std::int8_t>(b[7]);
    s.runState = b[8];
    s.tacho = s32(13);
    s.block = s32(17);
    s.rotation = s32(21);
    return s;
  }
  std::int32_t rotation(std::uint8_t port, double t) { return state(port, t).rotation; }
};

// Degrees a second over the second and third seconds of a run.
double steadySpeed(Bench& bench, std::uint8_t port, int power) {
  bench.run(port, power, 0.0);
  const std::int32_t oneSecond = bench.rotation(port, 1.0);
  return (bench.rotation(port, 3.0) - oneSecond) / 2.0;
}

TEST(SimOutputs, RegulatedSpeedIsTenDegreesPerSecondPerUnitUntilSaturation) {
  // The regulator holds power counts per 101 ms tick: 9.9 x power, 1 %
  // below 10 x power; tolerance 3 %. At full drive the motor turns 0.111
  // deg/s per millivolt times its load percent.
  struct Case {
    int power;
    std::uint16_t millivolts;
    std::uint8_t load;
    double degreesPerSecond;
  };
  const Case cases[] = {
      {25, 8100, 100, 250}, {50, 8100, 100, 500},  {75, 8100, 100, 750},  {-50, 8100, 100, -500},
      {85, 9000, 100, 850}, {100, 9000, 100, 999}, {100, 8100, 100, 899}, {-100, 8100, 100, -899},
      {85, 7200, 100, 799}, {25, 8100, 50, 250},   {100, 8100, 50, 450},  {50, 8100, 70, 500},
      {75, 8100, 70, 630},
  };
  for (const Case& c : cases) {
    SimBrickConfig config;
    config.batteryMillivolts = c.millivolts;
    config.motorLoadPercent[1] = c.load;
    Bench bench(config);
    EXPECT_NEAR(steadySpeed(bench, 1, c.power), c.degreesPerSecond,
                std::abs(c.degreesPerSecond) * 0.03)
        << c.power << " at " << c.millivolts << " mV, load " << +c.load;
  }
}

TEST(SimOutputs, BatteryInForceSetsTheFreeSpeed) {
  // 0.111 deg/s per millivolt at full drive, from the level set at power-up
  // or changed while serving (the next telegram brings it to the motors).
  struct Case {
    std::uint16_t atStart, whileServing;
    double degreesPerSecond;  // power 100 over the second and third seconds
  };
  const Case cases[] = {{4000, 4000, 444}, {8100, 8100, 899}, {9000, 9000, 990},
                        {8100, 4000, 444}, {4000, 9000, 990}, {9000, 7200, 799}};
  for (const Case& c : cases) {
    SimBrickConfig config;
    config.batteryMillivolts = c.atStart;
    Bench bench(config);
    bench.brick.config.batteryMillivolts = c.whileServing;
    EXPECT_NEAR(steadySpeed(bench, 0, 100), c.degreesPerSecond, c.degreesPerSecond * 0.02)
        << c.atStart << " then " << c.whileServing << " mV";
  }
}

TEST(SimOutputs, SpeedNeverFallsAsTheVoltageRisesAndNeverSwings) {
  // Every level the brick can be given, up to a power supply's and beyond:
  // the drivers pass at most 10.5 V, so the regulator keeps its grip.
  for (int power : {30, 100}) {
    double previous = 0;
    for (std::uint16_t mv : {0, 2000, 7200, 9000, 10500, 14166, 20000, 65535}) {
      SimBrickConfig config;
      config.batteryMillivolts = mv;
      Bench bench(config);
      const double speed = steadySpeed(bench, 0, power);
      EXPECT_GE(speed, previous * 0.98) << power << " at " << mv << " mV";
      previous = speed;
      std::int32_t before = bench.rotation(0, 3.0);
      for (int tick = 1; tick <= 10; ++tick) {
        const std::int32_t now = bench.rotation(0, 3.0 + tick * 0.101);
        EXPECT_NEAR(now - before, speed * 0.101, 4 + speed * 0.02) << power << " at " << mv;
        before = now;
      }
    }
  }
}

TEST(SimOutputs, DriveStartsAtTheFirstRegulationTick) {
  // Power 75 from rest: nothing for 101 ms, then about 96 % drive.
  struct Case {
    double t;
    std::int32_t low, high;
  };
  const Case cases[] = {{0.05, 0, 0}, {0.1, 0, 0}, {0.15, 25, 40}, {0.2, 71, 90}, {1.0, 654, 734}};
  Bench bench;
  bench.run(0, 75, 0.0);
  for (const Case& c : cases) {
    const std::int32_t count = bench.rotation(0, c.t);
    EXPECT_GE(count, c.low) << c.t;
    EXPECT_LE(count, c.high) << c.t;
  }
}

TEST(SimOutputs, ReversalKeepsTheOldDriveUntilTheNextTick) {
  Bench bench;
  bench.run(0, 75, 0.0);
  bench.run(0, -75, 1.011);  // just after the tick at 1.010 s
  const std::int32_t reversed = bench.rotation(0, 1.011);
  EXPECT_GE(bench.rotation(0, 1.1) - reversed, 50) << "still driven forward";
  const std::int32_t later = bench.rotation(0, 1.2);
  EXPECT_LT(bench.rotation(0, 1.4), later) << "then hard back";
}

TEST(SimOutputs, BlockedMotorStaysBlocked) {
  SimBrickConfig config;
  config.motorLoadPercent[2] = 0;
  Bench bench(config);
  bench.run(2, 100, 0.0);
  EXPECT_EQ(bench.rotation(2, 2.0), 0);
  bench.brake(2, 2.0);
  EXPECT_EQ(bench.rotation(2, 3.0), 0);
}

TEST(SimOutputs, BrakedStopPeaksThenPullsBackAndHolds) {
  // Peak 6 to 26 degrees past the brake point, then back and held within
  // 3 degrees of it (the regulator's 2 counts, and the count's degree),
  // still from 0.2 to 0.4 s after the brake at power 75, whatever the
  // moment of the regulator's cycle the brake comes at.
  struct Case {
    int power;
    double brakeAt;
  };
  for (const Case c : {Case{50, 1.0}, Case{75, 1.0}, Case{75, 1.033}, Case{75, 1.066},
                       Case{100, 1.0}, Case{-100, 1.0}}) {
    Bench bench;
    bench.run(2, c.power, 0.0);
    const std::int32_t atBrake = bench.rotation(2, c.brakeAt);
    bench.brake(2, c.brakeAt);
    int peak = 0;
    int settledMs = 0;  // the last millisecond it moved or was more than 3 away
    std::int32_t last = atBrake;
    for (int ms = 1; ms <= 1000; ++ms) {
      const std::int32_t count = bench.rotation(2, c.brakeAt + ms / 1000.0);
      const int past = (count - atBrake) * (c.power > 0 ? 1 : -1);
      peak = std::max(peak, past);
      if (count != last || std::abs(past) > 3) settledMs = ms;
      last = count;
    }
    EXPECT_GE(peak, 6) << c.power;
    EXPECT_LE(peak, 26) << c.power;
    EXPECT_LE(settledMs, c.power == 75 ? 400 : 450) << c.power << " at " << c.brakeAt;
    if (c.power == 75) {
      EXPECT_GE(settledMs, 200) << c.brakeAt;
    }
    EXPECT_EQ(bench.rotation(2, c.brakeAt + 4.0), last) << c.power;
  }
}

TEST(SimOutputs, CoastingStopRunsDownThenRests) {
  struct Case {
    int power;
    std::int32_t low, high;  // degrees past the stop point
  };
  for (const Case c : {Case{75, 34, 64}, Case{100, 58, 93}, Case{-100, 58, 93}}) {
    Bench bench;
    bench.run(0, c.power, 0.0);
    const std::int32_t atStop = bench.rotation(0, 1.0);
    bench.coast(0, 1.0);
    const std::int32_t rest = bench.rotation(0, 2.0);
    const std::int32_t past = (rest - atStop) * (c.power > 0 ? 1 : -1);
    EXPECT_GE(past, c.low) << c.power;
    EXPECT_LE(past, c.high) << c.power;
    EXPECT_EQ(bench.rotation(0, 4.0), rest) << c.power;
    EXPECT_EQ(bench.state(0, 4.0).runState, 0x00) << c.power;
  }
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
  for (int us = 0; us <= 2000000; us += 250) often.rotation(0, us / 1e6);
  EXPECT_EQ(often.rotation(0, 2.0), once.rotation(0, 2.0));
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
    EXPECT_LE(turned, static_cast<std::int32_t>(c.limit) + 100) << c.power << " " << c.limit;
    EXPECT_EQ(bench.rotation(1, 5.0), done.rotation) << "at rest";
  }
}

TEST(SimOutputs, SyncPairKeepsInStepOrInTheTurnRatiosShare) {
  // At ratio 0 the pair's block counts stay together, the loaded motor
  // driven harder; at a ratio the second motor (C) gains twice the ratio's
  // share of the power each 101 ms tick (counts), the leader (B) at a
  // negative one; neither is driven beyond its power, so at 100, where that
  // is more than they can, they turn against each other at their power.
  struct Case {
    int power, turn;
    int loadedPort;  // 60 %, -1 for none
  };
  const Case cases[] = {{75, 0, -1}, {75, 0, 2},    {50, 0, 1},   {50, 50, -1},
                        {75, 50, 2}, {75, 100, -1}, {75, -50, -1}};
  for (const Case& c : cases) {
    SimBrickConfig config;
    if (c.loadedPort >= 0) config.motorLoadPercent[c.loadedPort] = 60;
    Bench bench(config);
    bench.sync(c.power, c.turn, 0.0);
    const std::string what = std::to_string(c.power) + " turn " + std::to_string(c.turn) +
                             " loaded " + std::to_string(c.loadedPort);
    const OutputState b1 = bench.state(1, 1.0);
    const OutputState c1 = bench.state(2, 1.0);
    EXPECT_EQ(b1.turn, c.turn) << what;
    EXPECT_EQ(b1.runState, 0x20) << what;
    const OutputState b3 = bench.state(1, 3.0);
    const OutputState c3 = bench.state(2, 3.0);
    const double ticks = 2.0 / 0.101;
    const double gained = (c3.block - c1.block) - (b3.block - b1.block);
    const double share = 2.0 * c.turn * c.power / 100;
    if (c.turn == 100) {
      EXPECT_NEAR(b3.block - b1.block, -(c3.block - c1.block), 10) << what;
    } else {
      EXPECT_NEAR(gained, share * ticks, std::abs(share) + 6) << what;
    }
    // Ahead of the slower, never beyond the power's speed.
    for (const std::int32_t moved : {b3.block - b1.block, c3.block - c1.block}) {
      EXPECT_LE(std::abs(moved), c.turn == 0 ? 2 * 9.0 * 100 : 2 * 9.0 * c.power + 20) << what;
    }
    if (c.turn == 0) {
      EXPECT_GT(b3.block - b1.block, 2 * 9.0 * c.power * 0.6) << what << ": the pair runs";
      for (double t = 0.01; t <= 3.0; t += 0.01) {
        const std::int32_t apart = bench.state(1, t).block - bench.state(2, t).block;
        EXPECT_LE(std::abs(apart), t < 1.0 ? 25 : 3) << what << " at " << t;
      }
    }
  }
}

TEST(SimOutputs, SyncPairWithTachoLimitStopsTogether) {
  for (const int turn : {0, 50}) {
    SimBrickConfig config;
    config.motorLoadPercent[2] = 60;
    Bench bench(config);
    bench.sync(75, turn, 0.0, 720);
    double t = 0.0;
    OutputState b;
    OutputState c;
    do {
      t += 0.001;
      b = bench.state(1, t);
      c = bench.state(2, t);
    } while (b.runState == 0x20 && c.runState == 0x20 && t < 5.0);
    EXPECT_EQ(b.runState, 0x00) << turn;
    EXPECT_EQ(c.runState, 0x00) << turn << ": in the same pass";
    // The one ahead (C at a positive ratio, either at 0) ends at the limit,
    // and the other takes over its count.
    const std::int32_t ahead = turn == 0 ? std::max(b.tacho, c.tacho) : c.tacho;
    EXPECT_GE(ahead, 720) << turn;
    EXPECT_LE(ahead, 723) << turn;
    if (turn == 0) {
      EXPECT_LE(std::abs(b.tacho - c.tacho), 3);
    } else {
      EXPECT_EQ(b.tacho, c.tacho);
      EXPECT_LT(b.block, 0) << "B turned back";
    }
  }
}

TEST(SimOutputs, RampsMoveTheDriveAlongTheLimit) {
  // Power 75 ramped up over 720 degrees from rest: slow at first, near its
  // speed at the end, then a coast; ramped down to 0 over 360 degrees from
  // a run: near its speed at first, slow at the end, at rest near the limit.
  // Counts and run states a millisecond apart from `from` for 3 s.
  auto record = [](Bench& bench, std::uint8_t port, double from, std::vector<OutputState>& out) {
    for (int ms = 0; ms <= 3000; ++ms) out.push_back(bench.state(port, from + ms / 1000.0));
  };
  // Degrees a second over the 100 ms before the first millisecond at which
  // `reached` holds.
  auto speedWhen = [](const std::vector<OutputState>& s, auto reached) {
    std::size_t ms = 100;
    while (ms + 1 < s.size() && !reached(s[ms])) ++ms;
    return (s[ms].rotation - s[ms - 100].rotation) * 10.0;
  };
  Bench bench;
  std::vector<OutputState> up;
  bench.set(0, 75, 0x01, 0, 0x10, 720, 0.0);
  record(bench, 0, 0.0, up);
  EXPECT_LT(speedWhen(up, [](const OutputState& s) { return s.rotation >= 100; }), 0.35 * 750);
  EXPECT_GT(speedWhen(up, [](const OutputState& s) { return s.rotation >= 720; }), 0.7 * 750);
  for (const OutputState& s : up) {
    EXPECT_EQ(s.runState, s.rotation < 720 ? 0x10 : 0x00) << s.rotation;
  }

  std::vector<OutputState> down;
  bench.run(1, 75, 0.0);
  const std::int32_t from = bench.rotation(1, 1.0);
  bench.set(1, 0, 0x01, 0, 0x40, 360, 1.0);
  record(bench, 1, 1.0, down);
  EXPECT_GT(speedWhen(down, [&](const OutputState& s) { return s.rotation >= from + 60; }),
            0.7 * 750);
  EXPECT_LT(speedWhen(down, [](const OutputState& s) { return s.runState == 0x00; }), 0.3 * 750);
  EXPECT_EQ(down[50].runState, 0x40);
  EXPECT_GE(down.back().rotation - from, 360);
  EXPECT_LE(down.back().rotation - from, 375);
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
  // Without MOTORON the live run state is IDLE, whatever was sent.
  bench.send({0x80, 0x04, 0x00, 0x32, 0x04, 0x01, 0x00, 0x20, 0, 0, 0, 0}, 0.0);
  EXPECT_EQ(bench.send({0x00, 0x06, 0x00}, 0.0),
            "02 06 00 00 32 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");

  // The counters, little-endian: TachoCount, BlockTachoCount, RotationCount.
  SimOutput& o = bench.brick.outputs.port[2];
  o.tachoOrigin = -0x01020304;
  o.blockTachoOrigin = 2;
  o.rotationOrigin = -300;
  EXPECT_EQ(bench.send({0x00, 0x06, 0x02}, 0.0),
            "02 06 00 02 00 00 00 00 00 00 00 00 00 04 03 02 01 fe ff ff ff 2c 01 00 00");
}

TEST(SimOutputs, BadPortsAndTheNoReplyType) {
  Bench bench;
  EXPECT_EQ(bench.send({0x00, 0x06, 0x03}, 0.0), "02 06 c0" + zeros(22));
  EXPECT_EQ(bench.send({0x00, 0x06, 0xFF}, 0.0), "02 06 c0" + zeros(22));
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
  EXPECT_GE(runDown, 58);
  EXPECT_LE(runDown, 93);

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
  simBrickReset(bench.brick, bench.brick.config, simAt(1.0));
  bench.run(2, 100, 1.0);
  EXPECT_EQ(bench.rotation(2, 2.0), 0);
}

}  // namespace
