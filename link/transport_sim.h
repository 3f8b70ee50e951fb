// Set-up of the transport into the simulated brick (transport_sim.cpp), for
// nxt-bridge-sim and the tests. The transport functions themselves are
// those of transport.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_brick.h"
#include "sim/sim_snapshot.h"
#include "sim/sim_trace.h"
#include "sim/sim_world.h"

struct SimTransportSettings {
  bool brickAttached = true;             // false: no brick is found
  std::chrono::microseconds latency{0};  // spent sleeping on every exchange
  std::string traceFile;                 // empty: no trace file
  std::string programName;               // for the trace's messages
  bool keepTrace = false;                // keep trace lines in memory
  SimBrickConfig brick;
  // The robot's room; null: none, the sensors read what `brick` says.
  std::shared_ptr<const SimWorldMap> world;
  // A scripted brick for tests: sees every telegram first (type byte
  // first) and, when it returns true, answers in place of the model with
  // `reply` (no answer when its length is 0); the model never sees it.
  std::function<bool(const std::uint8_t* telegram, std::size_t length, SimReply& reply)> script;
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
void simTransportScriptReplies(std::vector<std::vector<std::uint8_t>> replies);

// The same without a copy: `count` replies of `length` bytes at `bytes`,
// which the caller keeps in place until the next script (an empty one ends
// it) or set-up.
struct SimScriptedReply {
  const std::uint8_t* bytes = nullptr;
  std::size_t length = 0;
};
void simTransportScriptReplies(const SimScriptedReply* replies, std::size_t count);
// Hands over a change of the simulated brick from any thread (the sim's
// console): it is made on the thread that talks to the brick, before the
// next telegram reaches it.
void simTransportPost(std::function<void(SimBrick&)> change);

// Puts the robot down at `pose` from any thread (the console, the page):
// the page shows it there at once, the brick's sensors from the next
// telegram on. False with a one-line `error`, changing nothing, when there
// is no world or the robot would overlap a wall there.
bool simTransportPlaceRobot(const SimPose& pose, std::string& error);

// The robot's pose now, from any thread; false when there is no world.
bool simTransportRobotPose(SimPose& pose);

// The brick as a watcher sees it: a copy of the snapshot published after the
// last telegram (or open, close, set-up). Safe from any thread; the thread
// that talks to the brick holds the lock only to copy fixed-size data.
void simTransportSnapshot(SimSnapshot& snapshot);
