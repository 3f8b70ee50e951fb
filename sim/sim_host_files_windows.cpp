// The simulated brick's host files on Windows: files put on the brick at
// start (--file PATH). A flash folder kept between runs (--flash DIR) needs
// the checks that no reparse point is followed, which are not written for
// Windows yet: it is refused with one line.
#include <fstream>
#include <iterator>

#include "sim/sim_host_files.h"

SimFlashFolder::~SimFlashFolder() = default;

bool simFileFromHost(const std::string& path, SimFile& file, std::string& error) {
  const std::size_t separator = path.find_last_of("/\\");
  file.name = separator == std::string::npos ? path : path.substr(separator + 1);
  const std::string shown = simPrintableName(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + shown + ": No such file or not readable";
    return false;
  }
  const std::uint32_t most = simFlashFree(SimFlash{});
  file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + shown;
    return false;
  }
  if (file.bytes.size() > most) {
    error = shown + " has " + std::to_string(file.bytes.size()) +
            " bytes; the brick's flash holds " + std::to_string(most) + " bytes at most";
    return false;
  }
  if (!simFileNameAllowed(file.name)) {
    error = shown + ": '" + simPrintableName(file.name) +
            "' is no name for a brick file (1-19 printable characters, no '/', '\\', '*')";
    return false;
  }
  return true;
}

bool simFlashLoadFolder(const std::string& dir, std::shared_ptr<const SimFlashFolder>&,
                        std::vector<SimFile>&, std::string& error) {
  error = "--flash " + simPrintableName(dir) + ": a flash folder is not kept on Windows";
  return false;
}

bool simFlashStoreFile(const SimFlashFolder&, const SimFile&) { return false; }

bool simFlashRemoveFile(const SimFlashFolder&, const std::string&) { return false; }
