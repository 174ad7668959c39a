# The judge's vocabulary for a VM's serial log, sourced by check-log.sh and
# kernel-check-log.sh: tallies, the check wrapper, and readers of the tagged
# lines (@@OUT, @@ERR, @@RUN) that the checks in the VM print. $log is the log.
passed=0 failed=0
ok() { passed=$((passed + 1)); echo "  ok   $*"; }
bad() { failed=$((failed + 1)); echo "  FAIL $*"; }
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
out() { sed -n "s/^@@OUT $1: //p" "$log"; }
err() { sed -n "s/^@@ERR $1: //p" "$log"; }
rc_of() { sed -n "s/^@@RUN $1 rc=//p" "$log"; }
has() { grep -q -- "$2" <<<"$1"; }
hasnt() { ! grep -q -- "$2" <<<"$1"; }
# The tally, and the exit status: 0 only when nothing failed.
verdict() {
  echo "$1$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
