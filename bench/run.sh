#!/bin/bash
# The benchmark: component figures (bench_frame), the whole program against
# the simulator on a virtual display (bench_process), with ffmpeg's and
# mpv's figures on the same pictures beside the program's, and the program's
# telephony against the simulator's SIP side and a loopback kamailio
# (bench_sip), and the exchanges between copies (bench_instances, bench_protocol).
# Prints figures only.
#
#   bench/run.sh            about 10 minutes; memory up to 10,000 frames and
#                           500 calls (after 40 s of calls: bench_sip.cpp)
#   bench/run.sh --quick    about 3 minutes; shorter samples, 1,000 frames,
#                           100 calls
#   bench/run.sh --long     memory up to 100,000 frames (the program renews
#                           its stream every 102 frames after a 1 s pause,
#                           so this alone takes about 20 minutes)
#   bench/run.sh MODE [bench_process options]
#                           e.g. --quick --sections live,cpu --repeat 3:
#                           only those figures, medians of three samples
#                           (--baseline PROGRAM: another build measured live
#                           beside this one, in the same samples); the
#                           component figures are left out when --sections
#                           is given, the SIP figures unless it names sip
#
# BUILD (default build-bench beside the source) is built in Release mode.
# The camera-like pictures are made once with ffmpeg and kept in
# $BUILD/bench-frames.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build-bench}
args=("$@")
mode=${1:-}
[ $# -gt 0 ] && shift
extra=("$@")
components=1 process=1 sip=1
next=
for a in ${extra[@]+"${extra[@]}"}; do
  if [ "$next" = sections ]; then
    case ",$a," in *,sip,*) ;; *) sip=0 ;; esac
    [ "$a" = sip ] && process=0
  fi
  next=
  [ "$a" = --sections ] && { components=0; next=sections; }
done

"$top/tools/install-deps.sh"
# The live figures' second peer: only the benchmark needs it, so it is not
# among the project's packages, which CI installs.
if ! dpkg-query -W -f='${Status}' mpv 2>/dev/null | grep -q 'install ok installed'; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  { "${sudo[@]}" apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
      --no-install-recommends mpv; } >/dev/null ||
    echo "mpv could not be installed: its figures are left out"
fi
# The program and the simulator run where only loopback is reachable.
[ -n "${VESTIBELL_LOOPBACK_ONLY:-}" ] ||
  exec "$top/tools/loopback-only.sh" "$0" "${args[@]}"

[ -f "$build/build.ninja" ] ||
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vestibell doorsim bench_frame bench_process \
  bench_sip bench_instances bench_protocol >/dev/null

# Camera-like sequences: a moving test scene with sensor noise, so the
# pictures are neither trivially small nor all alike.
frames=$build/bench-frames
make_frames() { # size folder
  [ -f "$2/f0100.jpg" ] && return 0
  mkdir -p "$2"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$1:rate=25" \
    -vf "noise=alls=10:allf=t+u" -frames:v 100 -q:v 4 "$2/f%04d.jpg"
}
make_frames 640x480 "$frames/640x480"
make_frames 1920x1080 "$frames/1920x1080"

args=(--seconds 15 --rings 20 --drops 5 --memory-frames 10000)
sip_args=(--calls 20 --hangups 10 --idle-seconds 30 --memory-calls 500)
instance_args=(--sends 20000) protocol_args=(--rounds 15)
bench_time=0.5
case "$mode" in
--quick)
  args=(--seconds 5 --rings 5 --drops 3 --memory-frames 1000)
  sip_args=(--calls 10 --hangups 5 --idle-seconds 10 --memory-calls 100)
  instance_args=(--sends 5000) protocol_args=(--rounds 5)
  bench_time=0.1 ;;
--long) args=(--seconds 15 --rings 20 --drops 5 --memory-frames 100000) ;;
""|-) ;;
*) echo "usage: $0 [--quick|--long|-] [bench_process options]"; exit 2 ;;
esac

if [ $components = 1 ]; then
  echo "== Stages of the video path (bench_frame) =="
  QT_QPA_PLATFORM=offscreen "$build/bench/bench_frame" \
    --benchmark_min_time=$bench_time 2>/dev/null
fi

# A virtual display of our own for the program's window.
for n in $(seq 171 240); do
  if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then disp=$n; break; fi
done
Xvfb :$disp -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$disp ] && break; sleep 0.05; done

if [ $process = 1 ]; then
  echo
  echo "== The whole program (bench_process, display :$disp) =="
  DISPLAY=:$disp QT_QPA_PLATFORM=xcb "$build/bench/bench_process" \
    --vestibell "${VESTIBELL:-$build/vestibell}" \
    --doorsim "$build/tools/doorsim/doorsim" --ffmpeg "$(command -v ffmpeg)" \
    --mpv "$(command -v mpv || true)" --xserver $xvfb \
    --frames640 "$frames/640x480" --frames1080 "$frames/1920x1080" \
    "${args[@]}" ${extra[@]+"${extra[@]}"}
fi

if [ $sip = 1 ]; then
  echo
  echo "== Telephony (bench_sip, display :$disp) =="
  DISPLAY=:$disp QT_QPA_PLATFORM=xcb "$build/bench/bench_sip" \
    --vestibell "${VESTIBELL:-$build/vestibell}" \
    --doorsim "$build/tools/doorsim/doorsim" \
    --kamailio-cfg "$top/tests/support/kamailio-registrar.cfg" \
    "${sip_args[@]}" 2>/dev/null
fi

if [ $sip = 1 ]; then
  echo
  echo "== Instances (bench_instances, bench_protocol, display :$disp) =="
  "$build/bench/bench_instances" "${instance_args[@]}"
  DISPLAY=:$disp QT_QPA_PLATFORM=xcb "$build/bench/bench_protocol" \
    --vestibell "${VESTIBELL:-$build/vestibell}" \
    --doorsim "$build/tools/doorsim/doorsim" \
    --kamailio-cfg "$top/tests/support/kamailio-registrar.cfg" \
    "${protocol_args[@]}" 2>/dev/null
fi
