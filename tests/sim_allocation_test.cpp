// Making a simulated brick and handling telegrams allocate nothing, as
// counted by allocation_count.cpp. A fuzzer or a long session pays for
// every allocation.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "allocation_count.h"
#include "link/transport.h"
#include "link/transport_sim.h"
#include "sim/sim_brick.h"

namespace {

struct Exchange {
  std::vector<std::uint8_t> telegram;
  int status;  // the reply's status byte; -1: any (the bus takes its time)
};

std::vector<std::uint8_t> bytes(std::vector<std::uint8_t> head, const std::string& name = "",
                                std::vector<std::uint8_t> tail = {}) {
  if (!name.empty()) {
    head.insert(head.end(), name.begin(), name.end());
    head.resize(head.size() + 20 - name.size(), 0);  // the 20-byte name field
  }
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Every handler of the brick, with names of the longest kind (19
// characters), motors synchronised and ramping, the low-speed bus, a
// program with its mailboxes, and files written, appended, read, found and
// deleted. The round leaves the brick as it found it, so it can run again.
std::vector<Exchange> round() {
  const std::string file = "abcdefghijklmno.txt", data = "log-abcdefghijk.dat";
  return {
      {bytes({0x00, 0x00}, "demo.rxe"), 0x00},
      {{0x00, 0x09, 0x00, 0x04, 'a', 'b', 'c', 0x00}, 0x00},
      {{0x00, 0x13, 0x00, 0x00, 0x01}, 0x00},
      {{0x00, 0x11}, 0x00},
      {{0x00, 0x03, 0xf4, 0x01, 0xe8, 0x03}, 0x00},
      {bytes({0x00, 0x02, 0x00}, "click.rso"), 0x00},
      {{0x00, 0x04, 0x01, 75, 0x07, 0x02, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}, 0x00},
      {{0x00, 0x04, 0x02, 75, 0x07, 0x02, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}, 0x00},
      {{0x00, 0x04, 0x00, 80, 0x07, 0x01, 0x00, 0x10, 0x68, 0x01, 0x00, 0x00}, 0x00},
      {{0x00, 0x06, 0x01}, 0x00},
      {{0x00, 0x0a, 0x01, 0x01}, 0x00},
      {{0x00, 0x05, 0x03, 0x0b, 0x00}, 0x00},
      {{0x00, 0x07, 0x00}, 0x00},
      {{0x00, 0x0f, 0x03, 0x02, 0x01, 0x02, 0x42}, -1},
      {{0x00, 0x0e, 0x03}, -1},
      {{0x00, 0x10, 0x03}, -1},
      {{0x00, 0x0b}, 0x00},
      {{0x00, 0x0d}, 0x00},
      {{0x00, 0x0c}, 0x00},
      {{0x00, 0x01}, 0x00},
      {{0x00, 0x04, 0xff, 0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x00},
      {bytes({0x01, 0x81}, file, {10, 0, 0, 0}), 0x00},
      {{0x01, 0x83, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0x00},
      {{0x01, 0x84, 0x00}, 0x00},
      {bytes({0x01, 0x8b}, data, {100, 0, 0, 0}), 0x00},
      {{0x01, 0x83, 0x00, 1, 2, 3}, 0x00},
      {{0x01, 0x84, 0x00}, 0x00},
      {bytes({0x01, 0x8c}, data), 0x00},
      {{0x01, 0x83, 0x00, 4, 5}, 0x00},
      {{0x01, 0x84, 0x00}, 0x00},
      {bytes({0x01, 0x80}, file), 0x00},
      {{0x01, 0x82, 0x00, 0x05, 0x00}, 0x00},
      {{0x01, 0x84, 0x00}, 0x00},
      {bytes({0x01, 0x86}, "*.*"), 0x00},
      {{0x01, 0x87, 0x00}, 0x00},
      {{0x01, 0x84, 0x00}, 0x00},
      {bytes({0x01, 0x85}, file), 0x00},
      {bytes({0x01, 0x85}, data), 0x00},
      {bytes({0x01, 0x80}, "nosuch-file-named.x"), 0x87},
      {{0x01, 0x9b}, 0x00},
      {{0x01, 0x88}, 0x00},
  };
}

TEST(SimAllocation, MakingABrickAndEveryTelegramAllocateNothing) {
  const SimBrickConfig config;  // its files are made once, before counting
  const std::vector<Exchange> exchanges = round();
  const long before = allocationCount();
  {
    SimBrick brick;
    SimTime now{};
    simBrickReset(brick, config, now);
    for (int pass = 0; pass < 2; ++pass) {
      for (const Exchange& e : exchanges) {
        now += std::chrono::milliseconds(37);
        SimReply reply;
        ASSERT_TRUE(simBrickReceive(brick, e.telegram.data(), e.telegram.size(), now, reply));
        ASSERT_GE(reply.length, 3u);
        if (e.status >= 0) {
          EXPECT_EQ(reply.bytes[2], e.status) << int{e.telegram[1]};
        }
      }
      now += std::chrono::seconds(2);
      simBrickReset(brick, brick.config, now);
    }
  }
  EXPECT_EQ(allocationCount() - before, 0);
}

TEST(SimAllocation, ATelegramThroughTheTransportAllocatesNothing) {
  ASSERT_TRUE(simTransportSetUp(SimTransportSettings{}));
  std::int32_t result = 0;
  TransportDevice* device = transportOpenFirstBrick(result);
  ASSERT_NE(device, nullptr);
  const std::vector<Exchange> exchanges = round();
  long counted = 0;
  for (int pass = 0; pass < 2; ++pass) {  // the first grows what is kept to its size
    const long before = allocationCount();
    for (const Exchange& e : exchanges) {
      ASSERT_EQ(transportSend(device, e.telegram.data(), e.telegram.size()), kTransportOk);
      std::uint8_t reply[64];
      std::size_t received = 0;
      ASSERT_EQ(transportReceive(device, reply, sizeof reply, received, TransportClock::now()),
                kTransportOk);
      ASSERT_GE(received, 3u);
      if (e.status >= 0) {
        EXPECT_EQ(reply[2], e.status) << int{e.telegram[1]};
      }
    }
    counted = allocationCount() - before;
  }
  transportCloseBrick(device);
  EXPECT_EQ(counted, 0);
}

}  // namespace
