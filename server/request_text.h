// The requests in what the client sends. The bytes of one read are split at
// each line end (carriage return, line feed, or the two as CR LF): each line
// is one request, in order. The bytes after the last line end of a read,
// when there are any, are one request too, so that a client that sends a
// request without a line end is served. A CR that ends one read and an LF
// that begins the next are one line end. In every request, single and
// double quotes become blanks.
//
// Two requests are the loop's own: "shortrep" and "bye".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What the last read left for the next: whether it ended with a CR.
struct LineEnds {
  bool afterCarriageReturn = false;
};

// The cleaned requests of one read of `length` bytes, in order; an empty
// line is an empty request.
std::vector<std::string> splitRequests(const char* data, std::size_t length, LineEnds& lineEnds);

enum class LoopKeyword { kNone, kShortRep, kBye, kEmpty };

// The loop keywords, exactly: "shortrep", "bye", or either with one blank
// on each side (what a quoted keyword becomes).
LoopKeyword loopKeyword(const std::string& request);
