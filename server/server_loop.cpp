#include "server/server_loop.h"

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

enum class SessionEnd { kBye, kClientGone, kReplyNotTaken, kStopSignal };

// The client of the session being served, for the check below; none when
// none is.
std::optional<NativeSocket> servedSocket;
// Set when the check cut a wait short in the request being served.
bool waitWasCancelled = false;

// The check that "goto" and the sonar wait make between two exchanges with
// the brick: a stop signal, or the client's end of stream. Nothing of the
// client's input is read.
bool sessionMustEnd() {
  bool end = caughtStopSignal() != 0;
  if (!end && servedSocket) end = peerHasGone(*servedSocket);
  if (end) waitWasCancelled = true;
  return end;
}

SessionEnd endOfCancelledRequest() {
  return caughtStopSignal() != 0 ? SessionEnd::kStopSignal : SessionEnd::kClientGone;
}

// Writes all of `result` to the client, which has kReplyWriteBound to take
// it. The socket is non-blocking. Nothing when all was written; otherwise
// how the session ends.
std::optional<SessionEnd> writeReply(tcp::socket& socket, const std::string& result) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kReplyWriteBound;
  std::size_t sent = 0;
  while (sent < result.size()) {
    error_code error;
    sent += socket.write_some(asio::buffer(result.data() + sent, result.size() - sent), error);
    if (!error) continue;
    if (error != asio::error::would_block && error != asio::error::try_again) {
      return SessionEnd::kClientGone;
    }
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
  LineEnds lineEnds;
  for (;;) {
    if (waitForSocket(socket.native_handle(), SocketEvent::kReadable, -1) == Ready::kStopSignal) {
      return SessionEnd::kStopSignal;
    }
    error_code error;
    const std::size_t n = socket.read_some(asio::buffer(response), error);
    if (error == asio::error::would_block || error == asio::error::try_again) continue;
    if (error || n == 0) return SessionEnd::kClientGone;
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
    if (waitForSocket(acceptor->native_handle(), SocketEvent::kReadable, -1) == Ready::kStopSignal)
      endByStopSignal();
    tcp::socket socket(io_service);
    acceptor->accept(socket, error);
    if (!error) socket.non_blocking(true, error);
    if (error) return cannotServe(settings, "accept a client on", error.message());

    CommandInterpreter interpreter;
    ConsoleEcho console;
    openConsole(console);
    servedSocket = socket.native_handle();
    setWaitCancelCheck(sessionMustEnd);
    const SessionEnd end = serveRequests(socket, interpreter, console);
    setWaitCancelCheck(nullptr);
    servedSocket.reset();
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
