// What the tests through a rig (the USB rig, the Bluetooth rig) share: a
// rig folder of their own, the rig's control port, and one session over
// every module whose replies and telegrams are compared with
// nxt-bridge-sim's. Every wait is bounded.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e_harness.h"

// A rig directory of our own (--rig-dir), removed at the end.
struct RigDir {
  std::string path;
  RigDir();
  ~RigDir();
};

std::string readFile(const std::string& path);

// Sends `command` to the guest's control port and waits for its answer:
// "done COMMAND", "error COMMAND", or "<timeout>".
std::string control(const RigDir& rig, const std::string& command,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

// Starts the rig with `args` and its files in `rig`.
bool startRig(SimServer& server, const RigDir& rig, std::vector<std::string> args = {},
              bool withTrace = true);

// The first state message of the live page on loopback `port` (--view),
// read over a WebSocket within `bound`; empty when none came.
std::string liveStateMessage(int port, std::chrono::milliseconds bound);

// Starts the rig as startRig does, and says how long it took to listen.
bool startRigSayingBootTime(SimServer& server, const RigDir& rig,
                            const std::vector<std::string>& args);

// Each of `badArgs` is refused before the guest boots: exit status 2, one
// line on standard error, no console log.
void expectRefusedBeforeBooting(const RigDir& rig,
                                const std::vector<std::vector<std::string>>& badArgs);

// While the brick is gone, muted or late: `line` is answered within
// `bound`, and not with the brick's data (its battery level 8100, its
// name NXT).
void expectAnsweredWithoutTheBrick(SimServer& server, const std::string& line,
                                   std::chrono::milliseconds bound);

// The brick answers with its own data again: its battery level 8100, then
// its name NXT.
void expectTheBrickAnswers(SimServer& server);

// "bye" ends the server (within 30 s, in a slow guest) with status 0.
void expectByeEndsTheServer(SimServer& server);

// After "nxt;open" answered "err" (no brick to open): a request for the
// brick is refused as not open, "bye" ends the server, not one telegram
// crossed the link, and the server's own `words` on its standard error
// reach ours.
void expectNothingWithoutABrick(SimServer& server, const std::string& words);

// The reply to the request on the wire when the brick went: it comes
// within `bound`, and the connection stays. Returns it.
std::string inFlightReply(SimServer& server, std::chrono::milliseconds bound);

// One request of each kind: the brick's battery and name, a tone, a motor,
// a sensor.
extern const char* const kRequestsOfEveryKind[5];

// The lines of `lines` from index `from` on, and the last `count` of them.
std::vector<std::string> since(const std::vector<std::string>& lines, std::size_t from);
std::vector<std::string> lastLines(const std::vector<std::string>& lines, std::size_t count);

// With the link open, starts a goto that never ends and sends the rig's
// launcher SIGTERM: the launcher ends with the server's status (143) and
// the brick's trace ends with the coasting stops of motors A, B and C.
void expectAStopSignalLetsTheStopsReachTheBrick(SimServer& server);

// What a session over every module gave: the replies (those that depend on
// time as "(varies)"), the telegrams the host sent, the server's standard
// output and exit status.
struct SessionRecord {
  std::vector<std::string> replies;
  std::vector<std::string> sent;
  std::string stdoutText;
  int exitStatus = -1;
};

// Runs the session on a started server, ending it with "bye".
void runSession(SimServer& server, SessionRecord& record);

// The same session through nxt-bridge-sim with `brickOptions`: the record
// that a rig must give. Afterwards the harness runs `rigProgram` again,
// waiting up to `rigStart` for it.
SessionRecord expectedSession(const std::vector<std::string>& brickOptions,
                              const std::string& simProgram, const std::string& rigProgram,
                              std::chrono::seconds rigStart);

// The first trace lines of that session with the options --name Robo1
// --battery 7516 (brick commands of the "nxt" module, byte for byte), the
// brick's Bluetooth address in its GETDEVICEINFO reply being
// `addressBytes`; and whether the trace holds its motor and sensor
// commands too.
std::vector<std::string> expectedSessionTraceStart(
    const std::string& addressBytes = "00 16 53 0a 0b 0c");
bool traceHasMotorAndSensorCommands(const std::vector<std::string>& trace);

// Runs the session on the started rig `server` and checks it against
// `expected` (exit status, replies, telegrams, standard output), and its
// trace: it begins with `traceStart` and holds motor and sensor commands.
void expectTheSameSession(SimServer& server, const SessionRecord& expected,
                          const std::vector<std::string>& traceStart);
