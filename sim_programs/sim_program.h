// The start that the programs serving the simulated brick share
// (nxt-bridge-sim, nxt-brick-sim, nxt-gadget) once their options are
// parsed: the brick set up from the brick options, then the live page and
// the console that watch and move it while it serves.
#pragma once

#include <iosfwd>
#include <string>

#include "sim_programs/sim_options.h"

// With the options parsed (`parsed`, `error` as answerCommandLine takes
// them): answers a bad option, --help and --version, ends after a check of
// the options alone (`checkOnly`), then sets up the simulated brick.
// Returns kGoOn to serve, else the exit status; a trace file that cannot be
// written is one line on standard error and the status 2.
int startSimProgram(const char* program, bool parsed, const std::string& error,
                    const SimProgramOptions& options, bool checkOnly, const std::string& usage);

// Starts the live page when the options ask for it (--view) and tells where
// it is on `notices` ("PROGRAM: the live page is at http://127.0.0.1:8080/"),
// then the console (--console). False, with one line on standard error,
// when the page cannot listen. The threads started inherit the caller's
// signal handlers and mask.
bool startSimWatchers(const char* program, const SimProgramOptions& options, std::ostream& notices);
