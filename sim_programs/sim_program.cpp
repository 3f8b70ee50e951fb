#include "sim_programs/sim_program.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "server/program_start.h"
#include "sim_programs/sim_console.h"
#include "sim_programs/sim_view.h"

int startSimProgram(const char* program, bool parsed, const std::string& error,
                    const SimProgramOptions& options, bool checkOnly, const std::string& usage) {
  // A file that cannot be had is no misuse of the options: no "(try --help)".
  if (!parsed && options.fileError) {
    std::cerr << program << ": " << error << std::endl;
    return kExitUsage;
  }
  const int status =
      answerCommandLine(program, parsed, error, options.help, options.version, usage);
  if (status != kGoOn) return status;
  if (checkOnly) return kExitServed;
  SimTransportSettings transport = options.transport;
  transport.programName = program;
  if (simTransportSetUp(transport)) return kGoOn;
  std::cerr << program << ": cannot write the trace file " << options.transport.traceFile << ": "
            << std::strerror(errno) << std::endl;
  return kExitUsage;
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
