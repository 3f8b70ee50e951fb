// The echo of every request on the console (standard output), one line
// each, written so that neither the client nor a stalled console can do
// harm:
// - control codes are written as \xHH: the C0 codes (tab aside), DEL, the
//   C1 codes 0x80 to 0x9F, and C2 before a C1 code (the C1 code in UTF-8),
//   so that no byte a client sends can drive the operator's terminal;
// - the echo never waits: when the console takes no more (a full pipe that
//   nobody reads), lines are dropped and counted, and once it takes bytes
//   again one line says how many were dropped before the next echo. On
//   Windows, where a console or pipe cannot be asked whether a write would
//   wait, a writer thread of its own takes the lines through a bounded
//   queue; a full queue drops them the same way.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

constexpr std::chrono::milliseconds kConsoleDrainBound{500};

// The console form of one request, without line end.
std::string consoleEcho(const std::string& request);

// The line that tells how many echo lines were dropped.
std::string droppedEchoLine(std::uint64_t dropped);

struct ConsoleEcho {
  int fd = 1;                 // standard output
  std::string pending;        // bytes taken for the console and not yet written
  std::uint64_t dropped = 0;  // lines dropped since the last one written
};

// Echoes `request` and a line feed, or drops it when the console still holds
// bytes of earlier lines. Never waits.
void echoRequest(ConsoleEcho& console, const std::string& request);

// Writes what the console takes now of the pending bytes, and the count of
// dropped lines. Never waits (on Windows: for the writer thread at most
// kConsoleDrainBound, as serving ends).
void flushConsole(ConsoleEcho& console);
