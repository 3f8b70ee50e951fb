// Helpers for tests of the simulated brick, alone or behind the link:
// telegrams and replies as spaced hex ("00 0b", "02 0b 00 a4 1f"), a
// telegram sent and its reply taken, the zero-filled and name fields of
// replies, and a fresh brick behind the transport with its trace in memory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/transport.h"
#include "link/transport_sim.h"
#include "protocol/nxt_protocol.h"
#include "sim/sim_brick.h"
#include "sim/sim_trace.h"
#include "trace_telegrams.h"

using Bytes = std::vector<std::uint8_t>;

// A made-up power-up moment, and `seconds` after it: models driven at
// synthetic times never wait for the clock.
inline const SimTime kSimStart = SimTime{} + std::chrono::hours(1);
inline SimTime simAt(double seconds) {
  return kSimStart +
         std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(seconds));
}

// "01 80 61" as bytes.
inline Bytes bytesOf(const std::string& hex) {
  std::istringstream in(hex);
  Bytes bytes;
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

// `length` bytes as spaced hex.
inline std::string hexOf(const std::uint8_t* bytes, std::size_t length) {
  return length == 0 ? std::string() : traceLine('<', bytes, length).substr(2);
}
inline std::string hexOf(const Bytes& bytes) { return hexOf(bytes.data(), bytes.size()); }

// " 00" `count` times: the zero-filled fields of replies.
inline std::string zeros(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += " 00";
  return text;
}

// A 20-byte name field holding `name`, zero-filled, as " 61 2e ..." (with
// its leading blank, to follow the bytes before it).
inline std::string nameField(const std::string& name) {
  Bytes field(name.begin(), name.end());
  field.resize(20, 0);
  return " " + hexOf(field.data(), field.size());
}

// `head` followed by the 20-byte name field holding `name`.
inline Bytes withName(Bytes head, const std::string& name) {
  head.insert(head.end(), name.begin(), name.end());
  head.resize(head.size() + 20 - name.size(), 0);
  return head;
}

// Sends `telegram` (type byte first) to `brick` at `when`; its reply as
// spaced hex, 02 first, or "" when it sends none.
inline std::string brickReply(SimBrick& brick, const Bytes& telegram,
                              SimTime when = SimClock::now()) {
  SimReply reply;
  if (!simBrickReceive(brick, telegram.data(), telegram.size(), when, reply)) return "";
  return hexOf(reply.bytes, reply.length);
}

// Sends `telegram` to `device` through the transport and takes the reply,
// as spaced hex; "" when the telegram asks for none; "send failed" or
// "receive failed" when the transport says so.
inline std::string transportExchange(TransportDevice* device, const Bytes& telegram) {
  if (transportSend(device, telegram.data(), telegram.size()) != kTransportOk) return "send failed";
  if (telegram.empty() || (telegram[0] & nxt::kNoReplyBit) != 0) return "";
  std::uint8_t reply[nxt::kMaxTelegramLength];
  std::size_t received = 0;
  if (transportReceive(device, reply, sizeof reply, received) != kTransportOk) {
    return "receive failed";
  }
  return hexOf(reply, received);
}

// A transport handle that is closed however the test ends.
struct OpenedBrick {
  OpenedBrick() = default;
  OpenedBrick(const OpenedBrick&) = delete;  // owns the device handle
  OpenedBrick& operator=(const OpenedBrick&) = delete;
  ~OpenedBrick() { transportCloseBrick(device); }

  std::int32_t result = kTransportOk;
  TransportDevice* device = transportOpenFirstBrick(result);
};

// A fresh simulated brick behind the transport, tracing into memory; the
// trace starts empty. False when the settings are refused.
inline bool freshSimBrick(SimTransportSettings settings = {}) {
  settings.keepTrace = true;
  return simTransportSetUp(settings);
}

// A fresh transport that finds no brick: a brick already opened stays
// connected, but a new search finds nothing.
inline bool freshNoBrick() {
  SimTransportSettings none;
  none.brickAttached = false;
  return freshSimBrick(none);
}

// The telegrams the host sent ("00 0b"), in order, without the "> ".
inline std::vector<std::string> hostTelegrams() { return telegramsOf(simTransportTrace().lines); }

// Forgets the trace so far.
inline void clearTrace() { simTransportTrace().lines.clear(); }

// Makes the simulated brick's RotationCount on `port` read `count`, the
// motor at rest.
inline void simSetRotationCount(int port, std::int32_t count) {
  SimOutput& o = simTransportBrick().outputs.port[port];
  o.rotationOrigin = static_cast<std::int64_t>(std::floor(o.position)) - count;
}

// Tests over the link: each starts with the link closed and a fresh brick
// made from `settings`, its trace empty, and closes the link at its end.
class SimLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { freshLink(); }
  void TearDown() override { linkClose(); }
  // Closes the link and starts again from a fresh brick made from `settings`.
  void freshLink() {
    linkClose();
    ASSERT_TRUE(freshSimBrick(settings));
  }
  SimTransportSettings settings;
};
