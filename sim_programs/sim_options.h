// The command-line options of nxt-bridge-sim.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/transport_sim.h"
#include "server/program_start.h"

// What one telegram exchange costs a brick on USB by default: the
// firmware takes in one telegram per 1 ms pass and sends the reply with the
// next, and the host's full-speed USB moves each packet in a 1 ms frame.
constexpr std::chrono::microseconds kSimBrickLatency{2000};

struct SimProgramOptions {
  std::uint16_t port = 2056;
  bool help = false;
  bool version = false;
  SimTransportSettings transport = [] {
    SimTransportSettings settings;
    settings.latency = kSimBrickLatency;
    return settings;
  }();
  bool console = false;                // read input changes from standard input
  std::uint16_t viewPort = 0;          // 0: no live page
  std::string viewBind = "127.0.0.1";  // the page's address
  std::vector<std::string> hostFiles;  // --file: put on the flash at start
  std::string flashFolder;             // --flash: where the flash is kept
  std::string worldFile;               // --world: the robot's room; empty: none
  bool viewBindGiven = false;          // --view-bind was given
  // The error is about a file (--file, --flash, --world), not the command line.
  bool fileError = false;
};

// The brick's options, each applied to `options`: nxt-bridge-sim's table,
// to which nxt-brick-sim and nxt-gadget add rows of their own.
CommandLineTable simOptionTable(SimProgramOptions& options);

// A fault in the brick's options as one line: "unknown option '--x'",
// "option --port needs a value N", "bad value '0' for --port N"...
std::string simFaultText(const CommandLineFault& fault);

// With the options of simOptionTable applied: puts the brick's flash
// together as parseSimOptions does (unless --help). False with a one-line
// `error` for a file that cannot be read or files that do not fit.
bool finishSimOptions(SimProgramOptions& options, std::string& error);

// Parses the arguments into `options`, and puts the brick's flash together:
// the folder of --flash (or the default files), then each --file, which
// replaces a file of the same name and is written to the folder too.
// Then loads the world of --world into `options.transport.world`.
// Returns false with a one-line `error` for an unknown option, a missing or
// a bad value, --view-bind without --view, a file that cannot be read,
// files that do not fit, or a world file that is refused ("FILE: PLACE:
// REASON"); the last three set `fileError`.
bool parseSimOptions(int argc, const char* const* argv, SimProgramOptions& options,
                     std::string& error);

// The text of --help.
std::string simUsage();

// The option list of --help alone, one option a line, for the programs
// that take these options beside their own; without --port for those that
// serve no TCP port (`withPort` false), which accept it and ignore it.
std::string simOptionList(bool withPort = true);

// One line typed on the sim's console: "sensor in_N=RAW", "sonar in_N=CM"
// or "battery MV", the options of the same names without their dashes (with
// them is fine too). Returns true and sets `change` to what the line does
// to the brick's configuration; false with a one-line `error` for any other
// line.
bool parseConsoleLine(const std::string& line, std::function<void(SimBrickConfig&)>& change,
                      std::string& error);
