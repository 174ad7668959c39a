// Advisory locks that keep two Velmo processes apart: one on a log (two runs
// writing one TEFE.txt would mix two discs in it) and one on a drive (two
// processes must not interleave commands on it). Both are flocks, which the
// kernel drops when their holder ends, however it ends. The holder's process
// id, for the message of a refusal, is the one the kernel lists for the lock
// (/proc/locks), never what a file says.
//
// A lock that cannot be taken refuses the run with its reason; no run goes
// on unlocked.
//
// The log's lock is an flock on a lock file of the user's own, in a folder
// only that user can write into ($XDG_RUNTIME_DIR, /run/user/UID, else
// /tmp/velmo-UID), mode 0600, named after the log's device and inode. So it
// follows the file, not its name: a symlink, another name or a hard link of
// one log is the same lock. And it is not the log itself: anyone who may
// read a log could flock it, and reading a file must give no hold over its
// writer. Runs of one user exclude each other; runs of two users on one log
// do not (each needs write access to it, which a shared folder's sticky bit
// and the output rules keep to the log's owner). The log is opened without
// being emptied; a run empties it only once it holds the lock. A log
// missing until then is made empty for the lock, and removed again when the
// run lets go without having written it (no run, no log). A log written in
// place (a device, a FIFO, standard output) takes no lock.
//
// The drive's lock is a lock file in the system's lock folder, named after
// the device node (so two names of one drive share it). That folder is
// shared by every user, so the file is handled as another user may have
// planted it:
// - made with O_CREAT|O_EXCL|O_NOFOLLOW, mode 0644 whatever the umask (every
//   user can open it to lock it; only its maker can write it);
// - an existing one is opened read-only with O_NOFOLLOW (a symlink is
//   refused), and must be a regular file with one link (a FIFO or a hard
//   link to another file is refused);
// - only a file this process made gets its pid written, and only a file of
//   this user is removed when the lock is let go.
// A lock file left by another user's crashed run stays (the folder's sticky
// bit keeps it from us), but it is still a usable lock: an flock needs only
// a read-only descriptor, and nothing is written into it or read from it.
// Only when it cannot even be read (its owner made it 0600) is the run
// refused, naming its owner: that user or root must remove it.
#pragma once

#include <sys/types.h>

#include <string>

class CRunLock {
 public:
  enum class Result {
    kTaken,
    kNotNeeded,  // a log written in place, or one that cannot be written at all (its writer refuses
                 // it); an empty lock path
    kHeld,       // another process holds it; see Holder()
    kRefused,    // it cannot be taken; see Reason()
    kCannotCreate,  // a log that is not there and cannot be made (its folder is gone, read-only,
                    // full): the log's own failure; Reason() says "PATH: why"
  };

  CRunLock() = default;
  ~CRunLock() { Release(); }
  CRunLock(const CRunLock&) = delete;
  CRunLock& operator=(const CRunLock&) = delete;

  // The drive's lock file (DriveLockPath); an empty path needs no lock.
  Result Take(const std::string& lockPath);
  // The lock of the log at logPath (symlinks followed).
  Result TakeLog(const std::string& logPath);
  void Release();
  bool Held() const { return m_fd >= 0; }
  // The process id of the holder; 0 when unknown.
  long Holder() const { return m_holder; }
  // Why it was refused: "cannot lock PATH: it is a symbolic link".
  const std::string& Reason() const { return m_reason; }
  // The message of a refusal of what (kHeld or kRefused): DescribeHeldLock
  // or Reason().
  std::string Refusal(const std::string& what) const;

  static bool Refuses(Result result) {
    return result == Result::kHeld || result == Result::kRefused;
  }

 private:
  Result Refuse(const std::string& path, const std::string& why);

  std::string m_path;
  int m_fd = -1;
  long m_holder = 0;
  std::string m_reason;
  bool m_removeOnRelease = false;  // a lock file of this user's
  bool m_madeLog = false;          // a log made only for its lock
  dev_t m_device = 0;              // the lock file's
  ino_t m_inode = 0;
  std::string m_logPath;  // the log a log's lock is for
  dev_t m_logDevice = 0;
  ino_t m_logInode = 0;
};

// The lock file of a drive's device node, in the system's lock folder;
// empty for a path that is not a device node (the simulator's drives belong
// to their process).
std::string DriveLockPath(const std::string& devicePath);

// "PATH is in use by another Velmo run (pid N)", for the message of a refusal.
std::string DescribeHeldLock(const std::string& what, long holder);
