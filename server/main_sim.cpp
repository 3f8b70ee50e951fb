// nxt-bridge-sim: the server over the simulated brick.
#include <csignal>
#include <iostream>

#include "link/transport_sim.h"
#include "server/server_loop.h"
#include "server/sim_console.h"
#include "server/sim_options.h"
#include "server/sim_view.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  SimProgramOptions options;
  std::string error;
  if (!parseSimOptions(argc, argv, options, error)) {
    std::cerr << "nxt-bridge-sim: " << error << " (try --help)" << std::endl;
    return 2;
  }
  if (options.help) {
    std::cout << simUsage();
    return 0;
  }
  if (!simTransportSetUp(options.transport)) {
    std::cerr << "nxt-bridge-sim: cannot write the trace file " << options.transport.traceFile
              << std::endl;
    return 2;
  }
  if (options.viewPort != 0) {
    if (!startSimView(options.viewBind, options.viewPort, error)) {
      std::cerr << "nxt-bridge-sim: " << error << std::endl;
      return 1;
    }
    const bool v6 = options.viewBind.find(':') != std::string::npos;
    std::cout << "nxt-bridge-sim: the live page is at http://"
              << (v6 ? "[" + options.viewBind + "]" : options.viewBind) << ":" << options.viewPort
              << "/" << std::endl;
  }
  if (options.console) startSimConsole();
  return serveOneClient(options.port);
}
