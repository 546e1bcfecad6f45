#!/bin/bash
# The settings dialog of the running program under a window manager: the
# settings button opens it at the size of its template; the capture
# "Volume control" pressed twice leaves one mixer running (a stand-in
# mixer on PATH notes its starts); a new door-unit address saved with Enter
# moves the video to the other simulator within about two seconds; Escape
# leaves it and the reader's timer runs again (a dropped stream comes back);
# closing the program ends the mixer; ended while the dialog is open, it
# closes cleanly. Screenshots go to SCREENS.
#   xvfb_settings.sh PROGRAM DOORSIM SCREENS
set -u
prog=$1
bin=$(dirname "$2")/../..
screens=$3

label=settings
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo import openbox
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 1024x768x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
start_openbox
mkdir -p "$screens"

# Two door units: the same port on two loopback addresses.
start_doorsim "$tmp/a.log" --fps 10 --title "Door A"
doorsim_listen=127.0.0.2:$port start_doorsim "$tmp/b.log" --fps 10 --title "Door B"
statB() { sim_host=127.0.0.2 sim status | sed -n "s/.*\"$1\":\([0-9]*\).*/\1/p"; }

# The stand-in mixer: notes its pid and arguments, then waits.
mkdir -p "$tmp/bin"
printf '#!/bin/sh\necho "$$ $*" >>%s/mixer.log\nexec sleep 600\n' "$tmp" \
  >"$tmp/bin/pavucontrol"
chmod +x "$tmp/bin/pavucontrol"
export PATH=$tmp/bin:$PATH

mkdir -p "$tmp/Vestibell"
ini=$tmp/Vestibell/Vestibell.ini
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=100\nTop=80\nWidth=336\nHeight=301\n[SIP]\nUseSIP=0\nSIP_bind_addr=127.0.0.1\nSIP_port=0\n' \
  "$port" >"$ini"
cd "$tmp"
window_name='^(Vestibell_1\.39|Door A|Door B)$'
place() {
  read -r x y < <(xwininfo -id "$win" | awk -F: '
    /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}')
}
start_program
place

title=$(printf '^Vestibell version 1\\.39$')
open_settings() {
  xdotool mousemove $((x + 276)) $((y + 10)) sleep 0.3 click 1
  dlg=$(shown_window "$title")
  [ -n "$dlg" ] || fail "the settings button opened no dialog"
  sleep 0.5
  read -r dx dy w h < <(xwininfo -id "$dlg" | awk -F: '
    /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /  Width/ {w=$2} /  Height/ {h=$2} END {print x+0, y+0, w+0, h+0}')
}
# click_at X Y: a click at dialog client pixels.
click_at() { xdotool mousemove $((dx + $1)) $((dy + $2)) sleep 0.2 click 1; sleep 0.3; }
closed() {
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name "$title" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}

open_settings
# 270 x 132 dialog units of Arial 8 (6 x 12 pixel base units).
[ "$w x $h" = "405 x 198" ] || fail "dialog client ${w}x$h, want 405x198"
import -window root "$screens/settings.png"

# Capture "Volume control" (185, 70, 60 x 14 units), twice.
click_at 322 115
click_at 322 115
for _ in $(seq 50); do [ "$(wc -l <mixer.log 2>/dev/null)" = 2 ] && break; sleep 0.1; done
[ "$(wc -l <mixer.log)" = 2 ] || fail "$(wc -l <mixer.log) mixer starts, want 2"
first=$(sed -n 1p mixer.log | cut -d' ' -f1)
second=$(sed -n 2p mixer.log | cut -d' ' -f1)
[ "$(sed -n 2p mixer.log | cut -d' ' -f2-)" = "--tab=4" ] ||
  fail "capture mixer started as: $(sed -n 2p mixer.log)"
kill -0 "$first" 2>/dev/null && fail "the first mixer still runs beside the second"
kill -0 "$second" 2>/dev/null || fail "the second mixer does not run"

# The door unit's address (5, 107, 150 x 10 units): the other simulator.
[ "$(statB open_streams)" = 0 ] || fail "door B streams before the change"
click_at 80 168
xdotool key ctrl+a type "127.0.0.2:$port"
xdotool key Return
saved=$(date +%s%N)
closed || fail "Enter left the dialog open"
moved=""
for _ in $(seq 50); do
  if [ "$(statB open_streams)" = 1 ]; then moved=$(date +%s%N); break; fi
  sleep 0.1
done
[ -n "$moved" ] || fail "the video did not move to the new address"
ms=$(((moved - saved) / 1000000))
[ "$ms" -le 2500 ] || fail "the video moved after $ms ms"
grep -q "^IP_addr=127.0.0.2:$port\$" "$ini" || fail "address not saved: $(cat "$ini")"
sleep 1
import -window root "$screens/after_save.png"

# Escape: nothing saved, and the timer runs again: a dropped stream is
# taken up anew.
before=$(cat "$ini")
open_settings
xdotool key Escape
closed || fail "Escape left the dialog open"
[ "$(cat "$ini")" = "$before" ] || fail "Escape changed the settings file"
conn=$(statB connections)
sim_host=127.0.0.2 sim drop >/dev/null
for _ in $(seq 50); do
  [ "$(statB connections)" -gt "$conn" ] && [ "$(statB open_streams)" = 1 ] && break
  sleep 0.1
done
[ "$(statB connections)" -gt "$conn" ] || fail "no new connection after Cancel and a drop"

# Closing the program ends the mixer.
kill -0 "$second" 2>/dev/null || fail "the mixer ended with the dialog"
xdotool mousemove $((x + 316)) $((y + 10)) sleep 0.3 click 1
for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null && fail "the close button did not close"
wait $program || fail "closing ended with $?"
kill -0 "$second" 2>/dev/null && fail "the mixer outlived the program"

# Told to end while the dialog is open (the desktop logging out): it ends
# cleanly all the same.
start_program
place
open_settings
kill -TERM $program
for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null && fail "SIGTERM with the dialog open: still running"
wait $program || fail "SIGTERM with the dialog open: ended with $?"
echo "PASS: the settings dialog opens laid out, one mixer at a time, the new address within $ms ms, Escape keeps the file, closing ends the mixer"
