#include "server/server_loop.h"

#include <poll.h>
#include <sys/socket.h>

#include <boost/asio.hpp>
#include <cerrno>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

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

// The client of the session being served, for the check below; -1 when
// none is.
int servedSocket = -1;
// Set when the check cut a wait short in the request being served.
bool waitWasCancelled = false;

// The check that "goto" and the sonar wait make between two exchanges with
// the brick: a stop signal, or the client's end of stream. Nothing of the
// client's input is read: poll() tells that it has shut its side down.
bool sessionMustEnd() {
  bool end = caughtStopSignal() != 0;
  if (!end && servedSocket >= 0) {
    pollfd p{servedSocket, POLLRDHUP, 0};
    end = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
  }
  if (end) waitWasCancelled = true;
  return end;
}

SessionEnd endOfCancelledRequest() {
  return caughtStopSignal() != 0 ? SessionEnd::kStopSignal : SessionEnd::kClientGone;
}

// Reads what the client sent into `buffer`, waiting in the read itself: a
// stop signal interrupts it or shuts the socket's reading side down
// (stop_signals.h). The count of bytes read; 0 at the end of the stream or
// on a failure; -1 for a stop signal.
long readClient(int fd, char* buffer, std::size_t size) {
  for (;;) {
    if (caughtStopSignal() != 0) return -1;
    const ssize_t n = ::recv(fd, buffer, size, 0);
    if (caughtStopSignal() != 0) return -1;
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return 0;
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
  LineEnds lineEnds;
  for (;;) {
    const long read = readClient(socket.native_handle(), response, sizeof response);
    if (read < 0) return SessionEnd::kStopSignal;
    if (read == 0) return SessionEnd::kClientGone;
    const auto n = static_cast<std::size_t>(read);
    // `res`: one cleaned request of this read.
    for (const std::string& res : splitRequests(response, n, lineEnds)) {
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
}

// One line to the operator on how a session ended other than by "bye".
void tellSessionEnd(const ServerSettings& settings, SessionEnd end, bool motorsStopped) {
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
  std::cerr << (motorsStopped ? "; motors A, B and C coast" : "") << std::endl;
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
      const bool motorsStopped = interpreter.isInterfaceEnabled();
      interpreter.coastAllMotors();
      tellSessionEnd(settings, end, motorsStopped);
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
