// Helpers for tests that run the link over the simulated brick in-process:
// a fresh brick with the trace kept in memory, and the telegrams the host
// sent since.
#pragma once

#include <string>
#include <vector>

#include "link/transport_sim.h"

// A fresh simulated brick behind the transport, tracing into memory.
inline void freshSimBrick(SimTransportSettings settings = {}) {
  settings.keepTrace = true;
  simTransportSetUp(settings);
}

// The telegrams the host sent ("00 0b"), in order, without the "> ".
inline std::vector<std::string> hostTelegrams() {
  std::vector<std::string> sent;
  for (const std::string& line : simTransportTrace().lines) {
    if (line.rfind("> ", 0) == 0) sent.push_back(line.substr(2));
  }
  return sent;
}

// Forgets the trace so far.
inline void clearTrace() { simTransportTrace().lines.clear(); }
