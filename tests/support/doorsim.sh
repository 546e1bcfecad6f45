# Sourced by scripts that drive the door-unit simulator.
# start_doorsim LOG [OPTION...]: starts it on a free loopback port (or on
# $doorsim_listen, ADDR:PORT, when set), appends its pid to `pids` and sets
# `port`. The program is $doorsim when set, else the one built under $bin.
start_doorsim() {
  local log=$1
  shift
  "${doorsim:-$bin/tools/doorsim/doorsim}" --listen "${doorsim_listen:-127.0.0.1:0}" \
    "$@" >"$log" 2>&1 &
  pids+=($!)
  port=""
  for _ in $(seq 200); do
    port=$(sed -n '1s/^listening 127\.[0-9.]*:\([0-9]*\)$/\1/p' "$log")
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "the simulator did not start; see $log"
  exit 1
}

# sim_sip_port LOG: prints the port of the SIP side a simulator started
# with --sip names in its log, once it is there (nothing if it never is).
sim_sip_port() {
  local sip=""
  for _ in $(seq 100); do
    sip=$(sed -n 's/^sip 127\.[0-9.]*:\([0-9]*\)$/\1/p' "$1")
    [ -n "$sip" ] && break
    sleep 0.05
  done
  echo "$sip"
}

# sim COMMAND: a control command over plain HTTP ("ring?flag=1", "drop",
# "status") to the simulator on $port (at $sim_host, default 127.0.0.1);
# prints the answer's body.
sim() {
  exec 3<>"/dev/tcp/${sim_host:-127.0.0.1}/$port" || return 1
  printf 'GET /sim/%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
  sed '1,/^\r$/d' <&3
  exec 3>&-
}

# status_of NAME: a number of the simulator's status; status_is NAME VALUE.
status_of() { sim status | sed -n "s/.*\"$1\":\([0-9]*\).*/\1/p"; }
status_is() { [ "$(status_of "$1")" = "$2" ]; }

# until_true SECONDS CONDITION...: true once the condition holds.
until_true() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
