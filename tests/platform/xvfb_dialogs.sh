#!/bin/bash
# The three call dialogs under a window manager: each opens over its owner
# with the program's icon, the client size of its template in dialog units
# of Arial 8 (6 x 12 pixel base units), kept above other windows, owned by
# the owner window; Escape reaches the procedure as Cancel. Screenshots go
# to SCREENS.
#   xvfb_dialogs.sh DIALOG_SHOW SCREENS
set -u
prog=$1
screens=$2

source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo xprop import openbox
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 640x480x24
start_openbox
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export XDG_RUNTIME_DIR=$tmp
mkdir -p "$screens"

# id, title, client width and height in pixels: 120 x 45 units are
# 180 x 68 pixels, 105 x 55 units 158 x 83.
while read -r id title width height; do
  label=$id
  "$prog" "$id" &
  shown=$!
  pids+=($shown)
  dlg=$(shown_window "^$title\$")
  [ -n "$dlg" ] || fail "no dialog titled $title"
  sleep 0.5
  read -r w h < <(xwininfo -id "$dlg" | awk -F: '
    /  Width/ {w=$2} /  Height/ {h=$2} END {print w+0, h+0}')
  [ "$w x $h" = "$width x $height" ] || fail "client ${w}x$h, want ${width}x$height"
  props=$(xprop -id "$dlg")
  grep -q '_NET_WM_STATE_ABOVE' <<<"$props" || fail "not kept above"
  grep -q 'WM_TRANSIENT_FOR(WINDOW)' <<<"$props" || fail "not owned"
  grep -q '_NET_WM_ICON(CARDINAL)' <<<"$props" || fail "no icon"
  import -window root "$screens/dialog_$id.png"
  # Escape is a cancel command: the test procedure ends the dialog on any.
  xdotool windowactivate --sync "$dlg" key Escape 2>/dev/null ||
    xdotool key --window "$dlg" Escape
  if [ "$id" = 118 ]; then
    # The worker's DialogBoxParam returns IDCANCEL and ends the program.
    for _ in $(seq 50); do kill -0 $shown 2>/dev/null || break; sleep 0.1; done
    wait $shown
    code=$?
    [ $code = 2 ] || fail "DialogBoxParam gave $code, want 2 (IDCANCEL)"
  else
    for _ in $(seq 50); do
      xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || break
      sleep 0.1
    done
    xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 &&
      fail "Escape left the dialog open"
    kill $shown
    wait $shown 2>/dev/null
  fi
done <<'TABLE'
124 door-unit 180 68
123 door-unit 180 68
118 Authentication 158 83
TABLE
# Without a window manager nothing keeps a dialog above its owner but the
# program: the owner hidden and shown again (a ring) must not bury it.
label=bare
kill "${pids[1]}" 2>/dev/null # openbox
sleep 0.5
"$prog" 124 reraise &
pids+=($!)
sleep 2
order=$(xwininfo -root -children | grep -E '"(door-unit|Vestibell_1\.39)"' |
  sed -E 's/.*"(door-unit|Vestibell_1\.39)".*/\1/' | tr '\n' ' ')
[ "$order" = "door-unit Vestibell_1.39 " ] ||
  fail "stacking from the top: $order; the dialog must stay above its owner"
echo "PASS: the call dialogs open as laid out; screenshots in $screens"
