#include "sim_programs/sim_console.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/transport_sim.h"
#include "sim_programs/sim_options.h"

namespace {

// "pose" or "pose X Y HEADING"; false when the line is not about the pose.
bool poseLine(const std::string& line, bool& ok, std::string& error, std::string& answer) {
  std::istringstream words(line);
  std::string word;
  words >> word;
  if (word != "pose") return false;
  ok = false;
  std::vector<std::string> rest;
  for (std::string w; words >> w;) rest.push_back(w);
  SimPose pose;
  if (rest.empty()) {
    if (!simTransportRobotPose(pose)) {
      error = "there is no world (--world)";
      return true;
    }
    answer = simWorldPoseText(pose);
    ok = true;
    return true;
  }
  double* fields[] = {&pose.x, &pose.y, &pose.heading};
  bool numbers = rest.size() == 3;
  for (std::size_t i = 0; numbers && i < 3; ++i) {
    char* end = nullptr;
    *fields[i] = std::strtod(rest[i].c_str(), &end);
    numbers = *end == '\0' && std::isfinite(*fields[i]);
  }
  if (!numbers) {
    error = "not a pose: '" + line + "' (pose, or pose X Y HEADING in mm, mm, degrees)";
    return true;
  }
  ok = simTransportPlaceRobot(pose, error);
  answer = line;
  return true;
}

}  // namespace

bool simConsoleApply(const std::string& line, std::string& error) {
  std::string answer;
  return simConsoleApply(line, error, answer);
}

bool simConsoleApply(const std::string& line, std::string& error, std::string& answer) {
  bool ok = false;
  if (poseLine(line, ok, error, answer)) return ok;
  answer = line;
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
      std::string answer;
      if (!simConsoleApply(line, error, answer)) {
        std::cerr << "nxt-bridge-sim: " + error + "\n" << std::flush;
        continue;
      }
      std::cout << "sim: " + answer + "\n" << std::flush;
    }
  }).detach();
}
