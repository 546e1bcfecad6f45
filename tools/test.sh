#!/bin/bash
# Installs what is missing, builds, and runs every test.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
cd "${BUILD:-$top/build}"
# The tests start the program, the simulator and X servers: loopback only.
"$top/tools/loopback-only.sh" ctest --output-on-failure -j2 --timeout 300
