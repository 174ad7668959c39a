#!/bin/sh
# The layers, bottom first; a folder includes only its own headers and those
# of lower layers, never a higher one nor a sibling of its own layer:
#   files < device < commands < chart, res < console, simulator < session
#     < records, snapshot, links < history, reports < cli, app, kerneldrive
# So the front ends never include each other, and the core never reaches up
# into a front end. Besides, the window reaches the simulator only through
# session/.
#
# An include is judged by the file it names, found as the compiler finds it:
# "x.h" and "dir/x.h" beside the including file first, else from the root;
# "../dir/x.h" and "./x.h" from the including file's folder. A library built
# in a folder's CMakeLists.txt links only libraries of its own folder or
# lower ones; velmo_core stands as high as the highest folder that joins it.
# A folder holding sources is in the order, or one of those that stand
# beside the programs (tests, fuzz, bench, qemu); a build tree is passed
# over, also while another stage is still configuring it, and so is any
# folder git ignores. Prints every offence and fails on any.
# usage: check_layers.sh SOURCE_ROOT
root=${1:?usage: check_layers.sh SOURCE_ROOT}
layers="files device commands chart,res console,simulator session records,snapshot,links history,reports cli,app,kerneldrive"
beside="tests fuzz bench qemu"
status=0

sources_in() {
  find "$1" -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' -o -name '*.h' \
    -o -name '*.hpp' -o -name '*.inc' \) 2>/dev/null
}

rank_of() {
  n=0
  for layer in $layers; do
    case ",$layer," in *",$1,"*) echo $n; return ;; esac
    n=$((n + 1))
  done
  echo -1
}

report="${TMPDIR:-/tmp}/velmo-layers.$$"
: >"$report"

# A folder with sources that stands in no layer.
for dir in "$root"/*/; do
  name=$(basename "$dir")
  [ -f "$dir/CMakeCache.txt" ] || [ -d "$dir/CMakeFiles" ] && continue
  git -C "$root" check-ignore -q "$name/" 2>/dev/null && continue
  case " $beside " in *" $name "*) continue ;; esac
  [ "$(rank_of "$name")" -ge 0 ] && continue
  if [ -n "$(sources_in "$dir" | head -n 1)" ]; then
    echo "$name/: holds sources but stands in no layer" >>"$report"
  fi
done

# Every file of the layers, bottom first, with the folders' ranks: the
# includes they make, then what their libraries link.
ranks=$(for folder in $(echo "$layers" | tr ',' ' '); do echo "$folder $(rank_of "$folder")"; done)
files=$(for folder in $(echo "$layers" | tr ',' ' '); do
  [ -d "$root/$folder" ] || continue
  (cd "$root" && sources_in "$folder" | LC_ALL=C sort)
done)
lists=$(for folder in $(echo "$layers" | tr ',' ' '); do
  [ -d "$root/$folder" ] || continue
  (cd "$root" && find "$folder" -type f -name CMakeLists.txt | LC_ALL=C sort)
done)

printf '%s\n' "$ranks" "--" "$files" "--" "$lists" | awk -v root="$root" '
  # A path with "." and ".." taken out; "" when it climbs out of the root.
  function normal(path,   n, i, parts, out, depth, kept) {
    n = split(path, parts, "/")
    depth = 0
    for (i = 1; i <= n; i++) {
      if (parts[i] == "" || parts[i] == ".") continue
      if (parts[i] == "..") { if (depth == 0) return ""; depth--; continue }
      kept[++depth] = parts[i]
    }
    out = ""
    for (i = 1; i <= depth; i++) out = out (i > 1 ? "/" : "") kept[i]
    return out
  }
  function folder_of(path) { return index(path, "/") ? substr(path, 1, index(path, "/") - 1) : "" }
  function dir_of(path) { sub(/\/[^\/]*$/, "", path); return path }

  section == 0 && $0 == "--" { section = 1; next }
  section == 1 && $0 == "--" { section = 2; next }
  section == 0 { rank[$1] = $2; next }
  section == 1 && $0 != "" { source[++nsources] = $0; exists[$0] = 1; next }
  section == 2 && $0 != "" { list[++nlists] = $0; next }

  END {
    for (s = 1; s <= nsources; s++) {
      file = source[s]
      own = folder_of(file)
      number = 0
      while ((getline line < (root "/" file)) > 0) {
        number++
        if (line !~ /^[ \t]*#[ \t]*include[ \t]*"/) continue
        named = line
        sub(/^[^"]*"/, "", named)
        sub(/".*$/, "", named)
        if (named ~ /^\//) continue
        beside_it = normal(dir_of(file) "/" named)
        if (named ~ /^\.\.?\//) target = beside_it
        else if (beside_it in exists) target = beside_it
        else target = normal(named)
        other = folder_of(target)
        if (other == "" || other == own || !(other in rank)) continue
        if (rank[other] >= rank[own] || (own == "app" && other == "simulator"))
          print root "/" file ":" number ":" line
      }
      close(root "/" file)
    }

    # Each command of a CMakeLists.txt as one line, comments left out.
    for (l = 1; l <= nlists; l++) {
      file = list[l]
      own = folder_of(file)
      number = 0; depth = 0; command = ""
      while ((getline line < (root "/" file)) > 0) {
        number++
        sub(/#.*$/, "", line)
        if (depth == 0) { command = ""; start = number }
        command = command " " line
        opened = gsub(/\(/, "(", line); closed = gsub(/\)/, ")", line)
        depth += opened - closed
        if (depth > 0) continue
        depth = 0
        if (command ~ /^[ \t]*add_library[ \t]*\(/) {
          sub(/^[ \t]*add_library[ \t]*\([ \t]*/, "", command)
          split(command, words, /[ \t)]+/)
          home[words[1]] = own
        } else if (command ~ /^[ \t]*target_link_libraries[ \t]*\(/) {
          sub(/^[ \t]*target_link_libraries[ \t]*\([ \t]*/, "", command)
          sub(/\).*$/, "", command)
          nlinks++
          link_file[nlinks] = file; link_line[nlinks] = start; link_words[nlinks] = command
        }
      }
      close(root "/" file)
    }
    # velmo_core: as high as its highest member.
    core = -1
    for (k = 1; k <= nlinks; k++) {
      n = split(link_words[k], words, /[ \t]+/)
      if (words[1] != "velmo_core") continue
      for (i = 2; i <= n; i++)
        if (words[i] in home && rank[home[words[i]]] > core) core = rank[home[words[i]]]
    }
    for (k = 1; k <= nlinks; k++) {
      own = folder_of(link_file[k])
      n = split(link_words[k], words, /[ \t]+/)
      if (words[1] == "velmo_core") continue
      for (i = 2; i <= n; i++) {
        if (words[i] == "velmo_core") { high = core; other = "" }
        else if (words[i] in home) { other = home[words[i]]; high = rank[other] }
        else continue
        if (other == own) continue
        if (high >= rank[own])
          print root "/" link_file[k] ":" link_line[k] ": " words[1] " links " words[i]
      }
    }
  }
' >>"$report"

if [ -s "$report" ]; then
  cat "$report"
  status=1
fi
rm -f "$report"
exit $status
