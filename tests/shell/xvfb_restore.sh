#!/bin/bash
# A hidden window that comes back is live again. In pop-up mode, with the
# simulator streaming and no tray:
# - "wm" (openbox): hiding minimizes; brought back by the window manager
#   (_NET_ACTIVE_WINDOW, as a task bar does, or a map request) the picture
#   moves again, it stays up outside a ring (as when opened from the tray),
#   and the hide key is not left lit;
# - "bare" (no window manager, so nothing minimizes): hiding really hides,
#   and a ring shows the live picture, not a stale "Connecting" screen; so
#   does a map from outside.
#   xvfb_restore.sh PROGRAM DOORSIM wm|bare
set -u
prog=$1
bin=$(dirname "$2")/../..
mode=${3:-wm}

label=$mode
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo xprop import
[ "$mode" = wm ] && need openbox
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 800x600x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
chmod 700 "$tmp"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
if [ "$mode" = wm ]; then
  start_openbox
fi
start_doorsim "$tmp/doorsim.log" --fps 10 --title "Restore test"
mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=40\nTop=30\nWidth=336\nHeight=301\npop=1\n' \
  "$port" >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"
window_name='^(Vestibell_1\.39|Restore test)$'
start_program

state() { xwininfo -id "$win" | awk -F: '/Map State/ {gsub(/ /,"",$2); print $2}'; }
origin() { xwininfo -id "$win" | awk -F: '
  /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}'; }
crop() { import -window root -crop "$1" -depth 8 rgb:- 2>/dev/null | md5sum; }
shot() { import -window root "$tmp/$1.png" 2>/dev/null; }
# The picture in the video area (320x240 at 8,26 of the window) moves.
moving() {
  local x y a
  read -r x y < <(origin)
  a=$(crop "320x240+$((x + 8))+$((y + 26))")
  sleep 0.6
  [ "$a" != "$(crop "320x240+$((x + 8))+$((y + 26))")" ]
}
wait_state() { # STATE WHAT
  for _ in $(seq 30); do [ "$(state)" = "$1" ] && return 0; sleep 0.1; done
  shot "$1"
  fail "$2: the window is $(state)"
}
iconic() { xprop -id "$win" WM_STATE | grep -q 'window state: Iconic'; }

sleep 2
if [ "$mode" = wm ]; then
  # The first part without a ring hid it: minimized (connecting may take
  # a while beside other tests).
  for _ in $(seq 50); do iconic && break; sleep 0.2; done
  iconic || fail "pop-up mode did not minimize it: $(xprop -id "$win" WM_STATE)"
  xdotool windowactivate "$win" 2>/dev/null
  wait_state IsViewable "brought back by the window manager"
  sleep 1
  moving || { shot frozen; fail "brought back, the picture does not move"; }
  sleep 1
  [ "$(state)" = IsViewable ] || fail "brought back outside a ring, it was hidden again"

  # The hide key, then back: the key is not lit any more.
  read -r x y < <(origin)
  xdotool mousemove $((x + 296)) $((y + 10)) sleep 0.3 click 1 mousemove 700 550
  sleep 1
  iconic || fail "the hide key did not minimize it"
  xdotool windowmap "$win"
  wait_state IsViewable "brought back a second time"
  sleep 1
  moving || { shot frozen2; fail "brought back again, the picture does not move"; }
  read -r x y < <(origin)
  corner="70x26+$((x + 266))+$y"
  lit=$(crop "$corner")
  # A pointer over no button redraws the corner only when a key was lit.
  xdotool mousemove $((x + 150)) $((y + 150))
  sleep 0.5
  [ "$lit" = "$(crop "$corner")" ] || { shot lit; fail "the hide key stayed lit"; }
else
  # Nothing can minimize it: hidden, not left on the screen unpainted.
  wait_state IsUnMapped "hidden by pop-up mode without a window manager"
  sim "ring?flag=1" >/dev/null
  wait_state IsViewable "a ring"
  sleep 1
  moving || { shot stale; fail "shown by a ring, the picture does not move"; }
  sim "ring?flag=0" >/dev/null
  wait_state IsUnMapped "the ring ended"
  # Mapped from outside: live again, and it stays (outside a ring).
  xdotool windowmap "$win"
  wait_state IsViewable "mapped from outside"
  sleep 1
  moving || { shot stale2; fail "mapped from outside, the picture does not move"; }
  [ "$(state)" = IsViewable ] || fail "mapped from outside, it was hidden again"
fi
kill -TERM $program
wait $program || fail "exit code $?"
echo "PASS ($mode)"
