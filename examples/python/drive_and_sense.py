#!/usr/bin/env python3
"""Drive motor A to a rotation target, then read the ultrasonic sensor.

A client of nxt-bridge (or nxt-bridge-sim) using only Python's standard
library. Try it against the simulator:

    nxt-bridge-sim --sonar in_4=37 &
    python3 drive_and_sense.py            # or: --host HOST --port PORT

The server takes each read from the connection as one request, so this
client sends one line, waits for its reply, and only then sends the next.
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

    def close(self):
        # "bye" gets no reply: the server closes the connection.
        self.sock.sendall(b"bye\n")
        self.sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="localhost")
    parser.add_argument("--port", type=int, default=2056)
    parser.add_argument("--target", type=int, default=720, help="rotation count to drive to")
    parser.add_argument("--power", type=int, default=75)
    args = parser.parse_args()

    nxt = NxtBridge(args.host, args.port)
    reply = nxt.request("nxt;open")
    if reply != "ok":
        sys.exit(f"no brick: nxt;open answered {reply!r}")
    print("brick", nxt.request("nxt;getname"), "battery", nxt.number("nxt;batterylevel"), "mV")

    # Count from zero, then drive to the target and brake there. The reply
    # comes once the motor has stopped.
    nxt.ok("motor;resetrotationcount;out_a;false")
    reply = nxt.request(f"motor;goto;out_a;{args.power};{args.target};true")
    if reply == "err: timeout":
        print("the motor stalled before the target")
    elif reply != "ok":
        sys.exit(f"goto answered {reply!r}")
    count = nxt.number("motor;getrotationcount;out_a")
    print(f"motor A at {count} degrees (target {args.target})")

    nxt.ok("sensor;setsonar;in_4")
    reply = nxt.request("sensor;getsonarvalue;in_4")
    if reply == "err: timeout":
        print("no ultrasonic sensor on port 4")
    else:
        distance = int(reply)
        print("nothing in sight" if distance == 255 else f"obstacle at {distance} cm")

    nxt.ok("nxt;close")
    nxt.close()


if __name__ == "__main__":
    main()
