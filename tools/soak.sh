#!/bin/bash
# Soak: the program against a door unit that misbehaves over and over.
#   tools/soak.sh [CYCLES]        (default 1000)
# Each cycle is one fault from the simulator: a dropped connection, a
# stalled stream or a burst of garbage, then the picture must flow again.
# Afterwards the program's open files, threads and memory must be back where
# they were. Loopback only; bounded in time (about a second a cycle).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
[ -n "${VESTIBELL_LOOPBACK_ONLY:-}" ] || exec "$top/tools/loopback-only.sh" "$0" "$@"
bin=${BUILD:-$top/build}
cycles=${1:-1000}
[ -x "$bin/vestibell" ] || { echo "build first (tools/build.sh)"; exit 2; }

source "$top/tests/support/scratch.sh"
source "$top/tests/support/xvfb.sh"
source "$top/tests/support/doorsim.sh"

start_xvfb 800x600x24
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
start_doorsim "$tmp/doorsim.log" --fps 25 --size 640x480 --title soak \
  --sip 127.0.0.1:0
# The soak is about the video path: the program is given the simulator's own
# SIP port, which it finds taken, so it runs without a SIP core and the
# files counted are the video path's alone.
sip_port=$(sim_sip_port "$tmp/doorsim.log")
mkdir -p "$tmp/Vestibell"
chmod 700 "$tmp"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\n[SIP]\nSIP_bind_addr=127.0.0.1\nSIP_port=%s\n' "$port" "$sip_port" \
  >"$tmp/Vestibell/Vestibell.ini"
(cd "$tmp" && ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp exec "$bin/vestibell") &
program=$!
pids+=($program)

figure() { # open files, threads, resident KiB
  echo "$(ls /proc/$program/fd | wc -l) \
$(awk '/^Threads:/ {print $2}' /proc/$program/status) \
$(awk '/^VmRSS:/ {print $2}' /proc/$program/status)"
}
# The most of readings over a few seconds: the request is renewed every
# hundred-odd pictures, and for that second its connection's files are shut.
settled_figure() {
  local best="" f
  for _ in $(seq 15); do
    f=$(figure)
    if [ -z "$best" ]; then best=$f; else
      best=$(printf '%s\n%s\n' "$best" "$f" | awk '
        NR == 1 {a = $1; b = $2; c = $3}
        NR == 2 {print (a > $1 ? a : $1), (b > $2 ? b : $2), $3}')
    fi
    sleep 0.2
  done
  echo "$best"
}
frames() { sim status | sed -n 's/.*"frames_sent":\([0-9]*\).*/\1/p'; }
streams() { sim status | sed -n 's/.*"open_streams":\([0-9]*\).*/\1/p'; }
# The picture flows: a stream is open and parts keep going out on it.
flowing() {
  local deadline=$((SECONDS + ${1:-10})) before
  while [ $SECONDS -lt $deadline ]; do
    if [ "$(streams)" = 1 ]; then
      before=$(frames)
      sleep 0.3
      [ "$(streams)" = 1 ] && [ "$(frames)" -gt "$before" ] && return 0
    fi
    sleep 0.1
  done
  return 1
}

fault() {
  case $(($1 % 3)) in
    0) sim drop >/dev/null ;;
    1) sim "stall?seconds=1" >/dev/null ;;
    2) sim "garbage?bytes=4000" >/dev/null ;;
  esac
}

flowing 20 || { echo "FAIL: the picture never started"; exit 1; }
# One fault of each kind first: what the program makes once and keeps (font
# and library caches, a resolver) is not growth.
for w in 0 1 2; do
  fault $w
  flowing 10 || { echo "FAIL: warming up: the picture did not come back"; exit 1; }
done
sleep 3
read -r fd0 th0 rss0 < <(settled_figure)
echo "before: $fd0 open files, $th0 threads, $rss0 KiB resident"

start=$SECONDS
for ((c = 1; c <= cycles; c++)); do
  fault $c
  if ! flowing 10; then
    echo "FAIL: cycle $c: the picture did not come back"
    exit 1
  fi
  if [ $((c % 100)) = 0 ]; then
    read -r fd th rss < <(figure)
    echo "cycle $c ($((SECONDS - start)) s): $fd open files, $th threads, $rss KiB"
  fi
done
sleep 3
read -r fd1 th1 rss1 < <(settled_figure)
echo "after $cycles cycles: $fd1 open files, $th1 threads, $rss1 KiB resident"
kill -0 $program || { echo "FAIL: the program is gone"; exit 1; }
status=0
[ "$fd1" -le "$fd0" ] || { echo "FAIL: open files grew from $fd0 to $fd1"; status=1; }
[ "$th1" -le "$th0" ] || { echo "FAIL: threads grew from $th0 to $th1"; status=1; }
# A little slack for the allocator's own bookkeeping.
[ $((rss1 - rss0)) -le 4096 ] || { echo "FAIL: memory grew by $((rss1 - rss0)) KiB"; status=1; }
[ $status = 0 ] && echo "PASS: $cycles faults survived, nothing left behind"
exit $status
