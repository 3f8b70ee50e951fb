// The command-line options of nxt-bridge-sim.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/transport_sim.h"

struct SimProgramOptions {
  std::uint16_t port = 2056;
  bool help = false;
  bool version = false;
  SimTransportSettings transport;
  bool console = false;                // read input changes from standard input
  std::vector<std::string> hostFiles;  // --file: put on the flash at start
  std::string flashFolder;             // --flash: where the flash is kept
};

// Parses the arguments into `options`, and puts the brick's flash together:
// the folder of --flash (or the default files), then each --file, which
// replaces a file of the same name and is written to the folder too.
// Returns false with a one-line `error` for an unknown option, a missing or
// a bad value, a file that cannot be read, or files that do not fit.
bool parseSimOptions(int argc, const char* const* argv, SimProgramOptions& options,
                     std::string& error);

// The text of --help.
std::string simUsage();

// The option list of --help alone, one option a line, for the programs
// that take these options beside their own.
std::string simOptionList();

// One line typed on the sim's console: "sensor in_N=RAW" or "sonar in_N=CM",
// the options of the same names without their dashes (with them is fine
// too). Returns true and sets `change` to what the line does to the brick's
// configuration; false with a one-line `error` for any other line.
bool parseConsoleLine(const std::string& line, std::function<void(SimBrickConfig&)>& change,
                      std::string& error);
