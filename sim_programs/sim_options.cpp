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

struct OptionRow {
  const char* name;
  const char* value;  // null: takes no value
  const char* help;
  std::function<bool(const std::string&, SimProgramOptions&)> apply;
};

const std::vector<OptionRow>& optionTable() {
  static const std::vector<OptionRow> table = {
      {"--port", "N", "serve on TCP port N (1-65535) instead of 2056",
       [](const std::string& v, SimProgramOptions& o) { return parseTcpPort(v, o.port); }},
      {"--name", "TEXT", "the brick's name (default NXT; 15 characters are sent)",
       [](const std::string& v, SimProgramOptions& o) {
         o.transport.brick.name = v;
         return true;
       }},
      {"--battery", "MV", "the battery level in millivolts, 0-65535 (default 8100)",
       [](const std::string& v, SimProgramOptions& o) {
         long long n = 0;
         if (!parseDecimal(v, 0, 65535, n)) return false;
         o.transport.brick.batteryMillivolts = static_cast<std::uint16_t>(n);
         return true;
       }},
      {"--sensor", "in_N=RAW", "input N reads the raw A/D value RAW, 0-1023 (default 1023: open)",
       [](const std::string& v, SimProgramOptions& o) {
         return setPortValue(v, kInputPorts, 1023, o.transport.brick.sensorRaw);
       }},
      {"--sonar", "in_N=CM", "an ultrasonic sensor on input N sees CM cm, 0-255 (255: nothing)",
       [](const std::string& v, SimProgramOptions& o) {
         return setPortValue(v, kInputPorts, 255, o.transport.brick.sonarCm);
       }},
      {"--console", nullptr,
       "while serving, read lines 'sensor in_N=RAW', 'sonar in_N=CM', 'battery MV', 'pose' "
       "from stdin",
       [](const std::string&, SimProgramOptions& o) {
         o.console = true;
         return true;
       }},
      {"--view", "PORT", "serve the live page on http://127.0.0.1:PORT/ (1-65535)",
       [](const std::string& v, SimProgramOptions& o) { return parseTcpPort(v, o.viewPort); }},
      {"--view-bind", "ADDR", "serve the page on IP address ADDR instead of 127.0.0.1",
       [](const std::string& v, SimProgramOptions& o) {
         boost::system::error_code notAnAddress;
         boost::asio::ip::make_address(v, notAnAddress);
         if (notAnAddress) return false;
         o.viewBind = v;
         o.viewBindGiven = true;
         return true;
       }},
      {"--no-brick", nullptr, "no brick is attached: nxt;open answers err",
       [](const std::string&, SimProgramOptions& o) {
         o.transport.brickAttached = false;
         return true;
       }},
      {"--latency-us", "N",
       "every telegram exchange takes N microseconds (default 2000, a brick on USB; 0: instant)",
       [](const std::string& v, SimProgramOptions& o) {
         long long n = 0;
         if (!parseDecimal(v, 0, 10000000, n)) return false;
         o.transport.latency = std::chrono::microseconds(n);
         return true;
       }},
      {"--load", "out_X=PCT",
       "slow motor X (a, b, c) to PCT% (0-100) of its free speed; 0 blocks it",
       [](const std::string& v, SimProgramOptions& o) {
         return setPortValue(v, kMotorPorts, 100, o.transport.brick.motorLoadPercent);
       }},
      {"--trace", "FILE", "write every telegram that crosses the link to FILE",
       [](const std::string& v, SimProgramOptions& o) {
         if (v.empty()) return false;
         o.transport.traceFile = v;
         return true;
       }},
      {"--file", "PATH", "put the host file PATH on the brick's flash at start",
       [](const std::string& v, SimProgramOptions& o) {
         if (v.empty()) return false;
         o.hostFiles.push_back(v);
         return true;
       }},
      {"--flash", "DIR", "keep the brick's flash in the folder DIR (created if missing)",
       [](const std::string& v, SimProgramOptions& o) {
         if (v.empty()) return false;
         o.flashFolder = v;
         return true;
       }},
      {"--world", "FILE",
       "put the robot in the room of FILE (JSON; 'default': the built-in room); its sensors "
       "read the room",
       [](const std::string& v, SimProgramOptions& o) {
         if (v.empty()) return false;
         o.worldFile = v;
         return true;
       }},
      {"--help", nullptr, "show this list and exit",
       [](const std::string&, SimProgramOptions& o) {
         o.help = true;
         return true;
       }},
      {"--version", nullptr, "show the version and exit",
       [](const std::string&, SimProgramOptions& o) {
         o.version = true;
         return true;
       }},
  };
  return table;
}

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

bool parseSimOptions(int argc, const char* const* argv, SimProgramOptions& options,
                     std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasInlineValue = false;
    const std::size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasInlineValue = true;
    }
    const OptionRow* row = nullptr;
    for (const OptionRow& candidate : optionTable()) {
      if (arg == candidate.name) row = &candidate;
    }
    if (row == nullptr) {
      error = "unknown option '" + arg + "'";
      return false;
    }
    if (row->value == nullptr) {
      if (hasInlineValue) {
        error = "option " + arg + " takes no value";
        return false;
      }
    } else if (!hasInlineValue) {
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value " + row->value;
        return false;
      }
      value = argv[++i];
    }
    if (!row->apply(value, options)) {
      error = "bad value '" + value + "' for " + arg + " " + row->value;
      return false;
    }
  }
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

bool parseConsoleLine(const std::string& line, std::function<void(SimBrickConfig&)>& change,
                      std::string& error) {
  std::istringstream words(line);
  std::string name;
  std::string value;
  std::string extra;
  words >> name >> value;
  if (name.rfind("--", 0) != 0) name = "--" + name;
  const OptionRow* option = nullptr;
  for (const OptionRow& candidate : optionTable()) {
    if (name == candidate.name) option = &candidate;
  }
  if (option == nullptr || (name != "--sensor" && name != "--sonar" && name != "--battery") ||
      value.empty() || (words >> extra)) {
    error = "not a console line: '" + line + "' (sensor in_N=RAW, sonar in_N=CM or battery MV)";
    return false;
  }
  SimProgramOptions scratch;
  if (!option->apply(value, scratch)) {
    error = "bad value '" + value + "' for " + name.substr(2) + " " + option->value;
    return false;
  }
  change = [option, value](SimBrickConfig& config) {
    SimProgramOptions options;
    options.transport.brick = config;
    option->apply(value, options);
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
  std::string text;
  for (const OptionRow& row : optionTable()) {
    if (!withPort && std::string(row.name) == "--port") continue;
    std::string left = std::string("  ") + row.name;
    if (row.value != nullptr) left += std::string(" ") + row.value;
    if (left.size() < 24)
      left.resize(24, ' ');
    else
      left += ' ';
    text += left + row.help + "\n";
  }
  return text;
}
