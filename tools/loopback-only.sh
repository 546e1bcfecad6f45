#!/bin/bash
# Runs a command in a network namespace of its own that has only loopback,
# so nothing it starts (the program, the simulator, a SIP core) can reach an
# address outside 127.0.0.0/8: a stray address fails at once instead of
# leaving the machine. As root the namespace is made directly; otherwise
# through a user namespace, where the kernel allows one.
#   tools/loopback-only.sh COMMAND [ARG...]
set -eu
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }

export VESTIBELL_LOOPBACK_ONLY=1
inner='ip link set lo up && exec "$@"'
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --net -- bash -c "$inner" bash "$@"
fi
if unshare --user --map-root-user --net true 2>/dev/null; then
  exec unshare --user --map-root-user --net -- bash -c "$inner" bash "$@"
fi
echo "$0: cannot make a network namespace here (not root, no user" \
  "namespaces); refusing to run without one" >&2
exit 1
