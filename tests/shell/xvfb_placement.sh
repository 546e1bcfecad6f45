#!/bin/bash
# A place and size saved far off every screen, and a Skin folder of hostile
# files (FIFOs where pictures should be, tiny BMPs declaring huge ones): the
# window opens at once, on the screen, where it can be dragged, no larger
# than the screen and without making the pictures declared; closing saves
# that place instead.
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
printf '[Window 0]\nIP_addr=127.0.0.1:9\nLeft=-100000\nTop=99999999\nWidth=100000\nHeight=100000\n' >"$ini"
mkdir -p "$tmp/Skin"
mkfifo "$tmp/Skin/t.bmp" "$tmp/Skin/pozadi.jpg"
# 82 bytes each, declaring 4000 x 4000 pixels of 32 bits.
for name in l r b tl tr br bl_off br_b1_up; do
  { printf 'BM\x52\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\xa0\x0f\0\0\xa0\x0f\0\0\x01\0\x20\0'
    head -c 52 /dev/zero; } >"$tmp/Skin/$name.bmp"
done
cd "$tmp"
start_program
read -r x y w h < <(xwininfo -id "$win" | awk -F: '
  /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
  /  Width/ {w=$2} /  Height/ {h=$2} END {print x+0, y+0, w+0, h+0}')
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1024 ] && [ $((y + h)) -le 768 ] ||
  fail "opened at $x,$y (${w}x$h), not on the 1024x768 screen"
peak=$(awk '/^VmHWM/ {print $2}' /proc/$program/status)
[ "$peak" -lt 262144 ] || fail "the program peaked at $((peak / 1024)) MiB"
kill -TERM $program
wait $program || fail "closing ended with $?"
left=$(sed -n 's/^Left=//p' "$ini")
top=$(sed -n 's/^Top=//p' "$ini")
[ "$left $top" = "$x $y" ] || fail "saved Left=$left Top=$top, the window was at $x,$y"
echo "PASS: a place and size off every screen open at $x,$y (${w}x$h, peak $((peak / 1024)) MiB) and are saved so"
