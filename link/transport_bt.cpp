// The transport over Bluetooth: an NXT's Serial Port Profile, through an
// RFCOMM socket or a serial device, or a COM port on Windows
// (transport_bt.h, bt_port.h).
//
// Every handle opened while a connection is up shares it; it is closed
// with the last handle. A connection whose other side hangs up (end of
// file, or an error such as ECONNRESET, ENOTCONN, EIO), or whose stream
// loses step (a frame that cannot be a reply: of length 0 or above 64, or
// of a length that the firmware never gives the opcode in its byte 1,
// protocol/reply_shape.h), is closed at once: every later call on its
// handles fails at once, and the next open connects afresh. After a reply
// that did not come in time, whole frames already waiting are dropped
// before the next telegram goes out, so that a late reply is not taken for
// the next one (the driver drops a reply to another opcode as well).
#include "link/transport_bt.h"

#include <iostream>
#include <string>

#include "link/bt_address.h"
#include "link/bt_frame.h"
#include "link/bt_port.h"
#include "link/transport.h"
#include "protocol/nxt_protocol.h"
#include "protocol/reply_shape.h"

namespace {

using Clock = std::chrono::steady_clock;

// Frames already waiting that one drain drops before it gives up.
constexpr int kMaxDrainFrames = 8;

struct BtConnection {
  BtHandle link = kNoBtHandle;  // closed once gone
  int handles = 0;              // TransportDevice objects sharing this connection
  bool drainPending = false;    // a reply was late: drop waiting frames first
  BtFrameReader reader;
};

struct BtState {
  bool named = false;
  BtBrick brick;
  BtConnection* current = nullptr;  // the connection that the next open shares
};

BtState& state() {
  static BtState bt;
  return bt;
}

std::string brickName() {
  const BtBrick& brick = state().brick;
  return brick.isAddress ? formatBluetoothAddress(brick.address) : brick.devicePath;
}

void tellOperator(const std::string& message) {
  std::cerr << "nxt-bridge-bt: " << message << std::endl;
}

void tellOpenFailure(const std::string& reason) {
  tellOperator("cannot open the NXT brick at " + brickName() + ": " + reason);
}

// The link is lost: the descriptor is closed, every handle fails from now
// on, and the next open connects afresh.
void markGone(BtConnection& connection, const std::string& why) {
  if (connection.link != kNoBtHandle) {
    tellOperator("the link to the NXT brick is lost (" + why + "); nxt;open connects again");
    btCloseLink(connection.link);
  }
  connection.link = kNoBtHandle;
  connection.drainPending = false;
  connection.reader.have = 0;
  if (state().current == &connection) state().current = nullptr;
}

}  // namespace

namespace {

const BtError& btErrorEntry(int error) {
  const BtError* entry = kBtErrors;
  while (entry->name != nullptr && entry->error != error) ++entry;
  return *entry;
}

}  // namespace

std::string btErrorName(int error) {
  const BtError& entry = btErrorEntry(error);
  return entry.name != nullptr ? entry.name : btUnnamedError(error);
}

std::int32_t btOpenResult(int error) { return btErrorEntry(error).openResult; }

namespace {

std::string lostReason(BtIoResult result, int error, const BtFrameReader& reader) {
  switch (result) {
    case BtIoResult::kClosed:
      return "the brick hung up";
    case BtIoResult::kOutOfStep:
      return "a reply of length " + std::to_string(btFrameLength(reader.bytes)) + ": out of step";
    case BtIoResult::kTimeout:
      return "it takes no more data";
    default:
      return btErrorName(error);
  }
}

// A frame that cannot be a reply to any telegram of ours (by its length
// for the opcode in its own byte 1) means that the brick and we no longer
// agree on where frames begin: nothing after it can be trusted.
bool replyFrameFits(const std::uint8_t* head, std::size_t known, std::size_t length) {
  if (length < 3 || length > nxt::kMaxTelegramLength) return false;
  return nxt::firmwareReplyLength(head, known) == length;
}

// Drops the whole frames already waiting. A partial frame stays in the
// reader, to be finished (and dropped by the driver) later.
void drain(BtConnection& connection) {
  connection.drainPending = false;
  std::uint8_t scratch[kBtMaxFrameBody];
  for (int i = 0; i < kMaxDrainFrames; ++i) {
    std::size_t got = 0;
    int error = 0;
    const BtIoResult result = btReadFrame(connection.link, connection.reader, scratch,
                                          sizeof scratch, got, Clock::now(), error, replyFrameFits);
    if (result == BtIoResult::kOk || result == BtIoResult::kOverflow) continue;
    if (result != BtIoResult::kTimeout)
      markGone(connection, lostReason(result, error, connection.reader));
    return;
  }
}

}  // namespace

struct TransportDevice {
  BtConnection* connection = nullptr;
};

void btTransportSetUp(const BtBrick& brick) {
  BtState& bt = state();
  bt.brick = brick;
  bt.named = true;
  bt.current = nullptr;
}

TransportDevice* transportOpenFirstBrick(std::int32_t& result) {
  BtState& bt = state();
  if (!bt.named) {
    result = kTransportNoDevice;
    tellOperator("cannot open the NXT brick: none named");
    return nullptr;
  }
  if (bt.current != nullptr && btLinkHungUp(bt.current->link)) {
    markGone(*bt.current, "the brick hung up");
  }
  BtConnection* connection = bt.current;
  if (connection == nullptr) {
    std::string reason;
    const BtHandle link = btOpenLink(bt.brick, result, reason);
    if (link == kNoBtHandle) {
      tellOpenFailure(reason);
      return nullptr;
    }
    connection = new BtConnection;
    connection->link = link;
    bt.current = connection;
  }
  ++connection->handles;
  result = kTransportOk;
  return new TransportDevice{connection};
}

void transportCloseBrick(TransportDevice* device) {
  if (device == nullptr) return;
  BtConnection* connection = transportDropHandle(device, state().current);
  if (connection == nullptr) return;
  if (connection->link != kNoBtHandle) btCloseLink(connection->link);
  delete connection;
}

std::int32_t transportSend(TransportDevice* device, const std::uint8_t* telegram,
                           std::size_t length) {
  if (device == nullptr) return kTransportIoError;
  if (length == 0 || length > nxt::kMaxTelegramLength) return kTransportIoError;
  BtConnection& connection = *device->connection;
  if (connection.link == kNoBtHandle) return kTransportGone;
  if (connection.drainPending) drain(connection);
  if (connection.link == kNoBtHandle) return kTransportGone;

  std::uint8_t frame[kBtFrameHeader + nxt::kMaxTelegramLength];
  const std::size_t size = btEncodeFrame(telegram, length, frame);
  int error = 0;
  const BtIoResult result =
      btWriteAll(connection.link, frame, size, Clock::now() + kBtSendTimeout, error);
  if (result == BtIoResult::kOk) return kTransportOk;
  // A frame half written leaves the brick out of step: the link is dropped
  // on a timeout as on an error.
  markGone(connection, lostReason(result, error, connection.reader));
  return result == BtIoResult::kTimeout ? kTransportTimeout : kTransportGone;
}

TransportClock::duration transportReplyTimeout() { return kBtReplyTimeout; }

std::int32_t transportReceive(TransportDevice* device, std::uint8_t* buffer, std::size_t capacity,
                              std::size_t& received, TransportClock::time_point deadline) {
  received = 0;
  if (device == nullptr || capacity == 0) return kTransportIoError;
  BtConnection& connection = *device->connection;
  if (connection.link == kNoBtHandle) return kTransportGone;

  int error = 0;
  const BtIoResult result = btReadFrame(connection.link, connection.reader, buffer, capacity,
                                        received, deadline, error, replyFrameFits);
  switch (result) {
    case BtIoResult::kOk:
      return kTransportOk;
    case BtIoResult::kTimeout:
      connection.drainPending = true;
      return kTransportTimeout;
    case BtIoResult::kOverflow:
      return kTransportOverflow;
    default:
      markGone(connection, lostReason(result, error, connection.reader));
      return kTransportGone;
  }
}
