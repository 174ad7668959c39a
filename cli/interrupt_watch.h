// Ctrl-C (SIGINT) and SIGTERM while a command runs. The signal handler only
// writes a byte to a pipe; a watcher thread reads it and runs the action the
// command set, such as a run's RequestStop, which takes locks a handler must
// not. The first signal asks for a stop; a second one ends the program as
// the default action does.
//
// Threads: one watch at a time in the process; construct, set the action
// and destroy it on one thread. The action runs on the watcher thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <signal.h>
#include <thread>

class CInterruptWatch {
 public:
  CInterruptWatch();
  // Ends the watcher and puts the previous handlers back.
  ~CInterruptWatch();
  CInterruptWatch(const CInterruptWatch&) = delete;
  CInterruptWatch& operator=(const CInterruptWatch&) = delete;

  bool Interrupted() const { return m_interrupted.load(); }
  // What an interrupt does; run at once when one has already come. Once this
  // returns, an earlier action is no longer called.
  void OnInterrupt(std::function<void()> action);

 private:
  void Watch();

  int m_pipe[2] = {-1, -1};
  struct sigaction m_oldInt {};
  struct sigaction m_oldTerm {};
  std::atomic<bool> m_interrupted{false};
  std::mutex m_actionLock;  // held while the action runs, and while it is replaced
  std::function<void()> m_action;
  std::thread m_watcher;
};
