#!/bin/bash
# The README's main command: installs what is missing, builds, starts the
# door-unit simulator on loopback and the program pointed at it, with the
# program's settings in a data folder of its own (out/demo), so the user's
# real configuration is never touched.
#
# On a desktop the window opens and the demonstration runs until the window
# is closed. Without a display it runs on a virtual X server for a few
# seconds and saves a screenshot.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh" >/dev/null
# Without a display everything below runs on a virtual X server of its own,
# so it can run where nothing but loopback is reachable.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] &&
  [ -z "${VESTIBELL_LOOPBACK_ONLY:-}" ]; then
  exec "$top/tools/loopback-only.sh" "$0" "$@"
fi
bin=${BUILD:-$top/build}
data=${VESTIBELL_DEMO_DATA:-$top/out/demo}
mkdir -p "$data/Vestibell"
chmod 700 "$data/Vestibell"

pids=()
cleanup() { # the program first, its display last
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

# The program's SIP side listens on a free UDP port of loopback.
sip_port=""
for p in $(seq 5062 5199); do
  if [ -z "$(ss -Hlun "sport = :$p")" ]; then sip_port=$p && break; fi
done
[ -n "$sip_port" ] || { echo "no free UDP port for SIP on 127.0.0.1" >&2; exit 1; }
pc="sip:Vestibell@127.0.0.1:$sip_port"

# The simulator picks a free port on loopback and rings every 20 seconds,
# through its stream and over SIP (the Accept dialog: Cancel declines).
source "$top/tests/support/doorsim.sh"
start_doorsim "$data/doorsim.log" --ring-every 20 --ring-length 8 \
  --title "Front door (simulated)" --sip 127.0.0.1:0 --ring-sip "$pc"
echo "door-unit simulator on 127.0.0.1:$port (log: $data/doorsim.log)"

# Point the program at the simulator, keeping whatever else was saved there.
ini=$data/Vestibell/Vestibell.ini
if [ -f "$ini" ] && grep -q '^IP_addr=' "$ini"; then
  sed -i "s/^IP_addr=.*/IP_addr=127.0.0.1:$port/" "$ini"
else
  printf '[Window 0]\nIP_addr=127.0.0.1:%s\npop=1\n' "$port" >"$ini"
fi
# Its SIP port, in the settings' SIP section.
if grep -q '^SIP_port=' "$ini"; then
  sed -i "s/^SIP_port=.*/SIP_port=$sip_port/" "$ini"
elif grep -q '^\[SIP\]$' "$ini"; then
  sed -i "s/^\[SIP\]$/[SIP]\nSIP_port=$sip_port/" "$ini"
else
  printf '[SIP]\nSIP_port=%s\n' "$sip_port" >>"$ini"
fi
chmod 600 "$ini"
export ALLUSERSPROFILE=$data

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "settings: $ini; close the window (or press Ctrl+C) to end"
  "$bin/vestibell"
  exit 0
fi

# No display: a virtual one with a tray, a short demonstration (a ring, a
# relay click) and a screenshot.
tmp=$data
source "$top/tests/support/xvfb.sh"
start_xvfb 800x600x24
unset DBUS_SESSION_BUS_ADDRESS # so the icon docks into the X11 tray below
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
sed -i 's/^Left=.*/Left=40/; s/^Top=.*/Top=50/' "$ini"
grep -q '^Left=' "$ini" || sed -i 's/^\[Window 0\]$/[Window 0]\nLeft=40\nTop=50/' "$ini"
"$bin/vestibell" 2>"$data/vestibell.log" &
pids+=($!)
# In pop-up mode the window hides with the first quiet part and comes up
# when the door unit rings.
sleep 3
sim "ring?flag=1" >/dev/null
sim "ring-sip?uri=$pc" >/dev/null
sleep 1.5
xdotool mousemove $((40 + 280)) $((50 + 280)) sleep 0.3 click 1 # relay 1
sleep 1
shot=$data/screenshot.png
import -window root "$shot"
# The Accept dialog, titled with the caller, rings; its Cancel (at 135,48
# of the dialog) answers the call and ends it at once.
dialog=$(xdotool search --name '^door$' 2>/dev/null | head -n 1)
if [ -n "$dialog" ]; then
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  xdotool mousemove $((X + 135)) $((Y + 48)) sleep 0.3 click 1
fi
sleep 1
sim "ring?flag=0" >/dev/null
echo "the simulator's SIP call to the program:"
grep -h 'sip call' "$data/doorsim.log" | tail -n 6 | sed 's/^/  /'
echo "relay requests the simulator received:"
grep -h 'relay' "$data/doorsim.log" | sed 's/^/  /'
echo "screenshot of the running program: $shot"
