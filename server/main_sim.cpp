// nxt-bridge-sim: the server over the simulated brick.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "link/transport_sim.h"
#include "server/server_loop.h"
#include "server/sim_console.h"
#include "server/sim_options.h"
#include "server/stop_signals.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  SimProgramOptions options;
  std::string error;
  if (!parseSimOptions(argc, argv, options, error)) {
    std::cerr << "nxt-bridge-sim: " << error << " (try --help)" << std::endl;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << simUsage();
    return kExitServed;
  }
  if (options.version) {
    std::cout << "nxt-bridge-sim " NXT_VERSION "\n";
    return kExitServed;
  }
  if (!simTransportSetUp(options.transport)) {
    std::cerr << "nxt-bridge-sim: cannot write the trace file " << options.transport.traceFile
              << ": " << std::strerror(errno) << std::endl;
    return kExitUsage;
  }
  // Before the console's thread starts, so that it inherits the handlers'
  // set-up.
  catchStopSignals();
  if (options.console) startSimConsole();
  return serveOneClient(ServerSettings{"nxt-bridge-sim", options.port, "the simulated brick"});
}
