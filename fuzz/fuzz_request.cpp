// Fuzzes one read of the request loop: the split into requests, the echo,
// the loop keywords and the interpreter, over the simulated brick with the
// link opened first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "interpreter/command_interpreter.h"
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

// Requests that wait on the brick for a second or more by design; the
// fuzzer would spend its time waiting.
bool waits(const std::string& request) {
  const std::string lower = toLowerCase(request);
  return lower.find("goto") != std::string::npos || lower.find("sonarvalue") != std::string::npos;
}

bool isControl(unsigned char byte) {
  return (byte < 0x20 && byte != '\t') || byte == 0x7f || (byte >= 0x80 && byte <= 0x9f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kReadBufferSize) return 0;             // one read holds at most this much
  const std::vector<char> read(data, data + size);  // exact size: reads past it are caught
  LineEnds lineEnds;
  const std::vector<std::string> requests = splitRequests(read.data(), read.size(), lineEnds);
  std::size_t kept = 0;  // bytes of the read that are in a request
  for (const std::string& res : requests) {
    kept += res.size();
    if (res.find_first_of("\r\n'\"") != std::string::npos) std::abort();
  }
  std::size_t lineEndBytes = 0;
  for (char c : read) lineEndBytes += (c == '\r' || c == '\n') ? 1 : 0;
  if (kept + lineEndBytes != size) std::abort();  // no byte lost, none made up

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
    if (waits(res)) continue;
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
    const std::string reply = ci.interpretLine(res);
    // One reply line: never empty, never a line end inside it.
    if (reply.empty() || reply.find('\n') != std::string::npos) std::abort();
  }
  return 0;
}
