// Windows has no signals to stop a console program: Ctrl-C, Ctrl-Break and
// closing the console come to a handler that the system runs on a thread
// of its own. The handler wakes the request loop through a loopback socket
// pair, which WSAPoll waits on beside the client's socket, and then waits
// until the loop has stopped the motors: its thread, not the loop's, ends
// the process. A process ended from the loop's thread while the handler's
// thread was still on its way out could hang in its end under Wine, to be
// killed a second later (by SIGKILL).
#include <windows.h>
#include <winsock2.h>

#include <boost/asio.hpp>
#include <csignal>
#include <iostream>

#include "server/stop_signals.h"

namespace {

// How long the handler of a closing console holds the system off (it ends
// the process 5 s after the handler was called), so that the loop can stop
// the motors first.
constexpr DWORD kConsoleCloseGraceMs = 4000;

// How long endByStopSignal waits for the handler's thread to end the
// process before it does so itself.
constexpr DWORD kHandlerEndBoundMs = 5000;

SOCKET wakeReader = INVALID_SOCKET;
SOCKET wakeWriter = INVALID_SOCKET;
// Set once the loop has stopped the motors and the process may end.
HANDLE servingStopped = nullptr;

// What a console event is called in this program: the C signal that the
// runtime would have raised for it, closing the console as SIGTERM.
int signalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    case CTRL_CLOSE_EVENT:
      return SIGTERM;
    default:
      return 0;
  }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  const int signal = signalOf(event);
  if (signal == 0) return FALSE;
  if (const int earlier = recordStopSignal(signal)) {
    // The second one of a kind ends the process at once.
    return earlier == signal ? FALSE : TRUE;
  }
  const char byte = 1;
  ::send(wakeWriter, &byte, 1, 0);
  WaitForSingleObject(servingStopped, event == CTRL_CLOSE_EVENT ? kConsoleCloseGraceMs : INFINITE);
  // The status the system's own handler would give (Wine's gives 0).
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

// A connected pair of loopback TCP sockets; false when there is none.
bool makeWakePair() {
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  bool ok = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ::listen(listener, 1) == 0;
  if (ok) {
    wakeWriter = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ok = wakeWriter != INVALID_SOCKET &&
         ::connect(wakeWriter, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  if (ok) {
    wakeReader = ::accept(listener, nullptr, nullptr);
    ok = wakeReader != INVALID_SOCKET;
  }
  ::closesocket(listener);
  return ok;
}

}  // namespace

void catchStopSignals() {
  if (wakeReader != INVALID_SOCKET) return;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  servingStopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Without the pair or the event, the defaults stay.
  if (servingStopped == nullptr || !makeWakePair()) return;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void endByStopSignal() {
  std::cout.flush();
  std::cerr.flush();
  SetEvent(servingStopped);
  Sleep(kHandlerEndBoundMs);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

const StopSignalName kStopSignalNames[] = {{SIGINT, "Ctrl-C"},
                                           {SIGBREAK, "Ctrl-Break"},
                                           {SIGTERM, "closing the console"},
                                           {0, "a console event"}};

Ready waitForSocket(NativeSocket socket, SocketEvent event, int timeoutMs) {
  const SHORT events = event == SocketEvent::kReadable ? POLLRDNORM : POLLWRNORM;
  WSAPOLLFD fds[2] = {{socket, events, 0}, {wakeReader, POLLRDNORM, 0}};
  const ULONG count = wakeReader != INVALID_SOCKET ? 2 : 1;
  if (caughtStopSignal() != 0) return Ready::kStopSignal;
  const int n = WSAPoll(fds, count, timeoutMs);
  if (caughtStopSignal() != 0 || (count == 2 && fds[1].revents != 0)) return Ready::kStopSignal;
  return n == 0 ? Ready::kTimedOut : Ready::kReady;
}

// The client's socket is non-blocking: each read waits with WSAPoll first,
// beside the handler's wake socket.
void startServing(boost::asio::ip::tcp::socket& socket) {
  boost::system::error_code error;
  socket.non_blocking(true, error);
}

void stopServing() {}

ClientRead readClient(boost::asio::ip::tcp::socket& socket, char* buffer, std::size_t size,
                      int timeoutMs, std::size_t& count) {
  namespace error = boost::asio::error;
  count = 0;
  for (;;) {
    const Ready ready = waitForSocket(socket.native_handle(), SocketEvent::kReadable, timeoutMs);
    if (ready == Ready::kStopSignal) return ClientRead::kStopSignal;
    if (ready == Ready::kTimedOut) return ClientRead::kTimedOut;
    boost::system::error_code failed;
    count = socket.read_some(boost::asio::buffer(buffer, size), failed);
    if (failed == error::would_block || failed == error::try_again) continue;
    if (failed && failed != error::eof) return ClientRead::kFailed;
    return ClientRead::kRead;
  }
}

ClientWrite writeClientSome(boost::asio::ip::tcp::socket& socket, const char* data,
                            std::size_t size, std::size_t& written) {
  namespace error = boost::asio::error;
  boost::system::error_code failed;
  written = socket.write_some(boost::asio::buffer(data, size), failed);
  if (!failed) return ClientWrite::kWritten;
  if (failed == error::would_block || failed == error::try_again) return ClientWrite::kFull;
  return ClientWrite::kFailed;
}

PeerState peerState(NativeSocket socket) {
  // The socket is non-blocking. A peek that finds the end of stream reads
  // 0 bytes; one that finds nothing yet fails with WSAEWOULDBLOCK. Data
  // still unread hides an end of stream behind it until it is read.
  char byte = 0;
  const int n = ::recv(socket, &byte, 1, MSG_PEEK);
  if (n == 0) return PeerState::kEndOfStream;
  if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return PeerState::kBroken;
  return PeerState::kConnected;
}
