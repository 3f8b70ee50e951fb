// Splits text into pieces: program output into its lines, for tests that
// count or compare what a program wrote to standard error or standard
// output, and the rig's NUL-separated option files into words.
#pragma once

#include <string>
#include <vector>

// The pieces of `text` between `separator`s, without them; a last piece
// without one counts too.
inline std::vector<std::string> splitAt(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// The lines of `text`, without their line feeds.
inline std::vector<std::string> linesOf(const std::string& text) { return splitAt(text, '\n'); }

// `text` with every CR LF made a line feed alone, as a Windows program's
// output reads on Linux.
inline std::string withoutCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}
