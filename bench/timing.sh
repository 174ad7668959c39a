# Wall time and peak memory of shell snippets, for the bench scripts (sourced).
ms() {  # wall time in ms of a shell snippet, its output dropped
  local start end
  start=$(date +%s%N)
  bash -c "$1" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
peak() {  # peak resident kB of a snippet
  /usr/bin/time -f %M bash -c "$1" 2>&1 >/dev/null | tail -1
}
