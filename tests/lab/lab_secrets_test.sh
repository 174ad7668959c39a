#!/usr/bin/env bash
# A password, over TLS (the server takes TCP logins only with TLS and a
# password): from a password file, ~/.pgpass, PGPASSWORD, a service file
# and the URL itself; it appears in no stream and no file the test
# produced, and a URL holding it is shown with ***.
#   with_lab_server.sh --tls lab_secrets_test.sh VELMO-CLI
# shellcheck source=lab_case.sh
source "$(dirname "$0")/lab_case.sh"
create_schema
rows() { python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' "out/$1.out"; }

# The station's scan and push find the password in PGPASSFILE.
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
expect 0 st2 tls-url-bundle --simulate --sim-latency=0 --history "$with_password" \
  doctor --bundle "$(station_dir st2)/bundle.tar.gz"
PGPASSFILE=$VELMO_TEST_LAB_PASSFILE VELMO_HISTORY=$with_password scan st2 tls-url-scan \
  --report "$(station_dir st2)/report.html"
wrong=${tls/station1@/station1:not-$secret@}
run st2 tls-wrong --history "$wrong" history --station st2
[ "$status" = 75 ] || [ "$status" = 77 ] || fail "a wrong password: exit $status"
closed=$(lab_free_port)
run st2 tls-wrong-port --history "${with_password/:$VELMO_TEST_LAB_PORT\//:$closed/}" history --station st2
[ "$status" = 75 ] || fail "an unreachable server: exit $status"
grep -qF '***' out/tls-wrong-port.err || fail "the unreachable server's URL: $(cat out/tls-wrong-port.err)"

# Nowhere: every stream kept in out/, every file under the scratch folder
# (the station's histories and records read back as text, the bundle
# unpacked), but the two files the test itself put the password in.
for name in st2; do
  as_station "$name" env -u VELMO_HISTORY "$cli" history export -o "$(station_dir "$name")/local-export.jsonl"
done
lab_sql 'SELECT * FROM runs' >out/server-runs.txt
mkdir bundle && tar -xzf "$(station_dir st2)/bundle.tar.gz" -C bundle
found=$(grep -rlaF --exclude=pgpass --exclude=secret -e "$secret" . || true)
[ -z "$found" ] || fail "the password is in: $found"
[ -s out/tls-url-doctor.out ] && [ -s "$(station_dir st2)/local-export.jsonl" ] &&
  [ -n "$(ls -A bundle)" ] || fail "nothing to search"
grep -E '^ok +lab history: ' out/tls-url-doctor.out | grep -qF "${with_password/:$secret@/:***@} answers" ||
  fail "doctor does not show the URL's password as ***: $(cat out/tls-url-doctor.out)"
echo "secrets: TLS with a password from every usual place, and the password nowhere"
