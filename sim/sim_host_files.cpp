#include "sim/sim_host_files.h"

#include <algorithm>
#include <iostream>

#include "protocol/program_name.h"

std::string simPrintableName(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7e && byte != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0f];
    }
  }
  return out;
}

bool simHostFileNamed(const std::string& name, const std::string& shown, std::string& error) {
  if (simFileNameAllowed(name)) return true;
  error = shown + ": '" + simPrintableName(name) +
          "' is no name for a brick file (1-19 printable characters, no '/', '\\', '*')";
  return false;
}

bool simHostFileFits(unsigned long long size, bool grown, const std::string& shown,
                     std::string& error) {
  const std::uint32_t most = simFlashFree(SimFlash{});
  if (size <= most) return true;
  error =
      grown ? shown + " grew beyond the " + std::to_string(most) + " bytes the brick's flash holds"
            : shown + " has " + std::to_string(size) + " bytes; the brick's flash holds " +
                  std::to_string(most) + " bytes at most";
  return false;
}

void simFlashEntryIgnored(const std::string& shown, const char* why) {
  std::cerr << runningProgramName() << ": ignoring " << shown << " in the flash folder: " << why
            << std::endl;
}

std::vector<SimFile> simFlashNewestFirst(std::vector<std::pair<long long, SimFile>> found) {
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second.name < b.second.name;
  });
  std::vector<SimFile> files;
  for (auto& entry : found) files.push_back(std::move(entry.second));
  return files;
}
