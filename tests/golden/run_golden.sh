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
while read -r scenario density; do
  [ -z "$scenario" ] && continue
  name="$scenario-$density"
  rm -f "$work/TEFE.txt" "$work/trace"
  if [ "$density" = smart ]; then
    (cd "$work" && "$cli" --simulate="$scenario" --sim-latency=0 --trace=trace smart --no-history \
      >/dev/null 2>&1) || true
  else
    (cd "$work" && "$cli" --simulate="$scenario" --sim-latency=0 --trace=trace scan \
      --density "$density" --no-history >/dev/null 2>&1) || true
    if [ -f "$work/TEFE.txt" ]; then cp "$work/TEFE.txt" "$out/$name.log"; else : >"$out/$name.log"; fi
  fi
  commands "$work/trace" >"$out/$name.commands"
done <"$(dirname "$0")/scenarios.txt"
