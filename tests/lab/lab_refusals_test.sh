#!/usr/bin/env bash
# What the lab history refuses: a server schema newer than this Velmo (65,
# nothing written, runs kept waiting); a station's or a reader's delete and
# prune, a reader's push (77, nothing changed); hostile filter text (found
# literally, nothing changed).
#   with_lab_server.sh lab_refusals_test.sh VELMO-CLI
# shellcheck source=lab_case.sh
source "$(dirname "$0")/lab_case.sh"
export VELMO_HISTORY=$VELMO_TEST_LAB_STATION
create_schema
scan st1 st1-scan1
expect 0 st1 st1-push history push
[ "$(server_count)" = 1 ] || fail "the station's run did not arrive"

# A newer schema on the server: refused, nothing written, the run waits.
owner_sql() { "$VELMO_TEST_LAB_BIN/psql" -X -q -v ON_ERROR_STOP=1 "$VELMO_TEST_LAB_OWNER" -c "$1"; }
owner_sql 'UPDATE velmo_schema SET version = version + 1'
scan st1 st1-scan3
expect 65 st1 st1-push-newer history push
[ "$(grep -c . out/st1-push-newer.err)" = 1 ] || fail "not one line: $(cat out/st1-push-newer.err)"
[ "$(server_count)" = 1 ] || fail "a push wrote into a newer schema"
owner_sql 'UPDATE velmo_schema SET version = version - 1'
expect 0 st1 st1-push-after history push
grep -q '^pushed 1 run' out/st1-push-after.out || fail "the waiting run: $(cat out/st1-push-after.out)"
[ "$(server_count)" = 2 ] || fail "the waiting run did not arrive"

# The version is the owner's alone: a station that could stamp it would
# shut every other station out.
for stamp in 'INSERT INTO velmo_schema VALUES (99)' 'UPDATE velmo_schema SET version = 99' \
  'DELETE FROM velmo_schema'; do
  if "$VELMO_TEST_LAB_BIN/psql" -X -q "$VELMO_TEST_LAB_STATION" -c "$stamp" 2>/dev/null; then
    fail "a station may $stamp"
  fi
done

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
  [ "$(server_count)" = 2 ] || fail "a $who deleted runs"
done
# A reader pushes nothing: refused, its run waits.
make_records st1 reader1 1 reader-run.jsonl
as_station reader1 env -u VELMO_HISTORY "$cli" history import reader-run.jsonl >out/reader-import.out 2>&1
VELMO_HISTORY=$VELMO_TEST_LAB_READER expect 77 reader1 reader-push history push
[ "$(server_count)" = 2 ] || fail "a reader wrote a run"
[ "$(waiting_after reader-push)" = 1 ] || fail "the reader's run: $(cat out/reader-push.err)"
expect 0 st1 owner-delete --history "$VELMO_TEST_LAB_OWNER" history delete "$id"
[ "$(server_count)" = 1 ] || fail "the owner's delete"

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
[ "$(rows mid-any-case)" = 1 ] || fail "--mid novadisc --station st1: $(cat out/mid-any-case.out)"
echo "refusals: 65 for a newer schema, 77 for what a role may not do, filters literal"
