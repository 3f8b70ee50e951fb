// nxt-bridge: the server over a real NXT brick on USB. No options: it serves
// TCP port 2056 on every IPv4 address.
#include <csignal>

#include "server/server_loop.h"

int main() {
  // A client that goes away mid-reply must not end the server.
  std::signal(SIGPIPE, SIG_IGN);
  return serveOneClient(kDefaultPort);
}
