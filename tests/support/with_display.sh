#!/usr/bin/env bash
# Runs a command on an X display of its own: a fresh Xvfb that picks its own
# free number (-displayfd), so window tests started side by side never race
# for one the way xvfb-run -a can, and never share a screen.
#   with_display.sh [-s "SERVER ARGS"] COMMAND [ARG...]
# SERVER ARGS default to xvfb-run's "-screen 0 1280x1024x24".
set -euo pipefail

server_args=(-screen 0 1280x1024x24)
if [ "${1-}" = -s ]; then
  [ $# -ge 2 ] || { echo "with_display.sh: -s needs the server's arguments" >&2; exit 64; }
  read -ra server_args <<<"$2"
  shift 2
fi
[ $# -ge 1 ] || { echo "usage: with_display.sh [-s \"SERVER ARGS\"] COMMAND [ARG...]" >&2; exit 64; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/velmo-display.XXXXXX")
server=""
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap stop_server EXIT
trap 'exit 143' TERM INT HUP

mkfifo "$dir/ready"
Xvfb -displayfd 3 -nolisten tcp -noreset "${server_args[@]}" 3>"$dir/ready" \
  >"$dir/server.log" 2>&1 &
server=$!
# Xvfb writes its number once it takes clients; end of file means it died.
number=""
read -r -t 60 number <"$dir/ready" || true
if ! [[ "$number" =~ ^[0-9]+$ ]]; then
  echo "with_display.sh: Xvfb did not start:" >&2
  cat "$dir/server.log" >&2
  exit 1
fi

# GTK's accessibility bridge looks for an accessibility bus, which a test
# display has none of; without it a window process starts in two thirds of
# the CPU under AddressSanitizer.
status=0
DISPLAY=":$number" NO_AT_BRIDGE=1 "$@" || status=$?
exit "$status"
