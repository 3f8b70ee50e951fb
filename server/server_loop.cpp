#include "server/server_loop.h"

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

enum class SessionEnd { kBye, kClientGone, kReplyNotTaken, kStopSignal };

// How long the start of a line kept from a full read waits for the rest.
constexpr int kUnfinishedLineWaitMs = 200;

// The client of the session being served, for the check below; null when
// none is.
tcp::socket* servedSocket = nullptr;
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
// connection ends the wait at once. Nothing of the client's input is read.
bool sessionMustEnd() {
  bool end = caughtStopSignal() != 0;
  if (!end && servedSocket != nullptr) {
    const PeerState peer = peerState(servedSocket->native_handle());
    if (peer == PeerState::kBroken) {
      end = true;
    } else if (peer == PeerState::kEndOfStream) {
      const auto now = std::chrono::steady_clock::now();
      if (!endOfStreamSeen) endOfStreamSeen = now;
      error_code error;
      const bool sentMore = requestsWaiting || servedSocket->available(error) > 0;
      end = !sentMore || now - *endOfStreamSeen >= kScriptEndBound;
    }
  }
  if (end) waitWasCancelled = true;
  return end;
}

SessionEnd endOfCancelledRequest() {
  return caughtStopSignal() != 0 ? SessionEnd::kStopSignal : SessionEnd::kClientGone;
}

// Writes all of `result` to the client, which has kReplyWriteBound to take
// it: each write does not wait, and only one that found no room waits for
// some. Nothing when all was written; otherwise how the session ends.
std::optional<SessionEnd> writeReply(tcp::socket& socket, const std::string& result) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kReplyWriteBound;
  std::size_t sent = 0;
  while (sent < result.size()) {
    std::size_t written = 0;
    const ClientWrite write =
        writeClientSome(socket, result.data() + sent, result.size() - sent, written);
    sent += written;
    if (write == ClientWrite::kWritten) continue;
    if (write == ClientWrite::kFailed) return SessionEnd::kClientGone;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return SessionEnd::kReplyNotTaken;
    const Ready ready =
        waitForSocket(socket.native_handle(), SocketEvent::kWritable, static_cast<int>(left) + 1);
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
  std::vector<std::string> requests;  // of the read in hand
  for (bool endOfStream = false; !endOfStream;) {
    // The start of a line that a full read left waits for its end a moment
    // only: a client that sent just that much is served all the same.
    std::size_t n = 0;
    const ClientRead read = readClient(socket, response, sizeof response,
                                       lineEnds.kept.empty() ? -1 : kUnfinishedLineWaitMs, n);
    if (read == ClientRead::kStopSignal) return SessionEnd::kStopSignal;
    if (read == ClientRead::kFailed) return SessionEnd::kClientGone;
    // The end of the stream takes effect after the last request before it:
    // the start of a line kept from a full read is served first.
    if (read == ClientRead::kRead) endOfStream = n == 0;
    splitRequests(response, n, lineEnds, n == sizeof response, requests);
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
    if (waitForSocket(acceptor->native_handle(), SocketEvent::kReadable, -1) ==
        Ready::kStopSignal) {
      endByStopSignal();
    }
    tcp::socket socket(io_service);
    acceptor->accept(socket, error);
    if (error) return cannotServe(settings, "accept a client on", error.message());
    startServing(socket);

    CommandInterpreter interpreter;
    ConsoleEcho console;
    openConsole(console);
    servedSocket = &socket;
    setWaitCancelCheck(sessionMustEnd);
    const SessionEnd end = serveRequests(socket, interpreter, console);
    setWaitCancelCheck(nullptr);
    servedSocket = nullptr;
    stopServing();
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
