"""A client of nxt-bridge (or nxt-bridge-sim), Python standard library only.

The server takes each read from the connection as one request, so this
client sends one line, waits for its reply, and only then sends the next.

A program starts with the options every example shares and an open brick:

    parser = options(__doc__)             # --host and --port
    parser.add_argument("--power", type=int, default=50)
    args = parser.parse_args()
    nxt = open_brick(args)                # or exits with a message
"""

import argparse
import socket
import sys


class NxtBridge:
    """One connection to the server: request() sends a line, returns the reply."""

    def __init__(self, host, port, timeout=10.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""

    def request(self, line):
        self.sock.sendall(line.encode("ascii") + b"\n")
        while b"\n" not in self.pending:
            chunk = self.sock.recv(512)
            if not chunk:
                raise ConnectionError("the server closed the connection")
            self.pending += chunk
        reply, _, self.pending = self.pending.partition(b"\n")
        return reply.decode("latin-1")

    def ok(self, line):
        """Sends an action and fails loudly unless the reply is "ok"."""
        reply = self.request(line)
        if reply != "ok":
            raise RuntimeError(f"{line!r} answered {reply!r}")

    def number(self, line):
        """Sends a query whose reply is a number."""
        reply = self.request(line)
        try:
            return int(reply)
        except ValueError:
            raise RuntimeError(f"{line!r} answered {reply!r}") from None

    def brake(self, *ports):
        """Stops each motor and holds it there."""
        for port in ports:
            self.ok(f"motor;stop;{port};true")

    def close(self):
        # "bye" gets no reply: the server closes the connection.
        self.sock.sendall(b"bye\n")
        self.sock.close()


def options(doc):
    """An option parser with --host and --port, described by the first line of `doc`."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--host", default="localhost")
    parser.add_argument("--port", type=int, default=2056)
    return parser


def open_brick(args):
    """Connects to the server and opens the brick; exits with a message when either fails."""
    try:
        nxt = NxtBridge(args.host, args.port)
        reply = nxt.request("nxt;open")
    except OSError as e:
        sys.exit(f"no server at {args.host}:{args.port}: {e.strerror or e}")
    if reply != "ok":
        sys.exit(f"no brick: nxt;open answered {reply!r}")
    return nxt
