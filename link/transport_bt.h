// Set-up of the transport over Bluetooth (transport_bt.cpp), for
// nxt-bridge-bt. The transport functions themselves are those of
// transport.h: "the first brick" is always the one named here.
//
// A brick by address is reached through an RFCOMM socket to its channel 1;
// a brick by path through that serial device, in raw mode. Either way the
// connection is made when the brick is opened, not before, and each
// telegram crosses it as one frame (bt_frame.h).
#pragma once

#include <chrono>

#include "link/bt_address.h"

// Bounds of every wait. A connect to a brick that is switched off takes
// the kernel about 30 s to give up; ours gives up sooner. A reply takes a
// brick about 60 ms over Bluetooth (30 ms each time its radio turns).
constexpr std::chrono::milliseconds kBtConnectTimeout{5000};
constexpr std::chrono::milliseconds kBtReplyTimeout{2000};
constexpr std::chrono::milliseconds kBtSendTimeout{2000};

// Names the brick that every later open connects to.
void btTransportSetUp(const BtBrick& brick);
