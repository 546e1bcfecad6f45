#!/bin/bash
# CI for the Debian package, on a Debian 12 machine as root (or with sudo):
# builds it with dpkg-buildpackage from a copy of the tree, runs lintian,
# installs it with apt-get, starts the installed program for a few seconds
# on a virtual X server against the installed simulator (loopback only: the
# run happens inside tools/loopback-only.sh), purges the package and checks
# that nothing it installed is left in /usr. The package and a screenshot
# of the run are kept in out/package/.
#   tools/package-check.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=$top/out/package
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

# The part that runs the installed program: called again inside the
# network namespace, with the scratch folder as its argument.
if [ "${1:-}" = --run-installed ]; then
  work=$2
  [ -n "${VESTIBELL_LOOPBACK_ONLY:-}" ] || { echo "not loopback-only" >&2; exit 1; }
  pids=()
  cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
      kill -TERM "${pids[i]}" 2>/dev/null || continue
      for _ in $(seq 30); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "${pids[i]}" 2>/dev/null || true
    done
  }
  trap cleanup EXIT
  fail() { echo "FAIL: $*" >&2; exit 1; }
  [ "$(command -v vestibell)" = /usr/bin/vestibell ] || fail "vestibell is not /usr/bin/vestibell"
  [ "$(command -v vestibell-doorsim)" = /usr/bin/vestibell-doorsim ] || fail "no /usr/bin/vestibell-doorsim"

  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=:$(head -n 1 "$work/display")

  vestibell-doorsim --listen 127.0.0.1:0 --fps 10 --title "Package check" \
    --log "$work/doorsim.log" >"$work/doorsim.out" 2>&1 </dev/null &
  pids+=($!)
  port=""
  for _ in $(seq 200); do
    port=$(sed -n '1s/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/doorsim.out")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || fail "the installed simulator did not start"

  # Settings of its own: the simulator's address, SIP on loopback only.
  mkdir -p "$work/data/Vestibell" "$work/run"
  chmod 700 "$work/run"
  printf '[Window 0]\nIP_addr=127.0.0.1:%s\nLeft=40\nTop=30\nWidth=480\nHeight=360\n[SIP]\nUseSIP=0\nSIP_bind_addr=127.0.0.1\nSIP_port=0\n' \
    "$port" >"$work/data/Vestibell/Vestibell.ini"
  # Started as the desktop entry starts it: in the folder its Path= names.
  path=$(sed -n 's/^Path=//p' /usr/share/applications/vestibell.desktop)
  [ "$path" = /usr/share/vestibell ] || fail "the desktop entry's Path= is '$path'"
  (
    cd "$path"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
    ALLUSERSPROFILE=$work/data XDG_RUNTIME_DIR=$work/run exec vestibell
  ) >"$work/vestibell.log" 2>&1 &
  program=$!
  pids+=($program)

  win=""
  for _ in $(seq 200); do
    win=$(xdotool search --name '^(Vestibell_1\.39|Package check)$' 2>/dev/null | head -n 1)
    [ -n "$win" ] && break
    sleep 0.05
  done
  [ -n "$win" ] || fail "no window of the installed program"
  echo "window up: $(xdotool getwindowname "$win")"
  for _ in $(seq 100); do
    grep -q 'stream 1 open' "$work/doorsim.log" && break
    sleep 0.05
  done
  grep -q 'stream 1 open' "$work/doorsim.log" || fail "the simulator saw no stream connection"
  echo "simulator: $(grep -m1 'stream 1 open' "$work/doorsim.log")"
  # The data folder's background picture keeps the user's size: without
  # one the window takes the skin's natural size while it connects.
  size=$(xwininfo -id "$win" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
  [ "$size" = 480x360 ] || fail "the window is $size, not the saved 480x360"
  echo "saved size kept: $size"

  # The picture flows: the video area changes between two looks.
  sleep 2
  area=320x240+48+56
  a=$(import -window root -crop $area -depth 8 rgb:- 2>/dev/null | md5sum)
  sleep 0.6
  b=$(import -window root -crop $area -depth 8 rgb:- 2>/dev/null | md5sum)
  import -window root "$work/screenshot.png" 2>/dev/null || true
  [ "$a" != "$b" ] || fail "the picture does not move"
  echo "picture flowing"

  kill -TERM "$program"
  status=0
  for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.05; done
  wait "$program" || status=$?
  [ "$status" -eq 0 ] || fail "the program ended with status $status on SIGTERM"
  echo "closed cleanly on SIGTERM"
  exit 0
fi

"$top/tools/install-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/src"

echo "== Building the package"
(cd "$top" && git ls-files -co --exclude-standard -z) |
  (cd "$top" && tar --null -cf - -T -) | tar -xf - -C "$work/src"
(cd "$work/src" && dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1) ||
  { tail -n 40 "$work/build.log"; echo "FAIL: dpkg-buildpackage"; exit 1; }
deb=$(ls "$work"/vestibell_*.deb)
cp "$work"/*.deb "$out/"
echo "built $(basename "$deb")"
dpkg-deb -f "$deb" Depends Recommends

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || { echo "FAIL: lintian"; exit 1; }

echo "== Installing"
if dpkg-query -W -f='${Status}' vestibell 2>/dev/null | grep -q installed; then
  echo "removing the vestibell package already installed"
  "${sudo[@]}" apt-get purge -y -qq vestibell >/dev/null
fi
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; echo "FAIL: apt-get install"; exit 1; }
dpkg -L vestibell >"$work/files"

echo "== Running the installed program"
status=0
"$top/tools/loopback-only.sh" "$0" --run-installed "$work" || status=$?
cp "$work/screenshot.png" "$out/" 2>/dev/null || true

echo "== Removing"
"${sudo[@]}" apt-get purge -y -qq vestibell >/dev/null
left=0
while IFS= read -r path; do
  case $path in /usr/*) ;; *) continue ;; esac
  if [ -d "$path" ]; then
    # A folder may stay only when another package owns it too.
    dpkg-query -S "$path" >/dev/null 2>&1 || { echo "left: $path"; left=1; }
  elif [ -e "$path" ] || [ -L "$path" ]; then
    echo "left: $path"
    left=1
  fi
done <"$work/files"
[ "$status" -eq 0 ] || { echo "FAIL: the installed program"; exit 1; }
[ "$left" -eq 0 ] || { echo "FAIL: the package left files in /usr"; exit 1; }
echo "nothing left in /usr ($(grep -c '^/usr/' "$work/files") paths checked)"
echo "package check OK: $out/$(basename "$deb")"
