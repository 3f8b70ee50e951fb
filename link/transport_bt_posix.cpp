// The Bluetooth link on Linux: an RFCOMM socket to the brick's channel 1,
// or a serial device that leads to it (/dev/rfcomm0, a pseudo-terminal).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "link/bt_port.h"
#include "link/transport.h"
#include "link/transport_bt.h"

namespace {

using Clock = std::chrono::steady_clock;

// Why a connect to the brick's address failed, in the operator's words.
std::string socketFailureReason(int error) {
  const std::string name = " (" + btErrorName(error) + ")";
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
  const std::string name = " (" + btErrorName(error) + ")";
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

// True when the connection's other side has hung up while it was idle
// (whatever it left unread is stale by now).
bool hungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

const char kBtBrickForms[] =
    "a Bluetooth address (00:16:53:0A:0B:0C) or a device path (/dev/rfcomm0)";

const char kBtBrickUsage[] =
    "BRICK is the brick's Bluetooth address (00:16:53:0A:0B:0C), reached on RFCOMM\n"
    "channel 1, or the path of a serial device that leads to it (/dev/rfcomm0).\n";

bool btBrickSupported(const BtBrick& brick, std::string& error) {
  if (brick.isAddress || brick.devicePath.find('/') != std::string::npos) return true;
  error = "'" + brick.devicePath +
          "' is a Windows COM port: name the brick's Bluetooth address or its serial device "
          "(/dev/rfcomm0)";
  return false;
}

BtHandle btOpenLink(const BtBrick& brick, std::int32_t& result, std::string& reason) {
  int error = 0;
  const int fd =
      brick.isAddress ? connectSocket(brick.address, error) : openDevice(brick.devicePath, error);
  if (fd >= 0) return fd;
  result = btOpenResult(error);
  reason = brick.isAddress ? socketFailureReason(error) : deviceFailureReason(error);
  return kNoBtHandle;
}

void btCloseLink(BtHandle link) { closeLink(static_cast<int>(link)); }

bool btLinkHungUp(BtHandle link) { return hungUp(static_cast<int>(link)); }

const BtError kBtErrors[] = {NXT_BT_ERROR(EHOSTDOWN, kTransportNoDevice),
                             NXT_BT_ERROR(EHOSTUNREACH, kTransportIoError),
                             NXT_BT_ERROR(ECONNREFUSED, kTransportNoDevice),
                             NXT_BT_ERROR(ECONNRESET, kTransportIoError),
                             NXT_BT_ERROR(ENOTCONN, kTransportIoError),
                             NXT_BT_ERROR(EBUSY, kTransportBusy),
                             NXT_BT_ERROR(EACCES, kTransportAccessDenied),
                             NXT_BT_ERROR(EPERM, kTransportAccessDenied),
                             NXT_BT_ERROR(ENOENT, kTransportNoDevice),
                             NXT_BT_ERROR(EIO, kTransportNoDevice),
                             NXT_BT_ERROR(ENOTTY, kTransportIoError),
                             NXT_BT_ERROR(ENXIO, kTransportNoDevice),
                             NXT_BT_ERROR(ENODEV, kTransportNoDevice),
                             NXT_BT_ERROR(EAFNOSUPPORT, kTransportIoError),
                             NXT_BT_ERROR(ENETDOWN, kTransportIoError),
                             NXT_BT_ERROR(ETIMEDOUT, kTransportTimeout),
                             {0, nullptr, kTransportIoError}};

std::string btUnnamedError(int error) { return std::strerror(error); }
