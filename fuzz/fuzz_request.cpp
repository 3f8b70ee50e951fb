// Fuzzes one read of the request loop: the split into requests, the echo,
// the loop keywords and the interpreter, over the simulated brick with the
// link opened first.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// The bytes a console would take as control codes: C0 but tab, DEL and C1
// (a C1 code written as UTF-8, 0xC2 0x80-0x9F, has one as its second byte).
constexpr std::array<std::uint8_t, 256> kControls = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 0xa0; ++c) table[c] = (c < 0x20 && c != '\t') || c >= 0x7f;
  return table;
}();

// Whether text holds no control code: or-ed over the whole text.
NXT_NO_COVERAGE bool plain(const std::string& text) {
  std::uint8_t controls = 0;
  for (const char c : text) controls |= kControls[static_cast<unsigned char>(c)];
  return controls == 0;
}

// Whether text holds none of the bytes a request never keeps.
bool cleaned(const std::string& text) {
  for (const char c : {'\r', '\n', '\'', '"'}) {
    if (std::memchr(text.data(), c, text.size()) != nullptr) return false;
  }
  return true;
}

// Requests that wait on the brick for a second or more by design; the
// fuzzer would spend its time waiting.
bool waits(const Words& cmds) {
  return cmds.size() >= 2 && (cmds[1] == "goto"sv || cmds[1] == "getsonarvalue"sv);
}

// Bytes that are CR or LF.
std::size_t lineEndBytes(const char* data, std::size_t size) {
  std::size_t count = 0;
  for (const char end : {'\r', '\n'}) {
    const char* at = data;
    const char* const last = data + size;
    while ((at = static_cast<const char*>(std::memchr(at, end, last - at))) != nullptr) {
      ++count;
      ++at;
    }
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kReadBufferSize) return 0;  // one read holds at most this much
  // libFuzzer hands over an exact-size copy of the input: reads past it are
  // caught.
  const char* read = reinterpret_cast<const char*>(data);
  LineEnds lineEnds;
  const std::vector<std::string> requests = splitRequests(read, size, lineEnds);
  std::size_t kept = 0;  // bytes of the read that are in a request
  for (const std::string& res : requests) {
    kept += res.size();
    if (!cleaned(res)) std::abort();
  }
  if (kept + lineEndBytes(read, size) != size) std::abort();  // no byte lost, none made up

  CommandInterpreter& ci = interpreter();
  // Kept from input to input, as the server keeps them from request to
  // request.
  static std::string echo;
  static Words cmds;
  if (!ci.isInterfaceEnabled() && ci.interpretLine("nxt;open") != "ok") std::abort();
  for (const std::string& res : requests) {
    echo.clear();
    appendConsoleEcho(echo, res);
    if (!plain(echo)) std::abort();
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
