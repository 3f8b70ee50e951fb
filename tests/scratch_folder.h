// A folder of one test's own under the system's temporary folder, removed
// with everything in it when the test is done. Portable to Windows.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

struct ScratchFolder {
  std::string path;

  explicit ScratchFolder(const std::string& prefix) {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() /
                             (prefix + "-" + std::to_string(random() % 1000000000u));
      std::error_code taken;
      if (std::filesystem::create_directory(candidate, taken)) path = candidate.generic_string();
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};
