#include "sim_programs/sim_console.h"

#include <iostream>
#include <string>
#include <thread>

#include "link/transport_sim.h"
#include "sim_programs/sim_options.h"

bool simConsoleApply(const std::string& line, std::string& error) {
  std::function<void(SimBrickConfig&)> change;
  if (!parseConsoleLine(line, change, error)) return false;
  simTransportPost([change](SimBrick& brick) { change(brick.config); });
  return true;
}

void startSimConsole() {
  std::thread([] {
    for (std::string line; std::getline(std::cin, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      std::string error;
      if (!simConsoleApply(line, error)) {
        std::cerr << "nxt-bridge-sim: " + error + "\n" << std::flush;
        continue;
      }
      std::cout << "sim: " + line + "\n" << std::flush;
    }
  }).detach();
}
