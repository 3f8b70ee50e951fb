#include <gtest/gtest.h>

#include <cstring>

#include "link/device_link.h"
#include "protocol/little_endian.h"
#include "sim_test_support.h"

namespace {

class Link : public SimLinkTest {};

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
  const std::uint8_t battery[] = {0x0b};
  std::uint8_t response[4];
  std::memset(response, 0x01, sizeof response);
  EXPECT_EQ(linkTransact(1, battery, 1, response, sizeof response), 4u);
  EXPECT_EQ(simTransportTrace().lines, (std::vector<std::string>{"> 00 0b", "< 02 0b 00 5c 1d"}));
  const std::uint8_t expected[] = {0x0b, 0x00, 0x5c, 0x1d};
  EXPECT_EQ(std::memcmp(response, expected, 4), 0);
}

TEST_F(Link, ReplyLongerThanTheBufferIsCutToIt) {
  ASSERT_TRUE(linkOpenUsb());
  const std::uint8_t battery[] = {0x0b};
  std::uint8_t response[6];
  std::memset(response, 0x01, sizeof response);
  EXPECT_EQ(linkTransact(1, battery, 1, response, 2), 2u);
  EXPECT_EQ(response[0], 0x0b);
  EXPECT_EQ(response[1], 0x00);
  EXPECT_EQ(response[2], 0x01);  // beyond the length asked for: untouched
}

TEST_F(Link, ExchangesWithoutABrickLeaveTheBufferAlone) {
  const std::uint8_t battery[] = {0x0b};
  std::uint8_t response[4];
  std::memset(response, 0x01, sizeof response);
  EXPECT_EQ(linkTransact(1, battery, 1, response, sizeof response), 0u);
  for (std::uint8_t b : response) EXPECT_EQ(b, 0x01);
  EXPECT_TRUE(simTransportTrace().lines.empty());
  EXPECT_LT(deviceLink.status.code, 0);
}

TEST_F(Link, ReplyEchoingTheOpcodeIsTakenWhateverItsStatus) {
  ASSERT_TRUE(linkOpenUsb());
  // An unknown direct opcode gets 0xBE: its reply still echoes the opcode
  // and is taken; a reply to nothing (a no-reply telegram) is not there.
  const std::uint8_t unknown[] = {0x7e};
  std::uint8_t response[3];
  std::memset(response, 0x01, sizeof response);
  EXPECT_EQ(linkTransact(1, unknown, 1, response, 2), 2u);
  EXPECT_EQ(response[0], 0x7e);
  EXPECT_EQ(response[1], 0xbe);
}

TEST_F(Link, FailedOpenKeepsTheHeldBrick) {
  ASSERT_TRUE(linkOpenUsb());
  BrickHandle* held = deviceLink.brick;
  SimTransportSettings none;
  none.brickAttached = false;
  freshSimBrick(none);
  EXPECT_FALSE(linkOpenUsb());
  EXPECT_EQ(deviceLink.brick, held);
  EXPECT_LT(deviceLink.status.code, 0);
  // The held brick still carries commands.
  const std::uint8_t battery[] = {0x0b};
  std::uint8_t response[4];
  std::memset(response, 0x01, sizeof response);
  EXPECT_EQ(linkTransact(1, battery, 1, response, 4), 4u);
  EXPECT_EQ(nxt::readU16(response + 2), 8100);
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

}  // namespace

namespace {

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
    const std::uint8_t battery[] = {0x0b};
    std::uint8_t response[4];
    std::memset(response, 0x01, sizeof response);
    EXPECT_EQ(linkTransact(1, battery, 1, response, 4), 0u) << reply.size();
    for (std::uint8_t b : response) EXPECT_EQ(b, 0x01);
    EXPECT_LT(deviceLink.status.code, 0);
  }
  // The next exchange is answered as usual.
  const std::uint8_t battery[] = {0x0b};
  std::uint8_t response[4];
  EXPECT_EQ(linkTransact(1, battery, 1, response, 4), 4u);
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
    const std::uint8_t battery[] = {0x0b};
    std::uint8_t response[4];
    EXPECT_EQ(linkTransact(1, battery, 1, response, 4), 0u) << reply.size();
    EXPECT_EQ(deviceLink.status.code, kDriverBadReply);
  }
}

}  // namespace
