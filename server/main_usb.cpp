// nxt-bridge: the server over a real NXT brick on USB. It takes no options:
// it serves TCP port 2056 on every IPv4 address.
#include <cstring>
#include <string>

#include "server/server_loop.h"

namespace {

const char kUsage[] =
    "Usage: nxt-bridge [--help | --version]\n"
    "Serves the nxt-bridge text protocol on TCP port 2056 (every IPv4 address)\n"
    "over the first NXT brick found on USB. It takes no other options.\n\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
  const bool version = argc == 2 && std::strcmp(argv[1], "--version") == 0;
  const bool parsed = argc == 1 || help || version;
  const std::string error =
      parsed ? "" : std::string("takes no options, and '") + argv[1] + "' is none";
  const int status = answerCommandLine("nxt-bridge", parsed, error, help, version, kUsage);
  if (status != kGoOn) return status;
  return serveOneClient(ServerSettings{"nxt-bridge", kDefaultPort, "USB"});
}
