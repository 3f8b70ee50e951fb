// nxt-bridge-sim: the server over the simulated brick.
#include <iostream>

#include "server/program_start.h"
#include "server/server_loop.h"
#include "server/stop_signals.h"
#include "sim_programs/sim_program.h"

int main(int argc, char** argv) {
  SimProgramOptions options;
  std::string error;
  const bool parsed = parseSimOptions(argc, argv, options, error);
  const int status = startSimProgram("nxt-bridge-sim", parsed, error, options, false, simUsage());
  if (status != kGoOn) return status;
  // Before the page's and the console's threads start, so that they
  // inherit the handlers' set-up.
  catchStopSignals();
  if (!startSimWatchers("nxt-bridge-sim", options, std::cout)) return kExitCannotServe;
  const int served =
      serveOneClient(ServerSettings{"nxt-bridge-sim", options.port, "the simulated brick"});
  SimPose pose;
  if (simTransportRobotPose(pose))
    std::cerr << "nxt-bridge-sim: " << simWorldPoseText(pose) << std::endl;
  return served;
}
