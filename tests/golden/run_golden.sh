#!/usr/bin/env bash
# Runs velmo-cli on every scenario of the golden set and writes, per run, the
# log (TEFE.txt, byte for byte) and the command sequence the drive received
# (the trace without times, durations and the readiness polls, whose count
# depends on when the simulated disc lands).
#   run_golden.sh VELMO_CLI OUT_DIR
set -euo pipefail
cli=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commands() {
  sed -n 's/^[^ ]* \(drive=.*\) err=.*$/\1/p' "$1" | grep -v 'cdb=\[00 00 00 00 00 00\]' || true
}
# One run in a folder of its own.
run_one() {
  local scenario=$1 density=$2 name="$1-$2"
  local dir="$work/$name"
  mkdir -p "$dir"
  if [ "$density" = smart ]; then
    (cd "$dir" && "$cli" --simulate="$scenario" --sim-latency=0 --trace=trace smart --no-history \
      >/dev/null 2>&1) || true
  else
    (cd "$dir" && "$cli" --simulate="$scenario" --sim-latency=0 --trace=trace scan \
      --density "$density" --no-history >/dev/null 2>&1) || true
    if [ -f "$dir/TEFE.txt" ]; then cp "$dir/TEFE.txt" "$out/$name.log"; else : >"$out/$name.log"; fi
  fi
  commands "$dir/trace" >"$out/$name.commands"
}
# The runs wait on the simulated disc more than they compute: several at once.
jobs=${VELMO_GOLDEN_JOBS:-4}
running=0
while read -r scenario density; do
  [ -z "$scenario" ] && continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_one "$scenario" "$density" &
  running=$((running + 1))
done <"$(dirname "$0")/scenarios.txt"
wait
