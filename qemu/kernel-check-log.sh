#!/usr/bin/env bash
# Judges the kernel drive test VM's serial log (qemu/kernel-checks.sh)
# against the same scenarios run in-process with --simulate (REFDIR).
set -uo pipefail
log=$1 ref=$2
. "$(dirname "$0")/log-judge.sh"
both() { out "$1"; err "$1"; }
file_of() { sed -n "s/^@@FILE $1: //p" "$log"; }
lastfd() { sed -n "s/^@@LASTFD $1 //p" "$log"; }
# Device names differ (sim:d: against /dev/sg1); everything else must not.
# The log's path and the columns around the device name follow suit.
normal() { sed -E 's#(sim:[a-z]:|/dev/sg[0-9]+)#DEV#g; s#^Log: .*\(([0-9]+ samples).*#Log: (\1)#; s/ +/ /g; s/ +$//'; }
same_as_ref() {  # NAME: stdout and exit code as in-process
  [ "$(out "$1" | normal)" == "$(normal < "$ref/$1.out")" ] && [ "$(rc_of "$1")" == "$(cat "$ref/$1.rc")" ]
}
# The LBA, PSN, TE and FE of every sample of a JSON record, in order:
# whatever else the record holds does not count.
samples() { grep -o '"\(lba\|psn\|te\|fe\)": *-\?[0-9]*' | tr -d ' '; }
# Every line of a TEFE.txt is the header or a whole sample line, each with
# its CR LF, the last one too.
whole_lines() {
  local lines cr=$'\r'
  lines=$(file_of "$1")
  [ -n "$lines" ] && grep -q "^@@ENDFILE $1 last=0d0a$" "$log" &&
    ! grep -v -E "^ Address   TE   FE Result$cr\$|^ *[0-9]+ +[0-9]+ +[0-9]+ [A-Z].*[.]$cr\$" <<<"$lines" | grep -q .
}

echo "What the kernel made of the devices:"
grep -E '^@@(ATTACHED|ATTACHCMDS|NODE|SGNODE|HANDLER|USER|HOLDER|SIGNAL|TIMEOUT|TRACE|SGIO|DMESG|REMOVED|WARN|FATAL)' "$log" |
  grep -v 'Nexus does not exist' | sed 's/^/  /'
sed -n 's/^@@LS /  /p' "$log"

nodes=$(grep -c '^@@NODE sr[0-9]* type=5 ' "$log")
check "the kernel bound sr to both backstore LUNs as type-5 devices ($nodes)" test "$nodes" -eq 2
check "sg nodes appeared once the sg module was loaded" test "$(grep -c '^@@SGNODE sg[0-9]* type=5 block=sr' "$log")" -eq 2

# /dev/srN only.
check "without sg, drives lists the drives through /dev/srN" has "$(both sr-drives)" "/dev/sr"
check "without sg, the kernel refuses the vendor command and the advice is to load sg" \
  has "$(both sr-scan)" "the kernel refused the vendor command on /dev/sr.*modprobe sg"
check "without sg, the scan does not succeed (exit $(rc_of sr-scan))" test "$(rc_of sr-scan)" != 0

# Through /dev/sgN: the same answers as in-process.
check "drives lists both drives through /dev/sgN" test "$(out drives | grep -c '/dev/sg')" -eq 2
check "drives: the diagnostic-mode answers are those of --simulate" same_as_ref drives
for name in identify-0 identify-1 smart scan-refusing; do
  check "$name: output and exit code are those of --simulate" same_as_ref $name
done
# The loopback target sizes a CDB from its operation code and forwards
# only 10 bytes of a vendor-group one (0xC0-0xFF): of the 12-byte sample
# command the drive gets the PSN without its low byte (byte 10).
vendor_cdb=$(sed -n 's/^@@VENDORCDB //p' "$log")
check "the sample CDB reached the firmware as 10 bytes ($vendor_cdb)" \
  test "$(sed 's/ ring=.*//; s/ len=.*//' <<<"$vendor_cdb" | wc -w)" -eq 10
# So the exact comparison holds where every sampled PSN has a zero low
# byte (normal and full density, the DL disc); quick density samples
# elsewhere, and there only the addresses and verdicts can agree.
check "scan-quick: exit code $(rc_of scan-quick) as in-process" test "$(rc_of scan-quick)" == "$(cat "$ref/scan-quick.rc")"
check "scan-quick: TEFE.txt has the same addresses and results as in-process" \
  test "$(file_of scan-quick.txt | awk '{print $1, $4, $5, $6}')" == "$(awk '{print $1, $4, $5, $6}' "$ref/scan-quick.txt")"
for name in scan-normal scan-full scan-dl; do
  check "$name: exit code $(rc_of $name) and verdict as in-process" same_as_ref $name
  check "$name: TEFE.txt has the same bytes as in-process" \
    test "$(file_of $name.txt)" == "$(cat "$ref/$name.txt")"
  check "$name: the JSON samples (LBA/PSN/TE/FE) are those of in-process" \
    test "$(file_of $name.json | samples)" == "$(samples < "$ref/$name.json")" -a -n "$(samples < "$ref/$name.json")"
done

# No group, busy: reported on the sg node, no quiet fall back to /dev/srN.
check "no group: permission denied on the sg node, with the group advice" \
  has "$(both nogroup-drives)" "/dev/sg[0-9]*: permission denied.*usermod -aG"
check "no group: no drive is used through /dev/srN behind the user's back" hasnt "$(out nogroup-drives)" "/dev/sr"
holder=$(sed -n 's/^@@HOLDER pid=\([0-9]*\).*/\1/p' "$log")
check "busy: the drive is in use by another program, named with its pid ($holder)" \
  has "$(both busy-drives)" "/dev/sg[0-9]*: in use by another program (pid $holder, hold_node)"
check "busy: no quiet fall back to /dev/srN" hasnt "$(both busy-drives) $(both busy-scan)" "/dev/sr"
check "busy: the scan does not run (exit $(rc_of busy-scan))" test "$(rc_of busy-scan)" != 0

# sr unloaded: type-5 devices with an sg node and no sr driver.
check "without the sr driver: no block node is left, the sg nodes are" \
  test -n "$(grep '^@@NOSR block=0 generic=2$' "$log")"
check "without the sr driver: drives finds both drives through /dev/sgN" \
  test "$(rc_of nosr-drives)" == 0 -a "$(out nosr-drives | grep -c '/dev/sg[01] .*\(accepted\|refused\)')" -eq 2

# doctor in each state; drive_block NAME N is drive N's part of its report.
drive_block() { out "$1" | awk -v n="Drive $2:" 'index($0, n) == 1 {on = 1} on && $0 == "" {on = 0} on'; }
check "doctor without sg: exit 3, the sg module is missing, with the fix" \
  test "$(rc_of doctor-nosg)" == 3 -a -n "$(out doctor-nosg | grep -A1 'the sg module is not loaded' | grep 'fix: sudo modprobe sg')"
check "doctor without sg: the kernel's filter on /dev/srN is named" \
  has "$(out doctor-nosg)" "only /dev/sr0 is there: the kernel's command filter"
check "doctor: exit 0, the supported drive is ready to scan through its sg node" \
  test "$(rc_of doctor)" == 0 -a -n "$(drive_block doctor 0 | grep -A99 '^Drive 0: VELMO .*(/dev/sg0)' | grep '=> ready to scan')"
check "doctor: the refusing drive refuses the diagnostic mode" \
  has "$(drive_block doctor 1)" "refuses the diagnostic mode"
check "doctor --json: says scannable and names both drives' nodes" \
  test -n "$(out doctor-json | grep '"scannable": true$')" -a "$(out doctor-json | grep -c '"node": "/dev/sg')" -eq 2
check "doctor with no disc: exit 3, no disc, with what to do" \
  test "$(rc_of doctor-nodisc)" == 3 -a -n "$(out doctor-nodisc | grep -A1 'no disc in the drive' | grep 'fix: insert')"
check "doctor with no group: exit 3, the sg node is root's alone, with the chgrp fix" \
  test "$(rc_of doctor-nogroup)" == 3 -a -n "$(out doctor-nogroup | grep -A1 '/dev/sg0 crw-rw---- root:root' | grep 'fix: sudo chgrp')"
check "doctor when busy: exit 3, the holder named with its pid, and only it" \
  test "$(rc_of doctor-busy)" == 3 -a "$(out doctor-busy | grep -c 'is held open by')" -eq 1 \
    -a -n "$(out doctor-busy | grep -A1 "/dev/sg0 is held open by hold_node (pid $holder)" | grep "kill $holder")"

# Signals on the real node.
check "Ctrl-C ends the scan with exit 130" test "$(rc_of sig-INT)" == 130
check "SIGTERM ends the scan with exit 143 (128 + SIGTERM)" test "$(rc_of sig-TERM)" == 143
for sig in INT TERM; do
  check "SIG$sig: TEFE.txt holds whole lines only" whole_lines sig-$sig.txt
done

# The time-out, once.
check "time-out: the scan says the drive did not answer the sample in time" \
  has "$(both timeout)" "the drive did not answer the sample command at LBA"
check "time-out: no advice to flash the drive" hasnt "$(both timeout)" "Firmware not supported"
check "time-out: exit code as in-process ($(rc_of timeout))" test "$(rc_of timeout)" == "$(cat "$ref/timeout.rc")"
check "time-out: TEFE.txt as in-process" test "$(file_of timeout.txt)" == "$(cat "$ref/timeout.txt")"
read -r t0 t1 < <(sed -n 's/^@@TIMEOUT started=\([0-9.]*\) ended=\([0-9.]*\)/\1 \2/p' "$log")
elapsed=$(awk -v a="${t0:-0}" -v b="${t1:-0}" 'BEGIN {printf "%d", b - a}')
check "time-out: the kernel gave up after the 30 s sample time-out (run took ${elapsed} s)" \
  test "$elapsed" -ge 30 -a "$elapsed" -lt 120

# The LUN removed mid-scan.
check "LUN removed: the drive went away during the run" \
  has "$(both gone)" "the drive went away during the run at LBA"
check "LUN removed: no advice to flash the drive" hasnt "$(both gone)" "Firmware not supported"
check "LUN removed: exit 2" test "$(rc_of gone)" == 2
check "LUN removed: TEFE.txt holds whole lines only" whole_lines gone.txt

# Leave after enter, stopped or not.
for name in drives identify-0 scan-quick scan-normal scan-full smart scan-dl busy-scan sig-INT sig-TERM timeout; do
  fd=$(lastfd $name)
  if [ -n "$fd" ]; then
    check "$name: the last vendor command the drive saw is leave ($fd)" test "$fd" == "FD F2"
  fi
done

# The same drive and discs read by the disc tools of other authors.
echo "The same drive and discs read by other programs:"
. "$(dirname "$0")/tool-compare.sh"
discs=$(sed -n 's/^@@RUN cmp-\(.*\)-identify rc=.*/\1/p' "$log" | tr '\n' ' ')
check "each disc was loaded and read ($discs)" \
  test "$discs" == "dvd-r-good dvd+r-good dvd+rdl-good dvd+rdl-early-break dvd+r-noname dvd+r-one-speed dvd-rom empty "
# shellcheck disable=SC2086
compare_tools $discs

verdict ""
