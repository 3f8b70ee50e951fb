#include "server/program_start.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <iostream>

bool parseDecimal(const std::string& text, long long min, long long max, long long& value) {
  // from_chars alone would take a leading '-' for a signed number.
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && value >= min && value <= max;
}

std::function<bool(const std::string& value)> keepValue(std::string& field, bool nonEmpty) {
  return [&field, nonEmpty](const std::string& value) {
    if (nonEmpty && value.empty()) return false;
    field = value;
    return true;
  };
}

bool parseTcpPort(const std::string& text, std::uint16_t& port) {
  long long value = 0;
  if (!parseDecimal(text, 1, 65535, value)) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

namespace {

// What the arguments that getopt_long does not see as options look like:
// "--NAME" or "--NAME=VALUE" is named NAME, anything else by itself.
std::string optionName(const std::string& argument) {
  const std::size_t eq = argument.find('=');
  if (argument.rfind("--", 0) == 0 && eq != std::string::npos) return argument.substr(0, eq);
  return argument;
}

const CommandLineOption* findOption(const CommandLineTable& table, const std::string& name) {
  for (const CommandLineOption& row : table) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

}  // namespace

std::vector<CommandLineFault> parseCommandLine(
    int argc, const char* const* argv, const CommandLineTable& table,
    const std::function<bool(const std::string& word)>& word) {
  // Row i is getopt_long's option of value kFirst + i.
  constexpr int kFirst = 0x100;
  std::vector<option> longOptions;
  for (const CommandLineOption& row : table) {
    longOptions.push_back({row.name + 2, row.value != nullptr ? required_argument : no_argument,
                           nullptr, kFirst + static_cast<int>(longOptions.size())});
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});

  // "-" first: a word is returned in its place, as option 1; ":" first
  // after it: a missing value is ':', not '?'. No short options.
  const char* const shortOptions = "-:";
  char* const* args = const_cast<char* const*>(argv);  // never reordered in this mode
  std::vector<CommandLineFault> faults;
  opterr = 0;
  int i = 1;
  while (i < argc) {
    // getopt_long would take an abbreviation, "--" as the end of the
    // options and "-x" as a short option: each is an unknown option here.
    const std::string argument = argv[i];
    if (argument.size() > 1 && argument[0] == '-' &&
        (argument[1] != '-' ||
         findOption(table, argument.substr(0, argument.find('='))) == nullptr)) {
      faults.push_back({CommandLineFault::kUnknown, argument, optionName(argument), "", nullptr});
      ++i;
      continue;
    }
    // getopt_long started afresh on argv[i] (its argv[0] is argv[i - 1]):
    // one option and its value, or one word, with no state left over.
    optind = 0;
    const int got =
        getopt_long(argc - i + 1, args + i - 1, shortOptions, longOptions.data(), nullptr);
    i += std::max(1, optind - 1);
    if (got == 1) {
      if (!word || !word(optarg)) {
        faults.push_back({CommandLineFault::kUnknown, argument, argument, "", nullptr});
      }
      continue;
    }
    const int index = (got == ':' || got == '?' ? optopt : got) - kFirst;
    if (index < 0 || index >= static_cast<int>(table.size())) {
      faults.push_back({CommandLineFault::kUnknown, argument, optionName(argument), "", nullptr});
      continue;
    }
    const CommandLineOption& row = table[static_cast<std::size_t>(index)];
    if (got == ':') {
      faults.push_back({CommandLineFault::kNeedsValue, argument, row.name, "", &row});
    } else if (got == '?') {
      faults.push_back({CommandLineFault::kTakesNoValue, argument, row.name, "", &row});
    } else {
      const std::string value = optarg != nullptr ? optarg : "";
      if (!row.apply(value)) {
        faults.push_back({CommandLineFault::kBadValue, argument, row.name, value, &row});
      }
    }
  }
  return faults;
}

std::string commandLineHelp(const CommandLineTable& table, std::size_t width) {
  std::string text;
  for (const CommandLineOption& row : table) {
    if (row.help == nullptr) continue;
    std::string left = std::string("  ") + row.name;
    if (row.value != nullptr) left += std::string(" ") + row.value;
    if (left.size() < width) {
      left.resize(width, ' ');
    } else {
      left += ' ';
    }
    text += left + row.help + "\n";
  }
  return text;
}

int answerCommandLine(const char* program, bool parsed, const std::string& error, bool help,
                      bool version, const std::string& usage) {
  if (!parsed) {
    std::cerr << program << ": " << error << " (try --help)" << std::endl;
    return kExitUsage;
  }
  if (help) {
    std::cout << usage;
    return kExitServed;
  }
  if (version) {
    std::cout << program << " " NXT_VERSION "\n";
    return kExitServed;
  }
  return kGoOn;
}
