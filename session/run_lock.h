// Advisory locks that keep two Velmo processes apart: one on a log (two runs
// writing one TEFE.txt would mix two discs in it) and one on a drive (two
// processes must not interleave commands on it). Each is an flock on a small
// lock file that holds the holder's process id, so the second run can say
// who has it. The kernel drops the lock when its holder ends, however it
// ends; the holder removes the file when it lets go.
#pragma once

#include <string>

class CRunLock {
 public:
  enum class Result {
    kTaken,
    kHeld,         // another process holds it; see Holder()
    kUnavailable,  // the lock file cannot be made (a read-only folder): no lock
  };

  CRunLock() = default;
  ~CRunLock() { Release(); }
  CRunLock(const CRunLock&) = delete;
  CRunLock& operator=(const CRunLock&) = delete;

  Result Take(const std::string& lockPath);
  void Release();
  bool Held() const { return m_fd >= 0; }
  // The process id the holder wrote; 0 when unknown.
  long Holder() const { return m_holder; }

 private:
  std::string m_path;
  int m_fd = -1;
  long m_holder = 0;
};

// The lock file of a log: beside the file the log leads to, named after it
// with ".lock" added. Empty for a log written in place (a device, a FIFO,
// standard output), which takes no lock.
std::string LogLockPath(const std::string& logPath);

// The lock file of a drive's device node, in the system's lock folder;
// empty for a path that is not a device node (the simulator's drives belong
// to their process).
std::string DriveLockPath(const std::string& devicePath);

// "PATH is in use by another Velmo run (pid N)", for the message of a refusal.
std::string DescribeHeldLock(const std::string& what, long holder);
