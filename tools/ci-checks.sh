#!/bin/bash
# The checks CI runs after the tests: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded ones under ThreadSanitizer, the
# stream parser's fuzzer for a minute, and a short soak. Bounded in time;
# loopback only. Needs the packages of tools/install-deps.sh.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
# Everything here starts the program or the simulator: loopback only.
[ -n "${VESTIBELL_LOOPBACK_ONLY:-}" ] || exec "$top/tools/loopback-only.sh" "$0" "$@"
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

echo "== ThreadSanitizer: the reader, relays, timers, drawing from threads, pop-up rules, dialogs, sound, calls, the message space, the SIP thread's wait, the visitors' record, the Visitors window's worker"
threaded=(test_live test_window test_http test_skin test_startup test_popup_rules
  test_sip_core test_dialog_box test_sound test_program_calls doorsim
  test_message_space space_peer test_net test_visits test_visits_live
  test_desktop)
cmake -S . -B build-tsan -G Ninja -DVESTIBELL_BENCH=OFF \
  -DVESTIBELL_SANITIZE=thread >/dev/null
cmake --build build-tsan --target "${threaded[@]}" >/dev/null
(
  cd build-tsan
  export TSAN_OPTIONS="suppressions=$supp/tsan.supp halt_on_error=1"
  export QT_QPA_PLATFORM=offscreen
  for t in tests/events/test_live tests/platform/test_window \
    tests/platform/test_http tests/skin/test_skin tests/shell/test_startup \
    tests/video/test_popup_rules tests/telephony/test_sip_core \
    tests/platform/test_dialog_box tests/platform/test_sound \
    tests/telephony/test_program_calls tests/platform/test_message_space \
    tests/platform/test_net tests/visits/test_visits \
    tests/visits/test_visits_live tests/desktop/test_desktop; do
    echo "-- $t"
    timeout 1200 "./$t" --gtest_brief=1 || status=$?
    # A test stopped by a finding leaves its helpers (the simulator, a
    # registrar, a sound server) running with this script's output open.
    pkill -f 'doorsim --listen 127\.0\.0\.1:0' || true
    pkill -f 'kamailio-registrar\.cfg' || true
    pkill -f 'pulseaudio -n --daemonize=no --exit-idle-time=-1' || true
    [ "${status:-0}" = 0 ] || exit "$status"
  done
  # The reader again on a real X server, where frames reach the screen
  # through shared memory from the reader's own thread.
  exec 3>display.txt
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb=$!
  exec 3>&-
  trap 'kill $xvfb 2>/dev/null' EXIT
  for _ in $(seq 200); do [ -s display.txt ] && break; sleep 0.05; done
  echo "-- tests/events/test_live on display :$(cat display.txt)"
  DISPLAY=:$(cat display.txt) QT_QPA_PLATFORM=xcb \
    timeout 1200 ./tests/events/test_live --gtest_brief=1
  kill $xvfb
  wait $xvfb 2>/dev/null || true
  trap - EXIT
)

echo "== Fuzzing the stream parser, caller parsing, the SIP datagram guard and the message frame"
FUZZ_BUILD_DIR=$top/build-fuzz ./tools/fuzz.sh 60
FUZZ_BUILD_DIR=$top/build-fuzz ./tools/fuzz.sh 60 caller_fuzz
FUZZ_BUILD_DIR=$top/build-fuzz ./tools/fuzz.sh 60 sip_guard_fuzz
FUZZ_BUILD_DIR=$top/build-fuzz ./tools/fuzz.sh 30 message_frame_fuzz

echo "== Soak: 50 faults in a row"
./tools/soak.sh 50
