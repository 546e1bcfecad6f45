#!/bin/bash
# Installs the Debian packages Vestibell needs to build, run and be tested.
# Does nothing when they are all there; uses sudo when not run as root.
set -eu

packages=(
  # build
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  # libraries
  qt6-base-dev libcurl4-openssl-dev libfreeimage-dev libcpp-httplib-dev
  libjpeg-dev libxcb1-dev libxcb-shm0-dev fonts-dejavu-core libpulse-dev
  # Arial's metrics for the dialogs
  fonts-liberation2
  # the SIP user agent of the program and of the simulator
  liblinphone-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
  # a real X display for tests and the demonstration
  xvfb x11-utils xdotool imagemagick procps openbox trayer strace
  # someone typing in another program, on another workspace
  xterm wmctrl
  # validators of the installed desktop entry and AppStream metadata
  desktop-file-utils appstream
  # the Debian package (dpkg-buildpackage, tools/package-check.sh)
  dpkg-dev debhelper lintian
  # a SIP registrar on loopback for the registration tests
  kamailio
  # a sound server with a null sink for the ring tests
  pulseaudio pulseaudio-utils
  # tests run in a network namespace that has only loopback
  iproute2 util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
