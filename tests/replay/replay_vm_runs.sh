#!/usr/bin/env bash
# Replays the runs a VM test saved (vm_save_traces: NAME.trace, .cmd, .rc,
# .out) and checks each gives its recorded exit code and output, the device
# nodes aside (a replay's drives are sim:d:, sim:e:, ...). A run whose advice
# depends on the node it met (the kernel's filter on /dev/srN) is left out
# and said, as is doctor, which looks at the host's modules and nodes besides
# the drive. The files a run wrote are named without the VM's folder, and a
# run's seconds are those of the replay. Usage: replay_vm_runs.sh DIR VELMO-CLI
set -euo pipefail
dir=$(realpath "$1")
cli=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
nodes() {
  sed -E 's#(/dev/s[gr][0-9]+|sim:[d-y]:)#NODE#g; s#/tmp/velmo/##g; s/, [0-9]+ s\)/, N s)/; s/ +/ /g'
}
checked=0
failed=0
for trace in "$dir"/*.trace; do
  [ -e "$trace" ] || continue
  name=$(basename "$trace" .trace)
  if grep -q -- " doctor" "$dir/$name.cmd"; then
    echo "$name: left out (doctor reads the host's modules and nodes)"
    continue
  fi
  if grep -q "the kernel refused" "$dir/$name.out" 2>/dev/null; then
    echo "$name: left out (the advice names the node the kernel refused on)"
    continue
  fi
  # The arguments after velmo-cli, without the recorded run's own trace;
  # its files (in the VM's /tmp/velmo) land in the scratch folder.
  read -r -a args <<<"$(sed -e 's/.*velmo-cli //' -e 's/--trace=[^ ]*//g' -e 's#/tmp/velmo/##g' "$dir/$name.cmd")"
  status=0
  (cd "$work" && "$cli" --simulate=replay:"$(realpath "$trace")" "${args[@]}" >"$work/out" \
    2>"$work/err") || status=$?
  if [ "$status" != "$(cat "$dir/$name.rc")" ]; then
    echo "$name: exit $status, recorded $(cat "$dir/$name.rc")"
    failed=$((failed + 1))
  elif ! diff <(nodes <"$dir/$name.out") <(nodes <"$work/out") >"$work/diff"; then
    echo "$name: the output differs from the recorded one:"
    cat "$work/diff"
    failed=$((failed + 1))
  fi
  checked=$((checked + 1))
done
echo "$checked recorded runs replayed, $failed differ"
[ "$failed" -eq 0 ]
