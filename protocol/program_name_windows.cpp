#include <windows.h>

#include <string>

#include "protocol/program_name.h"

// The file name of the program without its folder and ".exe".
const char* runningProgramName() {
  static const std::string name = [] {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string base = path;
    base = base.substr(base.find_last_of("\\/") + 1);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".exe") == 0)
      base.resize(base.size() - 4);
    return base;
  }();
  return name.c_str();
}
