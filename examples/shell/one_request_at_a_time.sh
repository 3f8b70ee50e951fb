#!/usr/bin/env bash
# A shell client of nxt-bridge: plays a tone, reads the battery and a touch
# sensor. Try it against the simulator:
#
#   nxt-bridge-sim --sensor in_1=183 &
#   examples/shell/one_request_at_a_time.sh [HOST [PORT]]
#
# The server takes each read from the connection as one request. Piping
# several lines into nc at once (printf 'a\nb\n' | nc ...) usually delivers
# them in one read, and then all but the first are lost. So this script
# keeps one connection open on file descriptor 3 (bash's /dev/tcp), sends
# one line, and waits for its reply before it sends the next.
set -euo pipefail
host="${1:-localhost}"
port="${2:-2056}"

exec 3<>"/dev/tcp/$host/$port"

# ask REQUEST: sends one request and prints its reply line.
ask() {
  printf '%s\n' "$1" >&3
  local reply
  IFS= read -r -t 10 reply <&3 || { echo "no reply to $1" >&2; exit 1; }
  printf '%s\n' "$reply"
}

[ "$(ask 'nxt;open')" = ok ] || { echo "no brick" >&2; exit 1; }
echo "battery: $(ask 'nxt;batterylevel') mV"
ask 'nxt;playtone;440;200' >/dev/null
ask 'sensor;settouch;in_1' >/dev/null
# A sensor port reads valid values only some 20 ms after it was set up.
sleep 0.1
case "$(ask 'sensor;getvalue;in_1')" in
  1) echo "touch sensor: pressed" ;;
  0) echo "touch sensor: released" ;;
  *) echo "touch sensor: no reading" ;;
esac
ask 'nxt;close' >/dev/null
# "bye" gets no reply; the server closes the connection and exits.
printf 'bye\n' >&3
exec 3<&-
