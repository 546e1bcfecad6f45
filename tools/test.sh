#!/bin/bash
# Installs what is missing, builds, and runs every test.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
cd "${BUILD:-$top/build}"
ctest --output-on-failure -j2 --timeout 300
