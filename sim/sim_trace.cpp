#include "sim/sim_trace.h"

#include <cerrno>
#include <cstring>

std::string traceLine(char direction, const std::uint8_t* bytes, std::size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(2 + length * 3);
  line += direction;
  for (std::size_t i = 0; i < length; ++i) {
    line += ' ';
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 0x0f];
  }
  return line;
}

bool traceOpenFile(SimTrace& trace, const std::string& path) {
  traceClose(trace);
  // Binary: lines end with a line feed alone on every system.
  trace.file = std::fopen(path.c_str(), "wb");
  trace.path = path;
  return trace.file != nullptr;
}

void traceClose(SimTrace& trace) {
  if (trace.file != nullptr) std::fclose(trace.file);
  trace.file = nullptr;
}

namespace {

void traceWrite(SimTrace& trace, const std::string& line) {
  if (trace.file != nullptr) {
    errno = 0;
    const bool written = std::fputs(line.c_str(), trace.file) >= 0 &&
                         std::fputc('\n', trace.file) != EOF && std::fflush(trace.file) == 0;
    if (!written) {
      const int error = errno;
      std::fprintf(stderr, "%s: cannot write the trace file %s: %s; tracing stops\n",
                   trace.programName.c_str(), trace.path.c_str(),
                   error != 0 ? std::strerror(error) : "write failed");
      traceClose(trace);
    }
  }
  if (trace.keepLines) trace.lines.push_back(line);
}

}  // namespace

void traceTelegram(SimTrace& trace, char direction, const std::uint8_t* bytes, std::size_t length) {
  if (trace.file == nullptr && !trace.keepLines) return;
  traceWrite(trace, traceLine(direction, bytes, length));
}

void traceEvent(SimTrace& trace, const std::string& event) {
  if (trace.file == nullptr && !trace.keepLines) return;
  traceWrite(trace, "# " + event);
}
