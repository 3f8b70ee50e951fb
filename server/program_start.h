// What every program does first with its command line: it takes option
// values in both spellings ("--port 3000", "--port=3000"), reads port
// numbers alike, and answers a bad option, --help and --version the same
// way, so that the programs differ only in their own options.
#pragma once

#include <cstdint>
#include <string>

constexpr int kExitServed = 0;
constexpr int kExitCannotServe = 1;
constexpr int kExitUsage = 2;

// answerCommandLine's "go on and serve".
constexpr int kGoOn = -1;

// A whole number from `min` to `max` (both at least 0), written in decimal
// digits and nothing else (no sign, no spaces); false, with `value`
// unspecified, for any other text.
bool parseDecimal(const std::string& text, long long min, long long max, long long& value);

// A TCP port, 1 to 65535, written in decimal digits and nothing else.
bool parseTcpPort(const std::string& text, std::uint16_t& port);

// True when `arg` is the option `name`, alone or as "NAME=VALUE".
bool isOption(const std::string& arg, const std::string& name);

// Reads the option at argv[i] that takes a value: `name` gets the option
// ("--port"), `value` what follows '=' in "--port=3000", else the next
// argument, which `i` then moves to. False with a one-line `error` when no
// value follows.
bool takeOptionValue(int argc, const char* const* argv, int& i, std::string& name,
                     std::string& value, std::string& error);

// With the options parsed: a bad one (`parsed` false) is one line on
// standard error, "PROGRAM: ERROR (try --help)", and the exit status 2;
// --help prints `usage` and --version "PROGRAM VERSION" on standard output,
// then the status 0. Returns kGoOn when none of these applies.
int answerCommandLine(const char* program, bool parsed, const std::string& error, bool help,
                      bool version, const std::string& usage);
