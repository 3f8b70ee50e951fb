// The socket the server accepts its one client on.
//
// A service manager may hand the server a listening socket that it has made
// (socket activation): it starts the process with the socket as file
// descriptor 3 and sets LISTEN_PID to the process's id and LISTEN_FDS to 1.
// The server then accepts on that socket, whatever its address and port,
// and leaves it open in the manager's hands when it exits, so that clients
// queued on it meanwhile wait for the next run. With no socket handed over,
// the server makes its own on every IPv4 address. Windows hands no socket
// over.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <stdexcept>

// The first file descriptor that a service manager hands over.
constexpr int kHandedSocketFd = 3;

// What is wrong with the sockets handed over; its message names no port.
struct HandedSocketError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The handed-over listening socket, or -1 when none is handed over (LISTEN_PID
// unset or another process's, LISTEN_FDS unset or 0). Removes LISTEN_PID,
// LISTEN_FDS and LISTEN_FDNAMES from the environment and marks the handed
// descriptor close-on-exec. Throws HandedSocketError when LISTEN_FDS is no
// count (such as "1x" or "-1"), more than one socket is handed over, or
// descriptor 3 is no listening TCP socket.
int handedListeningSocket();

// An acceptor on the handed-over socket when there is one, else on a new
// socket bound to `port` on every IPv4 address with address reuse and the
// largest backlog. Throws on failure.
boost::asio::ip::tcp::acceptor openListeningSocket(boost::asio::io_context& io_service,
                                                   std::uint16_t port);
