// The transport over Bluetooth: an NXT's Serial Port Profile, through an
// RFCOMM socket or a serial device (transport_bt.h).
//
// Every handle opened while a connection is up shares it; it is closed
// with the last handle. A connection whose other side hangs up (end of
// file, ECONNRESET, ENOTCONN, EIO), or whose stream loses step (a frame
// that cannot be a reply: of length 0 or above 64, or of a length that the
// firmware never gives the opcode in its byte 1, protocol/reply_shape.h),
// is closed at once: every later call on its
// handles fails at once, and the next open connects afresh. After a reply
// that did not come in time, whole frames already waiting are dropped
// before the next telegram goes out, so that a late reply is not taken for
// the next one (the driver drops a reply to another opcode as well).
#include "link/transport_bt.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "link/bt_address.h"
#include "link/bt_frame.h"
#include "link/transport.h"
#include "protocol/nxt_protocol.h"
#include "protocol/reply_shape.h"

namespace {

using Clock = std::chrono::steady_clock;

// Frames already waiting that one drain drops before it gives up.
constexpr int kMaxDrainFrames = 8;

struct BtConnection {
  int fd = -1;                // closed (-1) once gone
  int handles = 0;            // TransportDevice objects sharing this connection
  bool drainPending = false;  // a reply was late: drop waiting frames first
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

// The symbolic name of the errors we name to the operator.
std::string errorName(int error) {
  switch (error) {
    case EHOSTDOWN:
      return "EHOSTDOWN";
    case EHOSTUNREACH:
      return "EHOSTUNREACH";
    case ECONNREFUSED:
      return "ECONNREFUSED";
    case ECONNRESET:
      return "ECONNRESET";
    case ENOTCONN:
      return "ENOTCONN";
    case EBUSY:
      return "EBUSY";
    case EACCES:
      return "EACCES";
    case EPERM:
      return "EPERM";
    case ENOENT:
      return "ENOENT";
    case EIO:
      return "EIO";
    case ENOTTY:
      return "ENOTTY";
    case ENXIO:
      return "ENXIO";
    case ENODEV:
      return "ENODEV";
    case EAFNOSUPPORT:
      return "EAFNOSUPPORT";
    case ENETDOWN:
      return "ENETDOWN";
    case ETIMEDOUT:
      return "ETIMEDOUT";
    default:
      return std::strerror(error);
  }
}

std::int32_t resultOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return kTransportAccessDenied;
    case EBUSY:
      return kTransportBusy;
    case ETIMEDOUT:
      return kTransportTimeout;
    case EHOSTDOWN:
    case ECONNREFUSED:
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
      return kTransportNoDevice;
    default:
      return kTransportIoError;
  }
}

// Why a connect to the brick's address failed, in the operator's words.
std::string socketFailureReason(int error) {
  const std::string name = " (" + errorName(error) + ")";
  switch (error) {
    case EHOSTDOWN:
      return "it is switched off or out of range" + name +
             ": switch it on, bring it closer, check that it is paired";
    case ECONNREFUSED:
      return "nothing answers on its RFCOMM channel 1" + name +
             ": is it an NXT, switched on, with Bluetooth on?";
    case EBUSY:
      return "a stale link to it is still up" + name +
             ": wait a few seconds, or switch the brick's Bluetooth off and on";
    case EHOSTUNREACH:
    case ENETDOWN:
      return "no Bluetooth adapter reaches it" + name + ": is the adapter powered on?";
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
      return "this system has no Bluetooth" + name + ": load the bluetooth and rfcomm modules";
    case EACCES:
    case EPERM:
      return "not allowed" + name;
    case ETIMEDOUT:
      return "no answer within " + std::to_string(kBtConnectTimeout.count() / 1000) +
             " s: is it switched on and in range?";
    default:
      return "connect failed" + name;
  }
}

// Why opening the serial device failed, in the operator's words.
std::string deviceFailureReason(int error) {
  const std::string name = " (" + errorName(error) + ")";
  switch (error) {
    case ENOENT:
      return "no such device" + name + ": make it with sudo rfcomm bind 0 ADDRESS 1";
    case EACCES:
    case EPERM:
      return "no permission to open it" + name +
             ": add your user to the group dialout, then log in again";
    case EIO:
    case ENXIO:
    case ENODEV:
      return "nothing answers behind it" + name +
             ": is the brick switched on, in range and paired?";
    case EBUSY:
      return "another program holds it" + name;
    case ENOTTY:
      return "it is not a serial device" + name;
    default:
      return "cannot open it" + name;
  }
}

// A connect to the brick's channel 1 that gives up after kBtConnectTimeout.
// The descriptor, or -1 with `error` set.
int connectSocket(const BluetoothAddress& address, int& error) {
  const int fd = ::socket(kAfBluetooth, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, kBtProtoRfcomm);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  // The address goes to the kernel from storage aligned for any.
  const RfcommSocketAddress peer = rfcommSocketAddress(address, kNxtRfcommChannel);
  sockaddr_storage storage{};
  std::memcpy(&storage, &peer, sizeof peer);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&storage), sizeof peer) == 0) return fd;
  error = errno;
  if (error == EINPROGRESS) {
    const auto deadline = Clock::now() + kBtConnectTimeout;
    error = ETIMEDOUT;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd, POLLOUT, 0};
      const int n = ::poll(&p, 1, static_cast<int>(left.count()));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) continue;
      socklen_t size = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      if (error == 0) return fd;
      break;
    }
  }
  ::close(fd);
  return -1;
}

// Opens the serial device without blocking and puts it in raw mode, with
// nothing waiting in either direction. The descriptor, or -1 with `error`.
int openDevice(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  // A bound rfcomm device with nothing answering opens, then fails here.
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) {
    error = errno;
    ::close(fd);
    return -1;
  }
  ::cfmakeraw(&mode);
  mode.c_cflag |= CLOCAL | CREAD;
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &mode) != 0) {
    error = errno;
    ::close(fd);
    return -1;
  }
  ::tcflush(fd, TCIOFLUSH);
  return fd;
}

// Closes the link's descriptor at once: output that a serial device still
// holds is dropped first, or closing would wait for it to drain (up to
// 30 s on a device whose brick is gone).
void closeLink(int fd) {
  ::tcflush(fd, TCIOFLUSH);  // fails harmlessly on a socket
  ::close(fd);
}

// The link is lost: the descriptor is closed, every handle fails from now
// on, and the next open connects afresh.
void markGone(BtConnection& connection, const std::string& why) {
  if (connection.fd >= 0) {
    tellOperator("the link to the NXT brick is lost (" + why + "); nxt;open connects again");
    closeLink(connection.fd);
  }
  connection.fd = -1;
  connection.drainPending = false;
  connection.reader.have = 0;
  if (state().current == &connection) state().current = nullptr;
}

std::string lostReason(BtIoResult result, int error, const BtFrameReader& reader) {
  switch (result) {
    case BtIoResult::kClosed:
      return "the brick hung up";
    case BtIoResult::kOutOfStep:
      return "a reply of length " + std::to_string(btFrameLength(reader.bytes)) + ": out of step";
    case BtIoResult::kTimeout:
      return "it takes no more data";
    default:
      return errorName(error);
  }
}

// A frame that cannot be a reply to any telegram of ours (by its length
// for the opcode in its own byte 1) means that the brick and we no longer
// agree on where frames begin: nothing after it can be trusted.
bool replyFrameFits(const std::uint8_t* head, std::size_t known, std::size_t length) {
  if (length < 3 || length > nxt::kMaxTelegramLength) return false;
  return nxt::firmwareReplyLength(head, known) == length;
}

// True when the connection's other side has hung up while it was idle
// (whatever it left unread is stale by now).
bool hungUp(const BtConnection& connection) {
  pollfd p{connection.fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Drops the whole frames already waiting. A partial frame stays in the
// reader, to be finished (and dropped by the driver) later.
void drain(BtConnection& connection) {
  connection.drainPending = false;
  std::uint8_t scratch[kBtMaxFrameBody];
  for (int i = 0; i < kMaxDrainFrames; ++i) {
    std::size_t got = 0;
    int error = 0;
    const BtIoResult result = btReadFrame(connection.fd, connection.reader, scratch, sizeof scratch,
                                          got, Clock::now(), error, replyFrameFits);
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
  if (bt.current != nullptr && hungUp(*bt.current)) markGone(*bt.current, "the brick hung up");
  BtConnection* connection = bt.current;
  if (connection == nullptr) {
    int error = 0;
    const int fd = bt.brick.isAddress ? connectSocket(bt.brick.address, error)
                                      : openDevice(bt.brick.devicePath, error);
    if (fd < 0) {
      result = resultOf(error);
      tellOpenFailure(bt.brick.isAddress ? socketFailureReason(error) : deviceFailureReason(error));
      return nullptr;
    }
    connection = new BtConnection;
    connection->fd = fd;
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
  if (connection->fd >= 0) closeLink(connection->fd);
  delete connection;
}

std::int32_t transportSend(TransportDevice* device, const std::uint8_t* telegram,
                           std::size_t length) {
  if (device == nullptr) return kTransportIoError;
  if (length == 0 || length > nxt::kMaxTelegramLength) return kTransportIoError;
  BtConnection& connection = *device->connection;
  if (connection.fd < 0) return kTransportGone;
  if (connection.drainPending) drain(connection);
  if (connection.fd < 0) return kTransportGone;

  std::uint8_t frame[kBtFrameHeader + nxt::kMaxTelegramLength];
  const std::size_t size = btEncodeFrame(telegram, length, frame);
  int error = 0;
  const BtIoResult result =
      btWriteAll(connection.fd, frame, size, Clock::now() + kBtSendTimeout, error);
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
  if (connection.fd < 0) return kTransportGone;

  int error = 0;
  const BtIoResult result = btReadFrame(connection.fd, connection.reader, buffer, capacity,
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
