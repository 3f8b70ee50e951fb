// Where the Bluetooth transport (transport_bt.cpp) meets the system: the
// brick's link is an RFCOMM socket or a serial device on Linux
// (transport_bt_posix.cpp), a COM port on Windows
// (transport_bt_windows.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "link/bt_address.h"
#include "link/bt_frame.h"

// How BRICK is named on nxt-bridge-bt's command line here: for its usage,
// and in one line for a message.
extern const char kBtBrickUsage[];
extern const char kBtBrickForms[];

// False, with a one-line `error`, for a brick this system cannot reach
// (an address on Windows, a COM port elsewhere).
bool btBrickSupported(const BtBrick& brick, std::string& error);

// Opens the link to the brick, ready for bt_frame.h's reads and writes,
// with nothing waiting in either direction. kNoBtHandle when it cannot,
// with `result` (a transport result) and `reason` in the operator's words.
BtHandle btOpenLink(const BtBrick& brick, std::int32_t& result, std::string& reason);

// Closes the link at once, dropping what it still holds to send.
void btCloseLink(BtHandle link);

// True when the other side is known to have hung up while the link was
// idle (whatever it left unread is stale by now).
bool btLinkHungUp(BtHandle link);

// What this system's errors mean to the operator and to the transport:
// the errors known by name (EHOSTDOWN, ERROR_NOT_READY) and the result an
// open that failed with each gives. The last entry has a null name; its
// result is that of every error not listed, whose name is the system's
// words for it (btUnnamedError).
struct BtError {
  int error;
  const char* name;
  std::int32_t openResult;
};
extern const BtError kBtErrors[];
// An entry of the table, named as the system's headers name the error.
#define NXT_BT_ERROR(error, openResult) \
  BtError { error, #error, openResult }
std::string btUnnamedError(int error);

// The transport result of an open that failed with `error`.
std::int32_t btOpenResult(int error);

// The operator's name of an error that a read or write reported.
std::string btErrorName(int error);
