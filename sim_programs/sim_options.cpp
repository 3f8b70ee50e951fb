#include "sim_programs/sim_options.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <type_traits>
#include <vector>

#include "server/program_start.h"

namespace {

// "out_a=PCT" style values: a port word from `ports`, '=', a number.
bool parsePortValue(const std::string& text, const char* const* ports, int portCount, long long max,
                    int& port, long long& value) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  const std::string word = text.substr(0, eq);
  port = -1;
  for (int i = 0; i < portCount; ++i) {
    if (word == ports[i]) port = i;
  }
  return port >= 0 && parseDecimal(text.substr(eq + 1), 0, max, value);
}

const char* const kMotorPorts[] = {"out_a", "out_b", "out_c"};
const char* const kInputPorts[] = {"in_1", "in_2", "in_3", "in_4"};

// Parses "PORT=VALUE" (a port word of `ports`, VALUE from 0 to `max`) into
// `values` at the port's index; false, changing nothing, when it does not
// parse.
template <std::size_t N, typename Values>
bool setPortValue(const std::string& text, const char* const (&ports)[N], long long max,
                  Values& values) {
  int port = -1;
  long long value = 0;
  if (!parsePortValue(text, ports, static_cast<int>(N), max, port, value)) return false;
  values[static_cast<std::size_t>(port)] =
      static_cast<std::remove_reference_t<decltype(values[0])>>(value);
  return true;
}

}  // namespace

CommandLineTable simOptionTable(SimProgramOptions& o) {
  return {
      {"--port", "N", "serve on TCP port N (1-65535) instead of 2056",
       [&o](const std::string& v) { return parseTcpPort(v, o.port); }},
      {"--name", "TEXT", "the brick's name (default NXT; 15 characters are sent)",
       keepValue(o.transport.brick.name)},
      {"--battery", "MV", "the battery level in millivolts, 0-65535 (default 8100)",
       [&o](const std::string& v) {
         long long n = 0;
         if (!parseDecimal(v, 0, 65535, n)) return false;
         o.transport.brick.batteryMillivolts = static_cast<std::uint16_t>(n);
         return true;
       }},
      {"--sensor", "in_N=RAW", "input N reads the raw A/D value RAW, 0-1023 (default 1023: open)",
       [&o](const std::string& v) {
         return setPortValue(v, kInputPorts, 1023, o.transport.brick.sensorRaw);
       }},
      {"--sonar", "in_N=CM", "an ultrasonic sensor on input N sees CM cm, 0-255 (255: nothing)",
       [&o](const std::string& v) {
         return setPortValue(v, kInputPorts, 255, o.transport.brick.sonarCm);
       }},
      {"--console", nullptr,
       "while serving, read lines 'sensor in_N=RAW', 'sonar in_N=CM', 'battery MV', 'pose' "
       "from stdin",
       [&o](const std::string&) {
         o.console = true;
         return true;
       }},
      {"--view", "PORT", "serve the live page on http://127.0.0.1:PORT/ (1-65535)",
       [&o](const std::string& v) { return parseTcpPort(v, o.viewPort); }},
      {"--view-bind", "ADDR", "serve the page on IP address ADDR instead of 127.0.0.1",
       [&o](const std::string& v) {
         boost::system::error_code notAnAddress;
         boost::asio::ip::make_address(v, notAnAddress);
         if (notAnAddress) return false;
         o.viewBind = v;
         o.viewBindGiven = true;
         return true;
       }},
      {"--no-brick", nullptr, "no brick is attached: nxt;open answers err",
       [&o](const std::string&) {
         o.transport.brickAttached = false;
         return true;
       }},
      {"--latency-us", "N",
       "every telegram exchange takes N microseconds (default 2000, a brick on USB; 0: instant)",
       [&o](const std::string& v) {
         long long n = 0;
         if (!parseDecimal(v, 0, 10000000, n)) return false;
         o.transport.latency = std::chrono::microseconds(n);
         return true;
       }},
      {"--load", "out_X=PCT",
       "slow motor X (a, b, c) to PCT% (0-100) of its free speed; 0 blocks it",
       [&o](const std::string& v) {
         return setPortValue(v, kMotorPorts, 100, o.transport.brick.motorLoadPercent);
       }},
      {"--trace", "FILE", "write every telegram that crosses the link to FILE",
       keepValue(o.transport.traceFile, true)},
      {"--file", "PATH", "put the host file PATH on the brick's flash at start",
       [&o](const std::string& v) {
         if (v.empty()) return false;
         o.hostFiles.push_back(v);
         return true;
       }},
      {"--flash", "DIR", "keep the brick's flash in the folder DIR (created if missing)",
       keepValue(o.flashFolder, true)},
      {"--world", "FILE",
       "put the robot in the room of FILE (JSON; 'default': the built-in room); its sensors "
       "read the room",
       keepValue(o.worldFile, true)},
      {"--help", nullptr, "show this list and exit",
       [&o](const std::string&) {
         o.help = true;
         return true;
       }},
      {"--version", nullptr, "show the version and exit",
       [&o](const std::string&) {
         o.version = true;
         return true;
       }},
  };
}

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The flash that the options describe, in `options.transport.brick`.
bool assembleFlash(SimProgramOptions& options, std::string& error) {
  SimBrickConfig& brick = options.transport.brick;
  std::vector<SimFile> files = brick.files ? *brick.files : std::vector<SimFile>{};
  if (!options.flashFolder.empty()) {
    if (!simFlashLoadFolder(options.flashFolder, brick.flashFolder, files, error)) return false;
  }
  for (const std::string& path : options.hostFiles) {
    SimFile file;
    if (!simFileFromHost(path, file, error)) return false;
    files.erase(
        std::remove_if(files.begin(), files.end(),
                       [&](const SimFile& f) { return lowerCase(f.name) == lowerCase(file.name); }),
        files.end());
    if (brick.flashFolder && !simFlashStoreFile(*brick.flashFolder, file)) {
      error = "cannot write " + file.name + " into " + options.flashFolder;
      return false;
    }
    files.insert(files.begin(), std::move(file));
  }
  if (!simFlashFits(files)) {
    std::uint64_t bytes = 0;
    for (const SimFile& file : files) bytes += file.bytes.size();
    error = "the " + std::to_string(files.size()) + " files on the brick's flash (" +
            std::to_string(bytes) + " bytes) do not fit in its " +
            std::to_string(simFlashFree(SimFlash{})) + " bytes and " +
            std::to_string(kSimMaxFiles) + " files";
    return false;
  }
  brick.files = std::make_shared<const std::vector<SimFile>>(std::move(files));
  return true;
}

}  // namespace

std::string simFaultText(const CommandLineFault& fault) {
  switch (fault.kind) {
    case CommandLineFault::kUnknown:
      return "unknown option '" + fault.name + "'";
    case CommandLineFault::kNeedsValue:
      return "option " + fault.name + " needs a value " + fault.option->value;
    case CommandLineFault::kTakesNoValue:
      return "option " + fault.name + " takes no value";
    case CommandLineFault::kBadValue:
      break;
  }
  return "bad value '" + fault.value + "' for " + fault.name + " " + fault.option->value;
}

bool finishSimOptions(SimProgramOptions& options, std::string& error) {
  if (options.help) return true;
  if (options.viewBindGiven && options.viewPort == 0) {
    error = "--view-bind " + options.viewBind + " without --view PORT: there is no page to serve";
    return false;
  }
  options.fileError = true;  // from here on every refusal is about a file
  if (!assembleFlash(options, error)) return false;
  if (!options.worldFile.empty()) {
    auto world = std::make_shared<SimWorldMap>();
    if (!simWorldLoad(options.worldFile, *world, error)) return false;
    options.transport.world = std::move(world);
  }
  options.fileError = false;
  return true;
}

bool parseSimOptions(int argc, const char* const* argv, SimProgramOptions& options,
                     std::string& error) {
  const CommandLineTable table = simOptionTable(options);
  const std::vector<CommandLineFault> faults = parseCommandLine(argc, argv, table);
  if (!faults.empty()) {
    error = simFaultText(faults.front());
    return false;
  }
  return finishSimOptions(options, error);
}

bool parseConsoleLine(const std::string& line, std::function<void(SimBrickConfig&)>& change,
                      std::string& error) {
  std::istringstream words(line);
  std::string name;
  std::string value;
  std::string extra;
  words >> name >> value;
  if (name.rfind("--", 0) != 0) name = "--" + name;
  // The row of `name` in a table over `options`, if a console line may set it.
  const auto consoleRow = [name](const CommandLineTable& table) -> const CommandLineOption* {
    if (name != "--sensor" && name != "--sonar" && name != "--battery") return nullptr;
    for (const CommandLineOption& row : table) {
      if (name == row.name) return &row;
    }
    return nullptr;
  };
  SimProgramOptions scratch;
  const CommandLineTable table = simOptionTable(scratch);
  const CommandLineOption* option = consoleRow(table);
  if (option == nullptr || value.empty() || (words >> extra)) {
    error = "not a console line: '" + line + "' (sensor in_N=RAW, sonar in_N=CM or battery MV)";
    return false;
  }
  if (!option->apply(value)) {
    error = "bad value '" + value + "' for " + name.substr(2) + " " + option->value;
    return false;
  }
  change = [consoleRow, value](SimBrickConfig& config) {
    SimProgramOptions options;
    options.transport.brick = config;
    const CommandLineTable rows = simOptionTable(options);
    consoleRow(rows)->apply(value);
    config = options.transport.brick;
  };
  return true;
}

std::string simUsage() {
  return "Usage: nxt-bridge-sim [OPTION]...\n"
         "Serves the nxt-bridge text protocol on TCP over a simulated NXT brick.\n\n" +
         simOptionList();
}

std::string simOptionList(bool withPort) {
  SimProgramOptions scratch;
  CommandLineTable table = simOptionTable(scratch);
  if (!withPort) {
    table.erase(std::remove_if(
                    table.begin(), table.end(),
                    [](const CommandLineOption& row) { return std::string(row.name) == "--port"; }),
                table.end());
  }
  return commandLineHelp(table, 24);
}
