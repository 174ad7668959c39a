#!/usr/bin/env bash
# The lab's server away: stations scanning while it is stopped keep their
# runs and push them once it is back, each run exactly once; a push killed
# (SIGKILL) or cut by the server's stop at several points and made again
# loses nothing and doubles nothing; a server that takes the connection and
# never answers slows no scan and fails a push within its time-out.
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
[ "$(waiting_after st1-push-away)" = 2 ] || [ "$(grep -c . out/st1-push-away.out)" = 0 ] ||
  fail "after a failed push: $(cat out/st1-push-away.out)"
lab_server_start
for i in $(seq 4); do
  expect 0 "st$i" "st$i-push" history push
  [ "$(waiting_after "st$i-push")" = 0 ] || fail "st$i: $(cat "out/st$i-push.out")"
done
expect 0 st1 st1-push-again history push
grep -q '^pushed 0 runs' out/st1-push-again.out || fail "a second push: $(cat out/st1-push-again.out)"
[ "$(server_count)" = 8 ] && [ "$(lab_sql 'SELECT count(DISTINCT run_id) FROM runs')" = 8 ] ||
  fail "after the outage the server holds $(server_count) runs, not 8"

# A backlog of 300 runs, its push cut again and again: SIGKILL after
# different delays, and the server stopped under it.
make_records st9 300 records.jsonl
as_station st9 env -u VELMO_HISTORY "$cli" history import records.jsonl >out/st9-import.out 2>&1 ||
  fail "import: $(cat out/st9-import.out)"
no_doubles() {
  local n distinct
  n=$(server_count "station = 'st9'")
  distinct=$(lab_sql "SELECT count(DISTINCT run_id) FROM runs WHERE station = 'st9'")
  [ "$n" = "$distinct" ] && [ "$n" -le 300 ] || fail "$1: $n runs of st9 on the server, $distinct ids"
  echo "$n"
}
cuts=""
for delay in 0.05 0.1 0.2 0.3 0.5; do
  as_station st9 exec "$cli" history push >"out/st9-killed-$delay.out" 2>&1 &
  pusher=$!
  sleep "$delay"
  kill -KILL "$pusher" 2>/dev/null || true
  wait "$pusher" 2>/dev/null || true
  cuts+=" $(no_doubles "killed after $delay s")"
done
as_station st9 exec "$cli" history push >out/st9-cut-by-stop.out 2>&1 &
pusher=$!
sleep 0.1
lab_server_stop
wait "$pusher" && cut_status=0 || cut_status=$?
[ "$cut_status" = 0 ] || [ "$cut_status" = 75 ] || fail "a push cut by the server's stop exited $cut_status"
lab_server_start
cuts+=" $(no_doubles "cut by the server's stop")"
echo "runs of st9 on the server after each cut:$cuts (of 300)"
expect 0 st9 st9-push history push
[ "$(waiting_after st9-push)" = 0 ] || fail "$(cat out/st9-push.out)"
[ "$(no_doubles "in the end")" = 300 ] || fail "runs lost"
[ "$(local_run_ids st9)" = "$(lab_sql "SELECT run_id FROM runs WHERE station = 'st9' ORDER BY 1")" ] ||
  fail "st9's run ids differ between its history and the server"

# A server that takes the connection and never says a word.
mkdir -m 700 mute
python3 - mute/.s.PGSQL.5432 <<'EOF' &
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen(64)
held = []
while True:
    held.append(s.accept()[0])
EOF
listener=$!
trap 'kill "$listener" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -S mute/.s.PGSQL.5432 ] && break; sleep 0.1; done
mute_url="postgresql:///velmo?host=$VELMO_TEST_LAB_DIR/mute&user=station1"
ms() { echo $(($(date +%s%N) / 1000000)); }
start=$(ms)
(unset VELMO_HISTORY && scan st10 plain-scan)
plain=$(($(ms) - start))
start=$(ms)
VELMO_HISTORY=$mute_url scan st10 mute-scan
mute=$(($(ms) - start))
echo "a scan took $plain ms without a lab history, $mute ms with a mute one" \
  "(ratio $((mute * 100 / plain))%)"
# A generous bound: the scan must not wait for the server at all.
[ "$mute" -lt $((plain + 10000)) ] || fail "the mute server held the scan for $mute ms"
start=$(ms)
VELMO_HISTORY=$mute_url expect 75 st10 mute-push history push
took=$(($(ms) - start))
echo "a push to the mute server gave up after $took ms: $(head -1 out/mute-push.err)"
[ "$took" -lt 60000 ] || fail "the push waited $took ms"
echo "outage: every run once after stops, kills and a mute server"
