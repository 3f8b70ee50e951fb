#include "server/request_text.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

using namespace std::string_view_literals;

namespace {

// The first CR or LF in data[from, length), or length.
std::size_t nextLineEnd(const char* data, std::size_t from, std::size_t length) {
  const void* lf = std::memchr(data + from, '\n', length - from);
  const std::size_t lfAt = lf != nullptr ? static_cast<const char*>(lf) - data : length;
  const void* cr = std::memchr(data + from, '\r', lfAt - from);
  return cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : lfAt;
}

// Quotes become blanks in a request. Found by memchr, as the line ends are:
// the server reads every byte a client sends through here, and most lines
// hold no quote at all.
void blankQuotes(char* text, std::size_t length) {
  char* const end = text + length;
  for (const char quote : {'\'', '"'}) {
    for (char* at = text; (at = static_cast<char*>(std::memchr(at, quote, end - at))) != nullptr;
         ++at) {
      *at = ' ';
    }
  }
}

}  // namespace

void splitRequests(const char* data, std::size_t length, LineEnds& lineEnds, bool filledBuffer,
                   std::vector<std::string>& requests) {
  requests.clear();
  std::string res;  // the request being collected, cleaned as it grows
  res.swap(lineEnds.kept);
  std::size_t i = 0;
  if (lineEnds.afterCarriageReturn && length > 0 && data[0] == '\n') i = 1;
  lineEnds.afterCarriageReturn = false;
  while (i < length) {
    // The bytes up to the next line end join the request, cut into
    // requests of kMaxRequestLength bytes.
    const std::size_t lineEnd = nextLineEnd(data, i, length);
    while (i < lineEnd) {
      if (res.size() == kMaxRequestLength) {
        requests.push_back(std::move(res));
        res.clear();
      }
      const std::size_t taken = std::min(lineEnd - i, kMaxRequestLength - res.size());
      const std::size_t from = res.size();
      res.append(data + i, taken);
      blankQuotes(&res[from], taken);
      i += taken;
    }
    if (i == length) break;
    requests.push_back(std::move(res));
    res.clear();
    if (data[i] == '\r') {
      if (i + 1 < length && data[i + 1] == '\n') {
        ++i;
      } else if (i + 1 == length) {
        lineEnds.afterCarriageReturn = true;
      }
    }
    ++i;
  }
  if (filledBuffer) {
    lineEnds.kept = std::move(res);
  } else if (!res.empty()) {
    requests.push_back(std::move(res));
  }
}

std::vector<std::string> splitRequests(const char* data, std::size_t length, LineEnds& lineEnds,
                                       bool filledBuffer) {
  std::vector<std::string> requests;
  splitRequests(data, length, lineEnds, filledBuffer, requests);
  return requests;
}

LoopKeyword loopKeyword(const std::string& request) {
  if (request == "shortrep"sv || request == " shortrep "sv) return LoopKeyword::kShortRep;
  if (request == "bye"sv || request == " bye "sv) return LoopKeyword::kBye;
  if (request.empty()) return LoopKeyword::kEmpty;
  return LoopKeyword::kNone;
}
