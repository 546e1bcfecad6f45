#!/bin/bash
# The README's main command: installs what is missing, builds, starts two
# door-unit simulators on loopback (a front and a back door) and two copies
# of the program, one pointed at each, with settings in data folders of
# their own under out/demo, so the user's real configuration is never
# touched. The copies share the SIP side: the first holds it.
#
# On a desktop the windows open and the demonstration runs until they are
# closed. Without a display it runs on a virtual X server for a few seconds
# (the back door rings, the call is answered and comes up in the back
# door's window, is hung up there, and the front door is called from its
# window) and saves a screenshot.
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
mkdir -p "$data"

pids=()
cleanup() { # the program first, its display last
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

# A free port number on loopback for TCP and UDP alike.
free_port() {
  local p
  for p in $(seq "$1" "$2"); do
    if [ -z "$(ss -Hlntu "sport = :$p")" ]; then echo "$p" && return 0; fi
  done
  return 1
}
# The PC's SIP side: the first copy's core (the second's after a hand-over).
sip_port=$(free_port 5062 5199) || { echo "no free UDP port for SIP" >&2; exit 1; }
pc="sip:Vestibell@127.0.0.1:$sip_port"

# Two door units on two loopback addresses, as on a real network, where
# calls are told apart by the caller's address. Each answers SIP on port
# 5060 of its address, as a door unit does, so the call button's "sip:" +
# the door's host reaches it. The back door rings by
# itself every 30 seconds, through its stream and over SIP; both answer the
# calls the program places.
source "$top/tests/support/doorsim.sh"
declare -A door_port door_host
start_door() { # NAME ADDRESS TITLE [OPTION...]
  local name=$1 address=$2 title=$3 p
  shift 3
  p=$(free_port $((20000 + RANDOM % 5000)) 29999) ||
    { echo "no free port for a door unit" >&2; exit 1; }
  doorsim_listen=$address:$p start_doorsim "$data/doorsim-$name.log" \
    --sip "$address:5060" --title "$title" --command "sip-answer accept 300" "$@"
  [ -n "$(sim_sip_port "$data/doorsim-$name.log")" ] || {
    echo "UDP port 5060 on $address is taken (another SIP program?)" >&2
    exit 1
  }
  door_port[$name]=$port door_host[$name]=$address
  echo "$title: simulator on $address:$port (log: $data/doorsim-$name.log)"
}
door() { # NAME COMMAND: a control command to that door unit
  port=${door_port[$1]} sim_host=${door_host[$1]} sim "$2"
}
start_door front 127.0.0.1 "Front door (simulated)"
start_door back 127.0.0.2 "Back door (simulated)" --ring-every 30 \
  --ring-length 10 --ring-sip "$pc"

# One settings folder per copy, each pointed at its door unit and keeping
# whatever else was saved there; one runtime folder where the two copies
# (and only they) meet.
configure() { # FOLDER DOOR LEFT POP
  local ini=$1/Vestibell/Vestibell.ini address="${door_host[$2]}:${door_port[$2]}"
  mkdir -p "$1/Vestibell"
  chmod 700 "$1" "$1/Vestibell"
  [ -f "$ini" ] || printf '[Window 0]\nLeft=%s\nTop=40\npop=%s\n' "$3" "$4" >"$ini"
  if grep -q '^IP_addr=' "$ini"; then
    sed -i "s/^IP_addr=.*/IP_addr=$address/" "$ini"
  else
    sed -i "s/^\[Window 0\]$/[Window 0]\nIP_addr=$address/" "$ini"
  fi
  sed -i '/^SIP_port=/d; /^SIP_bind_addr=/d' "$ini"
  grep -q '^\[SIP\]$' "$ini" || printf '[SIP]\n' >>"$ini"
  sed -i "s/^\[SIP\]$/[SIP]\nSIP_port=$sip_port\nSIP_bind_addr=127.0.0.1/" "$ini"
  chmod 600 "$ini"
}
# The back door's window comes up only while its door unit rings.
configure "$data/front" front 20 0
configure "$data/back" back 380 1
runtime=$data/runtime
mkdir -p "$runtime"
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime

start_copy() { # FOLDER: the first started holds the SIP core
  ALLUSERSPROFILE=$1 "$bin/vestibell" 2>"$1/vestibell.log" &
  pids+=($!)
  # The first copy's window is up (and it holds its instance number)
  # before the second starts.
  for _ in $(seq 100); do
    [ -n "$(ls "$runtime/vestibell/$kAppTitle" 2>/dev/null)" ] && break
    sleep 0.05
  done
}
kAppTitle=Vestibell_1.39

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "two copies: the front door's (settings in $data/front) and the back"
  echo "door's ($data/back); close both windows (or press Ctrl+C) to end"
  start_copy "$data/front"
  start_copy "$data/back"
  wait "${pids[-1]}" "${pids[-2]}" 2>/dev/null || true
  exit 0
fi

# No display: a virtual one with a tray and a short demonstration.
tmp=$data
source "$top/tests/support/xvfb.sh"
start_xvfb 800x600x24
unset DBUS_SESSION_BUS_ADDRESS # so the icons dock into the X11 tray below
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
start_copy "$data/front"
start_copy "$data/back"
sleep 3
click() { xdotool mousemove "$1" "$2" sleep 0.3 click 1; }
# The back door rings: its window lights the handset, the first copy's
# Accept dialog (titled with the caller) rings; OK (at 45,48 of the dialog)
# answers, and the back door's window shows the hang-up button.
door back "ring?flag=1" >/dev/null
door back "ring-sip?uri=$pc" >/dev/null
sleep 1.5
dialog=$(xdotool search --name '^door$' 2>/dev/null | head -n 1)
if [ -n "$dialog" ]; then
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  click $((X + 45)) $((Y + 48))
fi
sleep 1.5
shot=$data/screenshot.png
import -window root "$shot"
# Hang up from the back door's window (its call button's place: 137,283),
# then call the front door from the first window and hang up again.
click $((380 + 137)) $((40 + 283))
door back "ring?flag=0" >/dev/null
sleep 1.5
click $((20 + 137)) $((40 + 283))
sleep 2
click $((20 + 137)) $((40 + 283))
sleep 1
for name in back front; do
  echo "the $name door's SIP calls:"
  grep -h 'sip call' "$data/doorsim-$name.log" | tail -n 8 | sed 's/^/  /'
done
echo "screenshot of the two copies during the back door's call: $shot"
