#!/bin/bash
# What the window tells the user, on a real X server: runs one case of the
# test program TOLD (a gtest filter) with a display of its own, in a
# network of its own where the simulated door unit may answer SIP on port
# 5060 (the call key dials the door unit's host there), and with a name
# server on loopback that answers nobody, so that a name lookup fails at
# once without leaving loopback. Screenshots go to SCREENS.
#   xvfb_told.sh TOLD CASE SCREENS
set -u
told=$1
case=$2
screens=$3
mkdir -p "$screens"
if [ -z "${VESTIBELL_OWN_NETWORK:-}" ] && unshare --net true 2>/dev/null; then
  resolver="$screens/resolv.conf"
  echo 'nameserver 127.0.0.1' >"$resolver"
  if unshare --net --mount true 2>/dev/null && [ -e /etc/resolv.conf ]; then
    exec env VESTIBELL_OWN_NETWORK=1 VESTIBELL_LOOPBACK_RESOLVER="$resolver" \
      unshare --net --mount -- bash -c \
      'ip link set lo up && mount --bind "$VESTIBELL_LOOPBACK_RESOLVER" /etc/resolv.conf && exec "$@"' \
      bash "$0" "$@"
  fi
  exec env VESTIBELL_OWN_NETWORK=1 unshare --net -- \
    bash -c 'ip link set lo up && exec "$@"' bash "$0" "$@"
fi

label=$case
source "$(dirname "$0")/../support/scratch.sh"
need Xvfb import
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 640x400x24
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export SCREENS=$screens
cd "$tmp"
"$told" --gtest_filter="$case" || fail "see above"
echo "PASS ($case)"
