#!/usr/bin/env bash
# A lab's history at scale, on a PostgreSQL server of its own (started and
# removed by tests/lab/with_lab_server.sh): fills the server with N runs
# through the history's own writer and times what operators do with it;
# pushes a backlog of queued runs; and times a scan against no lab history,
# a server that is up, one that is down and one that never answers. Wall
# times of one run each (the load is printed with them): compare them as
# ratios within one run, not against fixed numbers.
# Usage: bench/lab_history_scale.sh [N] [BACKLOG] [build folder]
set -euo pipefail
if [ -z "${VELMO_TEST_LAB_DIR-}" ]; then
  exec "$(dirname "$0")/../tests/lab/with_lab_server.sh" "$0" "$@"
fi
# shellcheck source=../tests/lab/lab_server.sh
source "$(dirname "$0")/../tests/lab/lab_server.sh"
count=${1:-1000000}
backlog=${2:-10000}
build=$(realpath "${3:-build}")
work=$VELMO_TEST_LAB_DIR/bench
mkdir -p "$work"
cp "$build/cli/velmo-cli" "$build/bench/velmo_history_fill" "$work/"
window=$build/bench/velmo_history_window_open
if [[ -x $window ]] && command -v xvfb-run >/dev/null; then cp "$window" "$work/"; fi
cli=$work/velmo-cli
fill=$work/velmo_history_fill
export XDG_DATA_HOME=$work/data VELMO_STATION=bench

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

(cd "$work" && "$cli" --simulate --sim-latency=0 --no-history scan --json scan.json >/dev/null 2>&1 || true)
(cd "$work" && "$cli" --simulate=dvd+rdl-mkm --sim-latency=0 --no-history smart --json smart.json >/dev/null 2>&1 || true)
echo "load before:  $(cut -d' ' -f1-3 /proc/loadavg)"
start=$(date +%s%N)
"$fill" "$VELMO_TEST_LAB_OWNER" "$count" "$work/scan.json" "$work/smart.json"
echo "fill the server with $count runs: $((($(date +%s%N) - start) / 1000000)) ms"
lab_sql "VACUUM ANALYZE" >/dev/null
echo "server database: $(lab_sql "SELECT pg_database_size('velmo')") bytes"
station=$VELMO_TEST_LAB_STATION
lab=(--history "$station")
id=$("$cli" "${lab[@]}" history -n 1 | awk 'NR == 2 { print $1 }')
echo "history, first line:         $(ms "'$cli' --history '$station' history | head -n 2") ms," \
  "peak $(peak "'$cli' --history '$station' history | head -n 2") kB"
echo "history, whole list:         $(ms "'$cli' --history '$station' history") ms," \
  "peak $(peak "'$cli' --history '$station' history") kB"
echo "history --mid KAIRO -n 20:   $(ms "'$cli' --history '$station' history --mid KAIRO --limit 20") ms"
echo "history --station bench -n 20: $(ms "'$cli' --history '$station' history --station bench --limit 20") ms"
echo "show ID:                     $(ms "'$cli' --history '$station' show $id") ms"
if [[ -x $work/velmo_history_window_open ]]; then
  echo "History window open:         $(VELMO_HISTORY=$station timeout 300 xvfb-run -a "$work/velmo_history_window_open" 2>&1 | tail -1)"
fi

# A station that was away: a backlog of queued runs, pushed.
export XDG_DATA_HOME=$work/backlog
mkdir -p "$XDG_DATA_HOME/velmo"
# A year on from the server's runs: runs of their own, not copies of them.
"$fill" --newest 2027-12-08T12:00:00Z "$XDG_DATA_HOME/velmo/history.sqlite" "$backlog" \
  "$work/scan.json" "$work/smart.json"
echo "push $backlog queued runs:     $(ms "'$cli' --history '$station' history push") ms;" \
  "$("$cli" --history "$station" history push 2>&1)"

# A scan's time: no lab history, the server up, down, never answering.
export XDG_DATA_HOME=$work/scans
mute=$work/mute
mkdir -p "$mute"
python3 - "$mute/.s.PGSQL.5432" <<'PY' &
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1]); s.listen(64)
held = []
while True:
    held.append(s.accept()[0])  # accepted, never answered
PY
mute_pid=$!
trap 'kill $mute_pid 2>/dev/null || true' EXIT
scan="--simulate --sim-latency=5 scan -q --log $work/TEFE.txt"
for round in 1 2 3; do
  none=$(ms "'$cli' $scan")
  up=$(ms "'$cli' --history '$station' $scan")
  down=$(ms "'$cli' --history 'postgresql:///velmo?host=$work/nowhere' $scan")
  silent=$(ms "'$cli' --history 'postgresql:///velmo?host=$mute' $scan")
  echo "scan round $round: no lab $none ms, server up $up ms, down $down ms, never answering $silent ms"
done
echo "load after:   $(cut -d' ' -f1-3 /proc/loadavg)"
