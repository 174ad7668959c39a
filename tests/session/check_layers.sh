#!/bin/sh
# The layers, bottom first; a folder includes only its own headers and those
# of lower layers, never a higher one nor a sibling of its own layer:
#   files < device < commands < chart, res < console, simulator < session
#     < results, snapshot, links < cli, app, kerneldrive
# So the front ends never include each other, and the core never reaches up
# into a front end. Besides, the window reaches the simulator only through
# session/, and does not link velmo-cli's library. Prints every offending
# line and fails on any.
# usage: check_layers.sh SOURCE_ROOT
root=${1:?usage: check_layers.sh SOURCE_ROOT}
layers="files device commands chart,res console,simulator session results,snapshot,links cli,app,kerneldrive"
status=0

rank_of() {
  n=0
  for layer in $layers; do
    case ",$layer," in *",$1,"*) echo $n; return ;; esac
    n=$((n + 1))
  done
  echo -1
}

for folder in $(echo "$layers" | tr ',' ' '); do
  [ -d "$root/$folder" ] || continue
  own=$(rank_of "$folder")
  grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"[a-z_]+/" "$root/$folder" 2>/dev/null |
    sort -t: -k1,1 -k2,2n |
    while IFS= read -r line; do
      target=$(printf '%s\n' "$line" | sed -E 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z_]+)\/.*/\1/')
      [ "$target" = "$folder" ] && continue
      other=$(rank_of "$target")
      [ "$other" -lt 0 ] && continue # tests/, a system header in quotes
      if [ "$other" -ge "$own" ]; then printf '%s\n' "$line"; fi
    done
done >"${TMPDIR:-/tmp}/velmo-layers.$$"
if [ -s "${TMPDIR:-/tmp}/velmo-layers.$$" ]; then
  cat "${TMPDIR:-/tmp}/velmo-layers.$$"
  status=1
fi
rm -f "${TMPDIR:-/tmp}/velmo-layers.$$"

found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"simulator/" "$root/app" 2>/dev/null)
if [ -n "$found" ]; then
  printf '%s\n' "$found"
  status=1
fi
if grep -n 'velmo_cli_lib' "$root/app/CMakeLists.txt" 2>/dev/null; then status=1; fi
exit $status
