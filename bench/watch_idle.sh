#!/usr/bin/env bash
# CPU time of an idle watch: velmo-cli watch over an empty simulated drive
# for N seconds (default 60), then its user + system time as a share of one
# core, read from /proc. Usage: bench/watch_idle.sh [path/to/velmo-cli] [seconds]
set -euo pipefail
cli=${1:-build/cli/velmo-cli}
seconds=${2:-60}
cli=$(realpath "$cli")
work=$(mktemp -d)
"$cli" --simulate=empty watch >"$work/out" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT
sleep 1  # past start-up: only the polling counts
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "watch idle: %d ticks (%.2f s CPU) in %d s = %.3f %% of a core\n", t, t / hz, s, 100 * t / hz / s }'
