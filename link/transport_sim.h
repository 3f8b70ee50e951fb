// Set-up of the transport into the simulated brick (transport_sim.cpp), for
// nxt-bridge-sim and the tests. The transport functions themselves are
// those of transport.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_brick.h"
#include "sim/sim_trace.h"

struct SimTransportSettings {
  bool brickAttached = true;               // false: no brick is found
  std::chrono::microseconds latency{0};    // spent sleeping on every exchange
  std::string traceFile;                   // empty: no trace file
  bool keepTrace = false;                  // keep trace lines in memory
  SimBrickConfig brick;
};

// Puts a fresh simulated brick behind the transport. False when the trace
// file cannot be opened. Handles opened before stay valid.
bool simTransportSetUp(const SimTransportSettings& settings);

// The simulated brick and the trace, for tests and for set-up that the
// options make after the power-up state (loads, sensors).
SimBrick& simTransportBrick();
SimTrace& simTransportTrace();

// Number of transport handles now open (a test of leaks).
int simTransportOpenHandles();

// Fault injection for tests and fuzzing: the next receives hand back these
// bytes, in order, instead of the brick's answer (which is dropped); an
// empty entry makes that receive time out.
void simTransportScriptReplies(const std::vector<std::vector<std::uint8_t>>& replies);
