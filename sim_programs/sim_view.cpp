#include "sim_programs/sim_view.h"

#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cctype>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "link/transport_sim.h"
#include "server/program_start.h"
#include "sim_programs/sim_console.h"
#include "sim_programs/view_messages.h"
#include "web/web_assets.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr auto kFramePeriod = std::chrono::milliseconds(40);
constexpr auto kRequestTimeout = std::chrono::seconds(15);
constexpr auto kSilenceTimeout = std::chrono::seconds(6);
constexpr std::size_t kMaxControlLength = 256;

// One page's WebSocket.
struct Watcher {
  explicit Watcher(beast::tcp_stream&& stream) : ws(std::move(stream)) {}
  websocket::stream<beast::tcp_stream> ws;
  beast::flat_buffer in;
  std::string sending;  // the frame being written
  std::string waiting;  // the newest frame not yet written; empty: none
  bool writing = false;
  bool gone = false;
};

// One HTTP connection, until it upgrades or closes.
struct HttpSession {
  explicit HttpSession(tcp::socket&& socket) : stream(std::move(socket)) {}
  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  http::request<http::string_body> request;
  http::response<http::string_body> response;
};

struct View {
  ViewAddress address;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::steady_timer timer{io};
  std::vector<std::shared_ptr<Watcher>> watchers;
  std::size_t connections = 0;  // HTTP sessions and watchers
  SimSnapshot snapshot;
  std::string frame;  // the last state message sent
  // Telegrams per second: counted over the last second or so.
  std::uint64_t rateCount = 0;
  SimTime rateSince{};
  double perSecond = 0;
};

void readRequest(View& view, std::shared_ptr<HttpSession> session);

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// True when `text` is an IPv6 address (`v6`) or an IPv4 one.
bool isAddress(bool v6, const std::string& text) {
  boost::system::error_code notOne;
  if (v6) {
    asio::ip::make_address_v6(text, notOne);
  } else {
    asio::ip::make_address_v4(text, notOne);
  }
  return !notOne;
}

void dropWatcher(View& view, const std::shared_ptr<Watcher>& w) {
  if (w->gone) return;
  w->gone = true;
  --view.connections;
  for (auto it = view.watchers.begin(); it != view.watchers.end(); ++it) {
    if (*it == w) {
      view.watchers.erase(it);
      break;
    }
  }
  beast::error_code ignored;
  beast::get_lowest_layer(w->ws).socket().close(ignored);
}

void writeFrame(View& view, std::shared_ptr<Watcher> w) {
  w->writing = true;
  w->ws.async_write(asio::buffer(w->sending), [&view, w](beast::error_code ec, std::size_t) {
    w->writing = false;
    if (ec || w->gone) {
      dropWatcher(view, w);
      return;
    }
    if (!w->waiting.empty()) {
      w->sending.swap(w->waiting);
      w->waiting.clear();
      writeFrame(view, w);
    }
  });
}

// Hands `frame` to a watcher: written now when nothing is being written,
// else it replaces whatever waits.
void offerFrame(View& view, const std::shared_ptr<Watcher>& w, const std::string& frame) {
  if (w->writing) {
    w->waiting = frame;
    return;
  }
  w->sending = frame;
  writeFrame(view, w);
}

void readControl(View& view, std::shared_ptr<Watcher> w) {
  w->ws.async_read(w->in, [&view, w](beast::error_code ec, std::size_t) {
    if (ec || w->gone) {
      dropWatcher(view, w);
      return;
    }
    if (w->ws.got_text()) {
      std::string line = beast::buffers_to_string(w->in.data());
      std::string error;
      // A line the console would not take is dropped: the page builds its
      // lines itself, so only a foreign client sends one.
      simConsoleApply(line, error);
    }
    w->in.consume(w->in.size());
    readControl(view, w);
  });
}

void acceptWatcher(View& view, std::shared_ptr<HttpSession> session) {
  auto w = std::make_shared<Watcher>(std::move(session->stream));
  beast::get_lowest_layer(w->ws).expires_never();
  websocket::stream_base::timeout timeout{};
  timeout.handshake_timeout = kRequestTimeout;
  timeout.idle_timeout = kSilenceTimeout;
  timeout.keep_alive_pings = true;
  w->ws.set_option(timeout);
  w->ws.read_message_max(kMaxControlLength);
  w->ws.text(true);
  w->ws.async_accept(session->request, [&view, w](beast::error_code ec) {
    if (ec) {
      --view.connections;
      return;
    }
    view.watchers.push_back(w);
    if (!view.frame.empty()) offerFrame(view, w, view.frame);
    readControl(view, w);
  });
}

void closeSession(View& view, const std::shared_ptr<HttpSession>& session) {
  beast::error_code ignored;
  session->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  session->stream.socket().close(ignored);
  --view.connections;
}

// Answers the request; `allowed` false: 403, and the connection closes.
void respond(View& view, std::shared_ptr<HttpSession> session, bool allowed) {
  const auto& request = session->request;
  auto& response = session->response;
  response = {};
  response.version(request.version());
  response.keep_alive(allowed && request.keep_alive());
  response.set(http::field::server, "nxt-bridge-sim");
  response.set(http::field::cache_control, "no-store");
  std::string path(request.target());
  path = path.substr(0, path.find('?'));
  const WebAsset* asset = webAssetFind(path);
  if (!allowed) {
    response.result(http::status::forbidden);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = "forbidden: open the page at its own address, such as http://127.0.0.1:" +
                      std::to_string(view.address.port) + "/\n";
  } else if (request.method() != http::verb::get && request.method() != http::verb::head) {
    response.result(http::status::method_not_allowed);
    response.set(http::field::allow, "GET, HEAD");
    response.body() = "GET only\n";
  } else if (asset == nullptr) {
    response.result(http::status::not_found);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = "not found\n";
  } else {
    response.result(http::status::ok);
    response.set(http::field::content_type, asset->contentType);
    response.body().assign(reinterpret_cast<const char*>(asset->data), asset->size);
  }
  response.prepare_payload();
  if (request.method() == http::verb::head) response.body().clear();
  http::async_write(session->stream, response, [&view, session](beast::error_code ec, std::size_t) {
    if (ec || !session->response.keep_alive()) {
      closeSession(view, session);
      return;
    }
    readRequest(view, session);
  });
}

void readRequest(View& view, std::shared_ptr<HttpSession> session) {
  session->request = {};
  session->stream.expires_after(kRequestTimeout);
  http::async_read(session->stream, session->buffer, session->request,
                   [&view, session](beast::error_code ec, std::size_t) {
                     if (ec) {
                       closeSession(view, session);
                       return;
                     }
                     const auto& request = session->request;
                     const std::string host(request[http::field::host]);
                     bool allowed = viewHostAllowed(host, view.address);
                     if (websocket::is_upgrade(request)) {
                       if (request.target() != "/ws") {
                         closeSession(view, session);
                         return;
                       }
                       allowed = allowed &&
                                 viewOriginAllowed(std::string(request[http::field::origin]), host);
                       if (allowed) {
                         acceptWatcher(view, session);
                         return;
                       }
                     }
                     respond(view, session, allowed);
                   });
}

void acceptConnections(View& view) {
  view.acceptor.async_accept([&view](beast::error_code ec, tcp::socket socket) {
    if (!ec) {
      if (view.connections >= kSimViewMaxConnections) {
        beast::error_code ignored;
        socket.close(ignored);
      } else {
        ++view.connections;
        readRequest(view, std::make_shared<HttpSession>(std::move(socket)));
      }
    }
    acceptConnections(view);
  });
}

// Takes the brick's state and offers it to every page when it changed.
void broadcast(View& view) {
  simTransportSnapshot(view.snapshot);
  const SimTime now = SimClock::now();
  simSnapshotAdvance(view.snapshot, now);
  // The rate over the last second; after a pause (no page watched) or a
  // fresh brick it starts again from 0.
  const double seconds = std::chrono::duration<double>(now - view.rateSince).count();
  if (seconds >= 1.0 || view.snapshot.telegramCount < view.rateCount) {
    const bool fresh = seconds > 2.0 || view.snapshot.telegramCount < view.rateCount;
    view.perSecond =
        fresh ? 0.0 : static_cast<double>(view.snapshot.telegramCount - view.rateCount) / seconds;
    view.rateCount = view.snapshot.telegramCount;
    view.rateSince = now;
  }
  std::string frame = viewStateMessage(view.snapshot, view.perSecond);
  if (frame == view.frame) return;
  view.frame.swap(frame);
  for (const auto& w : view.watchers) offerFrame(view, w, view.frame);
}

void tick(View& view) {
  view.timer.expires_after(kFramePeriod);
  view.timer.async_wait([&view](beast::error_code ec) {
    if (ec) return;
    if (!view.watchers.empty()) broadcast(view);
    tick(view);
  });
}

}  // namespace

bool viewHostAllowed(const std::string& host, const ViewAddress& page) {
  std::string name;
  std::string rest;  // what follows the name: nothing, or ":PORT"
  bool known = false;
  if (!host.empty() && host[0] == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos) return false;
    known = isAddress(true, host.substr(1, close - 1));
    rest = host.substr(close + 1);
  } else {
    const std::size_t colon = host.find(':');
    name = lower(host.substr(0, colon));
    rest = colon == std::string::npos ? "" : host.substr(colon);
    const std::string machine = lower(page.machine);
    known = isAddress(false, name) || name == "localhost" || name == lower(page.bind) ||
            (!machine.empty() && (name == machine || name == machine + ".local"));
  }
  if (!known) return false;
  if (rest.empty()) return page.port == 80;
  std::uint16_t port = 0;
  return rest[0] == ':' && parseTcpPort(rest.substr(1), port) && port == page.port;
}

bool viewOriginAllowed(const std::string& origin, const std::string& host) {
  return !host.empty() && lower(origin) == "http://" + lower(host);
}

bool startSimView(const std::string& address, std::uint16_t port, std::string& error) {
  // Lives as long as the program: its thread serves until the end.
  auto* view = new View;
  view->address.port = port;
  view->address.bind = address;
  char machine[256] = {};
  if (::gethostname(machine, sizeof machine - 1) == 0) view->address.machine = machine;
  beast::error_code ec;
  const asio::ip::address ip = asio::ip::make_address(address, ec);
  const tcp::endpoint endpoint(ip, port);
  if (!ec) view->acceptor.open(endpoint.protocol(), ec);
  if (!ec) view->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) view->acceptor.bind(endpoint, ec);
  if (!ec) view->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot serve the page on " + address + " port " + std::to_string(port) + ": " +
            ec.message();
    delete view;
    return false;
  }
  acceptConnections(*view);
  tick(*view);
  std::thread([view] {
    for (;;) {
      try {
        view->io.run();
        return;
      } catch (const std::exception&) {
        // A handler failed (out of memory, say): the page goes on serving.
      }
    }
  }).detach();
  return true;
}
