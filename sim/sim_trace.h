// A trace of every telegram that crosses the link to the simulated brick,
// one line each: "> " and the bytes the host sent (type byte first), or
// "< " and the bytes the brick answered (0x02 first); each byte as two
// lower-case hex digits, separated by one blank; and "# " and an event
// inside the brick, e.g. "# program demo.rxe started". Lines go to a file,
// flushed at once, and/or are kept in memory for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct SimTrace {
  std::FILE* file = nullptr;  // owned; null when not tracing to a file
  std::string path;           // of the file, for messages
  std::string programName;    // the first word of its messages
  bool keepLines = false;
  std::vector<std::string> lines;
};

// Formats one trace line: `direction` is '>' or '<'.
std::string traceLine(char direction, const std::uint8_t* bytes, std::size_t length);

// Opens `path` for writing (truncating it). False when it cannot be opened.
bool traceOpenFile(SimTrace& trace, const std::string& path);
void traceClose(SimTrace& trace);

// Adds one line. A line that cannot be written to the file (a full disk)
// is told on standard error, one line with the reason, and the file is
// closed: tracing to it stops, the program goes on.
void traceTelegram(SimTrace& trace, char direction, const std::uint8_t* bytes, std::size_t length);

// Writes "# " and `event` as one line.
void traceEvent(SimTrace& trace, const std::string& event);
