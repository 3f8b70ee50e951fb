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
// Between the forms of BRICK and the options.
const char kOptionsHead[] =
    "The link is made by the client's nxt;open.\n"
    "\n";

struct BtProgramOptions {
  std::uint16_t port = kDefaultPort;
  bool help = false;
  bool version = false;
  BtBrick brick;
};

CommandLineTable optionTable(BtProgramOptions& o) {
  return {
      {"--port", "N", "serve on TCP port N (1-65535) instead of 2056",
       [&o](const std::string& v) { return parseTcpPort(v, o.port); }},
      {"--help", nullptr, "show this text", [&o](const std::string&) { return o.help = true; }},
      {"--version", nullptr, "show the version",
       [&o](const std::string&) { return o.version = true; }},
  };
}

// False with a one-line `error` for a bad option or BRICK.
bool parseOptions(int argc, const char* const* argv, BtProgramOptions& options,
                  std::string& error) {
  bool haveBrick = false;
  std::string brickError;
  // The first word refused is the one told.
  const auto brick = [&](const std::string& word) {
    std::string refusal;
    if (haveBrick) {
      refusal = "one BRICK only, got a second: " + word;
    } else if (!parseBtBrick(word, options.brick)) {
      refusal = "'" + word + "' names no brick: give " + kBtBrickForms;
    } else {
      btBrickSupported(options.brick, refusal);
    }
    if (brickError.empty()) brickError = refusal;
    haveBrick = true;
    return refusal.empty();
  };
  const CommandLineTable table = optionTable(options);
  const std::vector<CommandLineFault> faults = parseCommandLine(argc, argv, table, brick);
  if (!faults.empty()) {
    const CommandLineFault& fault = faults.front();
    const bool isWord = fault.argument.size() < 2 || fault.argument[0] != '-';
    if (fault.kind == CommandLineFault::kUnknown && isWord) {
      error = brickError;
    } else if (fault.kind == CommandLineFault::kNeedsValue) {
      error = "option " + fault.name + " needs a value";
    } else if (fault.kind == CommandLineFault::kBadValue) {
      error = "bad value '" + fault.value + "' for --port N (1-65535)";
    } else {
      error = "unknown option " + fault.argument;
    }
    return false;
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
  BtProgramOptions scratch;
  const std::string usage = std::string(kUsage) + kBtBrickUsage + kOptionsHead +
                            commandLineHelp(optionTable(scratch), 13);
  const int status = answerCommandLine("nxt-bridge-bt", parsed, error, options.help,
                                       options.version, usage.c_str());
  if (status != kGoOn) return status;
  btTransportSetUp(options.brick);
  return serveOneClient(ServerSettings{"nxt-bridge-bt", options.port, "Bluetooth"});
}
