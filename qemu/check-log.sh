#!/usr/bin/env bash
# Judges the drive test VM's serial log (see qemu/vm-checks.sh) against what
# the MMC/SPC standards say the emulated drives must answer.
set -uo pipefail
log=$1
. "$(dirname "$0")/log-judge.sh"
field() { sed -n "s/^@@$1 //p" "$log"; }
trace() { sed -n "s/^@@TRACE $1: //p" "$log"; }
# Trace lines of one drive whose CDB starts with the given bytes.
cdb_lines() { trace "$1" | grep " drive=$2 " | grep "cdb=\[$3"; }
# Every such line says the same: "field=value" pairs given.
all_say() {
  local lines=$1
  shift
  [ -n "$lines" ] || return 1
  local want
  for want in "$@"; do
    if grep -v -q -- " $want " <<<"$lines"; then return 1; fi
  done
}

grep -q '^@@DONE' "$log" || bad "the VM ran every check (no @@DONE: it stopped early)"
mapfile -t drives < <(field DRIVE)
echo "drives the kernel found: ${#drives[@]}"
[ ${#drives[@]} -eq 8 ] && ok "8 emulated drives present" || bad "8 emulated drives present (found ${#drives[@]})"

# Standard answers: INQUIRY peripheral type 5; the 0xFD vendor command is
# not an MMC operation code: CHECK CONDITION, ILLEGAL REQUEST (5), ASC 0x20
# invalid command operation code; TEST UNIT READY without a disc: NOT READY
# (2), ASC 0x3A medium not present; GET CONFIGURATION's current profile is
# 0x0008 CD-ROM for a CD-sized image and 0x0010 DVD-ROM for a DVD-sized one.
refused_by_drive=(status=1 scsi=0x02 sense=5/20/00 err=0)
for line in "${drives[@]}"; do
  eval "$(sed 's/\([a-z]*\)=\([^ ]*\)/local_\1=\2;/g' <<<"$line")"
  i=$local_index sr=$local_sr sg=$local_sg tag=$local_tag
  name=$(sed -n "s/^@@INQUIRY $i \[\(.*\)\]$/\1/p" "$log")
  profile=$(sed -n "s/^@@PROFILE $i //p" "$log")
  echo "drive $i: $tag /dev/$sr /dev/$sg '$name' $profile"
  check "[$tag] named by INQUIRY as QEMU's drive" grep -Eq '^QEMU    QEMU (DVD|CD)-ROM' <<<"$name"
  check "[$tag] has an sg node" test -n "$sg"
  # (1) drives, root, through /dev/sgN.
  row=$(printf '%-2u  %-28s  %-10s  %s' "$i" "$name" "/dev/$sg" "refused: not a supported drive")
  check "[$tag] drives lists it through /dev/$sg, refused as unsupported" grep -qxF -- "$row" <<<"$(out root-drives)"
  check "[$tag] INQUIRY (12 00 00 00 LEN 00) answered GOOD" \
    all_say "$(cdb_lines root-drives "$i" '12 00 00 00')" status=0 scsi=0x00 err=0
  check "[$tag] FD F1 probe: CHECK CONDITION, ILLEGAL REQUEST/invalid opcode" \
    all_say "$(cdb_lines root-drives "$i" 'FD F1')" "${refused_by_drive[@]}"
  # identify, root.
  run=root-identify-$i
  check "[$tag] identify exits 3" test "$(rc_of $run)" = 3
  check "[$tag] identify says the drive refuses the diagnostic mode" has "$(err $run)" "is not a supported drive: it refuses the diagnostic mode"
  check "[$tag] identify's FD F1 refused by the drive" all_say "$(cdb_lines $run "$i" 'FD F1')" "${refused_by_drive[@]}"
  check "[$tag] no leave (FD F2) after a refused enter" test -z "$(cdb_lines $run "$i" 'FD F2')"
  case $tag in
    *-empty)
      check "[$tag] TEST UNIT READY: NOT READY, medium not present (2/3A/xx)" \
        all_say "$(cdb_lines $run "$i" '00 00 00 00 00 00')" status=1 scsi=0x02 err=0
      check "[$tag] TEST UNIT READY sense is 2/3A" grep -q 'sense=2/3A/0[0-2] ' <<<"$(cdb_lines $run "$i" '00 00 00 00 00 00' | tail -n 1)"
      check "[$tag] the drive's own current profile is 0x0000 (none)" test "$profile" = "profile=0x0000"
      check "[$tag] identify says no disc" has "$(err $run)" "no disc in the drive"
      check "[$tag] no GET CONFIGURATION without a disc" test -z "$(cdb_lines $run "$i" '46 ')"
      ;;
    *-cd|*-dvd)
      want=0x0008
      [ "${tag#*-}" = dvd ] && want=0x0010
      check "[$tag] the drive's own current profile is $want" test "$profile" = "profile=$want"
      check "[$tag] TEST UNIT READY answered GOOD" grep -q 'status=0 scsi=0x00 sense=- err=0' <<<"$(cdb_lines $run "$i" '00 00 00 00 00 00' | tail -n 1)"
      check "[$tag] GET CONFIGURATION (46 00 .. 08 00) answered GOOD" \
        all_say "$(cdb_lines $run "$i" '46 00 00 00 00 00 00 00 08 00')" status=0 scsi=0x00 err=0
      check "[$tag] identify shows Disc Type: Not Support." grep -qxF "Disc Type:            Not Support." <<<"$(out $run)"
      check "[$tag] identify shows Status: Not support for this disc." grep -qxF "Status:               Not support for this disc." <<<"$(out $run)"
      check "[$tag] no ADIP / pre-recorded read for a read-only disc" test -z "$(cdb_lines $run "$i" 'AD ')"
      ;;
  esac
  # (4) an ordinary user: sg passes the vendor command to the drive ...
  row=$(printf '%-2u  %-28s  %-10s  %s' "$i" "$name" "/dev/$sg" "refused: not a supported drive")
  check "[$tag] user: drives through /dev/$sg, refused by the drive" grep -qxF -- "$row" <<<"$(out user-sg-drives)"
  check "[$tag] user: FD F1 through sg reaches the drive (5/20/00)" \
    all_say "$(cdb_lines user-sg-drives "$i" 'FD F1')" "${refused_by_drive[@]}"
  # ... while the block node's command filter refuses it (EPERM).
  row=$(printf '%-2u  %-28s  %-10s  %s' "$i" "$name" "/dev/$sr" "failed: the kernel refused the vendor command on /dev/$sr")
  check "[$tag] user: drives through /dev/$sr, refused by the kernel" grep -qF -- "$row" <<<"$(out user-sr-drives)"
  check "[$tag] user: INQUIRY through sr answered GOOD" \
    all_say "$(cdb_lines user-sr-drives "$i" '12 00 00 00')" status=0 scsi=0x00 err=0
  check "[$tag] user: FD F1 through sr failed in the kernel (access denied, no sense)" \
    all_say "$(cdb_lines user-sr-drives "$i" 'FD F1')" status=1 scsi=0x00 sense=- err=5
done
check "user runs had uid 1000 without capabilities" grep -q '^1000 CapEff:.*0000000000000000' <<<"$(field USERCAPS)"
check "user identify through /dev/srN exits 3" test "$(rc_of user-sr-identify)" = 3
check "user identify through /dev/srN names the kernel's refusal" has "$(err user-sr-identify)" "cannot be used: the kernel refused the vendor command"
check "no transport failure reported anywhere" hasnt "$(grep -E '^@@(OUT|ERR) (root|user-sg)' "$log")" "transport failure"

# The same drives read by the disc tools of other authors.
echo "The same drives read by other programs:"
. "$(dirname "$0")/tool-compare.sh"
tool_drive_index() { sed -n "s/^@@TOOLDRIVE $1 index=//p" "$log"; }
velmo_identify_run() { echo "root-identify-$(tool_drive_index "$1")"; }
velmo_drives_run() { echo root-drives-long; }
velmo_drive_index() { tool_drive_index "$1"; }
tool_drives=$(sed -n 's/^@@TOOLDRIVE \([^ ]*\) .*/\1/p' "$log" | tr '\n' ' ')
check "the tools read the virtio and IDE drives ($tool_drives)" test "$(wc -w <<<"$tool_drives")" -eq 6
# shellcheck disable=SC2086
compare_tools $tool_drives

verdict "qemu-drive-test: "
