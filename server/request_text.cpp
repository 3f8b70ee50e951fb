#include "server/request_text.h"

std::vector<std::string> splitRequests(const char* data, std::size_t length, LineEnds& lineEnds,
                                       bool filledBuffer) {
  std::vector<std::string> requests;
  std::string res;  // the request being collected, cleaned as it grows
  res.swap(lineEnds.kept);
  std::size_t i = 0;
  if (lineEnds.afterCarriageReturn && length > 0 && data[0] == '\n') i = 1;
  lineEnds.afterCarriageReturn = false;
  for (; i < length; ++i) {
    const char c = data[i];
    if (c == '\r' || c == '\n') {
      requests.push_back(std::move(res));
      res.clear();
      if (c == '\r') {
        if (i + 1 < length && data[i + 1] == '\n') {
          ++i;
        } else if (i + 1 == length) {
          lineEnds.afterCarriageReturn = true;
        }
      }
      continue;
    }
    if (res.size() == kMaxRequestLength) {
      requests.push_back(std::move(res));
      res.clear();
    }
    res += (c == '\'' || c == '"') ? ' ' : c;
  }
  if (filledBuffer) {
    lineEnds.kept = std::move(res);
  } else if (!res.empty()) {
    requests.push_back(std::move(res));
  }
  return requests;
}

LoopKeyword loopKeyword(const std::string& request) {
  if (request == "shortrep" || request == " shortrep ") return LoopKeyword::kShortRep;
  if (request == "bye" || request == " bye ") return LoopKeyword::kBye;
  if (request.empty()) return LoopKeyword::kEmpty;
  return LoopKeyword::kNone;
}
