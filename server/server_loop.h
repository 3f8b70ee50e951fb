// The network front end: serves one TCP client, one request per read.
//
// Each read (at most 512 bytes) is one request. Its text ends at the first
// carriage return or line feed; quotes become blanks. The cleaned text is
// echoed to standard output. "shortrep" switches to the short reply form,
// "bye" ends serving, an empty request is skipped; everything else goes to
// the interpreter and its reply goes back with a line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::uint16_t kDefaultPort = 2056;
constexpr std::size_t kReadBufferSize = 512;

// The request text of one read: cut at the first CR or LF, quotes turned
// into blanks.
std::string cleanRequest(const char* data, std::size_t length);

// The console form of a cleaned request: bytes below 0x20 (tab aside) and
// 0x7F are written as \xHH so that a client cannot drive the terminal.
std::string consoleEcho(const std::string& request);

enum class LoopKeyword { kNone, kShortRep, kBye, kEmpty };

// The loop keywords, exactly: "shortrep", "bye", or either with one blank
// on each side (what a quoted keyword becomes).
LoopKeyword loopKeyword(const std::string& request);

// Listens on `port` (every IPv4 address), or on the socket a service
// manager handed over (server/listening_socket.h), serves the first client until it
// sends "bye" or goes away, then closes both sockets. A failure to set up
// the socket is written to standard error. Returns the exit status, 0.
int serveOneClient(std::uint16_t port);
