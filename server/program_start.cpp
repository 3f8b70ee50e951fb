#include "server/program_start.h"

#include <iostream>

bool parseDecimal(const std::string& text, long long min, long long max, long long& value) {
  // 18 digits cannot overflow a long long.
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= min && value <= max;
}

bool parseTcpPort(const std::string& text, std::uint16_t& port) {
  long long value = 0;
  if (!parseDecimal(text, 1, 65535, value)) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

bool isOption(const std::string& arg, const std::string& name) {
  return arg.compare(0, name.size(), name) == 0 &&
         (arg.size() == name.size() || arg[name.size()] == '=');
}

bool takeOptionValue(int argc, const char* const* argv, int& i, std::string& name,
                     std::string& value, std::string& error) {
  name = argv[i];
  const std::size_t eq = name.find('=');
  if (eq != std::string::npos) {
    value = name.substr(eq + 1);
    name.resize(eq);
    return true;
  }
  if (i + 1 >= argc) {
    error = "option " + name + " needs a value";
    return false;
  }
  value = argv[++i];
  return true;
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
