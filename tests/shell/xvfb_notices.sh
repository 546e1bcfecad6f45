#!/bin/bash
# Rings told by desktop notifications, with a real notification server
# (dunst) on a private session bus, under openbox, in pop-up mode (the
# window hidden between rings):
# - a stream ring: "<door> is ringing", the time, the picture, critical;
#   it ends unanswered and becomes "Missed visitor at <door>" in its place,
#   normal and resident; a click on it brings the main window up;
# - a second ring: its "Open door" reaches the door unit's relay 1, and its
#   end closes the notice instead;
# - a SIP call: "Answer" answers it, and the notice is closed; "Decline"
#   declines one; one the caller gives up on becomes a missed visitor;
# - pop-up off: a ring in view is not told, one under an xterm is;
# - a server with a body only: the notices go without actions and images;
# - that, without a server, and without a bus: one line on standard error
#   each, and a ring still pops the window up.
#   xvfb_notices.sh PROGRAM DOORSIM [SCREENSHOT-FOLDER]
set -u
prog=$1
bin=$(dirname "$2")/../..
screens=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo xprop openbox xterm wmctrl dbus-daemon dbus-monitor dunst dunstctl python3 import
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 1024x600x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$tmp" "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
start_openbox

shot() {
  [ -n "$screens" ] || return 0
  mkdir -p "$screens"
  import -window root "$screens/$1.png" 2>/dev/null
}
viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
iconic() { xprop -id "$win" WM_STATE | grep -q 'window state: Iconic'; }
relays() { status_of relay1; }

# A session bus of its own that starts nothing by itself (no service
# folders): the server runs only while this script runs it.
cat >"$tmp/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:path=$tmp/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$tmp/bus.conf" --nofork >"$tmp/bus.log" 2>&1 &
pids+=($!)
until_true 5 test -S "$tmp/bus" || fail "the session bus did not start"
bus_address=unix:path=$tmp/bus
export DBUS_SESSION_BUS_ADDRESS=$bus_address
dbus-monitor "interface='org.freedesktop.Notifications'" >"$tmp/calls.log" 2>&1 &
pids+=($!)

# dunst, with its context menu answered by a script that picks the line
# named in $tmp/choose: how a user's menu choice of an action arrives.
cat >"$tmp/dmenu" <<EOF
#!/bin/sh
grep -i -m 1 -- "\$(cat '$tmp/choose')"
EOF
chmod +x "$tmp/dmenu"
cat >"$tmp/dunstrc" <<EOF
[global]
    width = 420
    origin = top-right
    offset = 10x10
    font = DejaVu Sans 10
    markup = full
    max_icon_size = 96
    icon_position = left
    mouse_left_click = do_action, close_current
    dmenu = $tmp/dmenu -p dunst
[urgency_critical]
    background = "#602020"
    foreground = "#ffffff"
    timeout = 0
[urgency_normal]
    background = "#203040"
    foreground = "#ffffff"
    timeout = 0
EOF
start_dunst() {
  dunst -config "$tmp/dunstrc" >"$tmp/dunst.log" 2>&1 &
  dunst_pid=$!
  pids+=($dunst_pid)
  until_true 5 dunstctl is-paused >/dev/null 2>&1 || fail "dunst did not start"
}
start_dunst

displayed() { dunstctl count displayed 2>/dev/null; }
# calls NAME: how many calls of that method went to the server.
calls() { grep -c "member=$1\$" "$tmp/calls.log"; }
# The arguments of the last Notify call, as the monitor printed them (the
# picture's bytes left out).
last_notify() {
  awk '/member=Notify$/ {buf=""; on=1; next}
       /^(method|signal|error|method return)/ {if (on) last=buf; on=0}
       on && !/^ *[0-9a-f][0-9a-f]( [0-9a-f][0-9a-f])* *$/ {buf = buf $0 "\n"}
       END {if (on) last=buf; printf "%s", last}' "$tmp/calls.log"
}
choose() {
  echo "$1" >"$tmp/choose"
  dunstctl context
}

start_doorsim "$tmp/doorsim.log" --fps 5 --title "Front <b>door</b> & co" --sip 127.0.0.1:0
door_sip=$(sim_sip_port "$tmp/doorsim.log")
[ -n "$door_sip" ] || fail "the simulator has no SIP side"
sip_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=40\nTop=40\nWidth=336\nHeight=301\npop=1\n[SIP]\nUseSIP=0\nSIP_bind_addr=127.0.0.1\nSIP_port=%s\n' \
  "$port" "$sip_port" >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"
window_name='^(Vestibell_1\.39|Front .*)$'
prog_log=$tmp/program.log
start_program_logged() {
  "$prog" 2>"$prog_log" &
  program=$!
  pids+=($program)
  win=""
  for _ in $(seq 400); do
    win=$(xdotool search --name "$window_name" 2>/dev/null | head -n 1)
    [ -n "$win" ] && break
    sleep 0.05
  done
  [ -n "$win" ] || fail "no window: $(cat "$prog_log")"
  sleep 0.5
}
start_program_logged
until_true 10 iconic || fail "pop-up mode did not hide the window"
until_true 5 eval '[ "$(calls GetCapabilities)" -ge 1 ]' || fail "the program did not ask the server what it offers"

# --- a stream ring while hidden, unanswered ------------------------------
label="ring"
sim "ring?flag=1" >/dev/null
until_true 5 eval '[ "$(displayed)" = 1 ]' || fail "no notice shown: $(last_notify)"
sleep 0.5
ring=$(last_notify)
grep -q 'string "Front <b>door</b> & co is ringing"' <<<"$ring" || fail "summary: $ring"
grep -q 'string "Ringing since [0-9][0-9]:[0-9][0-9]:[0-9][0-9]"' <<<"$ring" || fail "body: $ring"
grep -A1 'string "urgency"' <<<"$ring" | grep -q 'byte 2' || fail "not critical: $ring"
grep -q 'string "image-data"' <<<"$ring" || fail "no picture: $ring"
grep -q 'string "file:///.*vestibell.png"' <<<"$ring" || fail "no icon: $ring"
for action in Show "Open door"; do
  grep -q "string \"$action\"" <<<"$ring" || fail "no $action action: $ring"
done
grep -q 'string "Answer"' <<<"$ring" && fail "a stream ring offers Answer"
shot notice_ring
sim "ring?flag=0" >/dev/null
label="missed"
until_true 5 eval '[ "$(calls Notify)" = 2 ]' || fail "the ring's end did not replace the notice"
sleep 0.3
missed=$(last_notify)
grep -q 'string "Missed visitor at Front <b>door</b> & co"' <<<"$missed" || fail "summary: $missed"
grep -q 'string "Rang at [0-9:]* on ' <<<"$missed" || fail "body: $missed"
# In place of the ring's notice: its id replaced, one notice shown.
sed -n '2p' <<<"$missed" | grep -q 'uint32 [1-9][0-9]*$' || fail "not in place of the ring's: $missed"
grep -A1 'string "urgency"' <<<"$missed" | grep -q 'byte 1' || fail "not normal: $missed"
grep -A1 'string "resident"' <<<"$missed" | grep -q 'boolean true' || fail "not resident: $missed"
grep -q 'int32 0$' <<<"$missed" || fail "it expires: $missed"
[ "$(displayed)" = 1 ] || fail "$(displayed) notices shown"
shot notice_missed
# A click on it opens the Visitors window, at that visit.
read -r nx ny < <(xdotool search --class dunst 2>/dev/null | head -n 1 | xargs -r -I{} xwininfo -id {} |
  awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}')
xdotool mousemove $((nx + 60)) $((ny + 20)) sleep 0.3 click 1
visitors=$(shown_window '^Visitors$')
[ -n "$visitors" ] || fail "a click on the missed visitor did not open the Visitors window"
shot notice_visitors
xdotool windowclose "$visitors" 2>/dev/null || xdotool windowunmap "$visitors"

# --- a second ring, the door opened from its notice ----------------------
label="open door"
xdotool windowminimize "$win"
until_true 5 iconic || fail "the window did not minimize"
notifies=$(calls Notify)
sim "ring?flag=1" >/dev/null
until_true 5 eval '[ "$(calls Notify)" -gt "$notifies" ]' || fail "no notice for a minimized window"
sleep 0.5
before=$(relays)
choose "open door"
until_true 5 eval '[ "$(relays)" -gt "$before" ]' || fail "Open door did not reach relay 1 ($(relays))"
closes=$(calls CloseNotification)
sim "ring?flag=0" >/dev/null
sleep 1
[ "$(calls Notify)" = $((notifies + 1)) ] || fail "a door opened still became a missed visitor"

# --- a SIP call, answered from its notice ---------------------------------
label="sip"
until_true 5 eval "iconic || ! viewable $win" || true
xdotool windowminimize "$win" 2>/dev/null
notifies=$(calls Notify)
sim "ring-sip?uri=sip:pc@127.0.0.1:$sip_port" >/dev/null
until_true 10 eval '[ "$(calls Notify)" -gt "$notifies" ]' || fail "no notice for a SIP call"
sleep 0.5
sip=$(last_notify)
for action in Answer Decline; do
  grep -q "string \"$action\"" <<<"$sip" || fail "no $action action: $sip"
done
grep -q 'Caller: ' <<<"$sip" || fail "no caller: $sip"
shot notice_sip
closes=$(calls CloseNotification)
choose "answer"
until_true 5 status_is sip_in_call 1 || fail "Answer did not answer the call"
until_true 5 eval '[ "$(calls CloseNotification)" -gt "$closes" ]' || fail "the answered call's notice stayed"
sim hangup >/dev/null
until_true 5 status_is sip_in_call 0 || fail "the call did not end"

# Declined from its notice; then one the caller gives up on.
label="sip decline"
sleep 1
xdotool windowminimize "$win" 2>/dev/null
until_true 5 eval "iconic || ! viewable $win" || fail "the window did not go"
ended=$(status_of sip_ended)
notifies=$(calls Notify)
closes=$(calls CloseNotification)
sim "ring-sip?uri=sip:pc@127.0.0.1:$sip_port" >/dev/null
until_true 10 eval '[ "$(calls Notify)" -gt "$notifies" ]' || fail "no notice for a SIP call"
sleep 0.5
choose "decline"
until_true 5 eval '[ "$(status_of sip_ended)" -gt "$ended" ]' || fail "Decline did not end the call"
until_true 5 eval '[ "$(calls CloseNotification)" -gt "$closes" ]' || fail "the declined call's notice stayed"
label="sip missed"
sleep 1
notifies=$(calls Notify)
sim "ring-sip?uri=sip:pc@127.0.0.1:$sip_port" >/dev/null
until_true 10 eval '[ "$(calls Notify)" -gt "$notifies" ]' || fail "no notice for a SIP call"
sleep 0.5
sim hangup >/dev/null
until_true 5 eval '[ "$(calls Notify)" -gt $((notifies + 1)) ]' || fail "the call given up did not become a missed visitor"
sleep 0.3
missed=$(last_notify)
grep -q 'string "Missed visitor at Front <b>door</b> & co"' <<<"$missed" || fail "summary: $missed"
grep -q 'Caller: door@127.0.0.1' <<<"$missed" || fail "no caller: $missed"
grep -q 'notification' "$prog_log" && fail "said something about notices: $(cat "$prog_log")"

# --- pop-up off: in view nothing, covered a notice ---------------------------
label="pop-up off"
kill -TERM "$program"
until_true 10 eval '! kill -0 $program 2>/dev/null' || fail "the program did not close"
sed -i 's/^pop=1/pop=0/' "$tmp/Vestibell/Vestibell.ini"
start_program_logged
until_true 5 viewable "$win" || fail "the window is not shown"
notifies=$(calls Notify)
sim "ring?flag=1" >/dev/null
sleep 1.5
sim "ring?flag=0" >/dev/null
sleep 1
[ "$(calls Notify)" = "$notifies" ] || fail "a ring in view was told: $(last_notify)"
xterm -T cover -fa Monospace -fs 9 -geometry 80x30+20+20 &
pids+=($!)
cover=$(shown_window '^cover$')
[ -n "$cover" ] || fail "no xterm"
# The window stays above others: only one that does too covers it.
wmctrl -i -r "$cover" -b add,above
sleep 0.5
sim "ring?flag=1" >/dev/null
until_true 5 eval '[ "$(calls Notify)" -gt "$notifies" ]' || fail "a ring under a covering window was not told"
shot notice_covered
sim "ring?flag=0" >/dev/null

# --- a server with a body only, without a server, without a bus ----------
kill -TERM "$program"
until_true 10 eval '! kill -0 $program 2>/dev/null' || fail "the program did not close"
sed -i 's/^pop=0/pop=1/' "$tmp/Vestibell/Vestibell.ini"
kill -TERM "$dunst_pid"
until_true 5 eval '! kill -0 $dunst_pid 2>/dev/null' || fail "dunst did not end"
label="body only"
/usr/bin/python3 "$here/notice_server.py" "$tmp/plain.log" 2>"$tmp/plain.err" &
plain=$!
pids+=($plain)
until_true 5 grep -qs ready "$tmp/plain.log" || fail "the plain server did not start: $(cat "$tmp/plain.err")"
start_program_logged
until_true 10 iconic || fail "pop-up mode did not hide the window"
sim "ring?flag=1" >/dev/null
until_true 5 grep -q '^Notify 0|Front .* is ringing|Ringing since [0-9:]*|actions=0|hints=desktop-entry,urgency$' "$tmp/plain.log" ||
  fail "what the plain server got: $(cat "$tmp/plain.log")"
sim "ring?flag=0" >/dev/null
until_true 5 grep -q '^Notify 1|Missed visitor at Front .*|Rang at .*|actions=0|hints=desktop-entry,resident,urgency$' "$tmp/plain.log" ||
  fail "what the plain server got: $(cat "$tmp/plain.log")"
[ "$(grep -c 'desktop notifications\|shows no' "$prog_log")" = 1 ] || fail "$(cat "$prog_log")"
grep -q 'shows no actions or images' "$prog_log" || fail "$(cat "$prog_log")"
kill -TERM "$program"
until_true 10 eval '! kill -0 $program 2>/dev/null' || fail "the program did not close"
kill -TERM "$plain"
until_true 5 eval '! kill -0 $plain 2>/dev/null' || fail "the plain server did not end"
for mode in "no server" "no bus"; do
  label=$mode
  [ "$mode" = "no bus" ] && unset DBUS_SESSION_BUS_ADDRESS
  start_program_logged
  until_true 10 iconic || fail "pop-up mode did not hide the window"
  sim "ring?flag=1" >/dev/null
  until_true 5 viewable "$win" || fail "the ring did not pop the window up"
  sim "ring?flag=0" >/dev/null
  sleep 1
  lines=$(grep -c 'desktop notifications' "$prog_log")
  [ "$lines" = 1 ] || fail "$lines lines about it: $(cat "$prog_log")"
  case $mode in
  "no server") grep -q 'no notification server' "$prog_log" || fail "$(cat "$prog_log")" ;;
  "no bus") grep -q 'no session bus' "$prog_log" || fail "$(cat "$prog_log")" ;;
  esac
  kill -0 "$program" || fail "the program ended"
  kill -TERM "$program"
  until_true 10 eval '! kill -0 $program 2>/dev/null' || fail "the program did not close"
done
echo "PASS: rings are told by notices, their actions act, and without a server nothing changes"
