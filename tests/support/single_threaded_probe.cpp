// A binary marked single-threaded that starts a thread anyway: the guard
// must end it before the thread runs.
#include <cstdio>
#include <thread>

int main() {
  std::thread([] { std::puts("the thread ran"); }).join();
  std::puts("the binary went on");
  return 0;
}
