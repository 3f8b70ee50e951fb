// The echo of every request on the console (standard output), one line
// each, written so that neither the client nor a stalled console can do
// harm:
// - control codes are written as \xHH: the C0 codes (tab aside), DEL, the
//   C1 codes 0x80 to 0x9F, and C2 before a C1 code (the C1 code in UTF-8),
//   so that no byte a client sends can drive the operator's terminal;
// - the echo never waits: when the console takes no more (a full pipe that
//   nobody reads, a terminal that is stopped or whose reader is gone),
//   lines are dropped and counted, and once it takes bytes again one line
//   says how many were dropped before the next echo. On Windows a writer
//   thread takes the bytes through a bounded queue (console_echo_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The console form of one request, without line end.
std::string consoleEcho(const std::string& request);
// The same, appended to `echo` (whose buffer a loop can reuse).
void appendConsoleEcho(std::string& echo, const std::string& request);

struct ConsoleEcho {
  // How `fd` is written without waiting.
  enum class Way : std::uint8_t {
    kPolled,       // asked first whether it takes bytes (the descriptor as it is)
    kNonBlocking,  // a non-blocking description of the console opened for the echo
    kSocket,       // a socket: each send says not to wait
  };
  int fd = 1;  // standard output
  Way way = Way::kPolled;
  std::string pending;        // bytes taken for the console and not yet written
  std::uint64_t dropped = 0;  // lines dropped since the last one written
};

// Sets `console` up to write to `fd` without ever waiting. A pipe or a
// terminal is opened anew, non-blocking, so that the flags of the
// description shared with the shell that started us stay as they are.
void openConsole(ConsoleEcho& console, int fd = 1);

// Closes what openConsole opened, after one last try at the pending bytes.
void closeConsole(ConsoleEcho& console);

// Echoes `request` and a line feed, or drops it when the console still holds
// bytes of earlier lines. Never waits.
void echoRequest(ConsoleEcho& console, const std::string& request);

// Writes what the console takes now of the pending bytes, and the count of
// dropped lines. Never waits.
void flushConsole(ConsoleEcho& console);

// How one write to the console went.
enum class ConsoleWrite { kWritten, kFull, kGone };

// Writes some of `size` bytes of `data` to the console without waiting,
// retrying an interrupted write; `written` gets how many it took.
ConsoleWrite writeConsoleSome(const ConsoleEcho& console, const char* data, std::size_t size,
                              std::size_t& written);
