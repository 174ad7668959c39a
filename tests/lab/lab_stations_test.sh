#!/usr/bin/env bash
# Eight stations scanning at once into one lab history: every run on the
# server once, with its station and its own id; --station, --local and a
# reader's view; a station against a database without tables yet; a
# history from before the lab moved in; a spindle's skipped disc.
#   with_lab_server.sh lab_stations_test.sh VELMO-CLI
# shellcheck source=lab_case.sh
source "$(dirname "$0")/lab_case.sh"
export VELMO_HISTORY=$VELMO_TEST_LAB_STATION

# Before the owner's first use there are no tables, and a station makes none:
# refused, its run kept waiting.
scan st0 st0-scan
expect 77 st0 st0-push-early history push
grep -q "the lab history has no tables yet" out/st0-push-early.err ||
  fail "a station on an empty database: $(cat out/st0-push-early.err)"
[ "$(lab_sql "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")" = 0 ] ||
  fail "a station made tables"
create_schema
expect 0 st0 st0-push history push
[ "$(server_count "station = 'st0'")" = 1 ] || fail "st0's waiting run did not arrive"

# Eight stations, two scans each, all at once.
pids=()
for i in $(seq 8); do
  (scan "st$i" "st$i-scan1" && scan "st$i" "st$i-scan2") &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a station's scans failed"; done
for i in $(seq 8); do
  expect 0 "st$i" "st$i-push" history push
  [ "$(waiting_after "st$i-push")" = 0 ] || fail "st$i: $(cat "out/st$i-push.out")"
done

total=$(server_count)
distinct=$(lab_sql "SELECT count(DISTINCT run_id) FROM runs")
[ "$total" = 17 ] && [ "$distinct" = 17 ] || fail "the server holds $total runs ($distinct ids), not 17"
[ "$(lab_sql "SELECT count(*) FROM records")" = 17 ] || fail "a run without its record"
expected=$(printf 'st0|1\n'; for i in $(seq 8); do printf 'st%d|2\n' "$i"; done)
got=$(lab_sql "SELECT station, count(*) FROM runs GROUP BY station ORDER BY station")
[ "$got" = "$expected" ] || fail "runs by station: $got"
# The very runs each station kept, by id.
for i in 0 $(seq 8); do
  [ "$(local_run_ids "st$i")" = "$(lab_sql "SELECT run_id FROM runs WHERE station = 'st$i' ORDER BY 1")" ] ||
    fail "st$i's run ids differ between its history and the server"
done

# Anyone reads every station's runs; --station keeps one's, --local one's own.
expect 0 st5 reader-all --history "$VELMO_TEST_LAB_READER" history --json
expect 0 st5 reader-st3 --history "$VELMO_TEST_LAB_READER" history --station st3 --json
expect 0 st3 st3-local history --local --json
python3 - out/reader-all.out out/reader-st3.out out/st3-local.out <<'EOF' || fail "the listings"
import json, sys
everyone, st3, local = (json.load(open(f)) for f in sys.argv[1:])
assert len(everyone) == 17, len(everyone)
assert sorted({r["station"] for r in everyone}) == ["st%d" % i for i in range(9)]
assert all(r["host"] == r["station"] for r in everyone)
assert len(st3) == 2 and {r["station"] for r in st3} == {"st3"}, st3
assert len(local) == 2 and {r["host"] for r in local} == {"st3"}, local
EOF
expect 0 st5 reader-table --history "$VELMO_TEST_LAB_READER" history --station st3
grep -q 'Station' out/reader-table.out || fail "the listing has no Station column"
[ "$(grep -c ' st3 *$' out/reader-table.out)" = 2 ] || fail "$(cat out/reader-table.out)"
# show reads a server run whole.
id=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[0]["id"])' out/reader-st3.out)
expect 0 st5 reader-show --history "$VELMO_TEST_LAB_READER" show "$id" --json
python3 -c 'import json, sys; assert json.load(open(sys.argv[1]))["runId"]' out/reader-show.out ||
  fail "show of a server run has no run id"
# compare and report take runs of two stations.
other=$(python3 -c 'import json, sys; print([r["id"] for r in json.load(open(sys.argv[1])) if r["station"] == "st7"][0])' \
  out/reader-all.out)
expect 0 st5 reader-compare --history "$VELMO_TEST_LAB_READER" compare "$id" "$other" --json
expect 0 st5 reader-report --history "$VELMO_TEST_LAB_READER" report "$id" "$other" \
  --html "$(station_dir st5)/two.html"
[ -s "$(station_dir st5)/two.html" ] || fail "no report of two stations' runs"

# A history from before the lab, moved by export and import (twice: the
# second finds its run there), then pushed as well: still once.
(unset VELMO_HISTORY && scan old1 old1-scan)
as_station old1 env -u VELMO_HISTORY "$cli" history export -o "$(station_dir old1)/old.jsonl" \
  2>out/old1-export.err
for label in old1-import old1-import-again; do
  expect 0 old1 "$label" history import "$(station_dir old1)/old.jsonl"
done
expect 0 old1 old1-push history push
[ "$(server_count "station = 'old1'")" = 1 ] && [ "$(server_count)" = 18 ] ||
  fail "the moved history: $(lab_sql "SELECT station, count(*) FROM runs GROUP BY station")"
[ "$(local_run_ids old1)" = "$(lab_sql "SELECT run_id FROM runs WHERE station = 'old1'")" ] ||
  fail "old1's run id changed on the way"

# A spindle's skipped disc goes to the lab as an entry of its own: read
# back with why, left out of a comparison, refused a report.
expect 1 sp1 sp1-watch --simulate=feeder --sim-latency=0 watch --eject --count 5 \
  --report-dir "$(station_dir sp1)"
expect 0 sp1 sp1-push history push
[ "$(server_count "station = 'sp1'")" = 5 ] || fail "the spindle's entries: $(server_count "station = 'sp1'")"
[ "$(lab_sql "SELECT disc_type || '|' || (max_te IS NULL) FROM runs WHERE station = 'sp1' AND outcome = 'skipped'")" = "DVD-ROM|true" ] ||
  fail "the skipped disc on the server: $(lab_sql "SELECT disc_type, outcome FROM runs WHERE station = 'sp1'")"
expect 0 st5 reader-skipped --history "$VELMO_TEST_LAB_READER" history --station sp1 --outcome skipped --json
skipped=$(python3 -c 'import json, sys; [r] = json.load(open(sys.argv[1])); assert r["outcome"] == "skipped", r; print(r["id"])' \
  out/reader-skipped.out) || fail "the skipped disc listed: $(cat out/reader-skipped.out)"
expect 0 st5 reader-skipped-show --history "$VELMO_TEST_LAB_READER" show "$skipped"
grep -q '^Cause: *the test does not take this type of disc$' out/reader-skipped-show.out ||
  fail "show of the skipped disc: $(cat out/reader-skipped-show.out)"
expect 65 st5 reader-skipped-compare --history "$VELMO_TEST_LAB_READER" compare "$skipped" "$id" "$other"
grep -q "#$skipped is a skipped disc" out/reader-skipped-compare.err ||
  fail "compare with the skipped disc: $(cat out/reader-skipped-compare.err)"
expect 66 st5 reader-skipped-report --history "$VELMO_TEST_LAB_READER" report "$skipped" \
  --html "$(station_dir st5)/skipped.html"

echo "eight stations: 17 runs, each once, with its station"
