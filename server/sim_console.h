// The console of nxt-bridge-sim (--console): while the server serves, lines
// typed on standard input change what the simulated sensors see, as a hand
// that presses a touch sensor or moves an object before the ultrasonic
// sensor would. One line each: "sensor in_N=RAW" or "sonar in_N=CM". Each
// accepted line is acknowledged on standard output as "sim: " and the line;
// the change takes effect before the next telegram reaches the brick. A
// line that is not understood gets one line on standard error.
#pragma once

// Starts reading standard input on a thread of its own, until it ends.
void startSimConsole();
