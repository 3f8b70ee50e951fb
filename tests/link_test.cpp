#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "link/device_link.h"
#include "protocol/little_endian.h"
#include "sim_test_support.h"

namespace {

class Link : public SimLinkTest {};

// What linkTransact made of a request that asks for a reply: the count it
// returned, and its buffer of `capacity` bytes (at least `length`, the
// most it may take), filled with 0x01 before.
struct Exchange {
  std::size_t taken;
  Bytes response;
};
Exchange transact(const Bytes& command, std::size_t length, std::size_t capacity = 0) {
  Bytes response(std::max(length, capacity), 0x01);
  const std::size_t taken =
      linkTransact(1, command.data(), command.size(), response.data(), length);
  return {taken, response};
}

TEST_F(Link, TransactWithoutReplySendsTheNoReplyType) {
  ASSERT_TRUE(linkOpenUsb());
  const std::uint8_t tone[] = {0x03, 0xb8, 0x01, 0xc8, 0x00};
  EXPECT_EQ(linkTransact(0, tone, sizeof tone, nullptr, 0), 0u);
  EXPECT_EQ(simTransportTrace().lines, (std::vector<std::string>{"> 80 03 b8 01 c8 00"}));
}

TEST_F(Link, ReplyArrivesWithoutItsLeadingReplyByte) {
  settings.brick.batteryMillivolts = 7516;
  freshLink();
  ASSERT_TRUE(linkOpenUsb());
  const Exchange e = transact({0x0b}, 4);
  EXPECT_EQ(e.taken, 4u);
  EXPECT_EQ(simTransportTrace().lines, (std::vector<std::string>{"> 00 0b", "< 02 0b 00 5c 1d"}));
  EXPECT_EQ(e.response, (Bytes{0x0b, 0x00, 0x5c, 0x1d}));
}

TEST_F(Link, ReplyLongerThanTheBufferIsCutToIt) {
  ASSERT_TRUE(linkOpenUsb());
  const Exchange e = transact({0x0b}, 2, 3);
  EXPECT_EQ(e.taken, 2u);
  EXPECT_EQ(e.response, (Bytes{0x0b, 0x00, 0x01}));  // beyond the length asked for: untouched
}

TEST_F(Link, ExchangesWithoutABrickLeaveTheBufferAlone) {
  const Exchange e = transact({0x0b}, 4);
  EXPECT_EQ(e.taken, 0u);
  EXPECT_EQ(e.response, Bytes(4, 0x01));
  EXPECT_TRUE(simTransportTrace().lines.empty());
  EXPECT_LT(deviceLink.status.code, 0);
}

TEST_F(Link, ReplyEchoingTheOpcodeIsTakenWhateverItsStatus) {
  ASSERT_TRUE(linkOpenUsb());
  // An unknown direct opcode gets 0xBE: its reply still echoes the opcode
  // and is taken; a reply to nothing (a no-reply telegram) is not there.
  const Exchange e = transact({0x7e}, 2);
  EXPECT_EQ(e.taken, 2u);
  EXPECT_EQ(e.response, (Bytes{0x7e, 0xbe}));
}

TEST_F(Link, FailedOpenKeepsTheHeldBrick) {
  ASSERT_TRUE(linkOpenUsb());
  BrickHandle* held = deviceLink.brick;
  freshNoBrick();
  EXPECT_FALSE(linkOpenUsb());
  EXPECT_EQ(deviceLink.brick, held);
  EXPECT_LT(deviceLink.status.code, 0);
  // The held brick still carries commands.
  const Exchange e = transact({0x0b}, 4);
  EXPECT_EQ(e.taken, 4u);
  EXPECT_EQ(nxt::readU16(e.response.data() + 2), 8100);
  // And a fatal status left behind does not spoil the next call.
  EXPECT_EQ(deviceLink.status.code, 0);
}

TEST_F(Link, OpenTwiceReleasesTheFirstAndCloseClears) {
  ASSERT_TRUE(linkOpenUsb());
  ASSERT_TRUE(linkOpenUsb());
  EXPECT_EQ(simTransportOpenHandles(), 1);
  EXPECT_EQ(deviceLink.iterator, nullptr);
  linkClose();
  EXPECT_EQ(deviceLink.brick, nullptr);
  EXPECT_EQ(simTransportOpenHandles(), 0);
  linkClose();  // closing again is harmless
  EXPECT_EQ(simTransportOpenHandles(), 0);
}

TEST_F(Link, OversizedTelegramIsRefusedWithoutSending) {
  ASSERT_TRUE(linkOpenUsb());
  std::uint8_t big[64] = {0x09};
  EXPECT_EQ(linkTransact(0, big, sizeof big, nullptr, 0), 0u);
  EXPECT_LT(deviceLink.status.code, 0);
  EXPECT_TRUE(simTransportTrace().lines.empty());
}

// Replies that the driver must not take: the caller's buffer stays as it
// was filled, and the status tells the failure.
TEST_F(Link, MalformedRepliesAreNotTaken) {
  ASSERT_TRUE(linkOpenUsb());
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},                                   // no reply at all (timeout)
      {0x02},                               // too short
      {0x02, 0x0b},                         // no status
      {0x03, 0x0b, 0x00, 0x5c, 0x1d},       // not a reply
      {0x02, 0x06, 0x00, 0x5c, 0x1d},       // a reply to another opcode
      std::vector<std::uint8_t>(65, 0x02),  // longer than a telegram
  };
  for (const auto& reply : bad) {
    simTransportScriptReplies({reply});
    const Exchange e = transact({0x0b}, 4);
    EXPECT_EQ(e.taken, 0u) << reply.size();
    EXPECT_EQ(e.response, Bytes(4, 0x01));
    EXPECT_LT(deviceLink.status.code, 0);
  }
  // The next exchange is answered as usual.
  EXPECT_EQ(transact({0x0b}, 4).taken, 4u);
  EXPECT_EQ(deviceLink.status.code, 0);
}

TEST_F(Link, RepliesOfAnotherLengthThanTheFirmwaresAreNotTaken) {
  ASSERT_TRUE(linkOpenUsb());
  const std::vector<std::vector<std::uint8_t>> bad = {
      {0x02, 0x0b, 0x00, 0x5c},              // a byte short
      {0x02, 0x0b, 0x00, 0x5c, 0x1d, 0x00},  // a byte long
  };
  for (const auto& reply : bad) {
    simTransportScriptReplies({reply});
    EXPECT_EQ(transact({0x0b}, 4).taken, 0u) << reply.size();
    EXPECT_EQ(deviceLink.status.code, kDriverBadReply);
  }
}

// A well-formed reply for another port is an earlier exchange's late
// answer: dropped, told in one line that names its port counted from 1,
// and the exchange takes the reply that follows it.
TEST_F(Link, LateReplyIsDroppedAndToldWithItsPort) {
  ASSERT_TRUE(linkOpenUsb());
  const std::pair<std::uint8_t, const char*> ports[] = {{0, "GETINPUTVALUES 1"},
                                                        {9, "GETINPUTVALUES 10"},
                                                        {99, "GETINPUTVALUES 100"},
                                                        {255, "GETINPUTVALUES 256"}};
  for (const auto& [port, told] : ports) {
    std::vector<std::uint8_t> late(16, 0x00), answer(16, 0x00);
    late[0] = answer[0] = 0x02;
    late[1] = answer[1] = 0x07;
    late[3] = port;
    answer[3] = 0x02;
    ::testing::internal::CaptureStderr();
    simTransportScriptReplies({late, answer});
    const Exchange e = transact({0x07, 0x02}, 15);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(e.taken, 15u) << told;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_NE(err.find(std::string(": a late reply to ") + told + " was dropped\n"),
              std::string::npos)
        << err;
  }
}

}  // namespace
