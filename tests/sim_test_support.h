// Helpers for tests that run the link over the simulated brick in-process:
// a fresh brick with the trace kept in memory, and the telegrams the host
// sent since.
#pragma once

#include <string>
#include <vector>

#include "link/transport_sim.h"
#include "trace_telegrams.h"

// A fresh simulated brick behind the transport, tracing into memory.
inline void freshSimBrick(SimTransportSettings settings = {}) {
  settings.keepTrace = true;
  simTransportSetUp(settings);
}

// The telegrams the host sent ("00 0b"), in order, without the "> ".
inline std::vector<std::string> hostTelegrams() { return telegramsOf(simTransportTrace().lines); }

// Forgets the trace so far.
inline void clearTrace() { simTransportTrace().lines.clear(); }
