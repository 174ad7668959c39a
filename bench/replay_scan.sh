#!/usr/bin/env bash
# A Full-density DVD+R DL scan replayed from its trace against the
# simulator's own run of it at zero latency: wall time of each (the whole
# command, the wait for the disc included), best of N runs, and the ratio.
# Usage: bench/replay_scan.sh [path/to/velmo-cli] [runs]
set -euo pipefail
cli=${1:-build/cli/velmo-cli}
runs=${2:-3}
cli=$(realpath "$cli")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
scan=(--no-history --density full --log TEFE.txt scan)

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

mkdir "$work/recorded"
(cd "$work/recorded" && "$cli" --simulate=dvd+rdl-good --sim-latency=0 --trace="$work/dl.trace" \
  "${scan[@]}" >/dev/null 2>&1)
samples=$(grep -c 'cdb=\[FD FB' "$work/dl.trace")
simulated=$(best --simulate=dvd+rdl-good --sim-latency=0 "${scan[@]}")
replayed=$(best --simulate=replay:"$work/dl.trace" "${scan[@]}")
echo "trace:        $(wc -l <"$work/dl.trace") lines, $samples samples, $(du -k "$work/dl.trace" | cut -f1) KiB"
echo "simulator:    ${simulated} ms"
echo "replay:       ${replayed} ms"
awk -v a="$replayed" -v b="$simulated" 'BEGIN { printf "ratio:        %.3f (replay / simulator)\n", a / b }'
