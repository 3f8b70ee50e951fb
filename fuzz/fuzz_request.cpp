// Fuzzes one read of the request loop: the cleaning, the loop keywords and
// the interpreter, over the simulated brick with the link opened first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "interpreter/command_interpreter.h"
#include "link/transport_sim.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kReadBufferSize) return 0;             // one read holds at most this much
  const std::vector<char> read(data, data + size);  // exact size: reads past it are caught
  const std::string res = cleanRequest(read.data(), read.size());
  if (res.find('\n') != std::string::npos || res.find('\r') != std::string::npos) std::abort();
  const std::string echo = consoleEcho(res);
  for (char c : echo) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7f) std::abort();
  }
  if (waits(res)) return 0;

  CommandInterpreter& ci = interpreter();
  if (!ci.isInterfaceEnabled() && ci.interpretLine("nxt;open") != "ok") std::abort();
  switch (loopKeyword(res)) {
    case LoopKeyword::kShortRep:
      ci.setShortReplyMode();
      return 0;
    case LoopKeyword::kBye:
    case LoopKeyword::kEmpty:
      return 0;
    case LoopKeyword::kNone:
      break;
  }
  const std::string reply = ci.interpretLine(res);
  // One reply line: never empty, never a line end inside it.
  if (reply.empty() || reply.find('\n') != std::string::npos) std::abort();
  return 0;
}
