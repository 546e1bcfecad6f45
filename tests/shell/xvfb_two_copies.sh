#!/bin/bash
# Two copies of the program on a bare X server (no window manager): each
# shows a borderless, always-on-top window titled "Vestibell_1.39" at the
# saved place and size, and neither starts any other process.
set -u
prog=$1

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xwininfo xprop convert
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 1024x768x24

export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1\nLeft=40\nTop=60\nWidth=400\nHeight=320\n' \
  >"$tmp/Vestibell/Vestibell.ini"

# A background picture of its own keeps a not-connected window at its saved
# size (without one it takes the skin's natural size).
mkdir -p "$tmp/run/Skin"
convert -size 64x48 xc:gray40 "$tmp/run/Skin/pozadi.jpg"
cd "$tmp/run"

windows() { xwininfo -root -tree | awk '/"Vestibell_1.39"/ {print $1}'; }
wait_windows() {
  for _ in $(seq 200); do
    [ "$(windows | wc -l)" -ge "$1" ] && return 0
    sleep 0.05
  done
  fail "expected $1 windows, see $(windows | wc -l)"
}

"$prog" & p1=$!; pids+=($p1)
wait_windows 1
"$prog" & p2=$!; pids+=($p2)
wait_windows 2
sleep 0.3

for id in $(windows); do
  info=$(xwininfo -id "$id")
  field() { echo "$info" | awk -F: -v k="$1" '$1 ~ k {gsub(/ /, "", $2); print $2}'; }
  [ "$(field 'Absolute upper-left X')" = 40 ] || fail "window $id left: $(field 'Absolute upper-left X')"
  [ "$(field 'Absolute upper-left Y')" = 60 ] || fail "window $id top: $(field 'Absolute upper-left Y')"
  [ "$(field '  Width')" = 400 ] || fail "window $id width: $(field '  Width')"
  [ "$(field '  Height')" = 320 ] || fail "window $id height: $(field '  Height')"
  [ "$(field 'Map State')" = IsViewable ] || fail "window $id not shown"
  props=$(xprop -id "$id")
  echo "$props" | grep -q '_NET_WM_STATE(ATOM).*_NET_WM_STATE_ABOVE' ||
    fail "window $id is not kept above: $(echo "$props" | grep _NET_WM_STATE)"
  # Motif hints: flags with "decorations" set and no decorations.
  echo "$props" | grep -Eq '_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = 0x[0-9a-f]*[2367abef], 0x[0-9a-f]+, 0x0' ||
    fail "window $id has a frame: $(echo "$props" | grep _MOTIF)"
done

# Exactly the two copies: nothing else was started by them.
kill -0 $p1 && kill -0 $p2 || fail "a copy ended early"
[ -z "$(pgrep -P $p1; pgrep -P $p2)" ] || fail "a copy started a process of its own"

kill -TERM $p1 $p2
wait $p1; c1=$?
wait $p2; c2=$?
[ $c1 = 0 ] && [ $c2 = 0 ] || fail "exit codes $c1 $c2"
echo "PASS: two borderless always-on-top windows at 40,60 400x320"
