#include "server/sim_program.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "server/sim_console.h"
#include "server/sim_view.h"

bool setUpSimBrick(const char* program, const SimProgramOptions& options) {
  if (simTransportSetUp(options.transport)) return true;
  std::cerr << program << ": cannot write the trace file " << options.transport.traceFile << ": "
            << std::strerror(errno) << std::endl;
  return false;
}

bool startSimWatchers(const char* program, const SimProgramOptions& options,
                      std::ostream& notices) {
  if (options.viewPort != 0) {
    std::string error;
    if (!startSimView(options.viewBind, options.viewPort, error)) {
      std::cerr << program << ": " << error << std::endl;
      return false;
    }
    const bool v6 = options.viewBind.find(':') != std::string::npos;
    notices << program << ": the live page is at http://"
            << (v6 ? "[" + options.viewBind + "]" : options.viewBind) << ":" << options.viewPort
            << "/" << std::endl;
  }
  if (options.console) startSimConsole();
  return true;
}
