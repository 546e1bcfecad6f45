#!/bin/bash
# The visitors, as the user meets them on a real X server under openbox.
# Without a tray: two rings nobody answers (the picture red before the
# first, blue after it, the simulator's usual bars after the second) and a SIP call in between
# nobody takes; the window's title counts "1 missed visitor", then "2
# missed visitors". With trayer: the next start's tray icon carries the
# red mark; "Visitors..." from its menu opens the Visitors window, which
# plays the newest visit (blue before its ring, the bars after) and the mark
# goes; Save picture writes the picture's bytes as received; Delete takes
# the visit and its pictures; "Quit" from the window's own menu ends the
# program. A screenshot of the Visitors window goes to the folder given.
#   xvfb_visitors.sh PROGRAM DOORSIM [SCREENSHOT-FOLDER]
set -u
prog=$1
bin=$(dirname "$2")/../..
screens=${3:-}

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo openbox trayer import convert python3
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 1920x1080x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp HOME=$tmp
chmod 700 "$tmp"
# Qt docks into an X11 tray only when no desktop bus offers another kind.
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
start_openbox

start_doorsim "$tmp/doorsim.log" --fps 10 --title "Front door" --sip 127.0.0.1:0
[ -n "$(sim_sip_port "$tmp/doorsim.log")" ] || fail "the simulator has no SIP side"
sip_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=1580\nTop=40\nWidth=336\nHeight=301\n[SIP]\nUseSIP=0\nSIP_bind_addr=127.0.0.1\nSIP_port=%s\n' \
  "$port" "$sip_port" >"$tmp/Vestibell/Vestibell.ini"
cd "$tmp"
window_name='^(Vestibell_1\.39|Front door.*)$'
visits=$tmp/Vestibell/visits

# The average colour of an area of the screen, as RRGGBB.
colour_at() { # WIDTHxHEIGHT+X+Y
  import -window root -crop "$1" +repage -resize 1x1\! -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p'
}
# Which of red, green, blue (or none) an RRGGBB is near.
hue() {
  local r=$((16#${1:0:2})) g=$((16#${1:2:2})) b=$((16#${1:4:2}))
  if [ $r -gt 150 ] && [ $g -lt 90 ] && [ $b -lt 90 ]; then echo red
  elif [ $g -gt 100 ] && [ $r -lt 90 ] && [ $b -lt 90 ]; then echo green
  elif [ $b -gt 150 ] && [ $r -lt 90 ] && [ $g -lt 90 ]; then echo blue
  else echo none; fi
}
title_is() { xdotool getwindowname "$win" 2>/dev/null | grep -qx "$1"; }
shot() {
  [ -n "$screens" ] || return 0
  mkdir -p "$screens"
  import -window "${2:-root}" "$screens/$1.png" 2>/dev/null
}

# --- Without a tray: the missed rings, counted in the title -------------
sim "colour?rgb=ff0000" >/dev/null
start_program
until_true 10 title_is "Front door" || fail "no title from the door: $(xdotool getwindowname "$win")"
sleep 3.5 # the seconds before the ring, red
sim "colour?rgb=0000ff" >/dev/null
sim "ring?flag=1" >/dev/null
sleep 2
sim "ring?flag=0" >/dev/null
sim "ring-sip?uri=sip:pc@127.0.0.1:$sip_port" >/dev/null
sleep 3
sim "hangup" >/dev/null
sleep 7
sim "colour?rgb=off" >/dev/null
sim "ring?flag=1" >/dev/null
sleep 2
sim "ring?flag=0" >/dev/null
# Missed once the 30 s a ring may be answered in are over.
until_true 30 title_is "Front door (1 missed visitor)" ||
  fail "no count in the title: $(xdotool getwindowname "$win")"
until_true 20 title_is "Front door (2 missed visitors)" ||
  fail "the second ring is not counted: $(xdotool getwindowname "$win")"
[ "$(ls -d "$visits"/*/ | wc -l)" = 2 ] || fail "not two visits' folders: $(ls "$visits")"
kill -TERM $program
wait $program || fail "exit code $?"

# --- With a tray: the mark, the Visitors window ---------------------------
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 1
start_program
docked_icon
read -r ix iy < <(xwininfo -id "$icon" | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x, y}')
# The mark: pixels of its red on the icon (none is in the icon itself).
marked() {
  local n
  n=$(import -window root -crop 22x22+$ix+$iy png:- 2>/dev/null |
    convert - -fuzz 8% -fill black +opaque '#E51C23' -fill white \
      -opaque '#E51C23' -format '%[fx:round(mean*w*h)]' info:-)
  [ "${n:-0}" -gt 20 ]
}
until_true 5 marked || { shot tray; fail "no mark on the icon"; }
title_is "Front door" || fail "with a tray the title counts: $(xdotool getwindowname "$win")"

xdotool mousemove $((ix + 11)) $((iy + 11)) click 3
sleep 0.7
xdotool key Down Down Return # Show/Hide, Visitors...
vwin=$(shown_window '^Visitors$')
[ -n "$vwin" ] || { shot menu; fail "Visitors... from the tray's menu opened nothing"; }
until_true 5 eval '! marked' || fail "the mark stays after the Visitors window opened"

# The newest visit plays: blue before its ring, the many colours of the
# bars after it.
eval "$(xdotool getwindowgeometry --shell "$vwin")"
area=120x90+$((X + WIDTH * 4 / 5 - 60))+$((Y + HEIGHT * 2 / 5 - 45))
shown() {
  local rgb
  rgb=$(colour_at "$area")
  if [ "$(import -window root -crop "$area" -depth 8 -format %k info:- 2>/dev/null)" -gt 20 ]; then
    echo bars
  else
    hue "$rgb"
  fi
}
seen=""
for _ in $(seq 80); do
  h=$(shown)
  [ "$h" != none ] && [ "${seen##* }" != "$h" ] && seen="$seen $h"
  [ "$seen" = " blue bars" ] && break
  sleep 0.1
done
[ "$seen" = " blue bars" ] || { shot replay; fail "the replay showed:$seen"; }
sleep 1.5 # for the screenshot, the bars' counter a little on
shot visitors "$vwin"

# Save picture: the bytes of the picture shown, as the door unit sent them.
xdotool key --window "$vwin" ctrl+s
dialog=$(shown_window '^Save picture$')
[ -n "$dialog" ] || fail "Save picture opened no dialog"
sleep 0.5
xdotool key ctrl+a
xdotool type "$tmp/saved.jpg"
xdotool key Return
until_true 5 test -s "$tmp/saved.jpg" || fail "nothing saved"
same=0
for f in "$visits"/*/*.jpg; do cmp -s "$f" "$tmp/saved.jpg" && same=1; done
[ $same = 1 ] || fail "the saved picture is none of the visit's"

# Delete: the visit and its pictures go; the older one stays.
xdotool windowactivate --sync "$vwin" key Delete
until_true 5 eval '[ "$(ls -d "$visits"/*/ | wc -l)" = 1 ]' ||
  fail "Delete left $(ls "$visits")"
kill -0 $program || fail "the program ended"

# Quit from the window's own menu.
xdotool mousemove $((1580 + 150)) $((40 + 150)) click 3
sleep 0.7
xdotool key Up Return # the last item
until_true 10 eval '! kill -0 $program 2>/dev/null' || { shot quit; fail "Quit from the window's menu did not end it"; }
wait $program || fail "exit code $?"
echo "PASS: missed visitors counted in the title and marked on the tray; the Visitors window plays, saves and deletes; both menus act"
