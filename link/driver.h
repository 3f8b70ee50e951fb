// Our brick driver: finds a brick, holds its handle and carries one direct
// or system command with its reply. It sits on the transport (transport.h)
// and forms the telegram-type byte itself; what a telegram holds is the
// direct-command layer's business.
//
// Every call takes a DriverStatus and sets its code afresh: zero or
// positive on success, negative (fatal) on failure. A fatal status left by
// one call therefore never makes a later call fail.
#pragma once

#include <cstddef>
#include <cstdint>

struct DriverStatus {
  std::int32_t code = 0;
};

// Status codes that the driver sets besides the transport's (transport.h).
enum DriverCode : std::int32_t {
  kDriverSuccess = 0,
  kDriverNullHandle = -20,   // a call on a null handle
  kDriverBadReply = -21,     // no reply that answers the telegram
  kDriverBadArgument = -22,  // a telegram that does not fit 64 bytes
  kDriverIteratorEnd = -23,  // the iterator stands on no brick
};

inline bool isFatal(const DriverStatus& status) { return status.code < 0; }

struct BrickIterator;  // a search over the bricks found; opaque
struct BrickHandle;    // one brick taken for use; opaque

// Searches for bricks where the program's transport looks: on USB, or the
// one brick named to nxt-bridge-bt; `searchBluetooth` changes nothing. The
// iterator stands on the first brick found; `status` is fatal when there is
// none.
BrickIterator* driverCreateBrickIterator(bool searchBluetooth, std::uint32_t timeoutSeconds,
                                         DriverStatus& status);

// Takes the brick the iterator stands on. Null and fatal status on failure.
BrickHandle* driverIteratorGetBrick(BrickIterator* iterator, DriverStatus& status);

// Releases an iterator (and any brick it found but did not hand out).
void driverDestroyBrickIterator(BrickIterator* iterator);

// Releases a brick handle and with it the connection. Null is ignored.
void driverDestroyBrick(BrickHandle* brick);

// The two kinds of command telegram: direct (type 0x00, or 0x80 without a
// reply) and system (0x01, or 0x81).
enum class CommandKind { kDirect, kSystem };

// Sends one command of `kind`: `command` is the opcode and its parameters
// without the telegram-type byte. When `expectReply` is true, replies are
// read until one answers this telegram (protocol/reply_shape.h: 0x02, the
// echoed opcode, the firmware's length for it and, where the reply names
// one, the same port), within the transport's reply timeout; it is copied
// without its leading 0x02 into `response`: at most `responseLength`
// bytes, the rest of the buffer left as it was. A well-formed reply to
// another telegram (an earlier exchange's late answer) is dropped, and one
// line on standard error tells it; any other reply fails the exchange with
// kDriverBadReply. Returns the number of reply bytes copied: 0 without a
// reply, and whenever `status` is fatal.
std::uint32_t driverSendCommand(BrickHandle* brick, CommandKind kind, bool expectReply,
                                const std::uint8_t* command, std::uint32_t commandLength,
                                std::uint8_t* response, std::uint32_t responseLength,
                                DriverStatus& status);
