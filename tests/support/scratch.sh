# Sourced by the scripts that start processes of their own: a scratch folder
# $tmp, the array `pids` of what was started (ended in reverse order when
# the script exits, the folder removed), `need TOOL...` to skip (exit 77)
# where a tool is missing, and `fail TEXT`.
need() {
  for tool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}
tmp=$(mktemp -d)
pids=()
# Politely first: an X server killed outright leaves its lock and socket
# behind, and two servers starting later may then both claim that display.
cleanup() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p=${pids[i]}
    kill -TERM "$p" 2>/dev/null || continue
    for _ in $(seq 30); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL${label:+ ($label)}: $*"; exit 1; }
