#!/usr/bin/env bash
# The golden set: every fault-free scenario scanned (and Smart Scanned) by
# velmo-cli gives the same TEFE.txt bytes and sends the same commands as the
# runs kept in expected/. A difference is a change to what users' logs hold
# or to what their drives receive, and must be made on purpose: regenerate
# with run_golden.sh and say why in the commit.
#   check_golden.sh VELMO_CLI
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
got=$(mktemp -d)
trap 'rm -rf "$got"' EXIT
"$here/run_golden.sh" "$1" "$got"
diff -r "$here/expected" "$got"
echo "golden set: $(ls "$got" | wc -l) files as expected"
