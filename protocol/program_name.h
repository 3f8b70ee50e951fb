// The running program's own short name ("nxt-bridge-sim"), for the first
// word of a message from code that is not told which program it is in.
#pragma once

const char* runningProgramName();
