// A brick's Bluetooth address and the RFCOMM socket address that reaches
// it. The address is written as six two-digit hex bytes separated by
// colons, most significant first ("00:16:53:0A:0B:0C", either case); the
// kernel stores it the other way round, least significant byte first.
//
// `RfcommSocketAddress` is laid out as the kernel's struct sockaddr_rc:
// the address family (AF_BLUETOOTH), the six address bytes as the kernel
// stores them, the channel, and one byte of padding to the family's
// alignment: 10 bytes, which the kernel's RFCOMM connect insists on (it
// answers a shorter length with EINVAL). No Bluetooth library is needed to
// build it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using BluetoothAddress = std::array<std::uint8_t, 6>;  // in written order

// AF_BLUETOOTH and BTPROTO_RFCOMM as glibc and the kernel number them.
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoRfcomm = 3;
// An NXT serves its Serial Port Profile on this channel.
constexpr std::uint8_t kNxtRfcommChannel = 1;

struct RfcommSocketAddress {
  std::uint16_t family;    // sa_family_t: AF_BLUETOOTH
  std::uint8_t bdaddr[6];  // least significant byte first
  std::uint8_t channel;
};
static_assert(sizeof(RfcommSocketAddress) == 10, "sockaddr_rc is 10 bytes with its padding");

// Parses the written form. False for anything else (wrong length, a digit
// that is not hex, a separator other than ':').
bool parseBluetoothAddress(const std::string& text, BluetoothAddress& address);

// The written form, upper-case hex.
std::string formatBluetoothAddress(const BluetoothAddress& address);

// The socket address of `channel` on the brick at `address`; all zeros as
// the address means any local adapter (for bind).
RfcommSocketAddress rfcommSocketAddress(const BluetoothAddress& address, std::uint8_t channel);

// The brick as nxt-bridge-bt's command line names it: a Bluetooth address,
// or the path of a serial device that leads to it (/dev/rfcomm0, a
// pseudo-terminal; on Windows a COM port, COM5 or \\.\COM12). Any word
// with a '/' is a path.
struct BtBrick {
  bool isAddress = false;
  BluetoothAddress address{};
  std::string devicePath;
};

// False when `text` is neither an address nor a path.
bool parseBtBrick(const std::string& text, BtBrick& brick);

// True for a Windows COM port's name: COM1 to COM999, either case, alone or
// after \\.\ .
bool isComPort(const std::string& text);
