// The transport moves raw telegrams between this host and one brick: the
// bytes exactly as they cross USB, telegram-type byte first, one telegram
// per call (a transport that frames them, as over Bluetooth, adds and
// removes its framing itself). It leaves the matching of replies to
// telegrams to the driver; only a framed link uses the shape of replies,
// to tell a stream that has lost step.
//
// There is one transport per program, chosen when linking: transport_usb.cpp
// (libusb) for nxt-bridge, transport_bt.cpp (Bluetooth) for nxt-bridge-bt,
// transport_sim.cpp (the simulated brick) for nxt-bridge-sim and the tests.
// Each implements exactly these functions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// An open connection to one brick. Opaque; owned by the transport.
struct TransportDevice;

// Outcome of a transport call: zero on success, negative on failure.
enum TransportResult : std::int32_t {
  kTransportOk = 0,
  kTransportNoDevice = -1,      // no brick found
  kTransportAccessDenied = -2,  // found, but the user may not open it
  kTransportBusy = -3,          // another program holds the brick
  kTransportTimeout = -4,       // the transfer did not complete in time
  kTransportIoError = -5,       // the transfer failed
  kTransportGone = -6,          // the brick was unplugged
  kTransportOverflow = -7,      // the brick sent more than was asked for
};

// Finds the first brick and opens it. Returns null and sets `result` to a
// negative value when none can be opened; the reason is also written to
// standard error, one line, by transports that have one worth telling the
// operator. Opening while this process holds a brick that is still attached
// returns a handle that shares that connection (each handle is closed on its
// own); a held brick that is gone is left to its handles, and the search
// starts afresh. A fresh connection starts with nothing waiting to be
// received.
TransportDevice* transportOpenFirstBrick(std::int32_t& result);

// Releases a handle from transportOpenFirstBrick. Null is ignored.
void transportCloseBrick(TransportDevice* device);

// Every send and receive is bounded in time. After one of them fails, the
// transport drops whatever is waiting to be received before the next send,
// so that a late reply is not taken for the next one. Once the brick is
// gone (kTransportGone) every call on its handles fails at once.

// Sends one telegram of `length` bytes (at most 64). Returns kTransportOk
// only when every byte went out.
std::int32_t transportSend(TransportDevice* device, const std::uint8_t* telegram,
                           std::size_t length);

using TransportClock = std::chrono::steady_clock;

// How long a reply may take on this transport, from its telegram's send.
// Zero for a transport whose replies are there at once or never come: its
// callers read no clock, and pass a deadline that has already passed.
TransportClock::duration transportReplyTimeout();

// Receives one reply telegram into `buffer` (room for `capacity` bytes,
// 64 to be safe) and sets `received` to its length. A brick that answers
// nothing by `deadline` makes this fail with kTransportTimeout. On failure
// `received` is 0; the buffer's contents are then unspecified.
std::int32_t transportReceive(TransportDevice* device, std::uint8_t* buffer, std::size_t capacity,
                              std::size_t& received, TransportClock::time_point deadline);

// The same, with the transport's whole reply timeout from now.
inline std::int32_t transportReceive(TransportDevice* device, std::uint8_t* buffer,
                                     std::size_t capacity, std::size_t& received) {
  return transportReceive(device, buffer, capacity, received,
                          TransportClock::now() + transportReplyTimeout());
}

// For the transports that share one connection among the handles opened
// while it is held (`connection->handles` counts them, `current` is the
// held one): deletes the handle `device`, and returns its connection when
// that was the last handle, no longer current, for the caller to close;
// null while other handles remain.
template <typename Device, typename Connection>
Connection* transportDropHandle(Device* device, Connection*& current) {
  Connection* connection = device->connection;
  delete device;
  if (--connection->handles > 0) return nullptr;
  if (current == connection) current = nullptr;
  return connection;
}
