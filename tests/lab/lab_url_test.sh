#!/usr/bin/env bash
# Only a PostgreSQL URI names a lab history, on the command line or in
# VELMO_HISTORY: anything else is a usage error (64, one line), never a
# file opened or made where the text happens to point.
#   lab_url_test.sh VELMO-CLI
set -euo pipefail
cli=$(realpath "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmo-lab-url.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
export XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config
unset VELMO_HISTORY
bad=0
for url in "mysql://station1@labdb/velmo" "relative/history.sqlite" "$scratch/elsewhere.sqlite"; do
  for how in option environment; do
    status=0
    if [ "$how" = option ]; then
      "$cli" --history "$url" history >out 2>err || status=$?
    else
      VELMO_HISTORY=$url "$cli" history >out 2>err || status=$?
    fi
    if [ "$status" != 64 ] || [ "$(grep -c . err)" != 1 ] || [ -s out ]; then
      echo "FAIL: '$url' by $how: exit $status, stderr: $(cat err)" >&2
      bad=1
    fi
  done
done
made=$(find . -mindepth 1 -not -name out -not -name err -not -path './data*' -not -path './config*')
[ -z "$made" ] || { echo "FAIL: made $made" >&2; bad=1; }
[ "$bad" = 0 ] && echo "every non-PostgreSQL URL refused"
exit "$bad"
