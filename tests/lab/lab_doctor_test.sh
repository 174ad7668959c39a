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
lab_lines() { grep -E '^(ok|FIX|no) +lab history: ' "out/$1.out" || true; }
# has LABEL TEXT...: doctor's lab history line holds every TEXT.
has() {
  local label=$1 text line
  shift
  line=$(lab_lines "$label")
  [ "$(grep -c . <<<"$line")" = 1 ] || fail "$label: not one lab history line: $(cat "out/$label.out")"
  for text in "$@"; do
    grep -qF -- "$text" <<<"$line" || fail "$label: no '$text' in: $line"
  done
}

expect 0 st3 doctor-none --simulate --sim-latency=0 doctor
has doctor-none "none set" "station st3" "0 runs wait"
export VELMO_HISTORY=$VELMO_TEST_LAB_STATION
scan st3 st3-scan
expect 0 st3 st3-push history push
version=$(lab_sql 'SELECT version FROM velmo_schema')
expect 0 st3 doctor-up --simulate --sim-latency=0 doctor
has doctor-up "ok    lab history: $VELMO_TEST_LAB_STATION answers, schema version $version;" \
  "station st3, 0 runs wait"

# A run kept while the server is away waits, and doctor counts it, with the
# server there and not.
away="postgresql:///velmo?host=$VELMO_TEST_LAB_DIR/nowhere&user=station1"
VELMO_HISTORY=$away scan st3 st3-scan-away
expect 0 st3 doctor-waiting --simulate --sim-latency=0 doctor
has doctor-waiting "answers, schema version $version;" "station st3, 1 run waits"
VELMO_HISTORY=$away expect 0 st3 doctor-away --simulate --sim-latency=0 doctor
has doctor-away "FIX   lab history: $away does not answer: " "station st3, 1 run waits"

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
# A scan without a lab history, whose run then waits; a push of it that
# gives up on its own, and meanwhile a scan with the mute server.
start=$(ms)
(unset VELMO_HISTORY && scan st10 plain-scan)
plain=$(($(ms) - start))
pushed=$(ms)
(VELMO_HISTORY=$mute_url expect 75 st10 mute-push history push && echo "$(($(ms) - pushed))" >mute-push.ms) &
pusher=$!
start=$(ms)
VELMO_HISTORY=$mute_url scan st10 mute-scan
mute=$(($(ms) - start))
echo "a scan took $plain ms without a lab history, $mute ms with a mute one" \
  "(ratio $((mute * 100 / plain))%)"
# A generous bound: the scan must not wait for the server at all.
[ "$mute" -lt $((plain + 10000)) ] || fail "the mute server held the scan for $mute ms"
start=$(ms)
VELMO_HISTORY=$mute_url expect 0 st10 doctor-mute --simulate --sim-latency=0 doctor
echo "doctor with the mute server took $(($(ms) - start)) ms: $(lab_lines doctor-mute)"
has doctor-mute "does not answer" "station st10"
wait "$pusher" || fail "the push to the mute server"
echo "a push to the mute server gave up after $(cat mute-push.ms) ms: $(head -1 out/mute-push.err)"
[ "$(cat mute-push.ms)" -lt 60000 ] || fail "the push waited $(cat mute-push.ms) ms"
echo "doctor: the lab history's state; a mute server holds nothing up"
