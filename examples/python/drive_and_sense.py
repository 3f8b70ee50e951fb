#!/usr/bin/env python3
"""Drive motor A to a rotation target, then read the ultrasonic sensor.

A client of nxt-bridge (or nxt-bridge-sim) using only Python's standard
library. Try it against the simulator:

    nxt-bridge-sim --sonar in_4=37 &
    python3 drive_and_sense.py            # or: --host HOST --port PORT
"""

import sys

from nxt_bridge import open_brick, options


def main():
    parser = options(__doc__)
    parser.add_argument("--target", type=int, default=720, help="rotation count to drive to")
    parser.add_argument("--power", type=int, default=75)
    args = parser.parse_args()

    nxt = open_brick(args)
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
