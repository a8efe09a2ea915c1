#!/usr/bin/env bash
# Builds morvane and runs the whole test suite as shipped, again under each
# lower instruction-set cap, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the end-to-end tests under ThreadSanitizer;
# builds the Debian package and installs, runs and removes it (where dpkg and
# apt are); then a fuzz smoke run: each libFuzzer target for 30 s on its
# corpus. Installs missing build and test dependencies with apt first.
#   --quick  the inner loop: build build/ only and run the tests labelled unit.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

. tools/install_missing.sh
install_missing cmake:cmake g++:g++ ninja-build:ninja pkg-config:pkg-config libgtest-dev:/usr/include/gtest/gtest.h \
  ffmpeg:ffmpeg mpeg2dec:mpeg2dec libmpeg2-4-dev:/usr/include/mpeg2dec/mpeg2.h \
  python3-matplotlib:/usr/lib/python3/dist-packages/matplotlib/__init__.py groff-base:groff man-db:man \
  clang-14:clang++-14 libclang-rt-14-dev:/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=ON
cmake --build build -j "$jobs"
if [ "$quick" = 1 ]; then
  ctest --test-dir build --output-on-failure -j "$jobs" -L unit
  exit
fi
ctest --test-dir build --output-on-failure -j "$jobs"
# The suite again under each instruction-set cap: no output may change with
# the kernels chosen (a cap above the processor's lowers nothing).
for level in none sse2 avx2; do
  echo "tests under the instruction-set cap $level"
  MORVANE_TEST_SIMD=$level ctest --test-dir build --output-on-failure -j "$jobs"
done

# The Debian package of build/: installed with apt, its programs, man page and
# examples in place, then removed without a file left behind.
check_package() {
  local sudo="" deb ok=1
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  if dpkg-query -W -f='${Status}' morvane 2>/dev/null | grep -q ' installed'; then
    echo "package check skipped: a morvane package is installed already (apt-get remove morvane)"
    return
  fi
  rm -f build/morvane_*.deb
  (cd build && cpack -G DEB >/dev/null)
  deb=$(echo build/morvane_*.deb)
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
  {
    [ "$(command -v morvane)" = /usr/bin/morvane ] &&
      morvane --help | grep '^Usage: morvane' >/dev/null &&
      [ "$(man -w morvane)" = /usr/share/man/man1/morvane.1 ] &&
      man -P cat morvane 2>/dev/null | grep 'MPEG-2 and MPEG-1 video encoder' >/dev/null &&
      [ -f /usr/share/doc/morvane/examples/sd625-interlaced.par ] &&
      morvane-plot-stats --help >/dev/null
  } || { echo "package check: the installed package is incomplete" >&2; ok=0; }
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq morvane >/dev/null
  if dpkg-query -W -f='${Status}' morvane 2>/dev/null | grep -q ' installed' || [ -e /usr/bin/morvane ] ||
    [ -e /usr/share/man/man1/morvane.1 ] || [ -e /usr/share/doc/morvane ]; then
    echo "package check: apt-get remove left morvane behind" >&2
    ok=0
  fi
  [ "$ok" = 1 ] || return 1
  echo "package check: $deb installed, ran and removed cleanly"
}
if command -v dpkg >/dev/null && command -v apt-get >/dev/null; then
  check_package
fi

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=abort_on_error=0:detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Threads: the end-to-end suite under ThreadSanitizer (every run codes with
# as many threads as there are processors, and the thread tests with up to 8),
# and the pool's own tests.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TSAN=ON -DMORVANE_TESTS=ON
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L e2e
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -R '^worker_pool\.'

# Fuzz smoke: a crash, hang, leak or sanitizer report on the corpus or near
# it fails the run (tools/run_fuzz.sh; the README has a longer campaign).
tools/run_fuzz.sh 30
