// The network front end: listens on one TCP port (every IPv4 address), or
// on the socket a service manager handed over (listening_socket.h), serves
// the first client, one request after another, and ends.
//
// Requests are split out of each read (request_text.h) and echoed to the
// console (console_echo.h). "shortrep" switches to the short reply form,
// "bye" ends serving, an empty request is skipped; everything else goes to
// the interpreter, and its reply goes back with a line feed.
//
// How serving ends, and the exit status:
// - "bye": 0. The motors keep what the client last told them.
// - the client goes away (end of stream, a failed read or write, a reply
//   that it does not take within kReplyWriteBound): 0, after the coasting
//   stop to every motor when the brick link is open. The end of stream
//   takes effect after the last request the client sent: every request
//   before it is served and answered in order. A "goto" or a sonar wait
//   ends at once when the end of stream shows while it is the last
//   request, and kScriptEndBound after it otherwise.
// - SIGINT, SIGTERM or SIGHUP (on Windows Ctrl-C, Ctrl-Break or closing the
//   console): the same stop, then the process ends as the signal would
//   have ended it (stop_signals.h).
// - the port cannot be listened on, or the accept fails: 1, after one line
//   on standard error naming the program, the port and the reason.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "server/program_start.h"

constexpr std::uint16_t kDefaultPort = 2056;
constexpr std::size_t kReadBufferSize = 512;

// How long a reply may wait for a client that takes no bytes.
constexpr std::chrono::seconds kReplyWriteBound{5};

// How long a wait on the brick goes on once the client's end of stream has
// shown with requests still to serve: a client that went away looks the
// same as one that only shut down its sending side.
constexpr std::chrono::seconds kScriptEndBound{30};

struct ServerSettings {
  const char* programName = "nxt-bridge";  // the first word of every message
  std::uint16_t port = kDefaultPort;
  const char* brickLink = "USB";  // for the start-up line: "... over USB"
};

// Serves one client as above and returns the exit status (a stop signal
// ends the process instead). Writes one line to standard error once it
// listens: "nxt-bridge: serving TCP port 2056 over USB" (the port is the
// handed-over socket's when there is one).
int serveOneClient(const ServerSettings& settings);
