// The messages between nxt-bridge-sim and its live page, over WebSocket.
//
// To the page: text frames, each one JSON object with the whole state, so
// that a page may miss any frame and still show the truth with the next:
//   {"link": {"attached", "open", "telegrams", "perSecond"},
//    "brick": {"name", "battery", "program", "sound", "soundLoops",
//              "tone": {"count", "hz", "ms"}},
//    "motors": [{"port", "power", "state", "regulated", "speed",
//                "tacho", "block", "rotation", "load"}, ... A, B, C],
//    "sensors": [{"port", "type", "mode", "raw", "scaled", "sonar"}, ... 1-4],
//    "log": ["SETOUTPUTSTATE A power 75 regulated running", ...],
//    "world": the robot's room (view_world.h), null without one}
// A motor's state is "running", "braked", "coasting" or "blocked"; a
// sensor's raw and scaled values are what the brick reads now from what it
// was told (null for a low-speed port); "sonar" is the distance that an
// ultrasonic sensor on the port sees, null for none. The log holds the last
// telegrams in words, newest first, a telegram repeated at once as one line
// ending in " (N times)"; "tone.count" grows with every tone. Texts are
// UTF-8: bytes that are not are sent as U+FFFD.
//
// From the page: text frames, each one line as the console reads it
// ("sensor in_1=183", "sonar in_4=40", "battery 7400").
#pragma once

#include <string>

#include "sim/sim_snapshot.h"

// The state message for `snapshot` (its motors already advanced to the
// moment it shows), with the link's telegrams per second.
std::string viewStateMessage(const SimSnapshot& snapshot, double telegramsPerSecond);
