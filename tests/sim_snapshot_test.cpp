#include "sim/sim_snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/transport.h"
#include "sim/sim_describe.h"
#include "sim_test_support.h"

namespace {

// Sends one telegram (type byte first) and takes the answer, if any.
void sendTelegram(TransportDevice* device, const Bytes& telegram) {
  ASSERT_NE(transportExchange(device, telegram), "send failed");
}

std::string describe(const SimTelegramRecord& r) {
  return simDescribeTelegram(r.telegram, r.telegramLength, r.reply, r.replyLength);
}

const std::vector<std::uint8_t> kForwardA75 = {0x80, 0x04, 0x00, 75, 0x05, 0x01,
                                               0x00, 0x20, 0,    0,  0,    0};

TEST(SimSnapshot, FollowsTheBrickThroughTheTransport) {
  freshSimBrick();
  SimSnapshot s;
  simTransportSnapshot(s);
  EXPECT_FALSE(s.linkOpen);
  EXPECT_EQ(s.telegramCount, 0u);

  std::int32_t result = 0;
  TransportDevice* device = transportOpenFirstBrick(result);
  ASSERT_NE(device, nullptr);
  sendTelegram(device, kForwardA75);
  sendTelegram(device, {0x80, 0x03, 0xb8, 0x01, 0xc8, 0x00});  // 440 Hz, 200 ms
  sendTelegram(device, {0x00, 0x0b});                          // battery
  simTransportSnapshot(s);
  EXPECT_TRUE(s.linkOpen);
  EXPECT_EQ(s.outputs.port[0].power, 75);
  EXPECT_EQ(s.toneCount, 1u);
  EXPECT_EQ(s.toneFrequencyHz, 440);
  EXPECT_EQ(s.toneDurationMs, 200);
  EXPECT_EQ(s.telegramCount, 3u);
  EXPECT_EQ(describe(simSnapshotRecent(s, 0)), "GETBATTERYLEVEL -> 8100 mV");
  EXPECT_EQ(describe(simSnapshotRecent(s, 2)), "SETOUTPUTSTATE A power 75 regulated running");

  // The motor turns on between telegrams: the watcher moves its copy.
  const double before = s.outputs.port[0].position;
  simSnapshotAdvance(s, s.taken + std::chrono::milliseconds(500));
  EXPECT_GT(s.outputs.port[0].position, before + 200);

  transportCloseBrick(device);
  simTransportSnapshot(s);
  EXPECT_FALSE(s.linkOpen);
  freshSimBrick();
  simTransportSnapshot(s);
  EXPECT_EQ(s.telegramCount, 0u);  // a fresh brick, fresh counts
}

TEST(SimSnapshot, RepeatsFoldAndTheRingKeepsTheNewest) {
  SimSnapshot s;
  const std::uint8_t poll[] = {0x00, 0x06, 0x00};
  const std::uint8_t first[25] = {0x02, 0x06, 0x00};
  std::uint8_t last[25] = {0x02, 0x06, 0x00};
  last[21] = 90;  // rotation count 90
  simSnapshotRecord(s, poll, sizeof poll, first, sizeof first);
  simSnapshotRecord(s, poll, sizeof poll, last, sizeof last);
  simSnapshotRecord(s, poll, sizeof poll, last, sizeof last);
  EXPECT_EQ(s.telegramCount, 3u);
  ASSERT_EQ(s.recordCount, 1u);
  EXPECT_EQ(simSnapshotRecent(s, 0).repeats, 3u);
  EXPECT_NE(describe(simSnapshotRecent(s, 0)).find("rotation 90"), std::string::npos);

  for (std::uint8_t port = 0; port < 20; ++port) {
    const std::uint8_t values[] = {0x00, 0x07, port};
    simSnapshotRecord(s, values, sizeof values, nullptr, 0);
  }
  EXPECT_EQ(s.recordCount, 21u);
  EXPECT_EQ(describe(simSnapshotRecent(s, 0)), "GETINPUTVALUES port 19");
  EXPECT_EQ(describe(simSnapshotRecent(s, kSimSnapshotTelegrams - 1)), "GETINPUTVALUES port 4");
}

// While one thread sends telegrams, each snapshot another thread reads
// shows the power of the newest SETOUTPUTSTATE it lists: never half of one
// telegram's state and half of the next.
TEST(SimSnapshot, ReadersSeeWholeSnapshots) {
  freshSimBrick();
  const OpenedBrick brick;
  ASSERT_NE(brick.device, nullptr);
  std::atomic<bool> done{false};
  int mismatches = 0;
  std::atomic<int> reads{0};
  std::thread reader([&] {
    SimSnapshot s;
    while (!done && reads < 200000) {
      simTransportSnapshot(s);
      ++reads;
      if (s.recordCount == 0) continue;
      const SimTelegramRecord& r = simSnapshotRecent(s, 0);
      if (static_cast<std::int8_t>(r.telegram[3]) != s.outputs.port[0].power) ++mismatches;
    }
  });
  // On a loaded machine the reader may not run before the writer is done:
  // the writer goes on until the reader has taken its share, within a bound.
  std::vector<std::uint8_t> t = kForwardA75;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int i = 0; i < 20000 || (reads < 100 && std::chrono::steady_clock::now() < deadline); ++i) {
    t[3] = static_cast<std::uint8_t>(i % 101);
    sendTelegram(brick.device, t);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(mismatches, 0);
}

TEST(SimDescribe, TelegramsInWords) {
  struct Case {
    std::vector<std::uint8_t> telegram;
    std::vector<std::uint8_t> reply;
    const char* words;
  };
  const Case cases[] = {
      {{0x80, 0x04, 0x01, 0xb5, 0x07, 0x01, 0x00, 0x20, 0x68, 0x01, 0, 0},
       {},
       "SETOUTPUTSTATE B power -75 brake regulated running limit 360"},
      {{0x80, 0x04, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0},
       {},
       "SETOUTPUTSTATE ALL power 0 off idle"},
      {{0x00, 0x05, 0x00, 0x01, 0x20}, {0x02, 0x05, 0x00}, "SETINPUTMODE 1 SWITCH BOOLEAN"},
      {{0x00, 0x07, 0x00},
       {0x02, 0x07, 0x00, 0x00, 0x01, 0x00, 0x01, 0x20, 0xb7, 0x00, 0xb7, 0x00, 0x01, 0x00},
       "GETINPUTVALUES 1 -> raw 183 scaled 1"},
      {{0x80, 0x0f, 0x03, 0x02, 0x01, 0x02, 0x42}, {}, "LSWRITE 4 tx 02 42 rx 1"},
      {{0x00, 0x0e, 0x03}, {0x02, 0x0e, 0xe0, 0x00}, "LSGETSTATUS 4 -> status 0xe0"},
      {{0x00, 0x10, 0x03}, {0x02, 0x10, 0x00, 0x01, 37}, "LSREAD 4 -> read 37"},
      {{0x80, 0x02, 0x01, 'c', 'l', 'i', 'c', 'k', '.', 'r', 's', 'o', 0},
       {},
       "PLAYSOUNDFILE click.rso loop"},
      {{0x00, 0x00, 'n', 'o', '\x1b', 0}, {0x02, 0x00, 0xc0}, "STARTPROGRAM no? -> status 0xc0"},
      {{0x00, 0x0a, 0x02, 0x01}, {}, "RESETMOTORPOSITION C relative"},
      {{0x01, 0x9b}, {0x02, 0x9b, 0x00, 'R', 'o', 'b', 'o', 0}, "GETDEVICEINFO -> Robo"},
      {{0x00, 0x55, 0x01}, {0x02, 0x55, 0xbe}, "00 55 01 -> status 0xbe"},
      {{0x80, 0x03}, {}, "PLAYTONE 0 Hz 0 ms"},  // missing bytes read as 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        simDescribeTelegram(c.telegram.data(), c.telegram.size(), c.reply.data(), c.reply.size()),
        c.words);
  }
}

}  // namespace
