// The time of the simulated brick. The model keeps no clock of its own: the
// caller passes the time in with every telegram, so that the transport can
// run it in real time and tests with made-up times.
#pragma once

#include <chrono>

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;
