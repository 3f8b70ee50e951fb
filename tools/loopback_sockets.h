// Sockets for the tests and the benchmark that start servers of their own:
// a free port on the loopback address, a listening socket, and a
// WebSocket client of the live page.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

// A TCP port on 127.0.0.1 that was free a moment ago: the kernel picks it
// for a socket bound to port 0, which is then closed.
inline int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Connects the TCP socket `fd` to `port` on 127.0.0.1; false when it
// cannot.
inline bool connectLoopback(int fd, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// A TCP socket with address reuse, bound to `port` on `hostAddress`
// (INADDR_LOOPBACK, INADDR_ANY) and listening, as the servers bind theirs;
// -1 when it cannot be had.
inline int listeningSocket(std::uint32_t hostAddress, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(hostAddress);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 1) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// `count` bytes from `fd` into `into`; false when the socket ends or its
// receive timeout passes first.
inline bool readExactly(int fd, std::size_t count, std::string& into) {
  into.clear();
  while (into.size() < count) {
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, count - into.size()));
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// Connects to loopback `port`, each read bounded by `timeoutMs`, sends
// `request` and reads the answer into `head` up to and with the first
// `end` (at most 4 KiB). The socket, or -1 when any step fails.
inline int askLoopback(int port, int timeoutMs, const std::string& request, const char* end,
                       std::string& head) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{};
  timeout.tv_sec = timeoutMs / 1000;
  timeout.tv_usec = timeoutMs % 1000 * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string byte;
  bool ok = connectLoopback(fd, port) &&
            ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
  while (ok && head.find(end) == std::string::npos && head.size() < 4096) {
    ok = readExactly(fd, 1, byte);
    head += byte;
  }
  if (ok) return fd;
  ::close(fd);
  return -1;
}

// A WebSocket client of the live page on loopback `port` (/ws, upgraded),
// each read bounded by `timeoutMs`; -1 when it cannot connect or the
// upgrade is refused.
inline int liveViewSocket(int port, int timeoutMs) {
  // The Host and Origin that a browser on the page sends.
  const std::string page = "127.0.0.1:" + std::to_string(port);
  const std::string upgrade = "GET /ws HTTP/1.1\r\nHost: " + page + "\r\nOrigin: http://" + page +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                              "Sec-WebSocket-Version: 13\r\n\r\n";
  std::string head;
  const int fd = askLoopback(port, timeoutMs, upgrade, "\r\n\r\n", head);
  if (fd < 0 || head.rfind("HTTP/1.1 101", 0) == 0) return fd;
  ::close(fd);
  return -1;
}

// The payload of the next frame the page's server sends (unmasked, at most
// 1 MiB); false when the socket ends or a read times out.
inline bool readWebSocketFrame(int fd, std::string& payload) {
  std::string header;
  if (!readExactly(fd, 2, header)) return false;
  std::size_t length = static_cast<unsigned char>(header[1]) & 0x7f;
  const std::size_t extended = length == 126 ? 2 : length == 127 ? 8 : 0;
  if (extended != 0) {
    if (!readExactly(fd, extended, header)) return false;
    length = 0;
    for (char c : header) length = length << 8 | static_cast<unsigned char>(c);
  }
  return length <= (1u << 20) && readExactly(fd, length, payload);
}
