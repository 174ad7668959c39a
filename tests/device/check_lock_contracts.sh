#!/bin/sh
# The lock-contract macros (device/thread_annotations.h) really annotate
# under clang: a guarded member read without its lock, a REQUIRES function
# called without it and a lock taken twice each fail -Wthread-safety, and the
# same class with its lock held (let go and taken again around a wait too)
# compiles. Without this a macro that expanded to nothing would let every
# broken contract through the clang build unseen. Skipped (77) without clang.
# usage: check_lock_contracts.sh SOURCE_ROOT
root=${1:?usage: check_lock_contracts.sh SOURCE_ROOT}
root=$(cd "$root" && pwd) || exit 2
command -v clang++ >/dev/null 2>&1 || { echo "no clang++: skipped"; exit 77; }
status=0

# compile EXPECTED BODY: the class below with BODY as its Add's body.
compile() {
  expected=$1
  # From /: a quoted include from standard input looks in the working
  # folder first.
  out=$(printf '%s\n' '#include "device/thread_annotations.h"' \
    'class Counter {' ' public:' "  void Add() { $2 }" \
    '  void AddHeld() REQUIRES(m_lock) { ++m_count; }' ' private:' '  Mutex m_lock;' \
    '  int m_count GUARDED_BY(m_lock) = 0;' '};' 'int main() { Counter c; c.Add(); }' |
    (cd / && clang++ -std=c++20 -I"$root" -fsyntax-only -Wthread-safety -Werror=thread-safety \
      -x c++ - 2>&1))
  result=$?
  if [ "$expected" = pass ] && [ $result -ne 0 ]; then
    printf 'should compile: %s\n%s\n' "$2" "$out"
    status=1
  elif [ "$expected" = fail ] && ! printf '%s' "$out" | grep -q 'thread-safety'; then
    printf 'should break a lock contract: %s\n%s\n' "$2" "$out"
    status=1
  fi
}

compile pass 'MutexLock hold(m_lock); ++m_count;'
compile pass 'MutexLock hold(m_lock); hold.Unlock(); hold.Lock(); AddHeld();'
compile fail '++m_count;'
compile fail 'AddHeld();'
compile fail 'MutexLock hold(m_lock); hold.Unlock(); ++m_count;'
compile fail 'MutexLock hold(m_lock); m_lock.Lock();'
exit $status
