// Splits program output into its lines, for tests that count or compare
// what a program wrote to standard error or standard output.
#pragma once

#include <string>
#include <vector>

// The lines of `text`, without their line feeds; a last line without one
// counts too.
inline std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
