#include "server/console_echo.h"

namespace {

bool isControl(unsigned char byte) {
  return (byte < 0x20 && byte != '\t') || byte == 0x7f || (byte >= 0x80 && byte <= 0x9f);
}

}  // namespace

std::string consoleEcho(const std::string& request) {
  static const char kHex[] = "0123456789abcdef";
  std::string echo;
  echo.reserve(request.size());
  for (std::size_t i = 0; i < request.size(); ++i) {
    const auto byte = static_cast<unsigned char>(request[i]);
    const bool utf8C1 = byte == 0xc2 && i + 1 < request.size() &&
                        isControl(static_cast<unsigned char>(request[i + 1])) &&
                        static_cast<unsigned char>(request[i + 1]) >= 0x80;
    if (isControl(byte) || utf8C1) {
      echo += "\\x";
      echo += kHex[byte >> 4];
      echo += kHex[byte & 0x0f];
    } else {
      echo += request[i];
    }
  }
  return echo;
}

std::string droppedEchoLine(std::uint64_t dropped) {
  return "(" + std::to_string(dropped) + " echo lines dropped: standard output was full)\n";
}
