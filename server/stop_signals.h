// Stop signals end serving in order instead of at once: SIGINT, SIGTERM and
// SIGHUP on POSIX systems; Ctrl-C, Ctrl-Break and closing the console on
// Windows. The handler only records the signal and wakes the request loop,
// which waits on its sockets through the functions below; the loop stops
// the motors and then the process ends as it would have without a handler,
// so that its parent sees why: by the same signal, or on Windows with the
// status of a console program ended by Ctrl-C (STATUS_CONTROL_C_EXIT). A
// second signal of the same kind ends the process at once.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <cstddef>

// Installs the handlers. Call once, before any other thread starts.
void catchStopSignals();

// The signal caught, or 0 while none was. Safe from any thread.
int caughtStopSignal();

// Ends the process as the caught signal would have.
[[noreturn]] void endByStopSignal();

// "SIGTERM", "Ctrl-C" and the like, for messages.
const char* stopSignalName(int signal);

// For the platform files (stop_signals_posix.cpp, stop_signals_windows.cpp):
// what each calls its stop signals, ended by an entry with signal 0 that
// names any other; and the record of the first one caught, safe in a
// signal handler: returns the signal caught before, 0 when this one is the
// first (and is now the one caught).
struct StopSignalName {
  int signal;
  const char* name;
};
extern const StopSignalName kStopSignalNames[];
int recordStopSignal(int signal);

using NativeSocket = boost::asio::ip::tcp::socket::native_handle_type;

enum class SocketEvent { kReadable, kWritable };
enum class Ready { kReady, kStopSignal, kTimedOut };

// Waits until `socket` is ready for `event` (or has failed), a stop signal
// is caught, or `timeoutMs` passes (negative: no limit).
Ready waitForSocket(NativeSocket socket, SocketEvent event, int timeoutMs);

// The client's socket, from just after it was accepted until serving it
// ends: made ready for readClient and writeClientSome. On POSIX systems a
// stop signal, whichever thread takes it, then also ends a read that waits.
void startServing(boost::asio::ip::tcp::socket& socket);
void stopServing();

enum class ClientRead { kRead, kStopSignal, kTimedOut, kFailed };

// Reads what the client sent into `buffer`, `size` bytes at most, waiting
// until something came or the stream ended (`count` 0), a stop signal is
// caught, or `timeoutMs` passes (negative: no limit). Without a limit the
// POSIX read waits in the read itself, one system call.
ClientRead readClient(boost::asio::ip::tcp::socket& socket, char* buffer, std::size_t size,
                      int timeoutMs, std::size_t& count);

enum class ClientWrite { kWritten, kFull, kFailed };

// Writes what fits of `data` to the client without waiting: kWritten with
// `written` bytes, kFull when nothing fit (wait with waitForSocket), or
// kFailed when the client is gone.
ClientWrite writeClientSome(boost::asio::ip::tcp::socket& socket, const char* data,
                            std::size_t size, std::size_t& written);

// How the peer of a connected socket stands. A POSIX system tells an end
// of stream even with data before it unread; Windows only once that data
// is read.
enum class PeerState { kConnected, kEndOfStream, kBroken };

// Reads nothing, never waits.
PeerState peerState(NativeSocket socket);
