#!/bin/bash
# The tray icon on a real X server, docked in trayer: a left click hides the
# window and the next one brings it back; the hide button hides it. Without
# any tray, under a window manager, hiding minimizes it instead, so it can
# still be brought back.
set -u
prog=$1

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo xprop trayer openbox
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 800x600x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
# Qt docks into an X11 tray only when no desktop bus offers another kind.
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
mkdir -p "$tmp/Vestibell"
chmod 700 "$tmp"
printf '[Window 0]\nIP_addr=127.0.0.1:9\nLeft=20\nTop=60\n' >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"

state() { xwininfo -id "$win" | awk -F: '/Map State/ {gsub(/ /,"",$2); print $2}'; }
expect() { sleep 0.7; [ "$(state)" = "$1" ] || fail "$2: the window is $(state)"; }

# With a tray.
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 1
start_program
docked_icon
read -r ix iy < <(xwininfo -id "$icon" | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+11, y+11}')
[ "$(state)" = IsViewable ] || fail "not shown at start"
xdotool mousemove "$ix" "$iy" click 1
expect IsUnMapped "after a click on the icon"
xdotool mousemove "$ix" "$iy" click 1
expect IsViewable "after a second click"
xdotool mousemove $((20 + 296)) $((60 + 10)) click 1 # the hide button
expect IsUnMapped "after the hide button"
xdotool mousemove "$ix" "$iy" click 1
expect IsViewable "back from the tray"
kill -TERM $program
wait $program || fail "exit code $?"

# No tray, a window manager: hiding minimizes.
kill -KILL "${pids[1]}"
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
start_program
xdotool mousemove $((20 + 296)) $((60 + 10)) click 1
sleep 0.7
xprop -id "$win" WM_STATE | grep -q 'window state: Iconic' ||
  fail "without a tray the hide button does not minimize: $(xprop -id "$win" WM_STATE)"
echo "PASS: tray clicks and the hide button; minimized without a tray"
