#!/usr/bin/env bash
# Runs a command beside a PostgreSQL server of its own (lab_server.sh says
# what it exports), then stops the server and removes its folder, whatever
# happens: the command's end, a failure, Ctrl-C or ctest's time limit.
#   with_lab_server.sh [--tls] COMMAND [ARG...]
# Exit 77 (skipped) only when no PostgreSQL server is installed; a command
# that exits 77 itself fails, since that would read as skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lab_server.sh
source "$here/lab_server.sh"

tls=()
if [ "${1-}" = --tls ]; then
  tls=(--tls)
  shift
fi
[ $# -ge 1 ] || { echo "usage: with_lab_server.sh [--tls] COMMAND [ARG...]" >&2; exit 64; }

# The cluster and its clients take nothing from the environment of whoever
# runs the tests (PGHOST, PGPASSWORD, PGSSLMODE...).
for var in $(compgen -e | grep '^PG' || true); do unset "$var"; done

if ! lab_server_find_bin; then
  echo "SKIP: no PostgreSQL server binaries (/usr/lib/postgresql/*/bin or pg_config --bindir);" \
    "scripts/install-deps --test installs the postgresql package"
  exit 77
fi

child=""
cleanup() {
  if [ -n "$child" ]; then
    kill -TERM "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  lab_server_destroy
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

lab_server_create "${tls[@]}" || { echo "with_lab_server.sh: the server did not start" >&2; exit 1; }
status=0
"$@" &
child=$!
wait "$child" || status=$?
child=""
if [ "$status" -eq 77 ]; then
  echo "with_lab_server.sh: '$*' exited 77" >&2
  status=1
fi
exit "$status"
