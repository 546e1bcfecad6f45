# Sourced by the X display tests: start_xvfb GEOMETRY [XVFB-OPTION...]
# starts a virtual X server on a display number it picks itself (so tests running side by side
# never race for one), appends its pid to the array `pids` and exports
# DISPLAY. Needs $tmp, a folder of the caller's.
start_xvfb() {
  local attempt server geometry=${1:-1024x768x24}
  shift $(($# > 0))
  # -noreset: by default the server resets when its last client leaves (the
  # check below is its first), and a program connecting during that reset
  # is turned away.
  for attempt in 1 2 3; do
    rm -f "$tmp/.display"
    Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset "$@" \
      3>"$tmp/.display" >>"$tmp/xvfb.log" 2>&1 &
    server=$!
    pids+=($server)
    for _ in $(seq 200); do
      [ -s "$tmp/.display" ] && break
      sleep 0.05
    done
    export DISPLAY=:$(head -n 1 "$tmp/.display" 2>/dev/null)
    # A server that lost its display to another one starting at the same
    # moment answers nobody; start another.
    if [ -s "$tmp/.display" ] && xdpyinfo >/dev/null 2>&1; then
      return 0
    fi
    kill "$server" 2>/dev/null || true
  done
  echo "FAIL: Xvfb did not start"
  exit 1
}

# start_openbox: starts the window manager, appends it to `pids` and
# returns once it runs: a window mapped, or minimized, while it is still
# starting is adopted later as a plain window and the request is lost.
start_openbox() {
  openbox >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  sleep 0.5 # past the property, it still takes the windows already there
}

# start_program: starts $prog, appends it to `pids`, sets `program` to its
# pid and `win` to its main window once that is on the display (found by
# the pattern $window_name, by default the program's own title).
start_program() {
  "$prog" &
  program=$!
  pids+=($program)
  win=""
  # Generous: under the sanitizers, beside other tests, starting takes long.
  for _ in $(seq 400); do
    win=$(xdotool search --name "${window_name:-^Vestibell_1\.39\$}" 2>/dev/null |
      head -n 1)
    [ -n "$win" ] && break
    sleep 0.05
  done
  if [ -z "$win" ]; then
    if ! kill -0 "$program" 2>/dev/null; then
      wait "$program"
      local code=$?
      echo "X server on $DISPLAY: $(xdpyinfo >/dev/null 2>&1 && echo answers || echo gone)"
      tail -n 20 "$tmp/xvfb.log"
      fail "no window: the program ended with $code"
    fi
    fail "no window: $(xdotool search --name . getwindowname %@ 2>/dev/null | tr '\n' '|')"
  fi
  sleep 0.5
}

# shown_window PATTERN: waits up to 10 s for a shown window whose name
# matches and prints its id (nothing if none comes).
shown_window() {
  local found=""
  for _ in $(seq 100); do
    found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    [ -n "$found" ] && break
    sleep 0.1
  done
  echo "$found"
}

# docked_icon: waits up to 5 s for the program's 22x22 icon in a tray and
# sets `icon` to it; fails when it never docks.
docked_icon() {
  icon=""
  for _ in $(seq 100); do
    icon=$(xwininfo -root -tree | awk '/"vestibell": \("vestibell" "vestibell"\)  22x22/ {print $1}' | head -n 1)
    [ -n "$icon" ] && return 0
    sleep 0.05
  done
  fail "the icon never docked"
}
