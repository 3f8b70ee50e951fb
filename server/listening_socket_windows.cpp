// Windows hands no listening socket over to a server it starts, and lets a
// second program bind a port taken with SO_REUSEADDR: the socket is bound
// for this program alone instead, and a port in use is refused.
#include <winsock2.h>

#include "server/listening_socket.h"

namespace asio = boost::asio;
using asio::ip::tcp;

int handedListeningSocket() { return -1; }

tcp::acceptor openListeningSocket(asio::io_context& io_service, std::uint16_t port) {
  const tcp::endpoint endpoint(tcp::v4(), port);
  tcp::acceptor acceptor(io_service, endpoint.protocol());
  const BOOL on = TRUE;
  ::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&on), sizeof on);
  acceptor.bind(endpoint);
  acceptor.listen(asio::socket_base::max_listen_connections);
  return acceptor;
}
