// nxt-bridge-bt: the server over a real NXT brick on Bluetooth.
//
//   nxt-bridge-bt [--port N] BRICK
//
// BRICK is the brick's Bluetooth address (00:16:53:0A:0B:0C), reached on
// RFCOMM channel 1, or the path of a serial device that leads to it
// (/dev/rfcomm0 made by rfcomm bind, or a pseudo-terminal). Nothing is
// connected before the client's nxt;open.
#include <iostream>
#include <string>

#include "link/bt_address.h"
#include "link/bt_port.h"
#include "link/transport_bt.h"
#include "server/program_start.h"
#include "server/server_loop.h"

namespace {

const char kUsage[] =
    "Usage: nxt-bridge-bt [--port N] BRICK\n"
    "Serves the nxt-bridge text protocol on TCP port 2056 for an NXT brick on Bluetooth.\n";
const char kOptions[] =
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

// False with a one-line `error` for a bad option or BRICK.
bool parseOptions(int argc, const char* const* argv, BtProgramOptions& options,
                  std::string& error) {
  bool haveBrick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (isOption(arg, "--port")) {
      std::string name;
      std::string value;
      if (!takeOptionValue(argc, argv, i, name, value, error)) return false;
      if (!parseTcpPort(value, options.port)) {
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
      error = "'" + arg + "' names no brick: give " + kBtBrickForms;
      return false;
    } else if (!btBrickSupported(options.brick, error)) {
      return false;
    } else {
      haveBrick = true;
    }
  }
  if (!haveBrick && !options.help && !options.version) {
    error = std::string("no BRICK given: ") + kBtBrickForms;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  BtProgramOptions options;
  std::string error;
  const bool parsed = parseOptions(argc, argv, options, error);
  const std::string usage = std::string(kUsage) + kBtBrickUsage + kOptions;
  const int status = answerCommandLine("nxt-bridge-bt", parsed, error, options.help,
                                       options.version, usage.c_str());
  if (status != kGoOn) return status;
  btTransportSetUp(options.brick);
  return serveOneClient(ServerSettings{"nxt-bridge-bt", options.port, "Bluetooth"});
}
