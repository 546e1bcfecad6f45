#!/bin/bash
# The skinned window under a real pointer on a real X server, with no window
# manager ("bare") or with one ("wm"): dragging the top strip moves it,
# dragging the grip resizes it down to its minimum and no further, and each
# button lights under the pointer.
#   xvfb_pointer.sh PROGRAM bare|wm
set -u
prog=$1
mode=${2:-bare}

label=$mode
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb xdotool xwininfo import convert
[ "$mode" = wm ] && need openbox
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 1024x768x24
export ALLUSERSPROFILE=$tmp XDG_RUNTIME_DIR=$tmp
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
if [ "$mode" = wm ]; then
  start_openbox
fi

# Not connected, but with a background picture of its own: the window keeps
# the size it is given.
mkdir -p "$tmp/Vestibell" "$tmp/run/Skin"
printf '[Window 0]\nIP_addr=127.0.0.1:9\nLeft=100\nTop=80\nWidth=336\nHeight=301\n' \
  >"$tmp/Vestibell/Vestibell.ini"
convert -size 64x48 xc:gray40 "$tmp/run/Skin/pozadi.jpg"
cd "$tmp/run"
start_program

geometry() { # left top width height, of the window's visible area
  xwininfo -id "$win" | awk -F: '
    /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /  Width/ {w=$2} /  Height/ {h=$2}
    END {gsub(/ /,"",x); gsub(/ /,"",y); gsub(/ /,"",w); gsub(/ /,"",h); print x, y, w, h}'
}
settle() { sleep 0.4; }
# Before a release: the window has followed the last move (waited for, up
# to 3 s, as a loaded machine lags), so the release ends the drag where the
# pointer is. PATTERN matches "left top width height".
followed() { # PATTERN
  for _ in $(seq 30); do
    [[ "$(geometry)" == $1 ]] && return 0
    sleep 0.1
  done
  return 0
}
read -r x y w h < <(geometry)
[ "$w $h" = "336 301" ] || fail "starts at ${w}x${h}"

# Drag the top strip by (+100, +60).
xdotool mousemove $((x + 150)) $((y + 10)) mousedown 1
for s in 1 2 3 4 5; do xdotool mousemove $((x + 150 + 20 * s)) $((y + 10 + 12 * s)); sleep 0.05; done
followed "$((x + 100)) $((y + 60)) * *"
xdotool mouseup 1
settle
read -r x2 y2 w2 h2 < <(geometry)
[ $((x2 - x)) -ge 95 ] && [ $((x2 - x)) -le 105 ] && [ $((y2 - y)) -ge 55 ] && [ $((y2 - y)) -le 65 ] ||
  fail "drag moved the window from $x,$y to $x2,$y2"
[ "$w2 $h2" = "336 301" ] || fail "drag changed the size to ${w2}x${h2}"
x=$x2 y=$y2

# Drag the grip far up and left: the window stops at its minimum size.
xdotool mousemove $((x + w - 4)) $((y + h - 4)) mousedown 1
for s in 1 2 3 4 5; do xdotool mousemove $((x + w - 4 - 80 * s)) $((y + h - 4 - 60 * s)); sleep 0.05; done
followed "* * 268 61"
xdotool mouseup 1
settle
read -r x3 y3 w3 h3 < <(geometry)
[ "$w3 $h3" = "268 61" ] || fail "the grip made it ${w3}x${h3}, not 268x61"
[ "$x3 $y3" = "$x $y" ] || fail "resizing moved the window"

# And out again, larger than it started.
xdotool mousemove $((x + w3 - 4)) $((y + h3 - 4)) mousedown 1
for s in 1 2 3 4 5; do xdotool mousemove $((x + w3 - 4 + 80 * s)) $((y + h3 - 4 + 70 * s)); sleep 0.05; done
followed "* * 668 411"
xdotool mouseup 1
settle
read -r x4 y4 w4 h4 < <(geometry)
[ "$w4 $h4" = "668 411" ] || fail "growing gave ${w4}x${h4}"

# Back to the default size for the buttons' places.
xdotool mousemove $((x + w4 - 4)) $((y + h4 - 4)) mousedown 1
for s in 1 2 3 4 5; do
  xdotool mousemove $((x + w4 - 4 - (w4 - 336) * s / 5)) $((y + h4 - 4 - (h4 - 301) * s / 5))
  sleep 0.05
done
followed "* * 336 301"
xdotool mouseup 1
settle
read -r _ _ w h < <(geometry)
[ "$w $h" = "336 301" ] || fail "could not size back: ${w}x${h}"

# Each button: its area looks different under the pointer than away from it.
crop() { import -window root -crop "$1" rgb:- 2>/dev/null | md5sum; }
away() { xdotool mousemove $((x + 150)) $((y + 150)); sleep 0.3; }
for button in "relay1 280 280 247 266 73 35" "relay2 200 280 174 266 73 35" \
  "call 130 280 101 266 73 35" "settings 276 10 266 0 70 26" \
  "hide 296 10 266 0 70 26" "close 316 10 266 0 70 26"; do
  read -r name bx by ax ay aw ah <<<"$button"
  area="${aw}x${ah}+$((x + ax))+$((y + ay))"
  away
  before=$(crop "$area")
  xdotool mousemove $((x + bx)) $((y + by)); sleep 0.3
  lit=$(crop "$area")
  away
  after=$(crop "$area")
  [ "$before" != "$lit" ] || fail "$name does not light under the pointer"
  [ "$before" = "$after" ] || fail "$name stays lit after the pointer left"
done
# The close button ends the program, which saves where the window was.
xdotool mousemove $((x + 316)) $((y + 10)) sleep 0.3 click 1
for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
wait $program
code=$?
[ $code = 0 ] || fail "the close button ended the program with $code"
ini=$tmp/Vestibell/Vestibell.ini
for kv in "Left=$x" "Top=$y" "Width=336" "Height=301"; do
  grep -qx "$kv" "$ini" || fail "after closing, $kv is not saved: $(tr '\n' ' ' <"$ini")"
done
echo "PASS ($mode): drag, resize to 268x61 and back, six buttons light, close saves the place"
