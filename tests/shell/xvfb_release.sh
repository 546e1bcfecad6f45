#!/bin/bash
# A button acts only when the left button is let go over it inside the
# window: pressed on relay 1 and let go off the window, on the drag strip or
# on the grip, nothing reaches the door unit; let go on relay 1, exactly one
# request does. The close key likewise. With no window manager ("bare") and
# with one ("wm").
#   xvfb_release.sh PROGRAM DOORSIM bare|wm
set -u
prog=$1
bin=$(dirname "$2")/../..
mode=${3:-bare}

label=$mode
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo
[ "$mode" = wm ] && need openbox
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 1024x768x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
if [ "$mode" = wm ]; then
  start_openbox
fi
start_doorsim "$tmp/doorsim.log" --fps 10 --title "Release test"

mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=100\nTop=80\nWidth=336\nHeight=301\n' \
  "$port" >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"
window_name='^(Vestibell_1\.39|Release test)$'
start_program
read -r x y < <(xwininfo -id "$win" | awk -F: '
  /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}')

relays() { sim status | sed -n 's/.*"relay1":\([0-9]*\).*/\1/p'; }
# press-and-release FROM-X FROM-Y TO-X TO-Y (window coordinates; TO may lie
# outside the window), moving in steps as a hand does.
drag() {
  xdotool mousemove $((x + $1)) $((y + $2)) sleep 0.3 mousedown 1
  for s in 1 2 3 4; do
    xdotool mousemove $((x + $1 + ($3 - $1) * s / 4)) $((y + $2 + ($4 - $2) * s / 4))
    sleep 0.05
  done
  sleep 0.2
  xdotool mouseup 1
  sleep 1
}
[ "$(relays)" = 0 ] || fail "relay requests before any press"
for to in "off-the-window 600 500" "drag-strip 150 10" "grip 332 297" \
  "left-of-the-window -60 280"; do
  read -r where tx ty <<<"$to"
  drag 280 280 "$tx" "$ty"
  [ "$(relays)" = 0 ] || fail "pressed on relay 1, let go on the $where: $(relays) request(s)"
  kill -0 $program 2>/dev/null || fail "the program ended"
done
drag 280 280 282 282
[ "$(relays)" = 1 ] || fail "let go on relay 1: $(relays) request(s), not 1"

# The close key: let go off the window, the program goes on.
drag 316 10 600 500
sleep 0.5
kill -0 $program 2>/dev/null || fail "pressed on close, let go off the window: it closed"
# Let go on the close key after all: it closes.
drag 316 10 316 11
for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null && fail "let go on the close key: still running"
wait $program || fail "closing ended with $?"
[ "$(relays)" = 1 ] || fail "$(relays) relay requests in all"
echo "PASS ($mode): releases off the window, on the strip or the grip do nothing; on the button once"
