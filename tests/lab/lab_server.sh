# A private PostgreSQL server for the lab history's tests (sourced).
#
# lab_server_create [--tls] makes a cluster in a scratch folder of its own
# with initdb, starts it with pg_ctl listening only on a Unix socket in that
# folder (and, with --tls, on 127.0.0.1 at a free port with TLS and password
# logins), and sets up the database and roles as docs/lab-history.md tells
# a lab's administrator to: the setup is the first ```sql block of that page,
# run as it stands. It exports
#   VELMO_TEST_LAB_DIR      the scratch folder (station homes may go in it)
#   VELMO_TEST_LAB_OWNER    URL of the owner role (velmo_owner)
#   VELMO_TEST_LAB_STATION  URL of a station's login role (station1)
#   VELMO_TEST_LAB_READER   URL of a reader's login role (reader1)
#   VELMO_TEST_LAB_ADMIN    URL of the cluster's superuser, for the tests' own
#                           look at the tables (never given to velmo-cli)
# and with --tls also
#   VELMO_TEST_LAB_TLS_STATION  the station over TCP, sslmode=require, no
#                               password in it
#   VELMO_TEST_LAB_PASSFILE     a PGPASSFILE holding station1's password
#   VELMO_TEST_LAB_ROOT_CERT    the server's self-made certificate, for
#                               sslmode=verify-full
#   VELMO_TEST_LAB_SECRET_FILE  a file holding only that password, for the
#                               test to search outputs with (the password is
#                               never put in the environment)
# lab_server_stop / lab_server_start stop and start the same cluster again
# (the outage cases); lab_server_destroy stops it (fast, then immediate),
# ends what the tests left running in the folder and removes the folder.
# PostgreSQL refuses to run as root: as root the server runs as `nobody`.
# lab_server_find_bin returns 1 when no server binaries are installed.

lab_server_find_bin() {
  local bin=""
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  if [ -z "$bin" ] && command -v pg_config >/dev/null; then
    bin=$(pg_config --bindir 2>/dev/null || true)
  fi
  [ -n "$bin" ] && [ -x "$bin/initdb" ] && [ -x "$bin/pg_ctl" ] && [ -x "$bin/postgres" ] &&
    [ -x "$bin/psql" ] || return 1
  VELMO_TEST_LAB_BIN=$bin
  export VELMO_TEST_LAB_BIN
}

# Runs a command as the server's user, from a folder that user may enter.
lab_server_as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    (cd "$VELMO_TEST_LAB_DIR" && runuser -u "$VELMO_TEST_LAB_USER" -- "$@")
  else
    (cd "$VELMO_TEST_LAB_DIR" && "$@")
  fi
}

# The superuser's psql on the Unix socket: psql_admin [DB] [psql options...]
lab_psql_admin() {
  local db=${1:-velmo}
  shift || true
  "$VELMO_TEST_LAB_BIN/psql" -X -q -v ON_ERROR_STOP=1 \
    "postgresql:///$db?host=$VELMO_TEST_LAB_DIR/run&port=$VELMO_TEST_LAB_PORT&user=postgres" "$@"
}

# One value from the lab's tables: lab_sql "SELECT count(*) FROM runs"
lab_sql() {
  lab_psql_admin velmo -At -c "$1"
}

lab_server_start() {
  lab_server_as_user "$VELMO_TEST_LAB_BIN/pg_ctl" -D "$VELMO_TEST_LAB_DIR/data" \
    -l "$VELMO_TEST_LAB_DIR/server.log" -w -t 30 start >/dev/null
}

lab_server_stop() {
  lab_server_as_user "$VELMO_TEST_LAB_BIN/pg_ctl" -D "$VELMO_TEST_LAB_DIR/data" \
    -m fast -w -t 10 stop >/dev/null 2>&1 ||
    lab_server_as_user "$VELMO_TEST_LAB_BIN/pg_ctl" -D "$VELMO_TEST_LAB_DIR/data" \
      -m immediate -w -t 10 stop >/dev/null 2>&1
}

# A port nobody listens on now, on 127.0.0.1.
lab_free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# The setup docs/lab-history.md gives, verbatim.
lab_setup_sql() {
  local page
  page="$(dirname "${BASH_SOURCE[0]}")/../../docs/lab-history.md"
  awk '/^```sql$/ { inside = 1; next } inside && /^```$/ { exit } inside { print }' "$page"
}

lab_server_create() {
  local tls=0
  [ "${1-}" = --tls ] && tls=1
  lab_server_find_bin || return 1
  # The server's user must reach the folder: a private TMPDIR of root's is
  # closed to it, so as root the cluster goes in /tmp when that is so.
  local base=${TMPDIR:-/tmp}
  VELMO_TEST_LAB_USER=$(id -un)
  if [ "$(id -u)" -eq 0 ]; then
    VELMO_TEST_LAB_USER=nobody
    runuser -u nobody -- test -x "$base" 2>/dev/null || base=/tmp
  fi
  VELMO_TEST_LAB_DIR=$(mktemp -d "$base/velmo-lab.XXXXXX")
  export VELMO_TEST_LAB_DIR VELMO_TEST_LAB_USER VELMO_TEST_LAB_PORT
  chmod 711 "$VELMO_TEST_LAB_DIR"
  mkdir -m 700 "$VELMO_TEST_LAB_DIR/data" "$VELMO_TEST_LAB_DIR/run"
  if [ "$(id -u)" -eq 0 ]; then
    chown "$VELMO_TEST_LAB_USER" "$VELMO_TEST_LAB_DIR/data" "$VELMO_TEST_LAB_DIR/run"
    touch "$VELMO_TEST_LAB_DIR/server.log"
    chown "$VELMO_TEST_LAB_USER" "$VELMO_TEST_LAB_DIR/server.log"
  fi
  # The socket folder must let the tests' processes in.
  chmod 755 "$VELMO_TEST_LAB_DIR/run"
  lab_server_as_user "$VELMO_TEST_LAB_BIN/initdb" -D "$VELMO_TEST_LAB_DIR/data" -U postgres \
    --auth-local=trust --auth-host=reject -E UTF8 --locale=C --no-sync \
    >"$VELMO_TEST_LAB_DIR/initdb.log" 2>&1 || {
    cat "$VELMO_TEST_LAB_DIR/initdb.log" >&2
    return 1
  }
  local conf=$VELMO_TEST_LAB_DIR/data/postgresql.conf
  VELMO_TEST_LAB_PORT=5432
  {
    echo "listen_addresses = ''"
    echo "unix_socket_directories = '$VELMO_TEST_LAB_DIR/run'"
    echo "unix_socket_permissions = 0777"
    # Throw-away data: nothing is worth an fsync, and several clusters
    # run side by side.
    echo "fsync = off"
    echo "synchronous_commit = off"
    echo "full_page_writes = off"
    echo "shared_buffers = 16MB"
    echo "max_connections = 60"
  } >>"$conf"
  if [ "$tls" -eq 1 ]; then
    local port
    port=$(lab_free_port)
    VELMO_TEST_LAB_PORT=$port
    (cd "$VELMO_TEST_LAB_DIR/data" &&
      openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
        -keyout server.key -out server.crt >/dev/null 2>&1 &&
      cp server.crt ../root.crt &&
      chmod 600 server.key &&
      if [ "$(id -u)" -eq 0 ]; then chown "$VELMO_TEST_LAB_USER" server.key server.crt; fi)
    {
      echo "listen_addresses = '127.0.0.1'"
      echo "port = $port"
      echo "ssl = on"
      echo "password_encryption = 'scram-sha-256'"
    } >>"$conf"
    # Over TCP only TLS and a password; the socket stays the tests' own way in.
    {
      echo "local all all trust"
      echo "hostssl all all 127.0.0.1/32 scram-sha-256"
    } >"$VELMO_TEST_LAB_DIR/data/pg_hba.conf"
  fi
  lab_server_start || {
    cat "$VELMO_TEST_LAB_DIR/server.log" >&2
    return 1
  }
  lab_setup_sql | lab_psql_admin postgres -f - >"$VELMO_TEST_LAB_DIR/setup.log" 2>&1 || {
    cat "$VELMO_TEST_LAB_DIR/setup.log" >&2
    return 1
  }
  local socket="host=$VELMO_TEST_LAB_DIR/run"
  [ "$VELMO_TEST_LAB_PORT" = 5432 ] || socket+="&port=$VELMO_TEST_LAB_PORT"
  export VELMO_TEST_LAB_OWNER="postgresql:///velmo?$socket&user=velmo_owner"
  export VELMO_TEST_LAB_STATION="postgresql:///velmo?$socket&user=station1"
  export VELMO_TEST_LAB_READER="postgresql:///velmo?$socket&user=reader1"
  export VELMO_TEST_LAB_ADMIN="postgresql:///velmo?$socket&user=postgres"
  if [ "$tls" -eq 1 ]; then
    local secret
    secret=$(head -c 18 /dev/urandom | base64 | tr '+/' 'xy')
    printf '%s\n' "$secret" >"$VELMO_TEST_LAB_DIR/secret"
    printf '127.0.0.1:%s:velmo:station1:%s\n' "$port" "$secret" >"$VELMO_TEST_LAB_DIR/pgpass"
    chmod 600 "$VELMO_TEST_LAB_DIR/secret" "$VELMO_TEST_LAB_DIR/pgpass"
    # Given on standard input, so that it shows in no process's arguments.
    printf "ALTER ROLE station1 PASSWORD '%s';\n" "$secret" | lab_psql_admin velmo -f - ||
      return 1
    export VELMO_TEST_LAB_TLS_STATION="postgresql://station1@127.0.0.1:$port/velmo?sslmode=require"
    export VELMO_TEST_LAB_PASSFILE="$VELMO_TEST_LAB_DIR/pgpass"
    export VELMO_TEST_LAB_ROOT_CERT="$VELMO_TEST_LAB_DIR/root.crt"
    export VELMO_TEST_LAB_SECRET_FILE="$VELMO_TEST_LAB_DIR/secret"
  fi
}

# The processes the test started that still have the folder in their
# environment (a push a scan left running in the background): given a few
# seconds to end, then ended.
lab_server_end_strays() {
  local marker="VELMO_TEST_LAB_DIR=$VELMO_TEST_LAB_DIR" files file pids tries
  for tries in $(seq 50); do
    # One grep over every process, itself without the marker.
    files=$(env -u VELMO_TEST_LAB_DIR grep -lzxF "$marker" /proc/[0-9]*/environ 2>/dev/null || true)
    pids=""
    for file in $files; do
      file=${file#/proc/}
      pids+=" ${file%/environ}"
    done
    [ -z "$pids" ] && return 0
    [ "$tries" -lt 50 ] && sleep 0.1
  done
  echo "lab_server: ending what was left running:$pids" >&2
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
}

lab_server_destroy() {
  [ -n "${VELMO_TEST_LAB_DIR-}" ] && [ -d "$VELMO_TEST_LAB_DIR" ] || return 0
  if [ -f "$VELMO_TEST_LAB_DIR/data/postmaster.pid" ]; then
    lab_server_stop || true
  fi
  lab_server_end_strays
  rm -rf "$VELMO_TEST_LAB_DIR"
}
