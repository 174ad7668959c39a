#!/usr/bin/env bash
# The history at a lab's scale: fills a scratch history with N runs (copies
# of a Normal-density scan and a Smart Scan of the simulator, through the
# history's own writer) and times what a user does with it. Figures are
# wall times of one run each (the machine's load is printed with them);
# compare them as ratios between builds, not against fixed numbers.
# Usage: bench/history_scale.sh [N] [build folder]
set -euo pipefail
count=${1:-10000}
build=$(realpath "${2:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Copies: a rebuild during a long fill does not change what is measured.
cp "$build/cli/velmo-cli" "$build/bench/velmo_history_fill" "$work/"
window=$build/bench/velmo_history_window_open
if [[ -x $window ]] && command -v xvfb-run >/dev/null; then cp "$window" "$work/"; fi
cli=$work/velmo-cli
fill=$work/velmo_history_fill
export XDG_DATA_HOME=$work/data
history=$XDG_DATA_HOME/velmo/history.sqlite

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

(cd "$work" && "$cli" --simulate --sim-latency=0 --no-history scan --json scan.json >/dev/null 2>&1 || true)
(cd "$work" && "$cli" --simulate=dvd+rdl-mkm --sim-latency=0 --no-history smart --json smart.json >/dev/null 2>&1 || true)
mkdir -p "$XDG_DATA_HOME/velmo"
echo "load before:  $(cut -d' ' -f1-3 /proc/loadavg)"
start=$(date +%s%N)
"$fill" "$history" "$count" "$work/scan.json" "$work/smart.json"
echo "fill $count runs: $((($(date +%s%N) - start) / 1000000)) ms"
bytes=$(stat -c %s "$history")
echo "database:     $bytes bytes, $((bytes / count)) bytes a run"
echo "record text:  $(stat -c %s "$work/scan.json") bytes (scan), $(stat -c %s "$work/smart.json") (smart)"
id=$("$cli" history -n 1 | awk 'NR == 2 { print $1 }')
echo "history, first line:        $(ms "'$cli' history | head -n 2") ms"
echo "history, whole list:        $(ms "'$cli' history") ms, peak $(peak "'$cli' history") kB"
echo "history --mid, first line:  $(ms "'$cli' history --mid KAIRO | head -n 2") ms"
echo "history --mid, whole list:  $(ms "'$cli' history --mid KAIRO") ms"
echo "history --limit 20:         $(ms "'$cli' history --limit 20") ms"
echo "history --json, whole:      $(ms "'$cli' history --json") ms"
echo "show ID:                    $(ms "'$cli' show $id") ms"
if [[ -x $work/velmo_history_window_open ]]; then
  echo "History window open:        $(xvfb-run -a "$work/velmo_history_window_open" 2>&1 | tail -1)" \
    "(again: $(xvfb-run -a "$work/velmo_history_window_open" 2>&1 | tail -1))"
fi
echo "export all:                 $(ms "'$cli' history export -o '$work/all.jsonl'") ms," \
  "$(stat -c %s "$work/all.jsonl") bytes"
export XDG_DATA_HOME=$work/other
echo "import all (fresh):         $(ms "'$cli' history import '$work/all.jsonl'") ms"
echo "import all again (skipped): $(ms "'$cli' history import '$work/all.jsonl'") ms"
echo "imported runs:              $("$cli" history | tail -n +2 | wc -l)"
echo "load after:   $(cut -d' ' -f1-3 /proc/loadavg)"
