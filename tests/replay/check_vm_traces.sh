#!/usr/bin/env bash
# What the VM tests save from their serial log (vm_save_traces in
# qemu/vm-common.sh) replays: a serial log made here the way the VM prints
# runs (with a kernel message cutting in) is split into NAME.trace, .cmd, .rc
# and .out, the trace is the recorded one byte for byte, and its replay prints
# what the run printed. Usage: check_vm_traces.sh VELMO-CLI
set -euo pipefail
cli=$(realpath "$1")
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
fail() { echo "FAIL: $*"; exit 1; }

(cd "$work" && "$cli" --simulate --trace=drives.trace drives >drives.out)
{
  echo "@@BOOTED uptime=1.0"
  echo "@@CMD root-drives velmo-cli --trace=/tmp/velmo/root-drives.trace drives"
  echo "@@RUN root-drives rc=0"
  sed 's|^|@@OUT root-drives: |' "$work/drives.out"
  echo "[    3.1] sr 2:0:0:0: Attached scsi CD-ROM sr0"
  sed 's|^|@@TRACE root-drives: |' "$work/drives.trace"
  echo "@@DONE uptime=9.0"
} >"$work/serial.txt"

# shellcheck source=../../qemu/vm-common.sh
. "$here/../../qemu/vm-common.sh"
said=$(vm_save_traces "$work/serial.txt" TRACE "$work/traces")
echo "$said"
[[ $said == "1 traces (with data) saved in $work/traces;"* ]] || fail "the count and place are said"
cmp "$work/traces/root-drives.trace" "$work/drives.trace" || fail "the trace is the recorded one"
[ "$(cat "$work/traces/root-drives.rc")" = 0 ] || fail "the exit code is kept"
[ "$(cat "$work/traces/root-drives.cmd")" = "velmo-cli --trace=/tmp/velmo/root-drives.trace drives" ] ||
  fail "the command is kept"
grep -q 'data=\[' "$work/traces/root-drives.trace" || fail "the trace holds data"
"$cli" --simulate=replay:"$work/traces/root-drives.trace" drives >"$work/replayed.out"
cmp "$work/replayed.out" "$work/traces/root-drives.out" || fail "the replay prints what the run printed"
# What ctest runs over the committed VM recordings, on these.
bash "$here/replay_vm_runs.sh" "$work/traces" "$cli" || fail "replay_vm_runs.sh replays them"
sed -i 's/^@@RUN root-drives rc=0$/@@RUN root-drives rc=3/' "$work/serial.txt"
vm_save_traces "$work/serial.txt" TRACE "$work/traces" >/dev/null
if bash "$here/replay_vm_runs.sh" "$work/traces" "$cli" >/dev/null; then
  fail "a recorded exit code the replay does not give is caught"
fi
echo "vm traces: saved and replayed"
