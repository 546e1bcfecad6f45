#!/usr/bin/env bash
# Builds a fuzz target with clang (libFuzzer, ASan, UBSan) in a build folder
# of its own and runs it for a number of seconds.
#   tools/fuzz.sh [SECONDS] [TARGET]   (default 60, mjpeg_parser_fuzz;
#                                       also caller_fuzz,
#                                       sip_guard_fuzz, message_frame_fuzz)
# Environment: FUZZ_BUILD_DIR (default build-fuzz in the repository),
# FUZZ_JOBS (parallel fuzzing processes, default 1).
# Exits non-zero when the fuzzer finds a crash; the input that caused it is
# left in $FUZZ_BUILD_DIR/artifacts.
set -euo pipefail

seconds="${1:-60}"
target="${2:-mjpeg_parser_fuzz}"
root="$(cd "$(dirname "$0")/.." && pwd)"
source_dir="${FUZZ_SOURCE_DIR:-$root}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${FUZZ_JOBS:-1}"

if ! command -v clang++ >/dev/null || ! command -v ninja >/dev/null; then
  apt-get update -qq
  apt-get install -y -qq clang libclang-rt-dev ninja-build cmake
fi

cmake -S "$source_dir" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESTIBELL_FUZZ=ON -DVESTIBELL_TESTS=OFF -DVESTIBELL_BENCH=OFF >/dev/null
cmake --build "$build" --target "$target"

# Each target's seeds and dictionary.
case "$target" in
mjpeg_parser_fuzz) seeds="$root/fuzz/corpus" dict=(-dict="$root/fuzz/mjpeg.dict") ;;
caller_fuzz) seeds="$root/fuzz/caller_corpus" dict=() ;;
sip_guard_fuzz) seeds="$root/fuzz/sip_guard_corpus" dict=(-dict="$root/fuzz/sip.dict") ;;
message_frame_fuzz) seeds="$root/fuzz/message_frame_corpus" dict=() ;;
*) echo "$0: unknown target $target" >&2; exit 2 ;;
esac

# The committed seeds stay as they are; new finds go to a working corpus.
work="$build/corpus-$target"
mkdir -p "$work" "$build/artifacts"
fuzzer="$(find "$build" -name "$target" -type f -perm -u+x | head -n 1)"
echo "fuzzing $fuzzer for ${seconds}s"
parallel=()
if [ "$jobs" -gt 1 ]; then
  parallel=(-jobs="$jobs" -workers="$jobs")
fi
"$fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
  "${parallel[@]}" -print_final_stats=1 \
  "${dict[@]}" -artifact_prefix="$build/artifacts/" \
  "$work" "$seeds"
