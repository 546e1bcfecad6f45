# Sourced by the X display tests: start_xvfb GEOMETRY starts a virtual X
# server on a display number it picks itself (so tests running side by side
# never race for one), appends its pid to the array `pids` and exports
# DISPLAY. Needs $tmp, a folder of the caller's.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768x24}" -nolisten tcp \
    3>"$tmp/.display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    [ -s "$tmp/.display" ] && break
    sleep 0.05
  done
  [ -s "$tmp/.display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n 1 "$tmp/.display")
}
