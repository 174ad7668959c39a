#!/usr/bin/env bash
# Four simulated drives scanned at once (--drive all over the bench, 20 ms a
# sample) against one of them alone: wall time of each, best of N runs, and
# the ratio. Usage: bench/multi_drive.sh [path/to/velmo-cli] [runs]
set -euo pipefail
cli=${1:-build/cli/velmo-cli}
runs=${2:-3}
cli=$(realpath "$cli")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() {  # best wall time in ms of "$@" over $runs runs, each in a fresh folder
  local best=
  for ((i = 0; i < runs; i++)); do
    local dir="$work/run$RANDOM$i"
    mkdir "$dir"
    local start end
    start=$(date +%s%N)
    (cd "$dir" && "$cli" "$@" >/dev/null 2>&1) || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s%N)
    local ms=$(((end - start) / 1000000))
    if [[ -z $best || $ms -lt $best ]]; then best=$ms; fi
  done
  echo "$best"
}

one=$(best --simulate=bench --sim-latency=20 --drive 0 scan)
four=$(best --simulate=bench --sim-latency=20 --drive all scan)
echo "one drive:    ${one} ms"
echo "four drives:  ${four} ms"
awk -v a="$four" -v b="$one" 'BEGIN { printf "ratio:        %.3f (four / one)\n", a / b }'
