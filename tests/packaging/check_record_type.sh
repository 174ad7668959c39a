#!/usr/bin/env bash
# The record type a file manager opens velmo with: a record velmo-cli wrote
# is application/x-velmo-record+json by its content, whatever its name ends
# in .json; other JSON stays application/json. The desktop entry opens that
# type with the file's path. Skipped (exit 77) without update-mime-database
# or gio.
set -euo pipefail
cli=$1
source_dir=$2
command -v update-mime-database >/dev/null || { echo "no update-mime-database"; exit 77; }
command -v gio >/dev/null || { echo "no gio"; exit 77; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/share/mime/packages"
cp "$source_dir/packaging/velmo-record.xml" "$scratch/share/mime/packages/"
update-mime-database "$scratch/share/mime"
type_of() {
  XDG_DATA_HOME="$scratch/share" XDG_DATA_DIRS=/usr/share \
    gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'
}
fail() { echo "check_record_type: $*" >&2; exit 1; }

(cd "$scratch" && "$cli" --simulate --sim-latency=0 --no-history scan --json run.json >/dev/null)
cp "$scratch/run.json" "$scratch/Disc 7 before burning.json"
printf '{"format": "another", "velmo-scan": 1}\n' >"$scratch/other.json"
for file in run.json "Disc 7 before burning.json"; do
  [ "$(type_of "$scratch/$file")" = application/x-velmo-record+json ] ||
    fail "$file is $(type_of "$scratch/$file")"
done
[ "$(type_of "$scratch/other.json")" = application/json ] ||
  fail "other.json is $(type_of "$scratch/other.json")"

desktop="$source_dir/packaging/velmo.desktop"
grep -qx 'MimeType=application/x-velmo-record+json;' "$desktop" || fail "desktop entry: no MimeType"
grep -qx 'Exec=velmo %f' "$desktop" || fail "desktop entry: Exec does not take the file"
echo "record type ok"
