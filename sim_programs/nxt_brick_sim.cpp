// nxt-brick-sim: the simulated brick alone, on a Bluetooth serial line, as
// nxt-bridge-bt (or any NXT library) reaches a real brick: each telegram
// and each reply travels as one frame behind its length (link/bt_frame.h).
//
//   nxt-brick-sim --pty [--link PATH] [--fault KIND@N[=VALUE]]... [--check]
//                 [BRICK OPTION]...
//   nxt-brick-sim --rfcomm [--fault ...]... [BRICK OPTION]...
//
// --pty makes a pseudo-terminal and prints the path of its terminal side
// on standard output, one line; --link PATH also makes PATH a symbolic
// link to it. --rfcomm listens on RFCOMM channel 1 of every local adapter,
// serves one connection at a time, and says "listening on RFCOMM channel
// 1" on standard output. The brick options are those of nxt-bridge-sim
// (--port is accepted and ignored); with --no-brick nothing answers: the
// pseudo-terminal stays locked, so that opening it fails with EIO as a
// bound rfcomm device with no brick behind it does, and nothing listens on
// channel 1. --check only checks the options. With --view PORT the brick
// is shown on nxt-bridge-sim's live page; where it is goes to standard
// error, so that standard output keeps its one line.
//
// Faults for tests, each on the Nth telegram received (counting from 1,
// telegrams without a reply too):
//   drop@N       hang up the line instead of answering; a pseudo-terminal
//                is made afresh, PATH then leads to it, and its path goes to
//                standard error
//   hold@N=MS    hold the reply MS milliseconds before sending it
//   split@N      send the reply one byte per write, 2 ms apart
//   length@N=L   send the reply behind the length L instead of its own
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/bt_address.h"
#include "link/bt_frame.h"
#include "link/transport.h"
#include "link/transport_sim.h"
#include "server/program_start.h"
#include "sim_programs/sim_program.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class FaultKind { kDrop, kHold, kSplit, kLength };

struct Fault {
  FaultKind kind;
  long telegram;  // the Nth telegram, from 1
  long value;     // milliseconds for hold, the length for length
};

struct BrickSimOptions {
  bool pty = false;
  bool rfcomm = false;
  bool check = false;
  std::string linkPath;
  std::vector<Fault> faults;
  SimProgramOptions sim;
};

// The symbolic link made, removed when a signal ends the program.
char gLinkPath[4096];
// Set while a line is served: a stop signal then ends the program once the
// telegrams already on the line are answered (the host's last stops among
// them). A second signal ends it at once.
volatile sig_atomic_t gServingLine = 0;
volatile sig_atomic_t gStopAsked = 0;
// How often a line with nothing on it looks for a stop asked for, and how
// long a host that goes on sending may keep a stopped brick serving.
constexpr std::chrono::milliseconds kIdleLook{50};
constexpr std::chrono::seconds kStopBound{2};

void say(const std::string& message) { std::cerr << "nxt-brick-sim: " << message << std::endl; }

// The head of --help; the brick options follow it.
const char kUsageHead[] =
    "Usage: nxt-brick-sim --pty [--link PATH] [--fault KIND@N[=VALUE]]... [BRICK OPTION]...\n"
    "       nxt-brick-sim --rfcomm [--fault KIND@N[=VALUE]]... [BRICK OPTION]...\n"
    "Serves the simulated NXT brick with Bluetooth framing on a pseudo-terminal\n"
    "(its path on standard output) or on RFCOMM channel 1.\n"
    "\n";

// A count from 0 to `max`, into a long.
bool parseCount(const std::string& text, long max, long& value) {
  long long parsed = 0;
  if (!parseDecimal(text, 0, max, parsed)) return false;
  value = static_cast<long>(parsed);
  return true;
}

// "KIND@N" or "KIND@N=VALUE".
bool parseFault(const std::string& text, Fault& fault) {
  const std::size_t at = text.find('@');
  if (at == std::string::npos) return false;
  const std::string kind = text.substr(0, at);
  const std::size_t eq = text.find('=', at);
  const std::string count = text.substr(at + 1, eq == std::string::npos ? eq : eq - at - 1);
  const bool hasValue = eq != std::string::npos;
  const std::string value = hasValue ? text.substr(eq + 1) : "";
  if (!parseCount(count, 1000000000, fault.telegram) || fault.telegram < 1) return false;
  fault.value = 0;
  if (kind == "drop" || kind == "split") {
    fault.kind = kind == "drop" ? FaultKind::kDrop : FaultKind::kSplit;
    return !hasValue;
  }
  if (kind == "hold") {
    fault.kind = FaultKind::kHold;
    return hasValue && parseCount(value, 60000, fault.value);
  }
  if (kind == "length") {
    fault.kind = FaultKind::kLength;
    return hasValue && parseCount(value, 65535, fault.value);
  }
  return false;
}

// Our own options, ahead of the brick's.
CommandLineTable optionTable(BrickSimOptions& o) {
  CommandLineTable table = {
      {"--pty", nullptr, "serve on a new pseudo-terminal",
       [&o](const std::string&) { return o.pty = true; }},
      {"--link", "PATH", "make PATH a symbolic link to the terminal", keepValue(o.linkPath)},
      {"--rfcomm", nullptr, "listen on RFCOMM channel 1",
       [&o](const std::string&) { return o.rfcomm = true; }},
      {"--fault", "KIND@N[=V]",
       "a fault on the Nth telegram: drop@N, hold@N=MS, split@N,\n"
       "                        length@N=L (for tests)",
       [&o](const std::string& v) {
         Fault fault{};
         if (!parseFault(v, fault)) return false;
         o.faults.push_back(fault);
         return true;
       }},
      {"--check", nullptr, "only check the options",
       [&o](const std::string&) { return o.check = true; }},
  };
  return table;
}

// The fault told of a command line whose first `own` rows in `table` are
// ours: a missing or bad value of ours first, as ours are taken before the
// brick's, else the first fault.
std::string faultText(const std::vector<CommandLineFault>& faults, const CommandLineTable& table,
                      std::size_t own) {
  const auto ours = [&](const CommandLineFault& fault) {
    return fault.option != nullptr && fault.option < table.data() + own;
  };
  for (const CommandLineFault& fault : faults) {
    if (!ours(fault) || fault.kind == CommandLineFault::kTakesNoValue) continue;
    if (fault.kind == CommandLineFault::kNeedsValue)
      return "option " + fault.name + " needs a value";
    return "bad value '" + fault.value + "' for --fault KIND@N[=VALUE]";
  }
  // "--pty=1" is none of ours.
  if (ours(faults.front())) return "unknown option '" + faults.front().name + "'";
  return simFaultText(faults.front());
}

// Parses our own options and the brick's, from one table. False with
// `error` on a bad option.
bool parseOptions(int argc, const char* const* argv, BrickSimOptions& options, std::string& error) {
  CommandLineTable table = optionTable(options);
  const std::size_t own = table.size();
  const CommandLineTable brick = simOptionTable(options.sim);
  table.insert(table.end(), brick.begin(), brick.end());
  const std::vector<CommandLineFault> faults = parseCommandLine(argc, argv, table);
  if (!faults.empty()) {
    error = faultText(faults, table, own);
    return false;
  }
  if (!finishSimOptions(options.sim, error)) return false;
  if (options.sim.help || options.sim.version) return true;
  if (options.pty == options.rfcomm) {
    error = "give one of --pty and --rfcomm";
    return false;
  }
  if (!options.linkPath.empty() && !options.pty) {
    error = "--link goes with --pty";
    return false;
  }
  if (options.linkPath.size() >= sizeof gLinkPath - 8) {
    error = "the --link path is too long";
    return false;
  }
  return true;
}

[[noreturn]] void endNow() {
  if (gLinkPath[0] != '\0') ::unlink(gLinkPath);
  ::_exit(0);
}

void onEndSignal(int) {
  if (gServingLine != 0 && gStopAsked == 0) {
    gStopAsked = 1;
    return;
  }
  endNow();
}

// Makes `link` a symbolic link to `target`, replacing what is there in one
// step.
bool relink(const std::string& link, const std::string& target) {
  const std::string temporary = link + ".new";
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) return false;
  return ::rename(temporary.c_str(), link.c_str()) == 0;
}

void setRaw(int fd) {
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) return;
  ::cfmakeraw(&mode);
  ::tcsetattr(fd, TCSANOW, &mode);
}

// A pseudo-terminal: the brick's side (the master) and its terminal side.
struct Pty {
  int master = -1;
  int terminal = -1;  // held open by us, so that the master never sees a
                      // hang-up while the bridge has the terminal closed
  std::string path;
};

// Makes a pseudo-terminal, raw, unlocked only when a brick is attached.
bool makePty(bool unlock, Pty& pty) {
  pty.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master < 0 || ::grantpt(pty.master) != 0) return false;
  const char* name = ::ptsname(pty.master);
  if (name == nullptr) return false;
  pty.path = name;
  if (!unlock) return true;
  if (::unlockpt(pty.master) != 0) return false;
  pty.terminal = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.terminal < 0) return false;
  setRaw(pty.terminal);
  ::fcntl(pty.master, F_SETFL, O_NONBLOCK);
  return true;
}

void closePty(Pty& pty) {
  if (pty.terminal >= 0) ::close(pty.terminal);
  if (pty.master >= 0) ::close(pty.master);
  pty = Pty{};
}

const Fault* faultFor(const std::vector<Fault>& faults, long telegram) {
  for (const Fault& fault : faults) {
    if (fault.telegram == telegram) return &fault;
  }
  return nullptr;
}

// Sends one reply frame, as the fault (if any) says.
void sendReply(int fd, const std::uint8_t* reply, std::size_t length, const Fault* fault) {
  std::uint8_t frame[kBtFrameHeader + kBtMaxFrameBody];
  const std::size_t size = btEncodeFrame(reply, length, frame);
  if (fault != nullptr && fault->kind == FaultKind::kHold) {
    std::this_thread::sleep_for(std::chrono::milliseconds(fault->value));
  }
  if (fault != nullptr && fault->kind == FaultKind::kLength) {
    nxt::writeU16(frame, static_cast<std::uint16_t>(fault->value));
  }
  int error = 0;
  if (fault != nullptr && fault->kind == FaultKind::kSplit) {
    for (std::size_t i = 0; i < size; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      btWriteAll(fd, frame + i, 1, Clock::now() + std::chrono::seconds(2), error);
    }
    return;
  }
  if (btWriteAll(fd, frame, size, Clock::now() + std::chrono::seconds(2), error) !=
      BtIoResult::kOk) {
    say("a reply could not be sent");
  }
}

// Serves telegrams on `fd` until the other side goes, the stream loses
// step, or a drop fault hangs up. `received` counts telegrams over the
// whole run.
void serveLine(int fd, TransportDevice* brick, const std::vector<Fault>& faults, long& received) {
  BtFrameReader reader;
  std::uint8_t telegram[kBtMaxFrameBody];
  gServingLine = 1;
  struct NotServing {
    ~NotServing() { gServingLine = 0; }
  } notServing;
  std::optional<Clock::time_point> stopSeen;
  for (;;) {
    std::size_t length = 0;
    int error = 0;
    const BtIoResult result =
        btReadFrame(fd, reader, telegram, sizeof telegram, length, Clock::now() + kIdleLook, error);
    if (gStopAsked != 0) {
      if (!stopSeen) stopSeen = Clock::now();
      const bool idle = result == BtIoResult::kTimeout && reader.have == 0;
      if (idle || Clock::now() - *stopSeen >= kStopBound) endNow();
    }
    if (result == BtIoResult::kTimeout) continue;
    if (result == BtIoResult::kOutOfStep) {
      say("a telegram of length " + std::to_string(btFrameLength(reader.bytes)) +
          ": out of step, hanging up");
      return;
    }
    if (result != BtIoResult::kOk) return;
    const Fault* fault = faultFor(faults, ++received);
    if (fault != nullptr && fault->kind == FaultKind::kDrop) {
      traceTelegram(simTransportTrace(), '>', telegram, length);
      say("telegram " + std::to_string(received) + ": hanging up (fault drop)");
      return;
    }
    // The simulated transport traces both ways and spends the latency.
    if (transportSend(brick, telegram, length) != kTransportOk) continue;
    std::uint8_t reply[nxt::kMaxTelegramLength];
    std::size_t replyLength = 0;
    if (transportReceive(brick, reply, sizeof reply, replyLength) != kTransportOk) continue;
    sendReply(fd, reply, replyLength, fault);
  }
}

int servePty(const BrickSimOptions& options, TransportDevice* brick) {
  Pty pty;
  if (!makePty(brick != nullptr, pty)) {
    say(std::string("cannot make a pseudo-terminal: ") + std::strerror(errno));
    return 1;
  }
  if (!options.linkPath.empty()) {
    if (!relink(options.linkPath, pty.path)) {
      say("cannot link " + options.linkPath + ": " + std::strerror(errno));
      return 1;
    }
    std::snprintf(gLinkPath, sizeof gLinkPath, "%s", options.linkPath.c_str());
  }
  std::cout << pty.path << std::endl;
  if (brick == nullptr) {
    for (;;) ::pause();
  }
  long received = 0;
  for (;;) {
    serveLine(pty.master, brick, options.faults, received);
    // Hung up: a fresh line, in place before the old one goes.
    Pty fresh;
    if (!makePty(true, fresh)) {
      say(std::string("cannot make a pseudo-terminal: ") + std::strerror(errno));
      return 1;
    }
    if (!options.linkPath.empty() && !relink(options.linkPath, fresh.path)) {
      say("cannot link " + options.linkPath + ": " + std::strerror(errno));
      return 1;
    }
    closePty(pty);
    pty = fresh;
    say("the line is up again at " + pty.path);
  }
}

int serveRfcomm(const BrickSimOptions& options, TransportDevice* brick) {
  if (brick == nullptr) {
    std::cout << "nothing listens on RFCOMM channel 1 (no brick)" << std::endl;
    for (;;) ::pause();
  }
  const int listener = ::socket(kAfBluetooth, SOCK_STREAM | SOCK_CLOEXEC, kBtProtoRfcomm);
  const RfcommSocketAddress any = rfcommSocketAddress(BluetoothAddress{}, kNxtRfcommChannel);
  sockaddr_storage storage{};
  std::memcpy(&storage, &any, sizeof any);
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<const sockaddr*>(&storage), sizeof any) != 0 ||
      ::listen(listener, 1) != 0) {
    say(std::string("cannot listen on RFCOMM channel 1: ") + std::strerror(errno));
    return 1;
  }
  std::cout << "listening on RFCOMM channel 1" << std::endl;
  long received = 0;
  for (;;) {
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      if (errno == EINTR) continue;
      say(std::string("accept: ") + std::strerror(errno));
      return 1;
    }
    // The brick tells the address of the adapter it was reached on, as a
    // real brick tells its own.
    sockaddr_storage localStorage{};
    socklen_t size = sizeof localStorage;
    if (::getsockname(connection, reinterpret_cast<sockaddr*>(&localStorage), &size) == 0 &&
        size >= sizeof(RfcommSocketAddress)) {
      RfcommSocketAddress local{};
      std::memcpy(&local, &localStorage, sizeof local);
      BluetoothAddress address{};
      for (std::size_t i = 0; i < address.size(); ++i) address[i] = local.bdaddr[5 - i];
      simTransportPost([address](SimBrick& b) {
        std::memcpy(b.config.bluetoothAddress, address.data(), address.size());
      });
    }
    ::fcntl(connection, F_SETFL, O_NONBLOCK);
    say("a host connected");
    serveLine(connection, brick, options.faults, received);
    ::close(connection);
    say("the host's connection ended");
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  BrickSimOptions options;
  std::string error;
  const bool parsed = parseOptions(argc, argv, options, error);
  BrickSimOptions scratch;
  const int status = startSimProgram("nxt-brick-sim", parsed, error, options.sim, options.check,
                                     kUsageHead + commandLineHelp(optionTable(scratch), 24) +
                                         "The brick options are those of nxt-bridge-sim:\n" +
                                         simOptionList(false));
  if (status != kGoOn) return status;
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);

  // Where the page is goes to standard error: standard output is the
  // line's path or the listening notice, alone.
  if (!startSimWatchers("nxt-brick-sim", options.sim, std::cerr)) return kExitCannotServe;
  std::int32_t result = kTransportOk;
  TransportDevice* brick =
      options.sim.transport.brickAttached ? transportOpenFirstBrick(result) : nullptr;
  return options.pty ? servePty(options, brick) : serveRfcomm(options, brick);
}
