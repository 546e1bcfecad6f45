#!/bin/bash
# The checks CI runs after the tests: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded ones under ThreadSanitizer, the
# stream parser's fuzzer for a minute, and a short soak. Bounded in time;
# loopback only. Needs the packages of tools/install-deps.sh.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
supp=$top/tests/sanitizers
cd "$top"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
BUILD=$top/build-asan ./tools/build.sh -DVESTIBELL_BENCH=OFF \
  -DVESTIBELL_SANITIZE=address,undefined >/dev/null
(
  cd build-asan
  export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  ctest --output-on-failure -j2 --timeout 600
)

echo "== ThreadSanitizer: the reader, relays, timers and drawing from threads"
threaded=(test_live test_window test_http test_skin test_startup doorsim)
cmake -S . -B build-tsan -G Ninja -DVESTIBELL_BENCH=OFF \
  -DVESTIBELL_SANITIZE=thread >/dev/null
cmake --build build-tsan --target "${threaded[@]}" >/dev/null
(
  cd build-tsan
  export TSAN_OPTIONS="suppressions=$supp/tsan.supp halt_on_error=1"
  export QT_QPA_PLATFORM=offscreen
  for t in tests/events/test_live tests/platform/test_window \
    tests/platform/test_http tests/skin/test_skin tests/shell/test_startup; do
    echo "-- $t"
    timeout 1200 "./$t" --gtest_brief=1
  done
)

echo "== Fuzzing the stream parser"
FUZZ_BUILD_DIR=$top/build-fuzz ./tools/fuzz.sh 60

echo "== Soak: 50 faults in a row"
./tools/soak.sh 50
