#!/bin/sh
# The front ends stand on the core and never on each other: nothing in app/
# includes cli/ or the simulator (the window reaches it through session/),
# nothing in cli/ includes app/, and the window does not link velmo-cli's
# library. files/, the bottom, includes nothing of the rest. Prints every offending line and fails on any.
# usage: check_layers.sh SOURCE_ROOT
root=${1:?usage: check_layers.sh SOURCE_ROOT}
status=0
hits() {
  # $1: folder, $2: what it must not include
  found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"$2/" "$root/$1" 2>/dev/null)
  if [ -n "$found" ]; then
    printf '%s\n' "$found"
    status=1
  fi
}
hits app cli
hits app simulator
hits cli app
# files/ is the bottom of the layers: it includes nothing of the project's
# but its own headers.
found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"" "$root/files" 2>/dev/null |
  grep -vE "#[[:space:]]*include[[:space:]]+\"files/")
if [ -n "$found" ]; then
  printf '%s\n' "$found"
  status=1
fi
if grep -n 'velmo_cli_lib' "$root/app/CMakeLists.txt" 2>/dev/null; then status=1; fi
exit $status
