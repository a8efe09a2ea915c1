#!/usr/bin/env bash
# Builds morvane and encodes the bundled example, examples/cif-progressive.par:
# a generated 352x288 4:2:0 sequence of 30 frames, written to build-example/example/.
set -euo pipefail
cd "$(dirname "$0")/.."

. tools/install_missing.sh
install_missing cmake:cmake g++:g++ ninja-build:ninja

cmake -S . -B build-example -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF
cmake --build build-example -j "$(nproc)" --target morvane make_sequence

out=build-example/example
rm -rf "$out"
mkdir -p "$out/frames" "$out/recon"
build-example/make_sequence --width 352 --height 288 --chroma 1 --frames 30 --format 0 --pattern "$out/frames/src%d"
cp examples/cif-progressive.par "$out/example.par"
(cd "$out" && ../morvane example.par example.m2v > dc_trace.txt)
echo "wrote $out/example.m2v ($(stat -c %s "$out/example.m2v") bytes), statistics in $out/stats.txt"
