#!/usr/bin/env bash
# What the lab history refuses, and what it never lets out: a server schema
# newer than this Velmo (65, nothing written, runs kept waiting); a station's
# or a reader's delete and prune (77, nothing deleted); hostile filter text
# (found literally, nothing changed); a password given through a password
# file, ~/.pgpass, PGPASSWORD or the URL itself, over TLS, that appears in no
# stream and no file the test produced.
#   with_lab_server.sh --tls lab_refusals_test.sh VELMO-CLI
# shellcheck source=lab_case.sh
source "$(dirname "$0")/lab_case.sh"
export VELMO_HISTORY=$VELMO_TEST_LAB_STATION
create_schema
scan st1 st1-scan1
scan st1 st1-scan2
expect 0 st1 st1-push history push
[ "$(server_count)" = 2 ] || fail "the station's runs did not arrive"

# A newer schema on the server: refused, nothing written, the run waits.
owner_sql() { "$VELMO_TEST_LAB_BIN/psql" -X -q -v ON_ERROR_STOP=1 "$VELMO_TEST_LAB_OWNER" -c "$1"; }
owner_sql 'UPDATE velmo_schema SET version = version + 1'
scan st1 st1-scan3
expect 65 st1 st1-push-newer history push
[ "$(grep -c . out/st1-push-newer.err)" = 1 ] || fail "not one line: $(cat out/st1-push-newer.err)"
[ "$(server_count)" = 2 ] || fail "a push wrote into a newer schema"
owner_sql 'UPDATE velmo_schema SET version = version - 1'
expect 0 st1 st1-push-after history push
grep -q '^pushed 1 run' out/st1-push-after.out || fail "the waiting run: $(cat out/st1-push-after.out)"
[ "$(server_count)" = 3 ] || fail "the waiting run did not arrive"

# Only the owner deletes: a station's and a reader's delete and prune are
# refused in one line, exit 77, nothing gone.
id=$(lab_sql 'SELECT id FROM runs ORDER BY id LIMIT 1')
for who in station reader; do
  url=$VELMO_TEST_LAB_STATION
  [ "$who" = reader ] && url=$VELMO_TEST_LAB_READER
  expect 77 st1 "$who-delete" --history "$url" history delete "$id"
  expect 77 st1 "$who-prune" --history "$url" history prune --before 2100-01-01 --yes
  for label in "$who-delete" "$who-prune"; do
    [ "$(grep -c . "out/$label.err")" = 1 ] && grep -q '^velmo-cli: .*permission denied' "out/$label.err" ||
      fail "$label: $(cat "out/$label.err")"
  done
  [ "$(server_count)" = 3 ] || fail "a $who deleted runs"
done
# A reader pushes nothing: refused, its run waits.
VELMO_HISTORY=$VELMO_TEST_LAB_READER scan reader1 reader-scan
VELMO_HISTORY=$VELMO_TEST_LAB_READER expect 77 reader1 reader-push history push
[ "$(server_count)" = 3 ] || fail "a reader wrote a run"
[ "$(waiting_after reader-push)" = 1 ] || fail "the reader's run: $(cat out/reader-push.err)"
expect 0 st1 owner-delete --history "$VELMO_TEST_LAB_OWNER" history delete "$id"
[ "$(server_count)" = 2 ] || fail "the owner's delete"

# How many runs a --json listing gave.
rows() { python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' "out/$1.out"; }

# Filters are text, never SQL, and their wildcards are literal.
before=$(lab_sql 'SELECT count(*) FROM runs')
i=0
for filter in "--mid|'; DROP TABLE runs; --" "--station|x' OR '1'='1" "--drive|x\") OR true --" \
  "--mid|%" "--station|_" "--drive|\\"; do
  i=$((i + 1))
  expect 0 st1 "hostile-$i" history "${filter%%|*}" "${filter#*|}" --json
  [ "$(rows "hostile-$i")" = 0 ] ||
    fail "history $filter lists runs: $(cat "out/hostile-$i.out")"
done
[ "$(lab_sql 'SELECT count(*) FROM runs')" = "$before" ] || fail "a filter changed the runs"
# The same filters as a person types them find what they name: a part of
# the manufacturer ID in any case, the station by its name.
expect 0 st1 mid-any-case history --mid novadisc --station st1 --json
[ "$(rows mid-any-case)" = 2 ] || fail "--mid novadisc --station st1: $(cat out/mid-any-case.out)"

# A password, over TLS (the server takes TCP logins only with TLS): from a password file, ~/.pgpass, PGPASSWORD, and in
# the URL itself (shown as ***); a wrong one is refused without being shown.
secret=$(cat "$VELMO_TEST_LAB_SECRET_FILE")
tls=$VELMO_TEST_LAB_TLS_STATION
with_password=${tls/station1@/station1:$secret@}
PGPASSFILE=$VELMO_TEST_LAB_PASSFILE VELMO_HISTORY=$tls scan st2 tls-scan \
  --trace="$(station_dir st2)/trace.txt" --json "$(station_dir st2)/run.json"
PGPASSFILE=$VELMO_TEST_LAB_PASSFILE expect 0 st2 tls-passfile --history "$tls" history push
[ "$(server_count "station = 'st2'")" = 1 ] || fail "the run did not arrive over TLS"
home=$(station_dir st2)/home
cp "$VELMO_TEST_LAB_PASSFILE" "$home/.pgpass"
expect 0 st2 tls-home-pgpass --history "$tls" history --station st2 --json
rm "$home/.pgpass"
PGPASSWORD=$secret expect 0 st2 tls-pgpassword --history "$tls" history --station st2 --json
# A service file naming the server, checked against its certificate.
printf '[lab]\nhost=127.0.0.1\nport=%s\ndbname=velmo\nuser=station1\nsslmode=verify-full\nsslrootcert=%s\n' \
  "$VELMO_TEST_LAB_PORT" "$VELMO_TEST_LAB_ROOT_CERT" >"$home/.pg_service.conf"
PGPASSFILE=$VELMO_TEST_LAB_PASSFILE expect 0 st2 tls-service --history "postgresql://?service=lab" \
  history --station st2 --json
for label in tls-home-pgpass tls-pgpassword tls-service; do
  [ "$(rows "$label")" = 1 ] || fail "$label: $(cat "out/$label.out")"
done
expect 0 st2 tls-url-push --history "$with_password" history push --all
expect 0 st2 tls-url-history --history "$with_password" history --station st2 --json
expect 0 st2 tls-url-export --history "$with_password" history export -o "$(station_dir st2)/export.jsonl"
expect 0 st2 tls-url-doctor --simulate --sim-latency=0 --history "$with_password" doctor
expect 0 st2 tls-url-doctor-json --simulate --sim-latency=0 --history "$with_password" doctor --json
expect 0 st2 tls-url-bundle --simulate --sim-latency=0 --history "$with_password" \
  doctor --bundle "$(station_dir st2)/bundle.tar.gz"
grep '^lab history:' out/tls-url-doctor.out | grep -qF '***' ||
  fail "doctor does not show the URL's password as ***: $(grep '^lab history:' out/tls-url-doctor.out)"
PGPASSFILE=$VELMO_TEST_LAB_PASSFILE VELMO_HISTORY=$with_password scan st2 tls-url-scan \
  --report "$(station_dir st2)/report.html"
wrong=${tls/station1@/station1:not-$secret@}
run st2 tls-wrong --history "$wrong" history push
[ "$status" = 75 ] || [ "$status" = 77 ] || fail "a wrong password: exit $status"
closed=$(lab_free_port)
run st2 tls-wrong-port --history "${with_password/:$VELMO_TEST_LAB_PORT\//:$closed/}" history push
[ "$status" = 75 ] || fail "an unreachable server: exit $status"
grep -qF '***' out/tls-wrong-port.err || fail "the unreachable server's URL: $(cat out/tls-wrong-port.err)"

# Nowhere: every stream kept in out/, every file under the scratch folder
# (the station's histories and records read back as text, the bundle
# unpacked), but the two files the test itself put the password in.
for name in st1 st2; do
  as_station "$name" env -u VELMO_HISTORY "$cli" history export -o "$(station_dir "$name")/local-export.jsonl"
done
lab_sql 'SELECT * FROM runs' >out/server-runs.txt
mkdir bundle && tar -xzf "$(station_dir st2)/bundle.tar.gz" -C bundle
found=$(grep -rlaF --exclude=pgpass --exclude=secret -e "$secret" . || true)
[ -z "$found" ] || fail "the password is in: $found"
[ -s out/tls-url-doctor.out ] && [ -s "$(station_dir st2)/local-export.jsonl" ] &&
  [ -n "$(ls -A bundle)" ] || fail "nothing to search"
echo "refusals: 65 for a newer schema, 77 for a station's delete, filters literal, no password shown"
