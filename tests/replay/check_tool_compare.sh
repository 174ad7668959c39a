#!/usr/bin/env bash
# The judge of the comparison with other programs (qemu/tool-compare.sh) on
# lines a kernel drive test VM printed (tools-compared.serial: a DVD+R, a
# DVD-ROM and a DVD+R DL whose layer 1 starts early, read by the tools and by
# velmo-cli, with the drive's own facts): it passes them as recorded; a
# tool that reads another value than Velmo, or than the other tools where
# Velmo's own value is an assumption, is a disagreement and fails the run;
# a tool missing in the VM is skipped with its reason, the rest compared.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
judge() {  # LOG DISC...: the judge's lines; its exit status
  bash -c 'log=$1 root=$2; shift 2; . "$root/qemu/log-judge.sh"; . "$root/qemu/tool-compare.sh"
    compare_tools "$@"; verdict ""' _ "$1" "$root" "${@:2}"
}

# case | sed program planting the fault | exit status | a line the judge prints
cases='
as recorded||0|  agree: mediainfo media-id dvd+r-good NOVADISC/R16
another media type ID|s#Media ID:              NOVADISC/R16#Media ID:              NOVADISC/R17#|1|  DISAGREE: mediainfo media-id dvd+r-good velmo=NOVADISC/R16 tool=NOVADISC/R17
a write speed of its own|s#Write Speed \#1:        8.0x1385=11080KB/s#Write Speed \#1:        10.0x1385=13850KB/s#|1|  DISAGREE: mediainfo write-speeds dvd+r-good velmo=16620 11080 8310 5540 3324 tool=16620 13850 8310 5540 3324
a capacity the other tools do not count|s#0 readable , 2295104 writable#0 readable , 2200000 writable#|1|  DISAGREE: xorriso capacity dvd+r-good velmo=4076.0 MB tool=4296.9 MB
another drive|s#Vendor identification: VELMO#Vendor identification: OTHER#|1|  DISAGREE: sg_inq inquiry dvd+r-good velmo=VELMO|DVDRW VX-2016|1.02 tool=OTHER|DVDRW VX-2016|1.02
no disc where Velmo saw one|/^@@TOOLRC dvd+r-good sg_turs /s/ 0$/ 2/|1|  DISAGREE: sg_turs readiness dvd+r-good velmo=ready tool=not ready
another serial number|/sg_vpd: /s#Unit serial number: VX16A0417#Unit serial number: VX16A0418#|1|  DISAGREE: sg_vpd serial dvd+r-good velmo=VX16A0417 tool=VX16A0418
another buffer size|/dvd+r-good sg_modes:  00 /s#00 00 08 00 56 90$#00 00 04 00 56 90#|1|  DISAGREE: sg_modes buffer dvd+r-good velmo=2048 KiB tool=1024 KiB
a serial Velmo missed|/cmp-dvd+r-good-drives:  *Serial number:  VX16A0417/s#VX16A0417#unknown#|1|  DISAGREE: sg_vpd serial dvd+r-good velmo=unknown tool=VX16A0417
a serial neither got|/cmp-dvd+r-good-drives:  *Serial number:  VX16A0417/s#VX16A0417#unknown#; /dvd+r-good sg_vpd:  *Unit serial number:/d|0|  explained: sg_vpd serial dvd+r-good velmo=unknown tool= (unanswered_fact)
another layer break|s#L0 Data Zone Capacity: 2084864\*2KB#L0 Data Zone Capacity: 2086912*2KB#|1|  DISAGREE: mediainfo layer0-end dvd+rdl-early-break velmo=2084864 tool=2086912
xorriso missing|/^@@TOOL[A-Z]* [^ ]* xorriso/d; 1i @@MISSINGTOOL xorriso not installed (package xorriso)|0|  SKIP xorriso not installed (package xorriso)
'
while IFS='|' read -r name program want line; do
  [ -n "$name" ] || continue
  sed -e "$program" "$here/tools-compared.serial" >"$work/serial.txt"
  # The faults are planted in the DVD+R's lines, the layer break in the DVD+R
  # DL's: the DVD-ROM only as recorded.
  discs=dvd+r-good
  [[ $name == *layer* ]] && discs=dvd+rdl-early-break
  [ "$name" == "as recorded" ] && discs="dvd+r-good dvd-rom dvd+rdl-early-break"
  # shellcheck disable=SC2086
  said=$(judge "$work/serial.txt" $discs)
  status=$?
  [ "$status" == "$want" ] || fail "$name: exit $status, not $want"
  grep -qxF -- "$line" <<<"$said" || { fail "$name: no line '$line'"; echo "$said"; }
done <<<"$cases"
said=$(sed '/xorriso/d; 1i @@MISSINGTOOL xorriso not installed' "$here/tools-compared.serial" >"$work/serial.txt"
  judge "$work/serial.txt" dvd+r-good)
grep -q ' xorriso ' <<<"$(grep -E '^  (agree|explained|DISAGREE)' <<<"$said")" && fail "a missing tool is still compared"
[ $failed -eq 0 ] && echo "the judge of the comparison with other programs: every case as expected"
exit $failed
