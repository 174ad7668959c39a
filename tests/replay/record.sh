#!/usr/bin/env bash
# Records the simulator's fault scenarios as replay fixtures: for each, the
# trace of a scan (with data) and the TEFE.txt it wrote, which a replay must
# give again byte for byte. Run from the source root with a built velmo-cli:
#   tests/replay/record.sh build/cli/velmo-cli
set -euo pipefail
cli="$(realpath "${1:?usage: tests/replay/record.sh VELMO-CLI}")"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
for scenario in dvd+r-good timeout drive-gone busy-recovers invalid-reading; do
  rm -f "$work/TEFE.txt"
  status=0
  (cd "$work" && "$cli" --simulate="$scenario" --sim-latency=0 --trace="$here/$scenario.trace" \
    --no-history --log TEFE.txt scan >/dev/null 2>&1) || status=$?
  cp "$work/TEFE.txt" "$here/$scenario.TEFE.txt"
  echo "$scenario: exit $status, $(wc -l <"$here/$scenario.trace") trace lines"
done
