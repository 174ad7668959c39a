// Linked into the test binaries marked SINGLE_THREADED, which the
// ThreadSanitizer build leaves out because they start no thread: a thread one
// of them starts after all ends the binary here, so the mark cannot go stale
// unseen. This definition comes before the C library's for every caller
// (std::thread included).
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
  static const char kMessage[] =
      "this test binary is marked SINGLE_THREADED (tests/CMakeLists.txt) but started a "
      "thread: take the mark off, or ThreadSanitizer never sees it\n";
  (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  std::_Exit(70);
}
