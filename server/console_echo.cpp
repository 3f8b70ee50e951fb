#include "server/console_echo.h"

namespace {

bool isControl(unsigned char byte) {
  return (byte < 0x20 && byte != '\t') || byte == 0x7f || (byte >= 0x80 && byte <= 0x9f);
}

// Writes as much of `console.pending` as the console takes without waiting.
// True when nothing is left. A console that is gone (closed, or a pipe
// without reader) takes everything: it is dropped.
bool writeWithoutWaiting(ConsoleEcho& console) {
  while (!console.pending.empty()) {
    std::size_t written = 0;
    switch (writeConsoleSome(console, console.pending.data(), console.pending.size(), written)) {
      case ConsoleWrite::kWritten:
        console.pending.erase(0, written);
        break;
      case ConsoleWrite::kFull:
        return false;
      case ConsoleWrite::kGone:
        console.pending.clear();
        break;
    }
  }
  return true;
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

void echoRequest(ConsoleEcho& console, const std::string& request) {
  flushConsole(console);
  if (!console.pending.empty()) {
    ++console.dropped;
    return;
  }
  console.pending = consoleEcho(request) + "\n";
  writeWithoutWaiting(console);
}

void flushConsole(ConsoleEcho& console) {
  if (!writeWithoutWaiting(console) || console.dropped == 0) return;
  console.pending =
      "(" + std::to_string(console.dropped) + " echo lines dropped: standard output was full)\n";
  console.dropped = 0;
  writeWithoutWaiting(console);
}
