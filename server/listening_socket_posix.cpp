#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "server/listening_socket.h"

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// A decimal number that is the whole of `text`, or -1.
long wholeNumber(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return -1;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0') return -1;
  return value;
}

int socketOption(int fd, int option) {
  int value = 0;
  socklen_t length = sizeof value;
  if (getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0) return -1;
  return value;
}

// AF_INET or AF_INET6 for a TCP/IP socket, else -1.
int internetFamily(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  if (address.ss_family != AF_INET && address.ss_family != AF_INET6) return -1;
  return address.ss_family;
}

}  // namespace

int handedListeningSocket() {
  const long pid = wholeNumber(std::getenv("LISTEN_PID"));
  const char* fds = std::getenv("LISTEN_FDS");
  const std::string fdsText = fds != nullptr ? fds : "";
  const long count = wholeNumber(fds);
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  if (pid != static_cast<long>(getpid()) || fds == nullptr) return -1;
  if (count < 0) {
    throw HandedSocketError("LISTEN_FDS=" + fdsText + " is no count of sockets handed over");
  }
  if (count == 0) return -1;
  if (count != 1) {
    throw HandedSocketError("LISTEN_FDS: " + std::to_string(count) +
                            " sockets handed over; expected one");
  }
  const int fd = kHandedSocketFd;
  if (socketOption(fd, SO_TYPE) != SOCK_STREAM || socketOption(fd, SO_ACCEPTCONN) != 1 ||
      internetFamily(fd) < 0) {
    throw HandedSocketError("LISTEN_FDS: descriptor 3 is not a listening TCP socket");
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

tcp::acceptor openListeningSocket(asio::io_context& io_service, std::uint16_t port) {
  const int handed = handedListeningSocket();
  if (handed < 0) return tcp::acceptor(io_service, tcp::endpoint(tcp::v4(), port), true);
  const tcp protocol = internetFamily(handed) == AF_INET6 ? tcp::v6() : tcp::v4();
  return tcp::acceptor(io_service, protocol, handed);
}
