// The live page of nxt-bridge-sim (--view PORT): an HTTP and WebSocket
// server on a thread of its own with its own I/O context, so that the
// request path never waits for a page.
//
// GET / and the page's files (web/) are served from the program itself;
// /ws upgrades to a WebSocket over which every page gets the state message
// (view_messages.h) 25 times a second while anything changes, and sends
// console lines that change the brick as --console does. The state comes
// from the transport's snapshot, copied under its lock and encoded here.
//
// A page that reads slowly is sent only the newest state: each has at most
// one frame being written and one waiting, which a newer frame replaces. A
// page that stops answering is dropped after a few seconds of silence (the
// WebSocket pings it). At most kSimViewMaxConnections connections are served
// at once; further ones are closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kSimViewMaxConnections = 32;

// Listens on `address` (an IPv4 or IPv6 address) and `port`, then serves on
// a thread of its own for the rest of the program. False with a one-line
// `error` when it cannot listen.
bool startSimView(const std::string& address, std::uint16_t port, std::string& error);
