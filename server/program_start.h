// What every program does first with its command line: it parses its
// options from a table of its own with one layer over getopt_long, so that
// all take option values in both spellings ("--port 3000", "--port=3000"),
// refuse abbreviated names, read numbers alike, list their options in
// --help from the same table, and answer a bad option, --help and
// --version the same way; the programs differ only in their tables and in
// the words of their messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr int kExitServed = 0;
constexpr int kExitCannotServe = 1;
constexpr int kExitUsage = 2;

// answerCommandLine's "go on and serve".
constexpr int kGoOn = -1;

// A whole number from `min` to `max` (both at least 0), written in decimal
// digits and nothing else (no sign, no spaces); false, with `value`
// unspecified, for any other text or one out of range.
bool parseDecimal(const std::string& text, long long min, long long max, long long& value);

// A TCP port, 1 to 65535, written in decimal digits and nothing else.
bool parseTcpPort(const std::string& text, std::uint16_t& port);

// One row of a program's option table.
struct CommandLineOption {
  const char* name;   // "--port"
  const char* value;  // what it takes, as --help shows it ("N"); nullptr: no value
  const char* help;   // its text in --help; nullptr: not listed
  // Takes the value ("" for an option without one); false when it is bad.
  std::function<bool(const std::string& value)> apply;
};

using CommandLineTable = std::vector<CommandLineOption>;

// A row's apply that keeps the value in `field`: any value, or with
// `nonEmpty` any but "".
std::function<bool(const std::string& value)> keepValue(std::string& field, bool nonEmpty = false);

// Something wrong with one argument.
struct CommandLineFault {
  enum Kind {
    kUnknown,       // not an option of the table, an abbreviation, or a refused word
    kNeedsValue,    // the last argument, and its option takes a value
    kTakesNoValue,  // "--help=1"
    kBadValue,      // apply refused the value
  };
  Kind kind;
  std::string argument;                       // as given: "--por=3000"
  std::string name;                           // "--por", or the whole word
  std::string value;                          // for kBadValue
  const CommandLineOption* option = nullptr;  // the row, unless kUnknown
};

// Parses argv[1] on with getopt_long over `table`, in the order given, each
// option's apply getting its value ("--port 3000" or "--port=3000"). A word
// that is not an option ("-" included) goes to `word`, which refuses it by
// returning false; without `word` every such word is refused. Only whole
// option names count: "--por" is unknown. Goes on after a fault, and
// returns every fault in order; none when the command line is good.
std::vector<CommandLineFault> parseCommandLine(
    int argc, const char* const* argv, const CommandLineTable& table,
    const std::function<bool(const std::string& word)>& word = nullptr);
// The faults point into the table, which must outlive them.
std::vector<CommandLineFault> parseCommandLine(
    int argc, const char* const* argv, CommandLineTable&& table,
    const std::function<bool(const std::string& word)>& word = nullptr) = delete;

// The rows of `table` that have a help text, one a line: two spaces, the
// name and its value, padded to `width` columns (or one space past them),
// then the help text.
std::string commandLineHelp(const CommandLineTable& table, std::size_t width);

// With the options parsed: a bad one (`parsed` false) is one line on
// standard error, "PROGRAM: ERROR (try --help)", and the exit status 2;
// --help prints `usage` and --version "PROGRAM VERSION" on standard output,
// then the status 0. Returns kGoOn when none of these applies.
int answerCommandLine(const char* program, bool parsed, const std::string& error, bool help,
                      bool version, const std::string& usage);
