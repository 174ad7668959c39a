#!/bin/sh
# The lock-contract macros (device/thread_annotations.h) really annotate
# under clang: a guarded member read without its lock, a REQUIRES function
# called without it, a lock used after it was let go and a lock taken twice
# each fail -Wthread-safety, and the same members with the lock held (let go
# and taken again around a wait too) compile. Without this a macro that
# expanded to nothing would let every broken contract through the clang
# build unseen. One compile for all cases; skipped (77) without clang.
# usage: check_lock_contracts.sh SOURCE_ROOT
root=${1:?usage: check_lock_contracts.sh SOURCE_ROOT}
root=$(cd "$root" && pwd) || exit 2
command -v clang++ >/dev/null 2>&1 || { echo "no clang++: skipped"; exit 77; }

# Each case is one member function on a line of its own: "kept" ones must
# compile, "broken" ones must be refused on their line.
cases='kept|MutexLock hold(m_lock); ++m_count;
kept|MutexLock hold(m_lock); hold.Unlock(); hold.Lock(); AddHeld();
broken|++m_count;
broken|AddHeld();
broken|MutexLock hold(m_lock); hold.Unlock(); ++m_count;
broken|MutexLock hold(m_lock); m_lock.Lock();'

first=4 # the line of the first case below
source=$(
  printf '%s\n' '#include "device/thread_annotations.h"' 'class Counter {' ' public:'
  n=0
  printf '%s\n' "$cases" | while IFS='|' read -r _ body; do
    n=$((n + 1))
    printf '  void Case%d() { %s }\n' "$n" "$body"
  done
  printf '%s\n' '  void AddHeld() REQUIRES(m_lock) { ++m_count; }' ' private:' '  Mutex m_lock;' \
    '  int m_count GUARDED_BY(m_lock) = 0;' '};'
)
# From /: a quoted include from standard input looks in the working folder
# first.
errors=$(printf '%s\n' "$source" |
  (cd / && clang++ -std=c++20 -I"$root" -fsyntax-only -ferror-limit=0 -Wthread-safety \
    -Werror=thread-safety -x c++ - 2>&1))

status=0
line=$first
printf '%s\n' "$cases" | {
  while IFS='|' read -r kind body; do
    refused=no
    printf '%s\n' "$errors" | grep -q "^<stdin>:$line:.*error:" && refused=yes
    if [ "$kind" = kept ] && [ $refused = yes ]; then
      echo "should compile: $body"
      status=1
    elif [ "$kind" = broken ] && [ $refused = no ]; then
      echo "should break a lock contract: $body"
      status=1
    fi
    line=$((line + 1))
  done
  # Nothing else may fail (a header that no longer compiles, say).
  if printf '%s\n' "$errors" | grep "error:" | grep -qv "^<stdin>:"; then
    printf '%s\n' "$errors"
    status=1
  fi
  exit $status
}
