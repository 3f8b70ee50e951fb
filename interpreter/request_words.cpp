#include "interpreter/request_words.h"

#include <array>
#include <cstddef>
#include <limits>
#include <string_view>

#include "protocol/no_coverage.h"

using namespace std::string_view_literals;

namespace {

// Per byte: whether it is whitespace of the classic locale, and its lower
// case. Looked up rather than compared: the tokenizer asks it of every byte
// of every request.
struct ByteClass {
  bool blank;
  char lower;
};
constexpr std::array<ByteClass, 256> kByteClasses = [] {
  std::array<ByteClass, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const bool upper = c >= 'A' && c <= 'Z';
    table[static_cast<std::size_t>(c)] = {
        c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r',
        static_cast<char>(upper ? c - 'A' + 'a' : c)};
  }
  return table;
}();

bool isBlank(char c) { return kByteClasses[static_cast<unsigned char>(c)].blank; }
char lowerCase(char c) { return kByteClasses[static_cast<unsigned char>(c)].lower; }

NXT_NO_COVERAGE void lowerInPlace(std::string& word) {
  for (char& c : word) c = lowerCase(c);
}

// The first byte in [at, end) that is a blank (`blank`) or is not one; end
// when there is none.
NXT_NO_COVERAGE const char* findBlank(const char* at, const char* end, bool blank) {
  while (at != end && isBlank(*at) != blank) ++at;
  return at;
}

// Makes `word` the first blank-delimited word of line[begin, end),
// lower-cased; a piece with no word is kept as it is (empty, or its blanks).
// Made in place, in the buffer `word` already has.
void firstWord(const std::string& line, std::size_t begin, std::size_t end, std::string& word) {
  const char* const pieceEnd = line.data() + end;
  const char* const first = findBlank(line.data() + begin, pieceEnd, false);
  if (first == pieceEnd) {
    word.assign(line, begin, end - begin);
    return;
  }
  word.assign(first, findBlank(first, pieceEnd, true));
  lowerInPlace(word);
}

struct PortWord {
  std::string_view word;
  int port;
};

constexpr PortWord kMotorPorts[] = {{"out_a", 0}, {"out_b", 1}, {"out_c", 2},
                                    {"a", 0},     {"b", 1},     {"c", 2}};
constexpr PortWord kSensorPorts[] = {{"in_1", 0}, {"in_2", 1}, {"in_3", 2}, {"in_4", 3},
                                     {"s1", 0},   {"s2", 1},   {"s3", 2},   {"s4", 3}};

template <std::size_t N>
int lookUpPort(const PortWord (&table)[N], const std::string& word) {
  for (const PortWord& entry : table) {
    if (word == entry.word) return entry.port;
  }
  return -1;
}

}  // namespace

void splitRequest(const std::string& line, Words& cmds) {
  // One piece per semicolon, less one for a semicolon at the very end.
  std::size_t pieces = 0;
  if (!line.empty()) {
    pieces = 1;
    for (std::size_t at = line.find(';'); at != std::string::npos; at = line.find(';', at + 1)) {
      ++pieces;
    }
    if (line.back() == ';') --pieces;
  }
  cmds.resize(pieces);
  std::size_t start = 0;
  for (std::string& word : cmds) {
    std::size_t end = line.find(';', start);
    if (end == std::string::npos) end = line.size();
    firstWord(line, start, end, word);
    start = end + 1;
  }
}

Words splitRequest(const std::string& line) {
  Words cmds;
  splitRequest(line, cmds);
  return cmds;
}

std::string toLowerCase(std::string word) {
  lowerInPlace(word);
  return word;
}

std::int32_t toInt(const std::string& word) {
  std::size_t i = 0;
  while (i < word.size() && isBlank(word[i])) ++i;
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) {
    negative = word[i] == '-';
    ++i;
  }
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::int64_t magnitude = 0;
  for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
    // Past 2^31 the value is clamped anyway; stop growing there.
    if (magnitude <= kMax + 1) magnitude = magnitude * 10 + (word[i] - '0');
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > kMax) return static_cast<std::int32_t>(kMax);
  if (value < kMin) return static_cast<std::int32_t>(kMin);
  return static_cast<std::int32_t>(value);
}

std::string intToString(std::int32_t value) { return std::to_string(value); }

bool toBool(const std::string& word) { return word == "true"sv; }

bool isMotorPort(const std::string& word) { return toMotorPort(word) >= 0; }

bool isSensorPort(const std::string& word) { return toSensorPort(word) >= 0; }

bool isPower(const std::string& word) {
  const std::int32_t n = toInt(word);
  return n >= 0 && n <= 100;
}

bool isTruthWord(const std::string& word) { return word == "true"sv || word == "false"sv; }

int toMotorPort(const std::string& word) { return lookUpPort(kMotorPorts, word); }

int toSensorPort(const std::string& word) { return lookUpPort(kSensorPorts, word); }
