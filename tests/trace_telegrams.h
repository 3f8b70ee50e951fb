// The telegrams of one direction in a trace ("> 00 0b" the host sent,
// "< 02 0b 00 5c 1d" the brick answered), for tests that compare what went
// over the link, wherever the trace lines come from.
#pragma once

#include <string>
#include <vector>

// The telegrams of `trace` going `direction` ('>' or '<'), in order, as
// spaced hex without the marker and its blank.
inline std::vector<std::string> telegramsOf(const std::vector<std::string>& trace,
                                            char direction = '>') {
  const std::string marker = std::string(1, direction) + " ";
  std::vector<std::string> telegrams;
  for (const std::string& line : trace) {
    if (line.rfind(marker, 0) == 0) telegrams.push_back(line.substr(2));
  }
  return telegrams;
}
