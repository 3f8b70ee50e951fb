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
#include <vector>

#include "interpreter/command_interpreter.h"
#include "interpreter/request_words.h"
#include "link/transport_sim.h"
#include "server/console_echo.h"
#include "server/request_text.h"
#include "server/server_loop.h"

namespace {

CommandInterpreter& interpreter() {
  static CommandInterpreter* instance = [] {
    simTransportSetUp(SimTransportSettings{});
    return new CommandInterpreter;
  }();
  return *instance;
}

// Whether a console would take a byte as a control code; looked up, since
// every byte of every input is checked.
constexpr std::array<bool, 256> kControl = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<std::size_t>(c)] =
        (c < 0x20 && c != '\t') || c == 0x7f || (c >= 0x80 && c <= 0x9f);
  }
  return table;
}();

bool isControl(unsigned char byte) { return kControl[byte]; }

// Requests that wait on the brick for a second or more by design; the
// fuzzer would spend its time waiting.
bool waits(const Words& cmds) {
  return cmds.size() >= 2 && (cmds[1] == "goto" || cmds[1] == "getsonarvalue");
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
    if (res.find_first_of("\r\n'\"") != std::string::npos) std::abort();
  }
  if (kept + lineEndBytes(read, size) != size) std::abort();  // no byte lost, none made up

  CommandInterpreter& ci = interpreter();
  if (!ci.isInterfaceEnabled() && ci.interpretLine("nxt;open") != "ok") std::abort();
  for (const std::string& res : requests) {
    const std::string echo = consoleEcho(res);
    for (std::size_t i = 0; i < echo.size(); ++i) {
      const auto byte = static_cast<unsigned char>(echo[i]);
      const bool c1InUtf8 =
          byte == 0xc2 && i + 1 < echo.size() && isControl(static_cast<unsigned char>(echo[i + 1]));
      if (isControl(byte) || c1InUtf8) std::abort();
    }
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
    const Words cmds = splitRequest(res);
    if (waits(cmds)) continue;
    const std::string reply = ci.dispatchModule(cmds);
    // One reply line: never empty, never a line end inside it.
    if (reply.empty() || reply.find('\n') != std::string::npos) std::abort();
  }
  return 0;
}
