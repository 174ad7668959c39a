#!/usr/bin/env bash
# The installed bash completion against the built velmo-cli: commands,
# options of the command typed, option values and scenarios.
# usage: bash_completion_test.sh VELMO_CLI COMPLETION_FILE
set -u
source "$2"
status=0
expect() {
  local want=$1
  shift
  COMP_WORDS=("$VELMO" "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _velmo_cli
  local got="${COMPREPLY[*]}"
  if [[ $got != "$want" ]]; then
    echo "velmo-cli $* <TAB>: expected '$want', got '$got'"
    status=1
  fi
}
VELMO=$1
expect "scan smart show" s
expect "drives identify scan smart doctor history show compare report watch recover" ""
expect "--speed" scan --sp
expect "10X 12X 16X" scan --speed 1
expect "2.4X 4X 6X 8X 10X 12X 16X" -s ""
expect "--simulate=feeder --simulate=feeder-fault" --simulate=fee
expect "--report-dir" watch --report-d
expect "drive-gone drive-busy drive-error" history --outcome dr
expect "normal full quick" scan --density ""
expect "0 1 2 3 4 5 6 7 all" -d ""
expect "--quiet" --qu
[[ $status == 0 ]] && echo "completion ok"
exit $status
