#include "link/bt_address.h"

#include <cstdio>

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseBluetoothAddress(const std::string& text, BluetoothAddress& address) {
  // "XX:XX:XX:XX:XX:XX": 6 pairs of digits and 5 colons.
  if (text.size() != 17) return false;
  BluetoothAddress parsed{};
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const std::size_t at = i * 3;
    if (i > 0 && text[at - 1] != ':') return false;
    const int high = hexDigit(text[at]);
    const int low = hexDigit(text[at + 1]);
    if (high < 0 || low < 0) return false;
    parsed[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  address = parsed;
  return true;
}

std::string formatBluetoothAddress(const BluetoothAddress& address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

RfcommSocketAddress rfcommSocketAddress(const BluetoothAddress& address, std::uint8_t channel) {
  RfcommSocketAddress socketAddress{};
  socketAddress.family = static_cast<std::uint16_t>(kAfBluetooth);
  for (std::size_t i = 0; i < address.size(); ++i) {
    socketAddress.bdaddr[i] = address[address.size() - 1 - i];
  }
  socketAddress.channel = channel;
  return socketAddress;
}

// "COM5", "com12" or "\\.\COM12": a Windows COM port.
bool isComPort(const std::string& text) {
  const std::string name = text.rfind("\\\\.\\", 0) == 0 ? text.substr(4) : text;
  if (name.size() < 4 || name.size() > 6) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return false;
  }
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return name[3] != '0';
}

bool parseBtBrick(const std::string& text, BtBrick& brick) {
  BtBrick parsed;
  if (parseBluetoothAddress(text, parsed.address)) {
    parsed.isAddress = true;
  } else if (text.find('/') != std::string::npos || isComPort(text)) {
    parsed.devicePath = text;
  } else {
    return false;
  }
  brick = parsed;
  return true;
}
