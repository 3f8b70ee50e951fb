// The device link: this process's one connection to a brick. Opens the
// first brick that the program's transport finds (on USB, over Bluetooth, or
// the simulated brick), closes it, and carries one command with its reply.
// Everything above talks to the brick through these functions; only they
// call the driver (driver.h).
//
// Framing of the buffers that callers pass to linkTransact:
// - `directCommandBuffer` is the opcode and its parameters, without the
//   telegram-type byte (the driver adds 0x00 or 0x80 from `expectReply`);
// - `responseBuffer` receives the reply without its leading 0x02: byte 0 the
//   echoed opcode, byte 1 the brick's status, then the fields. Callers fill
//   it with 0x01 first; a failed exchange leaves it as they filled it.
#pragma once

#include <cstdint>

#include "link/driver.h"

// Process-wide state of the link. One instance, `deviceLink`.
struct DeviceLink {
  BrickHandle* brick = nullptr;       // the held brick, null when closed
  BrickIterator* iterator = nullptr;  // the last search, released at once
  DriverStatus status;                // written by the driver on every call
};

extern DeviceLink deviceLink;

// Finds the first brick on the program's transport and takes it. Returns true when it was taken.
// On failure the brick held before, if any, is kept; on success it is
// released once the new one is held.
bool linkOpenUsb();

// Releases the held brick, if any, and clears the handle.
void linkClose();

// Carries one direct command, or with `kind` kSystem one system command
// (GETDEVICEINFO) in the same framing. Without a held brick nothing is sent
// and the response buffer is left untouched. Returns the driver's result
// (the number of reply bytes copied).
std::uint32_t linkTransact(std::uint16_t expectReply, const std::uint8_t* directCommandBuffer,
                           std::uint32_t commandLength, std::uint8_t* responseBuffer,
                           std::uint32_t responseLength, CommandKind kind = CommandKind::kDirect);
