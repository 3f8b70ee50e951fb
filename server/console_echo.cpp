#include "server/console_echo.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/no_coverage.h"

namespace {

// What the echo makes of each byte, looked up: every byte a client sends
// passes here.
enum class EchoKind : std::uint8_t { kPlain, kControl, kLeadC2 };
constexpr std::array<EchoKind, 256> kEchoKinds = [] {
  std::array<EchoKind, 256> table{};
  for (std::size_t byte = 0; byte < 256; ++byte) {
    const bool control =
        (byte < 0x20 && byte != '\t') || byte == 0x7f || (byte >= 0x80 && byte <= 0x9f);
    table[byte] = control        ? EchoKind::kControl
                  : byte == 0xc2 ? EchoKind::kLeadC2
                                 : EchoKind::kPlain;
  }
  return table;
}();

EchoKind kindOf(char c) { return kEchoKinds[static_cast<unsigned char>(c)]; }

// The first byte in [at, end) that is not plain, or end.
NXT_NO_COVERAGE const char* findNotPlain(const char* at, const char* end) {
  while (at != end && kindOf(*at) == EchoKind::kPlain) ++at;
  return at;
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

void appendConsoleEcho(std::string& echo, const std::string& request) {
  static const char kHex[] = "0123456789abcdef";
  echo.reserve(echo.size() + request.size());
  const std::size_t size = request.size();
  std::size_t i = 0;
  while (i < size) {
    const auto plainEnd = static_cast<std::size_t>(
        findNotPlain(request.data() + i, request.data() + size) - request.data());
    echo.append(request, i, plainEnd - i);
    if (plainEnd == size) break;
    i = plainEnd;
    const auto byte = static_cast<unsigned char>(request[i]);
    // C2 leads a C1 code (0x80-0x9F) in UTF-8.
    const bool utf8C1 = kindOf(request[i]) == EchoKind::kLeadC2 && i + 1 < size &&
                        kindOf(request[i + 1]) == EchoKind::kControl &&
                        static_cast<unsigned char>(request[i + 1]) >= 0x80;
    if (kindOf(request[i]) == EchoKind::kControl || utf8C1) {
      echo += "\\x";
      echo += kHex[byte >> 4];
      echo += kHex[byte & 0x0f];
    } else {
      echo += request[i];
    }
    ++i;
  }
}

std::string consoleEcho(const std::string& request) {
  std::string echo;
  appendConsoleEcho(echo, request);
  return echo;
}

void echoRequest(ConsoleEcho& console, const std::string& request) {
  flushConsole(console);
  if (!console.pending.empty()) {
    ++console.dropped;
    return;
  }
  appendConsoleEcho(console.pending, request);
  console.pending += '\n';
  writeWithoutWaiting(console);
}

void flushConsole(ConsoleEcho& console) {
  if (!writeWithoutWaiting(console) || console.dropped == 0) return;
  console.pending =
      "(" + std::to_string(console.dropped) + " echo lines dropped: standard output was full)\n";
  console.dropped = 0;
  writeWithoutWaiting(console);
}
