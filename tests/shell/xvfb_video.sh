#!/bin/bash
# Live video on a real X server, as the user sees it: the picture in the
# video area moves while the door unit streams, stands still while it
# stalls, and comes back whole when the window was covered and uncovered.
# Four kinds of display: with shared memory (the picture is shown straight
# from the window's surface), without it (through the toolkit's buffer), at
# 16 bits a pixel (pixels of another kind: through the toolkit as well), and
# a desktop that scales windows twice (enlarged by the toolkit).
#   xvfb_video.sh PROGRAM DOORSIM shm|noshm|depth16|scaled
set -u
prog=$1
doorsim=$2
mode=${3:-shm}

label=$mode
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo xmessage import
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
case $mode in
shm) start_xvfb 800x600x24 ;;
noshm) start_xvfb 800x600x24 -extension MIT-SHM ;;
depth16) start_xvfb 800x600x16 ;;
scaled) start_xvfb 1600x1200x24 ;;
*) fail "unknown mode $mode" ;;
esac
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
chmod 700 "$tmp"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
scale=1
if [ "$mode" = scaled ]; then
  scale=2
  export QT_SCALE_FACTOR=2
fi

start_doorsim "$tmp/doorsim.log" --fps 25 --title "Video test"

mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=40\nTop=30\nWidth=336\nHeight=301\n' \
  "$port" >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"
# Titled by the door unit once connected.
window_name='^(Vestibell_1\.39|Video test)$'
start_program

# The video area: 320x240 at (8, 26) of the window, at (48, 56) on screen,
# all twice as large when scaled.
area=$((320 * scale))x$((240 * scale))+$((48 * scale))+$((56 * scale))
video() { import -window root -crop "$area" -depth 8 rgb:- 2>/dev/null | md5sum; }
colours() { # distinct colours in the video area
  import -window root -crop "$area" -depth 8 -format %k info:- 2>/dev/null
}
shot() { import -window root "$tmp/$1.png" 2>/dev/null; }

sleep 1.5
a=$(video)
sleep 0.5
b=$(video)
[ "$a" != "$b" ] || { shot moving; fail "the picture does not move"; }
[ "$(colours)" -gt 50 ] || { shot colours; fail "the video area holds $(colours) colours"; }
# Filled to its edges: no corner of it keeps the colour of the bare screen
# (the top-left one is the picture's own black counter box).
for corner in $((320 * scale - 1)),0 0,$((240 * scale - 1)) $((320 * scale - 1)),$((240 * scale - 1)); do
  at=$(import -window root -crop 1x1+$((48 * scale + ${corner%,*}))+$((56 * scale + ${corner#*,})) \
    -depth 8 txt:- 2>/dev/null | tail -n 1)
  case $at in *"#000000"*) shot corners; fail "the video area is bare at $corner: $at" ;; esac
done

# The door unit stalls: the last picture stays.
sim "stall?seconds=8" >/dev/null
sleep 1
still=$(video)
sleep 0.5
[ "$(video)" = "$still" ] || fail "the picture changed during a stall"

# Covered by another window, then uncovered: the same picture again.
xmessage -geometry $((360 * scale))x$((300 * scale))+$((30 * scale))+$((20 * scale)) -center "covering the window" &
cover=$!
pids+=($cover)
sleep 0.8
[ "$(video)" != "$still" ] || fail "the cover did not cover the video area"
kill "$cover"
wait "$cover" 2>/dev/null
sleep 0.8
[ "$(video)" = "$still" ] || { shot uncovered; fail "the picture did not come back after an expose"; }
echo "ok ($mode)"
