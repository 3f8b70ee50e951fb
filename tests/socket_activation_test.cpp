// nxt-bridge-sim started the way a service manager starts it for socket
// activation: the listening socket as descriptor 3, LISTEN_PID and
// LISTEN_FDS in the environment, and started again after each client.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "e2e_harness.h"

namespace {

using std::chrono::milliseconds;

constexpr int kHandedFd = 3;

// A TCP socket listening on a free loopback port, as a socket unit makes it.
int loopbackListener(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Starts nxt-bridge-sim with `handed` as its descriptor 3 and the
// environment that hands it over; `pidOffset` 1 names another process in
// LISTEN_PID. Its own port (--port) is a free one no client uses.
bool startActivated(SimServer& server, int handed, const char* listenFds, int pidOffset = 0) {
  const int port = freeLoopbackPort();
  return spawnProgram(server, NXT_BRIDGE_SIM_PATH,
                      {"--port", std::to_string(port), "--latency-us", "0"}, port, [=] {
                        if (handed == kHandedFd) {
                          ::fcntl(handed, F_SETFD, 0);
                        } else {
                          ::dup2(handed, kHandedFd);
                        }
                        ::setenv("LISTEN_PID", std::to_string(::getpid() + pidOffset).c_str(), 1);
                        ::setenv("LISTEN_FDS", listenFds, 1);
                      });
}

TEST(SocketActivation, ThreeClientsThatConnectAtOnceAreServedInTurn) {
  int port = 0;
  const int listener = loopbackListener(port);
  ASSERT_GE(listener, 0);
  // All three connect and send their first request before any server runs:
  // they wait in the listening socket's queue.
  SimServer clients[3];
  for (int i = 0; i < 3; ++i) {
    clients[i].sock = connectTo(port);
    ASSERT_GE(clients[i].sock, 0) << "client " << i;
    ASSERT_TRUE(sendRaw(clients[i], "nxt;open\n"));
  }
  for (int i = 0; i < 3; ++i) {
    SimServer server;
    ASSERT_TRUE(startActivated(server, listener, "1"));
    ASSERT_EQ(readLine(clients[i]), "ok") << "client " << i << ": " << server.stderrText;
    for (int later = i + 1; later < 3; ++later) {
      EXPECT_TRUE(nothingArrives(clients[later], milliseconds(100))) << "client " << later;
    }
    EXPECT_EQ(request(clients[i], "nxt;batterylevel"), "8100");
    ASSERT_TRUE(sendRaw(clients[i], "bye\n"));
    EXPECT_EQ(readLine(clients[i]), "<closed>");
    EXPECT_EQ(waitForExit(server), 0) << server.stderrText;
    EXPECT_EQ(server.stdoutText, "nxt;open\nnxt;batterylevel\nbye\n");
  }
  ::close(listener);
}

TEST(SocketActivation, ASocketForAnotherProcessIsLeftAndTheServerListensItself) {
  int port = 0;
  const int listener = loopbackListener(port);
  ASSERT_GE(listener, 0);
  SimServer queued;
  queued.sock = connectTo(port);
  SimServer server;
  ASSERT_TRUE(startActivated(server, listener, "1", 1));
  SimServer own;
  for (int tries = 0; tries < 500 && own.sock < 0; ++tries) {
    own.sock = connectTo(server.port);
    if (own.sock < 0) ::usleep(10000);
  }
  ASSERT_GE(own.sock, 0) << server.stderrText;
  EXPECT_EQ(request(own, "nxt;open"), "ok");
  ASSERT_TRUE(sendRaw(queued, "nxt;open\n"));
  EXPECT_TRUE(nothingArrives(queued, milliseconds(100)));
  ASSERT_TRUE(sendRaw(own, "bye\n"));
  EXPECT_EQ(waitForExit(server), 0);
  ::close(listener);
}

// Descriptor 3 is not one socket to accept on, or LISTEN_FDS no count: the
// server says so on standard error, naming no port of its own, and ends at
// once rather than wait.
TEST(SocketActivation, AHandedDescriptorThatIsNoListeningTcpSocketIsRefused) {
  int port = 0;
  const int tcpListener = loopbackListener(port);
  ASSERT_GE(tcpListener, 0);
  const int unconnected = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int unixListener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un unixAddress{};
  unixAddress.sun_family = AF_UNIX;
  // An abstract name: nothing in the file system to clean up.
  std::snprintf(unixAddress.sun_path + 1, sizeof unixAddress.sun_path - 1, "nxt-bridge-test-%d",
                static_cast<int>(::getpid()));
  ASSERT_EQ(::bind(unixListener, reinterpret_cast<sockaddr*>(&unixAddress), sizeof unixAddress), 0);
  ASSERT_EQ(::listen(unixListener, 1), 0);
  const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

  struct Case {
    const char* what;
    int fd;
    const char* listenFds;
  } cases[] = {
      {"two sockets", tcpListener, "2"},    {"a TCP socket that does not listen", unconnected, "1"},
      {"a UNIX socket", unixListener, "1"}, {"no socket at all", devNull, "1"},
      {"no count", tcpListener, "1x"},      {"a negative count", tcpListener, "-1"},
  };
  for (const Case& c : cases) {
    SimServer server;
    ASSERT_TRUE(startActivated(server, c.fd, c.listenFds)) << c.what;
    EXPECT_NE(waitForExit(server, milliseconds(3000)), -1) << c.what << ": still waiting";
    EXPECT_NE(server.stderrText.find("LISTEN_FDS"), std::string::npos)
        << c.what << ": " << server.stderrText;
    EXPECT_EQ(server.stderrText.find("port"), std::string::npos) << server.stderrText;
  }
  for (int fd : {tcpListener, unconnected, unixListener, devNull}) ::close(fd);
}

}  // namespace
