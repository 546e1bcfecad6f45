#!/bin/bash
# Instances side by side on a real X server, with the simulated door unit
# calling over SIP (no registrar). Every instance is a real process; what
# the user sees (the call or hang-up face, a window shown or hidden, the
# call dialogs) is read from the screen, and the buttons are pressed with
# the pointer.
#   ring: three instances, the door unit's own one in the middle: the ring
#     road and its two hang-ups, a caller nobody serves, outgoing calls and
#     a failed one, and the hand-over among three.
#   handover: two instances with the same door unit: both take the call,
#     the core owner dials for itself, and closing the core owner with or
#     without a call hands the core over to the survivor.
#   registrar: three instances with a SIP server (a loopback kamailio):
#     the door unit calls the account through it, and the instance whose
#     prefix and door SIP id make the caller's user name takes the call;
#     that instance's call key dials the same name through the server.
#   refused: two instances whose runtime folder is a planted link: each
#     says so once, they number themselves apart in the settings folder
#     (one SIP core, the second's frame file its own), and the first one's
#     own window still gets its messages: Accept answers, the keys hang up
#     and dial.
#   xvfb_instances.sh PROGRAM DOORSIM ring|handover|registrar|refused
set -u
prog=$1
bin=$(dirname "$2")/../..
mode=${3:-ring}
# The door unit answers SIP on port 5060 of its address, as a real one does
# (the call key dials IP_addr's host): in a network namespace of this
# test's own, with only loopback, so that no other test's port 5060 is in
# the way.
if [ -z "${VESTIBELL_OWN_NETWORK:-}" ] && unshare --net true 2>/dev/null; then
  exec env VESTIBELL_OWN_NETWORK=1 unshare --net -- \
    bash -c 'ip link set lo up && exec "$@"' bash "$0" "$@"
fi

label=$mode
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo import convert ss python3
source "$(dirname "$0")/../support/xvfb.sh"
source "$(dirname "$0")/../support/doorsim.sh"
start_xvfb 1100x400x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
cd "$tmp"

free_udp_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The call/hang-up key of a 336 x 301 window, and a spot of the video area.
key_x=137 key_y=282
rest_x=150 rest_y=150

declare -A win pid left
# The main window's title: the program's, or the door unit's once its
# pictures come.
title='^Vestibell_1\.39$'
# The SIP section beyond the port and address (a server account, or none).
sip_keys='UseSIP=0\n'
# start_instance NAME IP_ADDR LEFT [PREFIX DOOR_SIP_ID]: an instance whose
# door unit is IP_ADDR (and the SIP user PREFIX DOOR_SIP_ID), its window at
# LEFT.
start_instance() {
  mkdir -p "$tmp/Vestibell"
  printf '[Window 0]\nIP_addr=%s\nLeft=%s\nTop=40\nWidth=336\nHeight=301\nSIP_call_prefix=%s\nSIP_id_doorphone=%s\n[SIP]\nSIP_bind_addr=127.0.0.1\nSIP_port=%s\n' \
    "$2" "$3" "${4:-}" "${5:-}" "$sip_port" >"$tmp/Vestibell/Vestibell.ini"
  printf "$sip_keys" >>"$tmp/Vestibell/Vestibell.ini"
  "$prog" >"$tmp/$1.log" 2>&1 &
  pid[$1]=$!
  pids+=(${pid[$1]})
  left[$1]=$3
  win[$1]=""
  for _ in $(seq 400); do
    win[$1]=$(xdotool search --all --pid "${pid[$1]}" --name "$title" 2>/dev/null | head -n 1)
    [ -n "${win[$1]}" ] && break
    sleep 0.05
  done
  [ -n "${win[$1]}" ] || fail "instance $1 has no window: $(tail -n 20 "$tmp/$1.log")"
  sleep 0.5
}
# The call/hang-up key as the screen shows it.
key_face() {
  import -window "${win[$1]}" png:- 2>/dev/null |
    convert - -crop 60x26+105+268 +repage rgb:- | md5sum | cut -d' ' -f1
}
declare -A idle
remember_idle() { for n; do idle[$n]=$(key_face "$n"); done; }
is_idle() { [ "$(key_face "$1")" = "${idle[$1]}" ]; }
in_call() { ! is_idle "$1"; }
all_idle() { for n; do is_idle "$n" || return 1; done; }
expect_idle() { # WHAT NAME...
  local what=$1 n
  shift
  for n; do until_true 5 is_idle "$n" || fail "$what: instance $n is not idle"; done
}
# click NAME X Y: a press and release there, then the pointer rests on the
# video, off every key.
click() {
  local x=$((${left[$1]} + $2)) y=$((40 + $3))
  xdotool mousemove $x $y sleep 0.3 click 1 sleep 0.3
  xdotool mousemove $((${left[$1]} + rest_x)) $((40 + rest_y)) sleep 0.3
}
mapped() { xwininfo -id "${win[$1]}" | grep -q 'IsViewable'; }
unmapped() { ! mapped "$1"; }
# The call dialog (titled with the caller) of an instance, or nothing.
dialog_of() { xdotool search --all --onlyvisible --pid "${pid[$1]}" --name "^$2\$" 2>/dev/null | head -n 1; }
has_dialog() { [ -n "$(dialog_of "$1" "$2")" ]; }
no_dialog() { ! has_dialog "$1" "$2"; }
# press_ok NAME TITLE: clicks OK in the call dialog (Accept's OK at the
# left, Terminate's alone in the middle), as the templates lay them out in
# 6 x 12 pixel dialog units.
press_ok() {
  local dlg x y ok_x=45
  dlg=$(dialog_of "$1" "$2")
  [ -n "$dlg" ] || fail "no dialog $2 in instance $1"
  read -r x y < <(xwininfo -id "$dlg" | awk -F: '
    /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} END {print x+0, y+0}')
  [ "${3:-accept}" = terminate ] && ok_x=90
  xdotool mousemove $((x + ok_x)) $((y + 48)) sleep 0.2 click 1 sleep 0.3
}
# ring NAME: the door unit calls the core owner NAME until its Accept
# dialog opens (the core is made just after the window).
ring() {
  local caller=${2:-door}
  for _ in $(seq 10); do
    sim hangup >/dev/null
    sim "ring-sip?uri=${ring_uri:-sip:pc@127.0.0.1:$sip_port}" >/dev/null
    until_true 3 has_dialog "$1" "$caller" && return 0
  done
  fail "no Accept dialog in instance $1"
}
answer() {
  press_ok "$1" door
  until_true 5 status_is sip_in_call 1 || fail "the call was not answered"
}
# The UDP sockets a process holds on loopback: its cores, when no call is
# up.
sockets_on_port() { ss -uanp | grep " 127\.0\.0\.1:[0-9]* " | grep -c "pid=$1,"; }

start_doorsim "$tmp/doorsim.log" --sip 127.0.0.1:5060
door_sip=$(sim_sip_port "$tmp/doorsim.log")
[ -n "$door_sip" ] || fail "the simulator has no SIP side (port 5060 taken?)"
door=127.0.0.1
door_http=$port
sip_port=$(free_udp_port)
# Outgoing calls are taken, so that either side's hang-up ends them
# normally.
sim "sip-answer?mode=accept" >/dev/null

case $mode in
ring)
  start_instance 1 127.0.0.2 0
  start_instance 2 "$door" 360
  start_instance 3 '<' 720
  remember_idle 1 2 3

  # The ring road: instance 2's window comes up and takes the call.
  click 2 298 10 # hide
  until_true 5 unmapped 2 || fail "the hide key left instance 2 shown"
  ring 1
  answered=$(status_of sip_answered)
  answer 1
  until_true 5 mapped 2 || fail "the matched instance was not shown"
  until_true 5 in_call 2 || fail "instance 2 does not show the hang-up key"
  until_true 5 no_dialog 1 door || fail "the Terminate dialog stayed open"
  all_idle 1 3 || fail "an instance of another door unit shows the call"
  [ "$(status_of sip_answered)" = $((answered + 1)) ] || fail "answered more than once"
  # Hang-up from instance 2.
  ended=$(status_of sip_ended)
  click 2 $key_x $key_y
  until_true 5 status_is sip_ended $((ended + 1)) || fail "hang-up did not end the call"
  expect_idle "hang-up" 1 2 3
  # The door unit hangs up.
  ring 1
  answer 1
  until_true 5 in_call 2 || fail "second call: no hang-up key"
  sim hangup >/dev/null
  expect_idle "the door hung up" 1 2 3

  # A caller that is nobody's door unit is answered, and only the
  # Terminate dialog ends it.
  start_doorsim "$tmp/stranger.log" --sip 127.0.0.4:0 # sim talks to it now
  ring 1
  press_ok 1 door
  until_true 5 status_is sip_in_call 1 || fail "the stranger was not answered"
  sleep 1
  has_dialog 1 door || fail "the Terminate dialog closed for a stranger"
  all_idle 1 2 3 || fail "an instance took the stranger's call"
  press_ok 1 door terminate
  until_true 5 status_is sip_in_call 0 || fail "Terminate did not end the stranger's call"
  port=$door_http

  # Outgoing: instance 2 dials its door unit through the core owner.
  incoming=$(status_of sip_incoming)
  click 2 $key_x $key_y
  until_true 5 status_is sip_incoming $((incoming + 1)) || fail "no INVITE reached the door unit"
  until_true 5 in_call 2 || fail "the dialling instance shows no hang-up key"
  all_idle 1 3 || fail "another instance shows the outgoing call"
  ended=$(status_of sip_ended)
  click 2 $key_x $key_y
  until_true 5 status_is sip_ended $((ended + 1)) || fail "hang-up did not end the outgoing call"
  expect_idle "outgoing call hung up" 1 2 3
  # A target the core cannot call leaves the call key.
  incoming=$(status_of sip_incoming)
  click 3 $key_x $key_y
  sleep 1
  is_idle 3 || fail "a failed invite shows the hang-up key"
  [ "$(status_of sip_incoming)" = "$incoming" ] || fail "a bad target reached the door unit"

  # Closing the core owner among three: both survivors make a core (on
  # ports of their own, now that the file says any free one), and a second
  # hand-over does not give the remaining one a second core.
  sed -i 's/^SIP_port=.*/SIP_port=0/' "$tmp/Vestibell/Vestibell.ini"
  kill "${pid[1]}"
  wait "${pid[1]}" || fail "instance 1 ended with $?"
  until_true 10 [ "$(sockets_on_port "${pid[2]}")" -gt 0 ] || fail "instance 2 made no core"
  until_true 10 [ "$(sockets_on_port "${pid[3]}")" -gt 0 ] || fail "instance 3 made no core"
  cores3=$(sockets_on_port "${pid[3]}")
  kill "${pid[2]}"
  wait "${pid[2]}" || fail "instance 2 ended with $?"
  sleep 1
  [ "$(sockets_on_port "${pid[3]}")" = "$cores3" ] || fail "instance 3 made a second core"
  kill -0 "${pid[3]}" || fail "instance 3 ended"
  echo "PASS (ring): ring road, hang-ups, stranger, outgoing, failed invite, hand-over among three"
  ;;
registrar)
  need /usr/sbin/kamailio
  registrar_port=$(free_udp_port)
  /usr/sbin/kamailio -f "$(dirname "$0")/../support/kamailio-registrar.cfg" \
    -DD -E -n 1 -m 16 -M 4 -l "udp:127.0.0.1:$registrar_port" -w "$tmp" \
    -Y "$tmp" -P "$tmp/kamailio.pid" -A 'SIP_USER="pc"' \
    -A 'SIP_PASS="secret"' -A 'DOOR_USER="door"' \
    -A "DOOR_HOSTPORT=\"127.0.0.1:$door_sip\"" >"$tmp/kamailio.log" 2>&1 &
  pids+=($!)
  sip_keys="UseSIP=1\nSIP_addr=127.0.0.1:$registrar_port\nSIP_id=pc\nSIP_pass=secret\nSIP_reg_duration=60\n"
  ring_uri=sip:pc@127.0.0.1:$registrar_port
  # The caller's user name is "door": the prefix is part of it.
  start_instance 1 127.0.0.1 0 "" front
  start_instance 2 127.0.0.2 360 do or
  start_instance 3 127.0.0.3 720 "" Door
  remember_idle 1 2 3
  for ending in hang-up door; do
    ring 1
    answer 1
    until_true 5 in_call 2 || fail "$ending: instance 2 does not show the hang-up key"
    until_true 5 no_dialog 1 door || fail "$ending: the Terminate dialog stayed open"
    all_idle 1 3 || fail "$ending: an instance of another door unit shows the call"
    if [ $ending = hang-up ]; then
      click 2 $key_x $key_y
    else
      sim hangup >/dev/null
    fi
    until_true 5 status_is sip_in_call 0 || fail "$ending: the call did not end"
    expect_idle "$ending" 1 2 3
  done
  # The call key: the prefix and door SIP id, resolved at the server, which
  # sends "door" on to the simulator; nothing else could reach it.
  incoming=$(status_of sip_incoming)
  click 2 $key_x $key_y
  until_true 5 status_is sip_incoming $((incoming + 1)) ||
    fail "the call key's INVITE did not reach the door unit: $(tail -n 5 "$tmp/kamailio.log")"
  until_true 5 in_call 2 || fail "the dialling instance shows no hang-up key"
  ended=$(status_of sip_ended)
  click 2 $key_x $key_y
  until_true 5 status_is sip_ended $((ended + 1)) || fail "hang-up did not end the call key's call"
  expect_idle "call key's call hung up" 1 2 3
  echo "PASS (registrar): calls through the server reach the instance of the caller's user name, and its call key reaches the door unit"
  ;;
refused)
  mkdir -m 700 "$tmp/rt" "$tmp/away"
  ln -s "$tmp/away" "$tmp/rt/vestibell"
  export XDG_RUNTIME_DIR=$tmp/rt
  title='^(Vestibell_1\.39|Vestibell door)$'
  # The first one's door address is the simulator's SIP side (its call key
  # dials there), the second one's its pictures.
  start_instance 1 "$door" 0
  start_instance 2 "127.0.0.1:$door_http" 360
  remember_idle 1 2
  for n in 1 2; do
    said=$(grep -c '^Vestibell: cannot use the runtime folder' "$tmp/$n.log")
    [ "$said" = 1 ] || fail "instance $n said $said times why the folder is refused"
    grep -q "^Vestibell: cannot use the runtime folder $tmp/rt/vestibell: it is a symbolic link;" "$tmp/$n.log" ||
      fail "instance $n does not name the folder and the reason: $(head -n 5 "$tmp/$n.log")"
  done
  until_true 10 [ "$(sockets_on_port "${pid[1]}")" -gt 0 ] || fail "the first instance made no core"
  [ "$(sockets_on_port "${pid[2]}")" = 0 ] || fail "the second instance made a core too"
  ! grep -q 'SIP port' "$tmp/2.log" || fail "the second instance tried the SIP port"
  until_true 10 [ -f "$tmp/Vestibell/Vestibell_2.tmp" ] ||
    fail "the second instance has no frame file of its own: $(ls "$tmp/Vestibell")"
  # The first instance's own window: its Accept dialog answers, its
  # hang-up key ends the call, its call key dials.
  ring 1
  answer 1
  until_true 5 in_call 1 || fail "instance 1 does not show the hang-up key"
  ended=$(status_of sip_ended)
  click 1 $key_x $key_y
  until_true 5 status_is sip_ended $((ended + 1)) || fail "hang-up did not end the call"
  expect_idle "hang-up" 1 2
  incoming=$(status_of sip_incoming)
  click 1 $key_x $key_y
  until_true 5 status_is sip_incoming $((incoming + 1)) || fail "the call key dialled nothing"
  until_true 5 in_call 1 || fail "the dialling instance shows no hang-up key"
  ended=$(status_of sip_ended)
  click 1 $key_x $key_y
  until_true 5 status_is sip_ended $((ended + 1)) || fail "hang-up did not end the dialled call"
  expect_idle "dialled call hung up" 1 2
  [ -z "$(ls -A "$tmp/away")" ] || fail "files were made through the link: $(ls -A "$tmp/away")"
  echo "PASS (refused): said once, numbered apart, one core, the second's own frame file, answer, hang-up and dial through the own window"
  ;;
handover)
  for during in idle call; do
    label="handover $during"
    start_instance 1 "$door" 0
    start_instance 2 "$door" 360
    remember_idle 1 2
    # Both instances serve the caller's door unit: both take the call.
    ring 1
    answer 1
    until_true 5 in_call 1 || fail "instance 1 does not show the hang-up key"
    until_true 5 in_call 2 || fail "instance 2 does not show the hang-up key"
    # The core owner's own hang-up key.
    click 1 $key_x $key_y
    until_true 5 status_is sip_in_call 0 || fail "hang-up did not end the call"
    expect_idle "hang-up" 1 2
    # The core owner dials for itself.
    incoming=$(status_of sip_incoming)
    click 1 $key_x $key_y
    until_true 5 status_is sip_incoming $((incoming + 1)) || fail "no INVITE from the core owner"
    until_true 5 in_call 1 || fail "the core owner shows no hang-up key"
    is_idle 2 || fail "instance 2 shows the core owner's call"
    sim hangup >/dev/null
    expect_idle "the door hung up" 1 2
    if [ $during = call ]; then
      ring 1
      answer 1
      ended=$(status_of sip_ended)
    fi
    kill "${pid[1]}"
    wait "${pid[1]}" || fail "instance 1 ended with $?"
    if [ $during = call ]; then
      until_true 5 status_is sip_ended $((ended + 1)) || fail "closing did not end the call"
      expect_idle "the core owner closed" 2
    fi
    until_true 10 [ "$(sockets_on_port "${pid[2]}")" -gt 0 ] || fail "the survivor made no core"
    ring 2
    press_ok 2 door
    until_true 5 status_is sip_in_call 1 || fail "the survivor did not answer"
    until_true 5 in_call 2 || fail "the survivor shows no hang-up key"
    click 2 $key_x $key_y
    until_true 5 status_is sip_in_call 0 || fail "the survivor did not hang up"
    kill "${pid[2]}"
    wait "${pid[2]}" || fail "instance 2 ended with $?"
  done
  echo "PASS (handover): both matched, own dialling, hand-over idle and during a call"
  ;;
esac
