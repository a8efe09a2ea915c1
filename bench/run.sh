#!/usr/bin/env bash
# Whole-encoder benchmark: encodes a generated sequence with the given
# settings and reports the wall time per frame (best of three runs).
#   bench/run.sh [build-dir] [width] [height] [frames] [small|large]
# "large" widens the search windows: f_code 4 and width 31 for P pictures,
# f_code 3 and width 15 for every B direction.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
w=${2:-352}
h=${3:-288}
frames=${4:-30}
window=${5:-small}
case "$window" in
  small) windows=() ;;
  large) windows=(-e 's/^2 2 11 11 /4 4 31 31 /' -e 's/^1 1 [37] [37] /3 3 15 15 /') ;;
  *) echo "window must be small or large" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/frames"
"$build/make_sequence" --width "$w" --height "$h" --chroma 1 --frames "$frames" --format 0 \
  --pattern "$work/frames/src%d" > /dev/null
sed -e "s/^30 /$frames /" -e "s/^352 /$w /" -e "s/^288 /$h /" -e "s|^recon/rec%d |- |" \
  ${windows[@]+"${windows[@]}"} example/example.par > "$work/bench.par"
best=""
for run in 1 2 3; do
  start=$(date +%s.%N)
  (cd "$work" && "$build/morvane" bench.par out.m2v > /dev/null 2>&1)
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
printf '%dx%d, %d frames, %s windows: best %.3f s, %.1f ms/frame, stream %d bytes\n' "$w" "$h" "$frames" "$window" "$best" \
  "$(echo "$best * 1000 / $frames" | bc -l)" "$(stat -c %s "$work/out.m2v")"
