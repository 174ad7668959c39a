#include "session/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "session/output_file.h"

namespace {

long ReadHolder(int fd) {
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace

CRunLock::Result CRunLock::Take(const std::string& lockPath) {
  Release();
  m_holder = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    // Another user's lock file: reading is enough to lock it.
    if (fd < 0 && errno == EACCES) fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Result::kUnavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const bool held = errno == EWOULDBLOCK;
      m_holder = held ? ReadHolder(fd) : 0;
      ::close(fd);
      return held ? Result::kHeld : Result::kUnavailable;
    }
    // The last holder may have removed the file between our open and our
    // lock; a lock on a file no longer there keeps nobody out.
    struct stat locked {
    }, named{};
    if (fstat(fd, &locked) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
        locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
      const std::string pid = std::to_string(getpid()) + "\n";
      if (ftruncate(fd, 0) == 0) {
        const ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
        (void)written;  // the lock holds without it; only the message lacks the pid
      }
      const int shared = fchmod(fd, 0666);  // whoever runs next may write their pid
      (void)shared;
      m_fd = fd;
      m_path = lockPath;
      return Result::kTaken;
    }
    ::close(fd);
  }
  return Result::kUnavailable;
}

void CRunLock::Release() {
  if (m_fd < 0) return;
  // Removed while still locked, so nobody takes a file about to go.
  ::unlink(m_path.c_str());
  ::close(m_fd);
  m_fd = -1;
}

std::string LogLockPath(const std::string& logPath) {
  OutputTarget target;
  std::string error;
  if (!ResolveOutput(logPath, &target, &error) && target.path.empty()) return logPath + ".lock";
  if (target.kind == OutputKind::kInPlace) return "";
  return target.path + ".lock";
}

std::string DriveLockPath(const std::string& devicePath) {
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0 ||
      (!S_ISCHR(info.st_mode) && !S_ISBLK(info.st_mode))) {
    return "";
  }
  const std::string folder = access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp";
  return folder + "/velmo-drive-" + std::to_string(major(info.st_rdev)) + "-" +
         std::to_string(minor(info.st_rdev)) + ".lock";
}

std::string DescribeHeldLock(const std::string& what, long holder) {
  return what + " is in use by another Velmo run" +
         (holder > 0 ? " (pid " + std::to_string(holder) + ")" : "");
}
