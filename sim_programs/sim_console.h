// The console of nxt-bridge-sim (--console): while the server serves, lines
// typed on standard input change what the simulated sensors see, as a hand
// that presses a touch sensor or moves an object before the ultrasonic
// sensor would. One line each: "sensor in_N=RAW", "sonar in_N=CM" or
// "battery MV". Each accepted line is acknowledged on standard output as
// "sim: " and the line; the change takes effect before the next telegram
// reaches the brick. A line that is not understood gets one line on
// standard error.
//
// With a world (--world), "pose" answers where the robot is ("sim: robot at
// x 412 mm, y 300 mm, heading 90 degrees") and "pose X Y HEADING" puts it
// down there (mm, mm, degrees), unless it would overlap a wall.
#pragma once

#include <string>

// Starts reading standard input on a thread of its own, until it ends.
void startSimConsole();

// Hands one console line to the brick, from any thread: the change takes
// effect before the next telegram reaches it. The live page's controls
// come this way too. False with a one-line `error` for a line that is not
// understood; nothing changes then. `answer` is what the console
// acknowledges the line with: the line itself, or the robot's pose.
bool simConsoleApply(const std::string& line, std::string& error, std::string& answer);
bool simConsoleApply(const std::string& line, std::string& error);
