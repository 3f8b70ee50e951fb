// nxt-bridge-bt: the server over a real NXT brick on Bluetooth.
//
//   nxt-bridge-bt [--port N] BRICK
//
// BRICK is the brick's Bluetooth address (00:16:53:0A:0B:0C), reached on
// RFCOMM channel 1, or the path of a serial device that leads to it
// (/dev/rfcomm0 made by rfcomm bind, or a pseudo-terminal). Nothing is
// connected before the client's nxt;open.
#include <csignal>
#include <iostream>
#include <string>

#include "link/bt_address.h"
#include "link/transport_bt.h"
#include "server/server_loop.h"

namespace {

const char kUsage[] =
    "Usage: nxt-bridge-bt [--port N] BRICK\n"
    "Serves the nxt-bridge text protocol on TCP port 2056 for an NXT brick on Bluetooth.\n"
    "BRICK is the brick's Bluetooth address (00:16:53:0A:0B:0C), reached on RFCOMM\n"
    "channel 1, or the path of a serial device that leads to it (/dev/rfcomm0).\n"
    "The link is made by the client's nxt;open.\n"
    "\n"
    "  --port N   serve on TCP port N (1-65535) instead of 2056\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

struct BtProgramOptions {
  std::uint16_t port = kDefaultPort;
  bool help = false;
  bool version = false;
  BtBrick brick;
};

bool parsePort(const std::string& text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// False with a one-line `error` for a bad option or BRICK.
bool parseOptions(int argc, char** argv, BtProgramOptions& options, std::string& error) {
  bool haveBrick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--port" || arg.rfind("--port=", 0) == 0) {
      std::string value;
      if (arg == "--port") {
        if (i + 1 >= argc) {
          error = "option --port needs a value N";
          return false;
        }
        value = argv[++i];
      } else {
        value = arg.substr(7);
      }
      if (!parsePort(value, options.port)) {
        error = "bad value '" + value + "' for --port N (1-65535)";
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else if (haveBrick) {
      error = "one BRICK only, got a second: " + arg;
      return false;
    } else if (!parseBtBrick(arg, options.brick)) {
      error = "'" + arg +
              "' is neither a Bluetooth address (00:16:53:0A:0B:0C) nor a device path "
              "(/dev/rfcomm0)";
      return false;
    } else {
      haveBrick = true;
    }
  }
  if (!haveBrick && !options.help && !options.version) {
    error = "no BRICK given: a Bluetooth address or a device path";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A client or a brick that goes away mid-write must not end the server.
  std::signal(SIGPIPE, SIG_IGN);
  BtProgramOptions options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::cerr << "nxt-bridge-bt: " << error << " (try --help)" << std::endl;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kUsage;
    return kExitServed;
  }
  if (options.version) {
    std::cout << "nxt-bridge-bt " NXT_VERSION "\n";
    return kExitServed;
  }
  btTransportSetUp(options.brick);
  return serveOneClient(ServerSettings{"nxt-bridge-bt", options.port, "Bluetooth"});
}
