// SIGINT (Ctrl-C), SIGTERM, SIGHUP and SIGPIPE while a command runs: each
// stops the run as STOP does. The signal handler only writes the signal's
// number to a pipe; a watcher thread reads it and runs the action the
// command set, such as a run's RequestStop, which takes locks a handler must
// not. A later signal does not end the program: the pending drive command
// must return and the drive leave its diagnostic mode first, so it only
// runs the "again" action (which tells the user what is being waited for).
//
// Threads: watches nest (the innermost gets the signals) but never overlap; construct, set the actions
// and destroy it on one thread. The actions run on the watcher thread.
#pragma once

#include <signal.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CInterruptWatch {
 public:
  CInterruptWatch();
  // Ends the watcher and puts the previous handlers back.
  ~CInterruptWatch();
  CInterruptWatch(const CInterruptWatch&) = delete;
  CInterruptWatch& operator=(const CInterruptWatch&) = delete;

  bool Interrupted() const { return m_signal.load() != 0; }
  // The first signal that came; 0 when none.
  int Signal() const { return m_signal.load(); }
  // 128 + the signal, as a shell reports a process the signal ended.
  int ExitCode() const { return 128 + m_signal.load(); }
  // Whether an output that failed with error (its errno) was given up for a
  // signal. EINTR means a stop came that the watcher thread may not have
  // taken yet: it is waited for, so that Signal() and ExitCode() tell it.
  bool StoppedOutput(int error) const;
  // "User abort!" for Ctrl-C, "stopped by SIGTERM" and so on for the others.
  std::string StopText() const;

  // What an interrupt does; run at once when one has already come. Once this
  // returns, an earlier action is no longer called.
  void OnInterrupt(std::function<void()> action);
  // What a second (and any later) signal does.
  void OnAgain(std::function<void()> action);

 private:
  void Watch();

  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
  int m_pipe[2] = {-1, -1};
  int m_outerWakeFd = -1;  // a watch around this one (watch runs scans) gets signals back
  struct sigaction m_old[4]{};
  std::atomic<int> m_signal{0};
  std::mutex m_actionLock;  // held while an action runs, and while one is replaced
  std::function<void()> m_action;
  std::function<void()> m_again;
  std::thread m_watcher;
};
