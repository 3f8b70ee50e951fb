# The body of a rig's launcher (nxt-bridge-usb-rig, nxt-bridge-bt-rig),
# sourced by it after it has set:
#
#   me             the launcher's name, for its messages
#   image          the guest image folder (vmlinuz, initramfs.cpio.gz)
#   boot_timeout   seconds to wait for the guest's server to listen
#   accel          qemu's accelerator (tcg or kvm)
#   checker        a command (array) that checks the brick options as
#                  nxt-bridge-sim does: it gets them all and prints one
#                  line and fails when one is bad
#
# and defined rig_usage (prints the help) and rig_option ARG
# (true when ARG is one of the launcher's own flags, which it notes); it
# may define rig_before_boot, called with the shared folder $share ready.
#
# It behaves like nxt-bridge-sim: --port N is the host port (127.0.0.1)
# forwarded to the guest's port 2056; --trace FILE is written on this host
# (the guest writes it into a shared folder); --view PORT serves the
# guest's live page on this host's --view-bind address (127.0.0.1 unless
# given; IPv4 only); the other options go to the
# guest in the shared folder's file "options" (NUL-separated); standard
# output, standard error and the exit status are the guest's server's.
# With --console, the standard input goes line by line to the control port
# as "console LINE". --rig-dir DIR keeps console.log and the control FIFOs
# (control.in, control.out) in DIR.
#
# The brick's files are the host's too: each --file PATH is copied into the
# shared folder's "files", and the folder of --flash DIR is shared as
# "flash", so that uploads land on this host.
#
# The guest's /init mounts the shared folder "rig" (and "trace" or "flash"
# when the file of that name there says 1), writes "ready" there once its
# server listens on port 2056 and "status" once it has ended.

say() { echo "$me: $*" >&2; }

if [ ! -f "$image/initramfs.cpio.gz" ] || [ ! -f "$image/vmlinuz" ]; then
  say "no guest image in $image"
  exit 2
fi

# Our own options; the rest are the brick's.
port=2056 trace="" rig_dir="" help=0 console=0 flash="" view="" view_bind=127.0.0.1
checked=() brick=() host_files=()

# One of our options that takes a value (NAME VALUE): noted, and all but
# --rig-dir handed to the checker.
our_option() {
  local name=$1 value=$2
  case "$name" in
    --rig-dir) rig_dir=$value; return ;;
    --port) port=$value ;;
    --trace) trace=$value ;;
    --file) host_files+=("$value") ;;
    --flash) flash=$value ;;
    --view) view=$value ;;
    --view-bind) view_bind=$value ;;
  esac
  checked+=("$name" "$value")
}

while [ $# -gt 0 ]; do
  arg=$1
  shift
  case "$arg" in
    --rig-dir | --port | --trace | --file | --flash | --view | --view-bind)
      [ $# -gt 0 ] || { say "option $arg needs a value (try --help)"; exit 2; }
      our_option "$arg" "$1"
      shift
      ;;
    --rig-dir=* | --port=* | --trace=* | --file=* | --flash=* | --view=* | --view-bind=*)
      our_option "${arg%%=*}" "${arg#*=}"
      ;;
    --help) help=1 ;;
    --console) checked+=("$arg") brick+=("$arg") console=1 ;;
    *) rig_option "$arg" || { checked+=("$arg") brick+=("$arg"); } ;;
  esac
done

if [ $help = 1 ]; then
  rig_usage
  exit 0
fi

# The options are checked as nxt-bridge-sim checks them.
if ! error=$("${checker[@]}" "${checked[@]}" 2>&1); then
  echo "$error" | head -n 1 | sed "s/^[a-z-]*:/$me:/" >&2
  exit 2
fi

# The live page is served in the guest on every address and forwarded from
# this host's --view-bind address, which qemu takes in IPv4 only.
if [ -n "$view" ]; then
  case "$view_bind" in
    *:*) say "the rig serves the live page on IPv4 addresses only, not $view_bind"; exit 2 ;;
  esac
  brick+=(--view "$view" --view-bind 0.0.0.0)
fi

# As the server does when it cannot listen: one line, status 1.
cannot_listen() {
  say "cannot listen on TCP port $port: Address already in use"
  exit 1
}

# True when a TCP socket of this machine listens on $port on 127.0.0.1 or
# on every address (IPv4 or IPv6), as /proc/net/tcp* tell.
port_taken() {
  local hex
  hex=$(printf '%04X' "$port")
  awk -v p=":$hex" 'NR > 1 && $4 == "0A" && substr($2, length($2) - 4) == p {
      a = substr($2, 1, length($2) - 5)
      if (a ~ /^0+$/ || a == "0100007F" || a == "0000000000000000FFFF00000100007F" ||
          a == "00000000000000000000000001000000") found = 1
    } END { exit !found }' /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# Found out before booting, so that it is told as soon as nxt-bridge-sim
# tells it.
port_taken && cannot_listen

tmp_dir=""
if [ -z "$rig_dir" ]; then
  tmp_dir=$(mktemp -d "${TMPDIR:-/tmp}/$me.XXXXXX") || exit 2
  rig_dir=$tmp_dir
fi
mkdir -p "$rig_dir" || exit 2
rig_dir=$(cd "$rig_dir" && pwd)
share="$rig_dir/share"
rm -rf "$share" "$rig_dir/control.in" "$rig_dir/control.out" "$rig_dir/monitor.in" \
  "$rig_dir/monitor.out"
mkdir -p "$share"
mkfifo "$rig_dir/control.in" "$rig_dir/control.out" "$rig_dir/monitor.in" "$rig_dir/monitor.out"

trace_share=()
if [ -n "$trace" ]; then
  if ! : >"$trace" 2>/dev/null; then
    say "cannot write the trace file $trace"
    exit 2
  fi
  trace_dir=$(cd "$(dirname "$trace")" && pwd)
  brick+=(--trace "/mnt/trace/$(basename "$trace")")
  trace_share=(-virtfs "local,path=$trace_dir,mount_tag=trace,security_model=none,id=trace")
  echo 1 >"$share/trace"
fi
flash_share=()
if [ -n "$flash" ]; then
  flash_dir=$(cd "$flash" && pwd) || exit 2
  brick+=(--flash /mnt/flash)
  flash_share=(-virtfs "local,path=$flash_dir,mount_tag=flash,security_model=none,id=flash")
  echo 1 >"$share/flash"
fi
for file in "${host_files[@]}"; do
  mkdir -p "$share/files"
  cp "$file" "$share/files/" || exit 2
  brick+=(--file "/mnt/rig/files/$(basename "$file")")
done
: >"$share/options"
[ ${#brick[@]} -gt 0 ] && printf '%s\0' "${brick[@]}" >"$share/options"
# The launcher's own files for its guest, if it has any.
if declare -F rig_before_boot >/dev/null; then rig_before_boot; fi

qemu_pid=""
monitor_reader=""
console_relay=""
cleanup() {
  [ -n "$console_relay" ] && kill "$console_relay" 2>/dev/null
  if [ -n "$qemu_pid" ]; then
    kill -KILL "$qemu_pid" 2>/dev/null
    wait "$qemu_pid" 2>/dev/null
  fi
  [ -n "$monitor_reader" ] && kill "$monitor_reader" 2>/dev/null
  exec 7>&-
  [ -n "$tmp_dir" ] && rm -rf "$tmp_dir"
}
trap cleanup EXIT

# SIGINT, SIGTERM and SIGHUP go on to the guest's server once it serves:
# it stops the motors and ends, and the guest halts with its status. Before
# that they end this script (and qemu) at once.
interrupted=0
pass_on() {
  interrupted=1
  if [ -n "$qemu_pid" ] && [ -e "$share/ready" ]; then
    echo "signal $1" >"$rig_dir/control.in"
  else
    exit "$2"
  fi
}
trap 'pass_on INT 130' INT
trap 'pass_on TERM 143' TERM
trap 'pass_on HUP 129' HUP

tail_console() {
  say "the guest's console ends with:"
  tail -n 20 "$rig_dir/console.log" | sed 's/^/  /' >&2
}

# qemu dies with this script, whichever way it ends (--pdeathsig), and has
# a session of its own: a signal to this script's process group (Ctrl-C)
# reaches the guest's server through this script, not qemu.
setpriv --pdeathsig KILL -- setsid qemu-system-x86_64 \
  -accel "$accel" -m 512M -smp 1 -nodefaults -no-user-config -display none -no-reboot \
  -kernel "$image/vmlinuz" -initrd "$image/initramfs.cpio.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=4" \
  -serial "file:$rig_dir/console.log" \
  -chardev file,id=out,path=/dev/stdout,append=on -serial chardev:out \
  -chardev file,id=err,path=/dev/stderr,append=on -serial chardev:err \
  -chardev "pipe,id=ctl,path=$rig_dir/control" -serial chardev:ctl \
  -chardev "pipe,id=mon,path=$rig_dir/monitor" -mon chardev=mon,mode=readline \
  -netdev user,id=net0,restrict=on -device virtio-net-pci,netdev=net0,romfile= \
  -virtfs "local,path=$share,mount_tag=rig,security_model=none,id=rig" \
  "${trace_share[@]}" "${flash_share[@]}" \
  </dev/null &
qemu_pid=$!

# The monitor's answers are collected in monitor.log; its input is held
# open so that qemu never sees it end.
cat "$rig_dir/monitor.out" >"$rig_dir/monitor.log" &
monitor_reader=$!
exec 7>"$rig_dir/monitor.in"

# Boots until the server listens (or has already ended).
deadline=$((SECONDS + boot_timeout))
while [ ! -e "$share/ready" ] && [ ! -e "$share/status" ]; do
  if ! kill -0 "$qemu_pid" 2>/dev/null; then
    say "qemu ended before the guest's server started"
    tail_console
    exit 1
  fi
  if [ $SECONDS -ge $deadline ]; then
    say "the guest's server did not start within $boot_timeout s"
    tail_console
    exit 1
  fi
  sleep 0.05
done

# Forwards this host's TCP ADDRESS:PORT to the guest's GUEST_PORT; false
# when qemu could not listen there.
forward() {
  local address=$1 host_port=$2 guest_port=$3 listed shown
  # qemu lists every address (0.0.0.0) as "*".
  shown=${address//./\\.}
  [ "$address" = 0.0.0.0 ] && shown='\*'
  listed="HOST_FORWARD\\] +[0-9]+ +$shown +$host_port "
  echo "hostfwd_add net0 tcp:$address:$host_port-:$guest_port" >&7
  echo "info usernet" >&7
  for _ in $(seq 100); do
    grep -qi "could not set up host forwarding" "$rig_dir/monitor.log" && break
    grep -Eq "$listed" "$rig_dir/monitor.log" && break
    sleep 0.05
  done
  grep -Eq "$listed" "$rig_dir/monitor.log"
}

# Only now is the host port forwarded: a client that connects is served.
if [ -e "$share/ready" ]; then
  forward 127.0.0.1 "$port" 2056 || cannot_listen
  if [ -n "$view" ]; then
    if ! forward "$view_bind" "$view" "$view"; then
      say "cannot serve the live page on $view_bind port $view: Address already in use"
      exit 1
    fi
    echo "$me: the live page is at http://$view_bind:$view/"
  fi
fi

# --console: our standard input goes, a line at a time, to the brick's.
# (A background job's own standard input is /dev/null: it reads fd 8.)
if [ $console = 1 ]; then
  exec 8<&0
  while IFS= read -r line <&8; do
    printf 'console %s\n' "$line"
  done >"$rig_dir/control.in" &
  console_relay=$!
fi

# A signal passed on cuts the wait short: wait again until the guest, its
# server's stops sent, has halted.
while :; do
  interrupted=0
  wait "$qemu_pid"
  [ "$interrupted" = 1 ] && kill -0 "$qemu_pid" 2>/dev/null || break
done
qemu_pid=""
if [ ! -f "$share/status" ]; then
  say "the guest stopped without its server's exit status"
  tail_console
  exit 1
fi
status=$(cat "$share/status")
if [ "$status" = 125 ]; then
  tail_console
fi
exit "$status"
