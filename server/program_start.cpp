#include "server/program_start.h"

#include <iostream>

bool parseTcpPort(const std::string& text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
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
