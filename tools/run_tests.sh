#!/usr/bin/env bash
# Builds morvane and runs the whole test suite twice: once as shipped, once
# under AddressSanitizer and UndefinedBehaviorSanitizer. Installs missing
# build and test dependencies with apt first.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v ninja >/dev/null || need+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v ffmpeg >/dev/null || need+=(ffmpeg)
command -v mpeg2dec >/dev/null || need+=(mpeg2dec)
[ -f /usr/include/mpeg2dec/mpeg2.h ] || need+=(libmpeg2-4-dev)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${need[@]}"
fi

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=abort_on_error=0:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
