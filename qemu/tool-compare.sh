# Compares what the disc tools of other authors (qemu/tool-reads.sh, in the
# VM) and velmo-cli read off the same drive and disc. Sourced by the judges
# after log-judge.sh; $log is the serial log. Each comparison prints
#   agree: TOOL FIELD DISC VALUE
#   explained: TOOL FIELD DISC velmo=X tool=Y: WHY
#   DISAGREE: TOOL FIELD DISC velmo=X tool=Y
# and compare_tools ends with "N agree, M explained, K disagree". A
# disagreement nobody explained fails the run; a tool missing in the VM
# skips its comparisons, with the reason.

# What TOOL printed for DISC, as compare_tools found it in the log.
declare -A tool_lines
tool_out() { printf '%s' "${tool_lines["$1 $2"]-}"; }  # DISC TOOL
tool_rc() { sed -n "s/^@@TOOLRC $1 $2 //p" "$log"; }
trim() { sed -E 's/^ +//; s/ +$//'; }
# The first line after "LABEL:" in a tool's output, trimmed.
field_of() { tool_out "$1" "$2" | sed -n "s/^ *$3 *: *//; T; s/ *\$//; p; q"; }
# A count of 2048-byte blocks as Velmo prints a capacity: MB of 2^20 bytes,
# rounded to a tenth.
as_mb() {
  local n tenths
  read -r n || return 0
  [ -n "$n" ] || return 0
  tenths=$(((n * 2048 * 10 + 524288) / 1048576))
  echo "$((tenths / 10)).$((tenths % 10)) MB"
}

# --- the tools' readings: DISC -> value (empty: the tool did not say) --------
# Profiles in one vocabulary: DVD+R, DVD+R DL, DVD-R, DVD-ROM, none.
profile_word() {
  sed -E 's/^(DVD\+R) (dual layer|Double Layer)$/\1 DL/; s#^DVD\+R/DL$#DVD+R DL#;
    s/^(DVD-R) [Ss]equential( recording)?$/\1/; s/^No current profile$|^is not recognizable$/none/'
}
sg_inq_identity() {
  local v p r
  v=$(field_of "$1" sg_inq "Vendor identification") p=$(field_of "$1" sg_inq "Product identification")
  r=$(field_of "$1" sg_inq "Product revision level")
  [ -n "$v" ] && echo "$v|$p|$r"
}
mediainfo_identity() {
  tool_out "$1" mediainfo | sed -n 's/^INQUIRY: *\[\(.*\)\]\[\(.*\)\]\[\(.*\)\]$/\1|\2|\3/p' |
    sed -E 's/ +\|/|/g; s/ +$//' | head -n 1
}
xorriso_identity() {
  tool_out "$1" xorriso | sed -n "s/^Drive type *: vendor '\(.*\)' product '\(.*\)' revision '\(.*\)'$/\1|\2|\3/p" | head -n 1
}
sg_get_config_profile() { tool_out "$1" sg_get_config | sed -n 's/^Current profile: //p; /^No current profile/p' | head -n 1 | profile_word; }
mediainfo_profile() {
  if mediainfo_no_disc "$1"; then echo none; return; fi
  # It stops at a CD before naming the profile.
  if tool_out "$1" mediainfo | grep -q 'non-DVD media mounted'; then echo "not a DVD"; return; fi
  field_of "$1" mediainfo "Mounted Media" | sed 's/^[0-9A-F]*h, //' | profile_word
}
xorriso_profile() { field_of "$1" xorriso "Media current" | profile_word; }
sg_turs_ready() {
  case $(tool_rc "$1" sg_turs) in
    0) echo ready ;;
    2) echo "not ready" ;;
  esac
}
mediainfo_media_id() {
  local id
  id=$(tool_out "$1" mediainfo | sed -n 's/^ *Media ID: \{14\}//p' | head -n 1)
  [ -n "$id" ] || return 0
  # DVD+R: MANUFACTURER/TYPE; DVD-R: two six-byte fields side by side.
  case $id in
    */*) echo "$(trim <<<"${id%%/*}")/$(trim <<<"${id#*/}")" ;;
    *) echo "$(trim <<<"${id:0:6}")/$(trim <<<"${id:6}")" ;;
  esac
}
kb_list() { tr '\n' ' ' | sed 's/ $//'; }
mediainfo_write_speeds() { tool_out "$1" mediainfo | sed -n 's/^ *Write Speed #[0-9]*: *[0-9.]*x[0-9]*=\([0-9]*\)KB\/s$/\1/p' | kb_list; }
mediainfo_performance_speeds() { tool_out "$1" mediainfo | sed -n 's/^ *Speed Descriptor#[0-9]*: .* W@[0-9.]*x[0-9]*=\([0-9]*\)KB\/s$/\1/p' | kb_list; }
mediainfo_free_blocks() { field_of "$1" mediainfo "Free Blocks" | sed -n 's/^\([0-9]*\)\*2KB$/\1/p' | as_mb; }
mediainfo_track_size() { field_of "$1" mediainfo "Track Size" | sed -n 's/^\([0-9]*\)\*2KB$/\1/p' | as_mb; }
mediainfo_no_disc() { tool_out "$1" mediainfo | grep -q 'no media mounted'; }
mediainfo_blank() {
  if mediainfo_no_disc "$1"; then echo none; else field_of "$1" mediainfo "Disc status" | sed 's/^complete$/written/'; fi
}
mediainfo_layer0() { field_of "$1" mediainfo "L0 Data Zone Capacity" | sed -n 's/^\([0-9]*\)\*2KB.*/\1/p'; }
# The drive's own facts.
sg_inq_revision() { field_of "$1" sg_inq "Product revision level"; }
sg_vpd_serial() { field_of "$1" sg_vpd "Unit serial number"; }
# The bytes of the capabilities page sg_modes printed in hex, one a line.
sg_modes_page() { tool_out "$1" sg_modes | sed -n '/^>>/,$ s/^ [0-9a-f][0-9a-f]*  *//p' | tr -s ' ' '\n' | grep .; }
sg_modes_loader() {
  local bytes
  mapfile -t bytes < <(sg_modes_page "$1")
  [ ${#bytes[@]} -gt 6 ] || return 0
  case $((0x${bytes[6]} >> 5)) in
    0) echo caddy ;; 1) echo tray ;; 2) echo pop-up ;;
    4) echo "changer (single discs)" ;; 5) echo "changer (magazine)" ;;
    *) echo "loader type $((0x${bytes[6]} >> 5))" ;;
  esac
}
sg_modes_buffer() {
  local bytes
  mapfile -t bytes < <(sg_modes_page "$1")
  [ ${#bytes[@]} -gt 13 ] && echo "$((0x${bytes[12]}${bytes[13]})) KiB"
}
# Every profile the drive lists, in its order and Velmo's words.
sg_get_config_profiles() {
  tool_out "$1" sg_get_config | sed -n 's/^ *profile: \(.*\) , currentP=[01]$/\1/p' |
    sed -E 's/^DVD\+R dual layer$/DVD+R DL/; s/^DVD\+RW dual layer$/DVD+RW DL/;
      s/^DVD-RW sequential recording$/DVD-RW (sequential)/; s/^DVD-RW restricted overwrite$/DVD-RW (restricted overwrite)/;
      s/^DVD-R sequential recording$/DVD-R/; s/^DVD-R dual layer sequential( recording)?$/DVD-R DL/' |
    paste -sd, - | sed 's/,/, /g'
}
sg_readcap_blocks() { tool_out "$1" sg_readcap | sed -n 's/.*Number of logical blocks=\([0-9]*\).*/\1/p' | head -n 1 | as_mb; }
xorriso_writable() { tool_out "$1" xorriso | sed -n 's/^Media blocks : .* \([0-9]*\) writable .*/\1/p' | head -n 1 | as_mb; }
xorriso_blank() {
  case $(field_of "$1" xorriso "Media status") in
    "is blank") echo blank ;;
    "is written"*) echo written ;;
    "is not present") echo none ;;
  esac
}

# --- Velmo's readings ---------------------------------------------------------
# Where velmo-cli read DISC: its identify run, its drives run and the drive's
# row there. A judge whose runs are named otherwise redefines these.
velmo_identify_run() { echo "cmp-$1-identify"; }
velmo_drives_run() { echo "cmp-$1-drives"; }
velmo_drive_index() { echo 0; }
# The drive's row of `velmo-cli drives`: vendor (8), product (16), revision (4).
velmo_identity() {
  local row
  row=$(printf '%-2u  ' "$(velmo_drive_index "$1")")
  out "$(velmo_drives_run "$1")" | grep -F -- "$row" | sed -n "s/^$row\(.\{8\}\)\(.\{16\}\)\(.\{4\}\).*/\1|\2|\3/p" |
    sed -E 's/ +\|/|/g; s/ +$//' | head -n 1
}
velmo_field() { out "$(velmo_identify_run "$1")" | sed -n "s/^$2: *//; T; s/ *\$//; p; q"; }
velmo_no_disc() { err "$(velmo_identify_run "$1")" | grep -q 'no disc in the drive'; }
velmo_profile() {
  if velmo_no_disc "$1"; then echo none; else velmo_field "$1" "Disc Type"; fi
}
velmo_ready() {
  if velmo_no_disc "$1"; then echo "not ready"; elif [ -n "$(velmo_field "$1" Status)" ]; then echo ready; fi
}
velmo_media_id() {
  local m t
  m=$(velmo_field "$1" "Manufacture ID") t=$(velmo_field "$1" "Media Type ID")
  [ -n "$m" ] && [ "$m" != N/A ] && echo "$m/$t"
}
velmo_speeds() {
  out "$(velmo_identify_run "$1")" | sed -n 's/^ *[0-9.]*X => ( *\([0-9]*\) Kb\/Sec).*/\1/p' | kb_list
}
velmo_capacity() { velmo_field "$1" "Blank Disc Capacity" | grep ' MB$'; }
velmo_blank() {
  if velmo_no_disc "$1"; then echo none; return; fi
  case $(velmo_field "$1" "Blank Disc Capacity") in
    *MB) echo blank ;;
  esac
}
# Layer 0's sector count, from the first LBA of layer 1 identify names.
velmo_layer0() { velmo_field "$1" "Layer 1 Starts" | sed -E 's/^sector ([0-9]+).*/\1/'; }
# A fact of the drive's block in `drives --long`.
velmo_fact() {  # DISC LABEL
  out "$(velmo_drives_run "$1")" | awk -v i="$(velmo_drive_index "$1")" -v l="$2:" '
    /^[0-9]+ / {mine = ($1 == i); next}
    mine {s = $0; sub(/^ +/, "", s); if (index(s, l) == 1) {s = substr(s, length(l) + 1)
      sub(/^ +/, "", s); sub(/ +$/, "", s); print s; exit}}'
}
velmo_firmware() { velmo_fact "$1" Firmware; }
velmo_serial() { velmo_fact "$1" "Serial number"; }
velmo_loader() { velmo_fact "$1" Loader; }
velmo_buffer() { velmo_fact "$1" Buffer; }
velmo_reads() { velmo_fact "$1" Reads; }

# --- differences of definition: DISC VELMO TOOL -> succeeds when explained ----
# Velmo names only the discs it tests; every other medium is "Not Support.".
untested_type() {
  [ "$2" == "Not Support." ] && [ -n "$3" ] && [ "$3" != none ] &&
    [ "$3" != "DVD+R" ] && [ "$3" != "DVD-R" ] && [ "$3" != "DVD+R DL" ]
}
# Velmo's blank capacity is not read off the disc: it assumes one layer of a
# dual-layer disc (2086913 sectors, 4076.0 MB) for a single-layer disc and
# a whole dual-layer disc (8152.0 MB) for a dual-layer one; the tool counts
# the disc's own blocks (a 4.7 GB disc has 2295104).
# The tools must count the same blocks among themselves.
assumed_capacity() {
  local counts
  counts=$( (mediainfo_free_blocks "$1"; mediainfo_track_size "$1"; xorriso_writable "$1") | sort -u)
  { [ "$2" == "4076.0 MB" ] || [ "$2" == "8152.0 MB" ]; } && [ "$counts" == "$3" ]
}
# READ CAPACITY counts recorded blocks: a blank disc has none (last LBA 0,
# one block), while Velmo's capacity is what is there to write.
recorded_blocks() { [ "$3" == "0.0 MB" ] && [ "$(velmo_blank "$1")" == blank ]; }
# Velmo shows no capacity and takes no status of a disc it does not test.
untested_disc() { [ "$2" == "" ] && [ "$(velmo_field "$1" "Disc Type")" == "Not Support." ]; }
# Velmo takes an ID from the first bytes of its field only and says n/a
# when none of them is a letter or digit (a disc without IDs); the tool
# prints the whole field, here one letter at its far end.
id_search_range() {
  local raw
  raw=$(tool_out "$1" mediainfo | sed -n 's/^ *Media ID: \{14\}//p' | head -n 1)
  [ "$2" == "n/a/n/a" ] && ! grep -q '[A-Za-z0-9]' <<<"${raw:0:7}"
}
# The drive did not give this fact: the tool got no answer either, and
# Velmo says unknown rather than guess.
unanswered_fact() { [ "$2" == unknown ] && [ -z "$3" ]; }

# --- the table -----------------------------------------------------------------
# field | tool | the tool's reading | Velmo's reading | differences of definition
# that explain a disagreement (functions above, each tried in turn)
tool_table="
inquiry|sg_inq|sg_inq_identity|velmo_identity|
inquiry|mediainfo|mediainfo_identity|velmo_identity|
inquiry|xorriso|xorriso_identity|velmo_identity|
profile|sg_get_config|sg_get_config_profile|velmo_profile|untested_type
profile|mediainfo|mediainfo_profile|velmo_profile|untested_type
profile|xorriso|xorriso_profile|velmo_profile|untested_type
readiness|sg_turs|sg_turs_ready|velmo_ready|
media-id|mediainfo|mediainfo_media_id|velmo_media_id|id_search_range
write-speeds|mediainfo|mediainfo_write_speeds|velmo_speeds|
write-speeds|mediainfo|mediainfo_performance_speeds|velmo_speeds|
blank|mediainfo|mediainfo_blank|velmo_blank|untested_disc
blank|xorriso|xorriso_blank|velmo_blank|untested_disc
capacity|mediainfo|mediainfo_free_blocks|velmo_capacity|assumed_capacity untested_disc
capacity|mediainfo|mediainfo_track_size|velmo_capacity|assumed_capacity untested_disc
capacity|sg_readcap|sg_readcap_blocks|velmo_capacity|recorded_blocks untested_disc
capacity|xorriso|xorriso_writable|velmo_capacity|assumed_capacity untested_disc
layer0-end|mediainfo|mediainfo_layer0|velmo_layer0|
firmware|sg_inq|sg_inq_revision|velmo_firmware|
serial|sg_vpd|sg_vpd_serial|velmo_serial|unanswered_fact
loader|sg_modes|sg_modes_loader|velmo_loader|unanswered_fact
buffer|sg_modes|sg_modes_buffer|velmo_buffer|unanswered_fact
profiles|sg_get_config|sg_get_config_profiles|velmo_reads|unanswered_fact
"
# The comment above each explaining function is its text.
explanation() {
  awk -v f="$1()" '/^# ---/ {c = ""; next} /^#/ {c = c (c ? " " : "") substr($0, 3); next}
    index($0, f) == 1 {print c; exit} {c = ""}' "${BASH_SOURCE[0]}"
}

# The first of the explaining functions that explains DISC VELMO TOOL.
explained_by() {  # FUNCTIONS DISC VELMO TOOL
  local f
  for f in $1; do
    if $f "$2" "$3" "$4"; then echo "$f"; return 0; fi
  done
  return 1
}

tool_agree=0 tool_explained=0 tool_disagree=0 tool_reasons=""
# A reader's value for a disc, read once: several rows share Velmo's.
declare -A tool_readings
reading() {  # READER DISC: the value in REPLY
  [ -n "${tool_readings["$1 $2"]+set}" ] || tool_readings["$1 $2"]=$($1 "$2")
  REPLY=${tool_readings["$1 $2"]}
}
compare_tools() {  # DISC...
  local disc field tool reader mine explain missing velmo theirs why
  # The readers go over the log many times: only the lines they read.
  local log_all=$log log
  log=$(mktemp)
  grep -E '^@@(TOOL|TOOLRC|MISSINGTOOL|TOOLDRIVE|TOOLSTART|TOOLEND) |^@@(OUT|ERR) [^ ]*(identify|drives)[^ ]*: ' "$log_all" >"$log"
  local tools_ran
  tools_ran=$(sed -n 's/^@@TOOLRC \([^ ]*\) \([^ ]*\) .*/\1 \2/p' "$log")
  local line key
  tool_lines=()
  while IFS= read -r line; do
    [[ $line == "@@TOOL "* ]] || continue
    key=${line#@@TOOL }
    key=${key%%: *}
    tool_lines[$key]+="${line#*: }"$'\n'
  done <"$log"
  while read -r missing; do
    echo "  SKIP $missing"
  done < <(sed -n 's/^@@MISSINGTOOL //p' "$log")
  for disc in "$@"; do
    while IFS='|' read -r field tool reader mine explain; do
      [ -n "$field" ] || continue
      [[ $'\n'$tools_ran$'\n' == *$'\n'"$disc $tool"$'\n'* ]] || continue  # not in the VM: skipped above
      reading "$reader" "$disc" && theirs=$REPLY
      reading "$mine" "$disc" && velmo=$REPLY
      [ -z "$theirs" ] && [ -z "$velmo" ] && continue  # neither says anything here
      if [ "$theirs" == "$velmo" ]; then
        tool_agree=$((tool_agree + 1))
        echo "  agree: $tool $field $disc $velmo"
      elif why=$(explained_by "$explain" "$disc" "$velmo" "$theirs"); then
        tool_explained=$((tool_explained + 1))
        echo "  explained: $tool $field $disc velmo=$velmo tool=$theirs ($why)"
        grep -qx "$why" <<<"$tool_reasons" || tool_reasons+="$why"$'\n'
      else
        tool_disagree=$((tool_disagree + 1))
        echo "  DISAGREE: $tool $field $disc velmo=$velmo tool=$theirs"
      fi
    done <<<"$tool_table"
  done
  local reason
  for reason in $tool_reasons; do
    echo "  ($reason) $(explanation "$reason")"
  done
  echo "  $tool_agree agree, $tool_explained explained, $tool_disagree disagree" \
    "(the tools' part of the VM run: $(awk '/^@@TOOLSTART/ {s = $2} /^@@TOOLEND/ {printf "%.0f s", $2 - s}' "$log"))"
  rm -f "$log"
  log=$log_all
  check "every disagreement with the other programs is explained ($tool_disagree not)" test "$tool_disagree" -eq 0
}
