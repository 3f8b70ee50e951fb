#include "server/sim_console.h"

#include <iostream>
#include <string>
#include <thread>

#include "link/transport_sim.h"
#include "server/sim_options.h"

void startSimConsole() {
  std::thread([] {
    for (std::string line; std::getline(std::cin, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      std::function<void(SimBrickConfig&)> change;
      std::string error;
      if (!parseConsoleLine(line, change, error)) {
        std::cerr << "nxt-bridge-sim: " + error + "\n" << std::flush;
        continue;
      }
      simTransportPost([change](SimBrick& brick) { change(brick.config); });
      std::cout << "sim: " + line + "\n" << std::flush;
    }
  }).detach();
}
