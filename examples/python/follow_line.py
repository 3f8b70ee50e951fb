#!/usr/bin/env python3
"""Follow a black line on a white floor for one lap.

The NXT base robot: wheels on motors B and C, 56 mm across and 112 mm
apart, the light sensor on port 3 looking down ahead of the axle. Set the
robot down on a closed line that it goes round counter-clockwise, with the
light sensor over the line's right (outer) edge, then:

    nxt-bridge-sim --world examples/worlds/oval.json &
    python3 follow_line.py                # or: --host HOST --port PORT

The robot steers to keep the sensor half over the line: more white turns
it left, back onto the line, more black turns it right. It counts the turns of its wheels to
know how far it has turned, and stops after one lap, a full turn of 360
degrees round the oval.
"""

import math
import sys
import time

from nxt_bridge import open_brick, options

WHEEL_MM = 56
TRACK_MM = 112


def main():
    parser = options(__doc__)
    parser.add_argument("--power", type=int, default=40)
    parser.add_argument("--white", type=int, default=58, help="reading on the floor, percent")
    parser.add_argument("--black", type=int, default=32, help="reading on the line, percent")
    parser.add_argument("--gain", type=float, default=1.0, help="power per percent off the edge")
    parser.add_argument("--give-up-s", type=float, default=45, help="fail after this long")
    args = parser.parse_args()

    nxt = open_brick(args)
    nxt.ok("sensor;setlight;in_3;true")
    for port in ("out_b", "out_c"):
        nxt.ok(f"motor;resetrotationcount;{port};false")
    time.sleep(0.05)  # the sensor's new type settles

    edge = (args.white + args.black) / 2
    mm_per_degree = math.pi * WHEEL_MM / 360
    began = time.monotonic()
    turned = 0.0
    steps = 0
    try:
        while turned < 360:
            elapsed = time.monotonic() - began
            if elapsed > args.give_up_s:
                sys.exit(f"no lap after {elapsed:.1f} s: turned {turned:.0f} degrees")
            off = nxt.number("sensor;getvalue;in_3") - edge
            steer = max(-args.power, min(args.power, round(args.gain * off)))
            nxt.ok(f"motor;setforward;out_b;{args.power - steer}")
            nxt.ok(f"motor;setforward;out_c;{args.power + steer}")
            steps += 1
            if steps % 4 == 0:
                left = nxt.number("motor;getrotationcount;out_b")
                right = nxt.number("motor;getrotationcount;out_c")
                turned = math.degrees((right - left) * mm_per_degree / TRACK_MM)
    finally:
        nxt.brake("out_b", "out_c")
    print(f"one lap in {time.monotonic() - began:.1f} s")
    nxt.ok("nxt;close")
    nxt.close()


if __name__ == "__main__":
    main()
