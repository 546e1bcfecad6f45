#!/bin/bash
# Configures and builds everything into build/ (or the folder in $BUILD).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build"
