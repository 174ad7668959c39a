# What the lab history's case scripts share (sourced, with velmo-cli's path
# as the script's first argument, under with_lab_server.sh).
#
# Each station is a folder of its own under the server's scratch folder:
# its local history (XDG_DATA_HOME), settings and home, and VELMO_STATION.
# Every velmo-cli run's standard output and error are kept in out/, so that
# a case can read them and the password search can go through them all.
set -euo pipefail
cli=$(realpath "$1")
lab_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lab_server.sh
source "$lab_here/lab_server.sh"
case_name=$(basename "$0" .sh)
[ -n "${VELMO_TEST_LAB_DIR-}" ] || { echo "$case_name: run it under with_lab_server.sh" >&2; exit 1; }
# Nothing of the person running the tests: no lab history, station or
# libpq setting of theirs.
unset VELMO_HISTORY VELMO_STATION
for var in $(compgen -e | grep '^PG' || true); do unset "$var"; done
cd "$VELMO_TEST_LAB_DIR"
mkdir -p out stations

fail() {
  echo "$case_name: FAIL: $*" >&2
  exit 1
}

station_dir() { echo "$VELMO_TEST_LAB_DIR/stations/$1"; }

# as_station NAME CMD...: CMD in station NAME's environment.
as_station() {
  local name=$1 dir
  shift
  dir=$(station_dir "$name")
  mkdir -p "$dir/data" "$dir/config" "$dir/home"
  XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" HOME="$dir/home" \
    VELMO_STATION="$name" "$@"
}

# run NAME LABEL ARG...: velmo-cli ARG... as station NAME; its streams in
# out/LABEL.out and out/LABEL.err, its exit code in $status.
status=0
run() {
  local name=$1 label=$2
  shift 2
  status=0
  local started=$EPOCHREALTIME
  as_station "$name" "$cli" "$@" >"out/$label.out" 2>"out/$label.err" </dev/null || status=$?
  # How long each run took, shown with VELMO_TEST_LAB_TIMES=1.
  [ "${VELMO_TEST_LAB_TIMES-}" != 1 ] ||
    echo "$label: $(python3 -c "print(round($EPOCHREALTIME - $started, 2))") s" >&2
}

# expect CODE NAME LABEL ARG...: as run, failing the case on another exit code.
expect() {
  local code=$1
  shift
  run "$@"
  # The command line as a message: a password in a URL of it as ***.
  [ "$status" -eq "$code" ] ||
    fail "$2: velmo-cli $(sed -E 's#(://[^:/@]*):[^@]*@#\1:***@#g' <<<"${*:3}") exited $status, not $code" \
      "$(printf '\n--- stdout:\n%s\n--- stderr:\n%s' "$(cat "out/$2.out")" "$(cat "out/$2.err")")"
}

# A simulated scan as station NAME (any more options after the label).
scan() {
  local name=$1 label=$2
  shift 2
  expect 0 "$name" "$label" --simulate --sim-latency=0 scan --log "$(station_dir "$name")/TEFE.txt" "$@"
}

# The waiting count a push reported, done ("pushed N runs to ...; M wait")
# or not (on standard error: "...; N runs pushed, M wait").
waiting_after() {
  sed -n 's/^.*[;,] \([0-9]*\) waits\{0,1\}$/\1/p' "out/$1.out" "out/$1.err"
}

# The run ids of station NAME's own history, sorted, one a line.
local_run_ids() {
  local name=$1
  as_station "$name" env -u VELMO_HISTORY "$cli" history export -o - 2>/dev/null |
    python3 -c 'import json, sys
for line in sys.stdin:
    print(json.loads(line)["record"]["runId"])' | sort
}

server_count() { lab_sql "SELECT count(*) FROM runs${1:+ WHERE $1}"; }

# The schema is made by the owner on first use, never by a station.
create_schema() {
  expect 0 owner create-schema --history "$VELMO_TEST_LAB_OWNER" history push --all
  [ -n "$(lab_sql 'SELECT version FROM velmo_schema')" ] || fail "the owner made no schema"
}

# COUNT records like station FROM's first run, each its own run (its own id
# and start time, a minute apart), as `history import` lines of station NAME.
make_records() {
  local from=$1 name=$2 count=$3 file=$4
  as_station "$from" env -u VELMO_HISTORY "$cli" history export --limit 1 -o - 2>/dev/null |
    python3 -c 'import datetime, json, sys, uuid
record = json.loads(sys.stdin.readline())["record"]
start = datetime.datetime(2026, 1, 1, tzinfo=datetime.timezone.utc)
for i in range(int(sys.argv[1])):
    record["startTime"] = (start + datetime.timedelta(minutes=i)).isoformat()
    record["runId"] = str(uuid.uuid4())
    print(json.dumps({"id": i + 1, "host": sys.argv[2], "record": record}))' \
      "$count" "$name" >"$file"
}
