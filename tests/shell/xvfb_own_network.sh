#!/bin/bash
# Everything the program says to the network goes to the addresses it was
# given: with the SIP settings left as they are (bound to every interface),
# a SIP ring answered and hung up, the stream and a relay, every connect and
# datagram of every thread goes to loopback. The SIP library's own habits
# (route probes towards its makers' servers, lookups) would show up here as
# connects to public addresses, even though they fail in a loopback-only
# namespace.
#   xvfb_own_network.sh PROGRAM DOORSIM
set -u
prog=$1
bin=$(dirname "$2")/../..

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo strace
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 800x600x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
chmod 700 "$tmp"

sip_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_doorsim "$tmp/doorsim.log" --sip 127.0.0.2:0 --title "Own network"
mkdir -p "$tmp/Vestibell"
printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=20\nTop=20\n[SIP]\nSIP_port=%s\n' \
  "$port" "$sip_port" >"$tmp/Vestibell/Vestibell.ini"

prog_real=$prog
prog=$tmp/traced
printf '#!/bin/sh\nexec strace -f -qq -e trace=connect,sendto,sendmsg -o %s %s\n' \
  "$tmp/trace" "$prog_real" >"$prog"
chmod +x "$prog"
cd "$tmp"
window_name='^(Vestibell_1\.39|Own network)$'
start_program

dialog() { xdotool search --all --onlyvisible --name '^door$' 2>/dev/null | head -n 1; }
has_dialog() { [ -n "$(dialog)" ]; }
rang=""
for _ in $(seq 10); do
  sim hangup >/dev/null
  sim "ring-sip?uri=sip:pc@127.0.0.1:$sip_port" >/dev/null
  until_true 3 has_dialog && { rang=1; break; }
done
[ -n "$rang" ] || fail "no Accept dialog"
# OK, as the Accept template lays it out.
read -r dx dy < <(xwininfo -id "$(dialog)" | awk -F: '
  /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}')
xdotool mousemove $((dx + 45)) $((dy + 48)) sleep 0.2 click 1
until_true 5 status_is sip_in_call 1 || fail "the call was not answered"
sim hangup >/dev/null
sleep 1
xdotool mousemove $((20 + 20)) $((20 + 282)) sleep 0.3 click 1 sleep 1 # relay 1
# strace holds the signals it is sent: the program is asked itself.
kill -TERM "$(pgrep -P "$program" | head -n 1)"
wait "$program" || fail "the program ended with $?"

[ -s "$tmp/trace" ] || fail "no trace"
# Each address a socket was pointed at: IPv4, IPv6 and the rest by family.
outside=$(grep -oE 'sin_addr=inet_addr\("[0-9.]+"\)|inet_pton\(AF_INET6, "[^"]*"' "$tmp/trace" |
  grep -vE '"127\.|"::1"|"::ffff:127\.' | sort | uniq -c)
[ -z "$outside" ] || fail "addresses outside loopback: $outside"
grep -q 'sin_addr=inet_addr("127.0.0.2")' "$tmp/trace" || fail "the trace never saw the door's SIP side"
echo "PASS: $(grep -cE 'sin_addr|AF_INET6' "$tmp/trace") addressed calls, all on loopback"
