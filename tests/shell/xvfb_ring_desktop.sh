#!/bin/bash
# A ring while the user types in an xterm on the second of two workspaces,
# under openbox, in pop-up mode: the window popped up by the door unit's
# stream and the Accept dialog of its SIP call show on that workspace (both
# on every workspace), marked as wanting attention, and the keyboard stays
# with the xterm: what is typed, Return included, goes there and answers
# nothing. Once the user clicks the dialog, its keys work: Return answers.
#   xvfb_ring_desktop.sh PROGRAM DOORSIM [SCREENSHOT-FOLDER]
set -u
prog=$1
bin=$(dirname "$2")/../..
screens=${3:-}

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo xprop openbox xterm wmctrl import python3
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 1024x600x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
chmod 700 "$tmp"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
start_openbox
wmctrl -n 2

viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
iconic() { xprop -id "$win" WM_STATE | grep -q 'window state: Iconic'; }
active() { printf '%d' "$(xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //; s/,.*//')"; }
is_active() { [ "$(active)" = "$1" ]; }
typed() { grep -qx "$1" "$tmp/typed"; }
shot() {
  [ -n "$screens" ] || return 0
  mkdir -p "$screens"
  import -window root "$screens/$1.png" 2>/dev/null
}
# on_every_desktop_asking WINDOW WHAT: on all workspaces as the window
# manager keeps it, marked for the user's attention, the xterm still
# active.
on_every_desktop_asking() {
  xprop -id "$1" _NET_WM_DESKTOP | grep -q '= 4294967295$' ||
    fail "$2 is not on every workspace: $(xprop -id "$1" _NET_WM_DESKTOP)"
  until_true 3 eval "xprop -id $1 _NET_WM_STATE | grep -q _NET_WM_STATE_DEMANDS_ATTENTION" ||
    fail "$2 does not ask for attention: $(xprop -id "$1" _NET_WM_STATE)"
  is_active "$xterm" || fail "$2 took the keyboard: $(active) is active"
}

start_doorsim "$tmp/doorsim.log" --fps 5 --title "Front door" --sip 127.0.0.1:0
door_sip=$(sim_sip_port "$tmp/doorsim.log")
[ -n "$door_sip" ] || fail "the simulator has no SIP side"
sip_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=40\nTop=40\nWidth=336\nHeight=301\npop=1\n[SIP]\nUseSIP=0\nSIP_bind_addr=127.0.0.1\nSIP_port=%s\n' \
  "$port" "$sip_port" >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"
window_name='^(Vestibell_1\.39|Front door)$'
start_program
# Pop-up mode hides it once the stream says nobody rings (minimized: no
# tray).
until_true 10 iconic || fail "pop-up mode did not hide the window: $(xprop -id "$win" WM_STATE)"

# The user goes to the second workspace and types in an xterm there.
wmctrl -s 1
: >"$tmp/typed"
xterm -T typist -fa Monospace -fs 9 -geometry 60x10+420+330 -e sh -c "cat >>'$tmp/typed'" &
pids+=($!)
xterm=$(shown_window '^typist$')
[ -n "$xterm" ] || fail "no xterm"
until_true 5 is_active "$xterm" || fail "the xterm did not get the keyboard"
xdotool type --delay 20 before
xdotool key Return
until_true 5 typed before || fail "the xterm did not take what was typed"

# The door unit rings through its stream: the window pops up here.
sim "ring?flag=1" >/dev/null
until_true 5 viewable "$win" || fail "the popped-up window is not on the user's workspace"
on_every_desktop_asking "$win" "the popped-up window"
xdotool type --delay 20 during
xdotool key Return
until_true 5 typed during || fail "keys typed during the ring did not reach the xterm"
is_active "$xterm" || fail "typing moved the keyboard: $(active) is active"

# The door unit calls over SIP: the Accept dialog opens here, beside it.
for _ in $(seq 10); do
  sim "ring-sip?uri=sip:pc@127.0.0.1:$sip_port" >/dev/null
  dialog=$(shown_window '^door$')
  [ -n "$dialog" ] && break
  sim hangup >/dev/null
done
[ -n "$dialog" ] || fail "no Accept dialog"
until_true 5 viewable "$dialog" || fail "the Accept dialog is not on the user's workspace"
on_every_desktop_asking "$dialog" "the Accept dialog"
shot ring_desktop
lines=$(wc -l <"$tmp/typed")
xdotool key Return
until_true 5 eval '[ "$(wc -l <"$tmp/typed")" -gt "$lines" ]' ||
  fail "Return typed during the call did not reach the xterm"
sleep 1
status_is sip_in_call 0 || fail "Return in the xterm answered the door"
viewable "$dialog" || fail "the Accept dialog went away"

# A click on the dialog (on its text, off the buttons) gives it the keys.
read -r x y < <(xwininfo -id "$dialog" | awk -F: '
  /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}')
xdotool mousemove $((x + 60)) $((y + 20)) sleep 0.3 click 1
until_true 5 is_active "$dialog" || fail "a click did not activate the Accept dialog: $(active) is active"
xdotool key Return
until_true 5 status_is sip_in_call 1 || fail "Return in the clicked dialog did not answer"
sim hangup >/dev/null
echo "PASS: a ring shows on the user's workspace, asks for attention and leaves the keyboard alone"
