// Runs a server program (nxt-bridge-sim on a free loopback port, or any
// other on a given port) as a child process and talks to it over a real
// socket, the way a client does. Every wait is bounded; the destructor stops
// the server if it is still running.
//
// Another program that takes nxt-bridge-sim's options can stand in for it
// (the USB rig's launcher, which runs the real nxt-bridge): name it in the
// environment as NXT_E2E_SERVER, and the seconds to wait for it to accept a
// client as NXT_E2E_START_SECONDS (default 10), or call useServerProgram.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/loopback_sockets.h"

struct SimServer {
  int pid = -1;
  int port = 0;
  int sock = -1;
  int stdoutFd = -1;  // read end of the server's standard output
  int stderrFd = -1;
  std::string stdoutText;
  std::string stderrText;
  std::string traceFile;
  int exitStatus = -1;
  int exitSignal = 0;  // the signal that ended the server, 0 when none did
  int stdinFd = -1;    // write end of the server's standard input

  SimServer() = default;
  SimServer(const SimServer&) = delete;  // owns the process and its descriptors
  SimServer& operator=(const SimServer&) = delete;
  ~SimServer();
};

// A client socket connected to `port` on 127.0.0.1, or -1.
int connectTo(int port);

// True when a listening socket can be bound to `port` on every IPv4
// address right now, with address reuse as the servers bind it.
bool portIsFree(int port);

// Starts nxt-bridge-sim with `args` (plus --port, --latency-us 0 for an
// instant link unless `args` set a latency, and, when `withTrace`, --trace
// to a temporary file) and connects to it. False when the server
// cannot be reached within a few seconds.
// With `port` nonzero the server is started on that port instead.
bool startServer(SimServer& server, const std::vector<std::string>& args = {},
                 bool withTrace = true, int port = 0);

// Starts the program at `path` with `args` as a child process that serves
// `port`, its standard input and output on pipes, without connecting to it;
// `inChild`, when given, runs in the child just before the program starts
// (to hand it a descriptor or an environment). False when it cannot start.
bool spawnProgram(SimServer& server, const std::string& path, const std::vector<std::string>& args,
                  int port, const std::function<void()>& inChild = {});

// Starts the program at `path` with `args` and connects to it on loopback
// `port`. False when it cannot be reached within a few seconds; when the
// program has ended by then, its exit status and output are collected and
// `server.pid` is -1.
bool startProgram(SimServer& server, const std::string& path, const std::vector<std::string>& args,
                  int port);

// Waits until the server's standard output contains `text`. False when it
// does not within `timeout`, or the server ends first.
bool waitForOutput(SimServer& server, const std::string& text,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Sends `bytes` in one write, as one request.
bool sendRaw(SimServer& server, const std::string& bytes);

// Sends `line` and a line feed, then reads one reply line (without its line
// feed). Returns "<timeout>" or "<closed>" when no line comes.
std::string request(SimServer& server, const std::string& line,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Reads one reply line. Same results as request().
std::string readLine(SimServer& server,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// True when nothing arrives within `wait`.
bool nothingArrives(SimServer& server, std::chrono::milliseconds wait);

// Waits for the server to exit; kills it after `timeout`. Returns its exit
// status, or -1 when it had to be killed or a signal ended it (then in
// `exitSignal`). Collects its output.
int waitForExit(SimServer& server,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Sends "bye" and waits for the server to exit, as waitForExit does; -2
// when "bye" cannot be sent.
int sayBye(SimServer& server, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The lines of the trace file so far.
std::vector<std::string> traceLines(const SimServer& server);

// The lines that the host sent ("> ..."), without the "> ".
std::vector<std::string> sentTelegrams(const SimServer& server);

// The last `count` of them (fewer when fewer were sent).
std::vector<std::string> lastSent(const SimServer& server, std::size_t count);

// The coasting stop of motors A, B and C, as the trace shows it.
inline const std::vector<std::string> kEveryMotorCoasts = {
    "80 04 00 00 00 00 00 00 00 00 00 00",
    "80 04 01 00 00 00 00 00 00 00 00 00",
    "80 04 02 00 00 00 00 00 00 00 00 00",
};

// Closes the client side of the connection.
void closeClient(SimServer& server);

// Sends a request that gets no reply ("shortrep", an empty line) and waits
// until the server has echoed it, so that the next request is a read of its
// own. False when no echo comes within `timeout`.
bool sendUnanswered(SimServer& server, const std::string& line,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Starts nxt-bridge-sim like startServer but does not connect: it waits
// until the port is listening, so that another program can be the client.
bool startServerListening(SimServer& server, const std::vector<std::string>& args = {});

// Runs `command` through the shell, bounded by `timeout` seconds; returns
// its standard output, and its exit status in `status`.
std::string runCommand(const std::string& command, int& status, int timeoutSeconds = 30);
// Types `line` on the server's console (standard input; the server runs
// with --console) and waits until the server acknowledges it with
// "sim: " and the line on standard output. False when no acknowledgement
// comes within `timeout`.
bool consoleInput(SimServer& server, const std::string& line,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The program that startServer and startServerListening run, and how long
// every start waits for its program: nxt-bridge-sim and 10 s unless the
// environment or useServerProgram says otherwise.
std::string serverProgram();
std::chrono::seconds serverStartTimeout();

// True when the program is a Windows one under Wine (NXT_E2E_WINDOWS=1):
// it stops on SIGINT alone (Wine's Ctrl-C; SIGTERM ends Wine at once), and
// exits then with the low byte of STATUS_CONTROL_C_EXIT.
bool serverIsWindowsProgram();
constexpr int kWindowsControlCExit = 0x3a;

// True when the server under test cannot do `what` as nxt-bridge-sim does,
// by the words (separated by commas) of NXT_E2E_SERVER_LACKS, which the
// run through a launcher sets; nxt-bridge-sim itself lacks nothing:
//   own-words     nxt-bridge-sim's own messages: its name in an error, its
//                 refusal of an option value, a trace file that fails
//   latency       --latency-us spent on every exchange
//   prompt-trace  a telegram that gets no reply traced before the next
//                 request is read
//   device-info   the GETDEVICEINFO reply as the options set it
//   quick-start   a start in well under a second: a launcher that boots a
//                 guest for each start runs only the cases without this
bool serverLacks(const std::string& what);

// Skips the case when the server under test lacks `what` (above).
#define E2E_NEEDS(what)                                                              \
  do {                                                                               \
    if (serverLacks(what)) GTEST_SKIP() << "the server under test lacks " << (what); \
  } while (false)

// Runs `path` instead of nxt-bridge-sim from now on, waiting up to
// `startTimeout` for it to accept a client.
void useServerProgram(const std::string& path, std::chrono::seconds startTimeout);
