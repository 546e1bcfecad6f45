#!/bin/bash
# A place saved far off every screen: the window opens on the screen,
# where it can be dragged, and closing saves that place instead.
#   xvfb_placement.sh PROGRAM
set -u
prog=$1

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 1024x768x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
mkdir -p "$tmp/Vestibell"
ini=$tmp/Vestibell/Vestibell.ini
printf '[Window 0]\nIP_addr=127.0.0.1:9\nLeft=-100000\nTop=99999999\n' >"$ini"
cd "$tmp"
start_program
read -r x y w h < <(xwininfo -id "$win" | awk -F: '
  /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
  /  Width/ {w=$2} /  Height/ {h=$2} END {print x+0, y+0, w+0, h+0}')
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1024 ] && [ $((y + h)) -le 768 ] ||
  fail "opened at $x,$y (${w}x$h), not on the 1024x768 screen"
kill -TERM $program
wait $program || fail "closing ended with $?"
left=$(sed -n 's/^Left=//p' "$ini")
top=$(sed -n 's/^Top=//p' "$ini")
[ "$left $top" = "$x $y" ] || fail "saved Left=$left Top=$top, the window was at $x,$y"
echo "PASS: a place off every screen opens at $x,$y and is saved so"
