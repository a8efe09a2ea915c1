#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while on its seed corpus
# plus a working corpus in build-fuzz/corpus/, two targets at a time.
#   tools/run_fuzz.sh [seconds per target, default 30] [target...]
# Targets are the fuzz_<what> names less the prefix (default: all). A crash,
# hang (10 s per input), leak or sanitizer report fails the script; the input
# is kept in build-fuzz/artifacts/ and the fuzzer's log in build-fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(parameter_file quant_matrix ppm options encode y4m)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++-14 -DMORVANE_FUZZ=ON \
  -DMORVANE_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz
mkdir -p build-fuzz/artifacts build-fuzz/logs

# One target: its summary line, or its log's tail and a failure.
run_one() {
  local what=$1 log=build-fuzz/logs/$1.log
  mkdir -p "build-fuzz/corpus/$what"
  # Standard output and error carry the encoder's trace and warnings: closed
  # (-close_fd_mask=3), the fuzzer's own lines and any report still show.
  if build-fuzz/fuzz/fuzz_$what -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$what-" \
      "build-fuzz/corpus/$what" "fuzz/corpus/$what" >"$log" 2>&1; then
    local runs cov
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
    echo "fuzz_$what: $runs runs in ${seconds} s, $cov, corpus $(ls "build-fuzz/corpus/$what" | wc -l) inputs"
  else
    echo "fuzz_$what FAILED: see $log" >&2
    tail -60 "$log" >&2
    return 1
  fi
}

# At most two fuzzers at once (one per core).
status=0
pids=()
for what in "${targets[@]}"; do
  run_one "$what" &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
