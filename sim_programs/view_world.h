// The robot's room in the live page's state message: what the top-down
// view draws, in the room's millimetres (x right, y up).
//   {"room": [W, H], "floor": REFLECTANCE,
//    "walls": [[X1, Y1, X2, Y2], ...], "obstacles": [[X, Y, W, H], ...],
//    "lines": [{"width", "reflectance", "points": [[X, Y], ...]}, ...],
//    "robot": {"x", "y", "heading", "blocked", "body": [[X, Y] x 4],
//              "bumper": {"from": [X, Y], "to": [X, Y], "pressed"},
//              "sonar": {"x", "y", "heading", "halfCone", "range", "cm"} or null,
//              "light": {"x", "y", "radius", "percent", "lamp"} or null}}
// The walls are those the file gives; the room's sides are walls too.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include "sim/sim_inputs.h"
#include "sim/sim_world.h"

// The JSON value for `world` (its robot already moved to the moment shown),
// the light sensor's lamp as `inputs` set it; null when there is no world.
nlohmann::json viewWorld(const SimWorld& world, const SimInputs& inputs);
