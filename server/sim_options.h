// The command-line options of nxt-bridge-sim.
#pragma once

#include <cstdint>
#include <string>

#include "link/transport_sim.h"

struct SimProgramOptions {
  std::uint16_t port = 2056;
  bool help = false;
  SimTransportSettings transport;
};

// Parses the arguments into `options`. Returns false with a one-line
// `error` for an unknown option, a missing or a bad value.
bool parseSimOptions(int argc, const char* const* argv, SimProgramOptions& options,
                     std::string& error);

// The text of --help.
std::string simUsage();
