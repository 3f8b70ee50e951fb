#include "server/server_loop.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <boost/asio.hpp>
#include <cerrno>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "directcmd/wait_cancel.h"
#include "interpreter/command_interpreter.h"
#include "server/console_echo.h"
#include "server/listening_socket.h"
#include "server/request_text.h"
#include "server/stop_signals.h"

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

enum class Ready { kReady, kStopSignal, kTimedOut };

// Waits until `fd` is ready for `events` (or has failed), a stop signal is
// caught, or `timeoutMs` passes (negative: no limit).
Ready waitFor(int fd, short events, int timeoutMs) {
  pollfd fds[2] = {{fd, events, 0}, {stopSignalFd(), POLLIN, 0}};
  for (;;) {
    if (caughtStopSignal() != 0) return Ready::kStopSignal;
    const int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return Ready::kTimedOut;
    if (fds[1].revents != 0) return Ready::kStopSignal;
    return Ready::kReady;
  }
}

enum class SessionEnd { kBye, kClientGone, kReplyNotTaken, kStopSignal };

// How long the start of a line kept from a full read waits for the rest.
constexpr int kUnfinishedLineWaitMs = 200;

// The client of the session being served, for the check below; -1 when
// none is.
int servedSocket = -1;
// Set when the check cut a wait short in the request being served.
bool waitWasCancelled = false;
// Whether requests that the client sent wait in our buffer behind the one
// being served.
bool requestsWaiting = false;
// When the check first saw the client's end of stream.
std::optional<std::chrono::steady_clock::time_point> endOfStreamSeen;

// The check that "goto" and the sonar wait make between two exchanges with
// the brick: a stop signal, or the client's end of stream once nothing it
// sent is left to serve (a client that shut down its sending side after a
// script still gets every reply), or kScriptEndBound after it. A broken
// connection ends the wait at once. Nothing of the client's input is read:
// poll() and FIONREAD tell.
bool sessionMustEnd() {
  bool end = caughtStopSignal() != 0;
  if (!end && servedSocket >= 0) {
    pollfd p{servedSocket, POLLRDHUP, 0};
    const short events = ::poll(&p, 1, 0) > 0 ? p.revents : 0;
    if ((events & (POLLHUP | POLLERR)) != 0) {
      end = true;
    } else if ((events & POLLRDHUP) != 0) {
      const auto now = std::chrono::steady_clock::now();
      if (!endOfStreamSeen) endOfStreamSeen = now;
      int unread = 0;
      const bool sentMore =
          requestsWaiting || (::ioctl(servedSocket, FIONREAD, &unread) == 0 && unread > 0);
      end = !sentMore || now - *endOfStreamSeen >= kScriptEndBound;
    }
  }
  if (end) waitWasCancelled = true;
  return end;
}

SessionEnd endOfCancelledRequest() {
  return caughtStopSignal() != 0 ? SessionEnd::kStopSignal : SessionEnd::kClientGone;
}

// readClient's results other than a count of bytes.
constexpr long kReadStopSignal = -1;
constexpr long kReadFailed = -2;

// Reads what the client sent into `buffer`, waiting in the read itself: a
// stop signal interrupts it or shuts the socket's reading side down
// (stop_signals.h). The count of bytes read, 0 at the end of the stream,
// or kReadStopSignal or kReadFailed.
long readClient(int fd, char* buffer, std::size_t size) {
  for (;;) {
    if (caughtStopSignal() != 0) return kReadStopSignal;
    const ssize_t n = ::recv(fd, buffer, size, 0);
    if (caughtStopSignal() != 0) return kReadStopSignal;
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return kReadFailed;
  }
}

// Writes all of `result` to the client, which has kReplyWriteBound to take
// it: each send does not wait, and only one that finds no room waits for
// some. Nothing when all was written; otherwise how the session ends.
std::optional<SessionEnd> writeReply(tcp::socket& socket, const std::string& result) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kReplyWriteBound;
  std::size_t sent = 0;
  while (sent < result.size()) {
    const ssize_t n = ::send(socket.native_handle(), result.data() + sent, result.size() - sent,
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SessionEnd::kClientGone;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return SessionEnd::kReplyNotTaken;
    const Ready ready = waitFor(socket.native_handle(), POLLOUT, static_cast<int>(left) + 1);
    if (ready == Ready::kStopSignal) return SessionEnd::kStopSignal;
  }
  return std::nullopt;
}

// Serves requests until the session ends, and says how it ended.
SessionEnd serveRequests(tcp::socket& socket, CommandInterpreter& interpreter,
                         ConsoleEcho& console) {
  char response[kReadBufferSize];  // the receive buffer: what the client sent
  static_assert(kReadBufferSize == kMaxRequestLength, "a request is one buffer at most");
  LineEnds lineEnds;
  for (bool endOfStream = false; !endOfStream;) {
    // The start of a line that a full read left waits for its end a moment
    // only: a client that sent just that much is served all the same.
    // Otherwise the read itself waits.
    Ready ready = Ready::kReady;
    if (!lineEnds.kept.empty()) {
      ready = waitFor(socket.native_handle(), POLLIN, kUnfinishedLineWaitMs);
      if (ready == Ready::kStopSignal) return SessionEnd::kStopSignal;
    }
    std::size_t n = 0;
    if (ready == Ready::kReady) {
      const long read = readClient(socket.native_handle(), response, sizeof response);
      if (read == kReadStopSignal) return SessionEnd::kStopSignal;
      if (read == kReadFailed) return SessionEnd::kClientGone;
      n = static_cast<std::size_t>(read);
      // The end of the stream takes effect after the last request before
      // it: the start of a line kept from a full read is served first.
      endOfStream = n == 0;
    }
    const std::vector<std::string> requests =
        splitRequests(response, n, lineEnds, n == sizeof response);
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const std::string& res = requests[i];  // one cleaned request
      requestsWaiting = i + 1 < requests.size() || !lineEnds.kept.empty();
      echoRequest(console, res);
      switch (loopKeyword(res)) {
        case LoopKeyword::kBye:
          return SessionEnd::kBye;
        case LoopKeyword::kShortRep:
          interpreter.setShortReplyMode();
          continue;
        case LoopKeyword::kEmpty:
          continue;
        case LoopKeyword::kNone:
          break;
      }
      waitWasCancelled = false;
      // `result`: the reply line, the interpreter's reply and a line feed.
      const std::string result = interpreter.interpretLine(res) + "\n";
      if (waitWasCancelled) return endOfCancelledRequest();
      if (const auto failed = writeReply(socket, result)) return *failed;
      if (caughtStopSignal() != 0) return SessionEnd::kStopSignal;
    }
  }
  return SessionEnd::kClientGone;
}

// One line to the operator on how a session ended other than by "bye".
// `linkOpen`: the client had the brick link open; `motorsStopped`: the
// coasting stops went out.
void tellSessionEnd(const ServerSettings& settings, SessionEnd end, bool linkOpen,
                    bool motorsStopped) {
  std::cerr << settings.programName << ": ";
  switch (end) {
    case SessionEnd::kClientGone:
      std::cerr << "the client went away without bye";
      break;
    case SessionEnd::kReplyNotTaken:
      std::cerr << "the client took no reply for " << kReplyWriteBound.count()
                << " s and is dropped";
      break;
    case SessionEnd::kStopSignal:
      std::cerr << stopSignalName(caughtStopSignal()) << " ends serving";
      break;
    case SessionEnd::kBye:
      break;
  }
  if (motorsStopped) {
    std::cerr << "; motors A, B and C coast";
  } else if (linkOpen) {
    std::cerr << "; the stops for motors A, B and C could not be sent: the link to the brick "
                 "is lost and did not open again";
  }
  std::cerr << std::endl;
}

int cannotServe(const ServerSettings& settings, const char* what, const std::string& reason) {
  std::cerr << settings.programName << ": cannot " << what << " TCP port " << settings.port << ": "
            << reason << std::endl;
  return kExitCannotServe;
}

}  // namespace

int serveOneClient(const ServerSettings& settings) {
  catchStopSignals();
  try {
    asio::io_context io_service;  // the I/O context (Boost's older name for it)
    std::optional<tcp::acceptor> acceptor;
    try {
      acceptor.emplace(openListeningSocket(io_service, settings.port));
    } catch (const HandedSocketError& e) {
      std::cerr << settings.programName << ": cannot serve the socket handed over: " << e.what()
                << std::endl;
      return kExitCannotServe;
    } catch (const boost::system::system_error& e) {
      return cannotServe(settings, "listen on", e.code().message());
    } catch (const std::exception& e) {
      return cannotServe(settings, "listen on", e.what());
    }
    error_code error;
    const tcp::endpoint listening = acceptor->local_endpoint(error);
    std::cerr << settings.programName << ": serving TCP port "
              << (error ? settings.port : listening.port()) << " over " << settings.brickLink
              << std::endl;
    if (waitFor(acceptor->native_handle(), POLLIN, -1) == Ready::kStopSignal) endByStopSignal();
    tcp::socket socket(io_service);
    acceptor->accept(socket, error);
    if (error) return cannotServe(settings, "accept a client on", error.message());

    CommandInterpreter interpreter;
    ConsoleEcho console;
    openConsole(console);
    servedSocket = socket.native_handle();
    setStopSignalSocket(servedSocket);
    setWaitCancelCheck(sessionMustEnd);
    const SessionEnd end = serveRequests(socket, interpreter, console);
    setWaitCancelCheck(nullptr);
    setStopSignalSocket(-1);
    servedSocket = -1;
    closeConsole(console);
    if (end != SessionEnd::kBye) {
      const bool linkOpen = interpreter.isInterfaceEnabled();
      const bool motorsStopped = interpreter.coastAllMotors();
      tellSessionEnd(settings, end, linkOpen, motorsStopped);
    }
    if (end == SessionEnd::kStopSignal) {
      socket.close(error);
      acceptor->close(error);
      endByStopSignal();
    }
  } catch (const std::exception& e) {
    std::cerr << settings.programName << ": " << e.what() << std::endl;
    return kExitCannotServe;
  }
  return kExitServed;
}
