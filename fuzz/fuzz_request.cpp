// Fuzzes one read of the request loop: the split into requests, the echo,
// the loop keywords and the interpreter, over the simulated brick with the
// link opened first.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "interpreter/command_interpreter.h"
#include "interpreter/request_words.h"
#include "link/transport_sim.h"
#include "protocol/no_coverage.h"
#include "server/console_echo.h"
#include "server/request_text.h"
#include "server/server_loop.h"

using namespace std::string_view_literals;

namespace {

CommandInterpreter& interpreter() {
  static CommandInterpreter* instance = [] {
    simTransportSetUp(SimTransportSettings{});
    return new CommandInterpreter;
  }();
  return *instance;
}

using ByteSet = std::array<std::uint8_t, 256>;

// The bytes a console would take as control codes: C0 but tab, DEL and C1
// (a C1 code written as UTF-8, 0xC2 0x80-0x9F, has one as its second byte).
constexpr ByteSet kControls = [] {
  ByteSet set{};
  for (int c = 0; c < 0xa0; ++c) set[c] = (c < 0x20 && c != '\t') || c >= 0x7f;
  return set;
}();

// The bytes a request never keeps, and of them the line ends.
constexpr ByteSet kNeverKept = [] {
  ByteSet set{};
  for (const char c : {'\r', '\n', '\'', '"'}) set[static_cast<unsigned char>(c)] = 1;
  return set;
}();
constexpr ByteSet kLineEnds = [] {
  ByteSet set{};
  set['\r'] = set['\n'] = 1;
  return set;
}();

// How many bytes of data[0, size) are in `set`.
NXT_NO_COVERAGE std::size_t countIn(const ByteSet& set, const char* data, std::size_t size) {
  std::size_t count = 0;
  for (const char* at = data; at != data + size; ++at)
    count += set[static_cast<unsigned char>(*at)];
  return count;
}

bool holdsNone(const ByteSet& set, const std::string& text) {
  return countIn(set, text.data(), text.size()) == 0;
}

// Requests that wait on the brick for a second or more by design; the
// fuzzer would spend its time waiting.
bool waits(const Words& cmds) {
  return cmds.size() >= 2 && (cmds[1] == "goto"sv || cmds[1] == "getsonarvalue"sv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kReadBufferSize) return 0;  // one read holds at most this much
  // libFuzzer hands over an exact-size copy of the input: reads past it are
  // caught.
  const char* read = reinterpret_cast<const char*>(data);
  LineEnds lineEnds;
  static std::vector<std::string> requests;  // reused, as the server reuses its list
  splitRequests(read, size, lineEnds, false, requests);
  std::size_t kept = 0;  // bytes of the read that are in a request
  for (const std::string& res : requests) {
    kept += res.size();
    if (!holdsNone(kNeverKept, res)) std::abort();
  }
  if (kept + countIn(kLineEnds, read, size) != size) std::abort();  // no byte lost, none made up

  CommandInterpreter& ci = interpreter();
  // Kept from input to input, as the server keeps them from request to
  // request.
  static std::string echo;
  static Words cmds;
  if (!ci.isInterfaceEnabled() && ci.interpretLine("nxt;open") != "ok") std::abort();
  for (const std::string& res : requests) {
    echo.clear();
    appendConsoleEcho(echo, res);
    if (!holdsNone(kControls, echo)) std::abort();
    switch (loopKeyword(res)) {
      case LoopKeyword::kShortRep:
        ci.setShortReplyMode();
        continue;
      case LoopKeyword::kBye:
        return 0;
      case LoopKeyword::kEmpty:
        continue;
      case LoopKeyword::kNone:
        break;
    }
    // What interpretLine does, with the words looked at first.
    splitRequest(res, cmds);
    if (waits(cmds)) continue;
    const std::string reply = ci.dispatchModule(cmds);
    // One reply line: never empty, never a line end inside it.
    if (reply.empty() || reply.find('\n') != std::string::npos) std::abort();
  }
  return 0;
}
