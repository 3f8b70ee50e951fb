#!/usr/bin/env python3
"""Drive the robot straight ahead and stop it 20 cm before the wall.

The NXT base robot: wheels on motors B and C, the ultrasonic sensor on
port 4 looking ahead. Try it against the simulated robot in its room:

    nxt-bridge-sim --world examples/worlds/wall.json &
    python3 stop_before_wall.py           # or: --host HOST --port PORT

Polls the sonar while the robot drives, slows down for the last 20 cm,
brakes both wheels at the first reading at or below the distance asked
for, and says where it stopped.
"""

import sys
import time

from nxt_bridge import open_brick, options


def main():
    parser = options(__doc__)
    parser.add_argument("--stop-cm", type=int, default=20, help="distance to stop at")
    parser.add_argument("--power", type=int, default=50)
    parser.add_argument("--slow-power", type=int, default=20, help="power for the last 20 cm")
    parser.add_argument("--give-up-s", type=float, default=30, help="fail after this long")
    args = parser.parse_args()

    nxt = open_brick(args)
    nxt.ok("sensor;setsonar;in_4")
    time.sleep(0.1)  # the sensor starts up

    first = nxt.number("sensor;getsonarvalue;in_4")
    print(f"wall ahead at {first} cm")
    nxt.ok(f"motor;setforward;out_b;{args.power}")
    nxt.ok(f"motor;setforward;out_c;{args.power}")
    began = time.monotonic()
    distance = first
    slow = False
    try:
        while distance > args.stop_cm:
            if time.monotonic() - began > args.give_up_s:
                sys.exit(f"still {distance} cm from the wall after {args.give_up_s:.0f} s")
            distance = nxt.number("sensor;getsonarvalue;in_4")
            if not slow and distance <= args.stop_cm + 20:
                # Slower, the robot stops closer to where it is told to.
                nxt.ok(f"motor;setforward;out_b;{args.slow_power}")
                nxt.ok(f"motor;setforward;out_c;{args.slow_power}")
                slow = True
    finally:
        nxt.brake("out_b", "out_c")
    time.sleep(0.3)  # let it come to rest
    print(f"stopped {nxt.number('sensor;getsonarvalue;in_4')} cm before the wall")
    nxt.ok("nxt;close")
    nxt.close()


if __name__ == "__main__":
    main()
