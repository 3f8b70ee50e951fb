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
//
// A page that the user opens on another site must not reach this one
// through the browser: neither under a name of that site's that resolves
// to this machine (DNS rebinding: the request's Host then carries that
// name) nor by a WebSocket opened from that site (its Origin names the
// site). Such requests are answered 403, and no WebSocket is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kSimViewMaxConnections = 32;

// The names the page answers to in a request's Host: "localhost", any IP
// address literal (IPv6 in brackets), this machine's host name with or
// without ".local", and the address it was bound to; each followed by ":"
// and the page's port (or without a port when that is 80).
struct ViewAddress {
  std::uint16_t port = 0;
  std::string bind;     // the address the page listens on
  std::string machine;  // this machine's host name
};

// True when `host`, a request's Host field, names the page.
bool viewHostAllowed(const std::string& host, const ViewAddress& page);

// True when `origin`, a WebSocket upgrade's Origin field, is the page's
// own: "http://" and the request's `host`, letter case aside. No Origin
// (empty) and "null" are not.
bool viewOriginAllowed(const std::string& origin, const std::string& host);

// Listens on `address` (an IPv4 or IPv6 address) and `port`, then serves on
// a thread of its own for the rest of the program. False with a one-line
// `error` when it cannot listen.
bool startSimView(const std::string& address, std::uint16_t port, std::string& error);
