#!/usr/bin/env bash
# Whole-encoder benchmark: encodes the fixed workloads (parameter files in
# bench/, content made by bench/make_pan.py and the sequence generator) with
# the default kernels and with --simd=none, and prints frames per second,
# ms per frame by picture type, CPU time, peak memory and the speed ratio.
#   bench/run.sh [build-dir] [runs] [workload...]
# runs (default 3): each figure is the best of that many encodes.
# Needs python3-skimage (the photograph, numpy, PIL) and time (/usr/bin/time).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-3}
shift $(($# < 2 ? $# : 2))
for tool in "$build/morvane" "$build/make_sequence"; do
  [ -x "$tool" ] || { echo "$tool missing: build the targets morvane and make_sequence first" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing: apt-get install time" >&2; exit 2; }
/usr/bin/python3 -c 'import numpy, PIL, skimage' 2>/dev/null ||
  { echo "Debian's python3-skimage missing: apt-get install --no-install-recommends python3-skimage" >&2; exit 2; }
exec /usr/bin/python3 bench/run_workloads.py "$build" "$runs" "$@"
