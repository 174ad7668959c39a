#!/usr/bin/env bash
# doctor's account of the lab history (set or not, the server answering,
# its tables' version, the station, the runs waiting), and a server that
# takes the connection and never says a word: a scan ends in its usual time,
# a push and doctor give up within their time-outs.
#   with_lab_server.sh lab_doctor_test.sh VELMO-CLI
# shellcheck source=lab_case.sh
source "$(dirname "$0")/lab_case.sh"
create_schema
ms() { echo $(($(date +%s%N) / 1000000)); }
lab_lines() { grep '^lab history:' "out/$1.out" || true; }

expect 0 st3 doctor-none --simulate --sim-latency=0 doctor
[ -n "$(lab_lines doctor-none)" ] || fail "doctor says nothing of a lab history not set"
export VELMO_HISTORY=$VELMO_TEST_LAB_STATION
scan st3 st3-scan
expect 0 st3 st3-push history push
version=$(lab_sql 'SELECT version FROM velmo_schema')
expect 0 st3 doctor-up --simulate --sim-latency=0 doctor
lines=$(lab_lines doctor-up)
[ -n "$lines" ] || fail "doctor says nothing of the lab history: $(cat out/doctor-up.out)"
grep -q 'st3' <<<"$lines" || fail "doctor names no station: $lines"
grep -q "$version" <<<"$lines" || fail "doctor gives no schema version: $lines"
grep -qF "$VELMO_TEST_LAB_STATION" <<<"$lines" || fail "doctor does not name the URL: $lines"
[ "$lines" != "$(lab_lines doctor-none)" ] || fail "doctor says the same with a lab history and without"

# A run kept while the server is away waits, and doctor counts it.
away="postgresql:///velmo?host=$VELMO_TEST_LAB_DIR/nowhere&user=station1"
VELMO_HISTORY=$away scan st3 st3-scan-away
expect 0 st3 doctor-waiting --simulate --sim-latency=0 doctor
[ "$(lab_lines doctor-waiting)" != "$lines" ] || fail "doctor does not count the waiting run: $lines"
VELMO_HISTORY=$away expect 0 st3 doctor-away --simulate --sim-latency=0 doctor
[ "$(lab_lines doctor-away | grep -v '^lab history: *waiting\|wait')" != \
  "$(lab_lines doctor-waiting | grep -v '^lab history: *waiting\|wait')" ] ||
  fail "doctor says the same of a server that is there and one that is not: $(lab_lines doctor-away)"

# A server that takes the connection and never says a word.
mkdir -m 700 mute
python3 - mute/.s.PGSQL.5432 <<'EOF' &
import socket, sys
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
# The push gives up on its own; meanwhile a scan without a lab history and
# one with the mute server, one after the other.
start=$(ms)
(VELMO_HISTORY=$mute_url expect 75 st10 mute-push history push && echo "$(($(ms) - start))" >mute-push.ms) &
pusher=$!
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
VELMO_HISTORY=$mute_url expect 0 st10 doctor-mute --simulate --sim-latency=0 doctor
echo "doctor with the mute server took $(($(ms) - start)) ms: $(lab_lines doctor-mute | head -3)"
wait "$pusher" || fail "the push to the mute server"
echo "a push to the mute server gave up after $(cat mute-push.ms) ms: $(head -1 out/mute-push.err)"
[ "$(cat mute-push.ms)" -lt 60000 ] || fail "the push waited $(cat mute-push.ms) ms"
echo "doctor: the lab history's state; a mute server holds nothing up"
