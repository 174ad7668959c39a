#!/usr/bin/env bash
# The lab's server away: stations scanning while it is stopped keep their
# runs and push them once it is back, each run exactly once; a push killed
# (SIGKILL) or cut by the server's stop at several points and made again
# loses nothing and doubles nothing.
#   with_lab_server.sh lab_outage_test.sh VELMO-CLI
# shellcheck source=lab_case.sh
source "$(dirname "$0")/lab_case.sh"
export VELMO_HISTORY=$VELMO_TEST_LAB_STATION
create_schema

# Stopped while four stations scan: every scan ends as usual, its run kept.
lab_server_stop
pids=()
for i in $(seq 4); do
  (scan "st$i" "st$i-scan1" && scan "st$i" "st$i-scan2") &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a scan failed while the server was away"; done
expect 75 st1 st1-push-away history push
[ -s out/st1-push-away.err ] || fail "a push to a stopped server gives no reason"
[ "$(waiting_after st1-push-away)" = 2 ] || fail "after a failed push: $(cat out/st1-push-away.err)"
lab_server_start
# Back: three stations push by hand, the fourth's next scan takes its
# waiting runs along in the background.
for i in $(seq 3); do
  expect 0 "st$i" "st$i-push" history push
  [ "$(waiting_after "st$i-push")" = 0 ] || fail "st$i: $(cat "out/st$i-push.out")"
done
scan st4 st4-scan3
for _ in $(seq 100); do
  [ "$(server_count "station = 'st4'")" = 3 ] && break
  sleep 0.2
done
[ "$(server_count "station = 'st4'")" = 3 ] ||
  fail "st4's next scan sent $(server_count "station = 'st4'") of its 3 runs"
expect 0 st1 st1-push-again history push
grep -q '^pushed 0 runs' out/st1-push-again.out || fail "a second push: $(cat out/st1-push-again.out)"
[ "$(server_count)" = 9 ] && [ "$(lab_sql 'SELECT count(DISTINCT run_id) FROM runs')" = 9 ] ||
  fail "after the outage the server holds $(server_count) runs, not 9"

# A backlog of 1000 runs (four batches), its push cut again and again:
# the server stopped once the first runs are in, then SIGKILL after longer
# and longer delays, until the runs are all there; each time nothing on the
# server twice, and in the end every run once.
backlog=1000
make_records st1 st9 "$backlog" records.jsonl
as_station st9 env -u VELMO_HISTORY "$cli" history import records.jsonl >out/st9-import.out 2>&1 ||
  fail "import: $(cat out/st9-import.out)"
no_doubles() {
  local n distinct
  n=$(server_count "station = 'st9'")
  distinct=$(lab_sql "SELECT count(DISTINCT run_id) FROM runs WHERE station = 'st9'")
  [ "$n" = "$distinct" ] && [ "$n" -le "$backlog" ] || fail "$1: $n runs of st9 on the server, $distinct ids"
  echo "$n"
}
as_station st9 exec "$cli" history push >out/st9-cut-by-stop.out 2>&1 &
pusher=$!
for _ in $(seq 200); do
  [ "$(server_count "station = 'st9'")" = 0 ] || break
  sleep 0.02
done
lab_server_stop
wait "$pusher" && cut_status=0 || cut_status=$?
[ "$cut_status" = 0 ] || [ "$cut_status" = 75 ] || fail "a push cut by the server's stop exited $cut_status"
lab_server_start
cuts="stop: $(no_doubles "cut by the server's stop")"
delay=100
while [ "$delay" -le 1500 ]; do
  as_station st9 exec "$cli" history push >"out/st9-killed-$delay.out" 2>&1 &
  pusher=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL "$pusher" 2>/dev/null || true
  wait "$pusher" 2>/dev/null || true
  n=$(no_doubles "killed after $delay ms")
  cuts+=", kill after $delay ms: $n"
  [ "$n" -lt "$backlog" ] || break
  delay=$((delay + 100))
done
echo "runs of st9 on the server after each cut: $cuts (of $backlog)"
expect 0 st9 st9-push history push
[ "$(waiting_after st9-push)" = 0 ] || fail "$(cat out/st9-push.out)"
[ "$(no_doubles "in the end")" = "$backlog" ] || fail "runs lost"
[ "$(local_run_ids st9)" = "$(lab_sql "SELECT run_id FROM runs WHERE station = 'st9' ORDER BY 1")" ] ||
  fail "st9's run ids differ between its history and the server"

echo "outage: every run once after stops and kills"
