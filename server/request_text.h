// The requests in what the client sends. The bytes of one read are split at
// each line end (carriage return, line feed, or the two as CR LF): each line
// is one request, in order. The bytes after the last line end of a read,
// when there are any, are one request too, so that a client that sends a
// request without a line end is served; but after a read that filled the
// whole buffer they are kept and joined to the next read, since the rest of
// their line is likely still to come (the server serves them alone when
// nothing more comes for a moment). A request is at most kMaxRequestLength
// bytes: a longer line is cut into requests of that length. A CR that ends
// one read and an LF that begins the next are one line end. In every
// request, single and double quotes become blanks.
//
// Two requests are the loop's own: "shortrep" and "bye".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The longest request: the server's read buffer.
constexpr std::size_t kMaxRequestLength = 512;

// What the last read left for the next: whether it ended with a CR, and the
// start of a line that a full read left unfinished (cleaned).
struct LineEnds {
  bool afterCarriageReturn = false;
  std::string kept;
};

// The cleaned requests of one read of `length` bytes, in order, after the
// bytes kept from the read before; an empty line is an empty request.
// `filledBuffer`: the read filled the whole buffer. At the end of the
// client's stream, a call with no bytes hands over what is kept.
std::vector<std::string> splitRequests(const char* data, std::size_t length, LineEnds& lineEnds,
                                       bool filledBuffer = false);
// The same into `requests`, emptied first: a loop that keeps one list
// reuses its storage from read to read.
void splitRequests(const char* data, std::size_t length, LineEnds& lineEnds, bool filledBuffer,
                   std::vector<std::string>& requests);

enum class LoopKeyword { kNone, kShortRep, kBye, kEmpty };

// The loop keywords, exactly: "shortrep", "bye", or either with one blank
// on each side (what a quoted keyword becomes).
LoopKeyword loopKeyword(const std::string& request);
