#include "session/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "session/output_file.h"

namespace {

constexpr int kAttempts = 20;

// The pid the kernel lists for a lock on the file (an flock or a record
// lock), 0 when none is listed. A line reads "1: FLOCK  ADVISORY  WRITE 1234
// 08:01:5678 0 EOF", the device in hex; waiters ("->") are not holders.
long ListedHolder(const struct stat& file) {
  std::ifstream locks("/proc/locks");
  std::string line;
  long inodeOnly = 0;
  int inodeMatches = 0;
  while (std::getline(locks, line)) {
    if (line.find("->") != std::string::npos) continue;
    std::istringstream words(line);
    std::string word;
    std::string previous;
    while (words >> word) {
      unsigned devMajor = 0;
      unsigned devMinor = 0;
      unsigned long inode = 0;
      char tail = 0;
      if (std::sscanf(word.c_str(), "%x:%x:%lu%c", &devMajor, &devMinor, &inode, &tail) == 3 &&
          inode == file.st_ino) {
        const long pid = std::strtol(previous.c_str(), nullptr, 10);
        if (devMajor == major(file.st_dev) && devMinor == minor(file.st_dev)) return pid;
        // A stacked file system may list its own device for the file.
        inodeOnly = pid;
        ++inodeMatches;
        break;
      }
      previous = word;
    }
  }
  return inodeMatches == 1 ? inodeOnly : 0;
}

long WrittenHolder(int fd) {
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string OwnerText(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "";
  return " (it belongs to user " + std::to_string(info.st_uid) +
         "; that user or root can remove it)";
}

// A folder only this user can write into, for the locks of its logs:
// $XDG_RUNTIME_DIR, /run/user/UID, else /tmp/velmo-UID made for it. False
// with *why when none can be had.
bool PrivateLockFolder(std::string* folder, std::string* why) {
  const uid_t self = geteuid();
  auto own = [self](const std::string& path) {
    struct stat info {};
    return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == self && (info.st_mode & 022) == 0;
  };
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  for (const std::string& candidate :
       {std::string(runtime != nullptr ? runtime : ""), "/run/user/" + std::to_string(self)}) {
    if (own(candidate)) {
      *folder = candidate;
      return true;
    }
  }
  // /tmp is shared: the folder must be this user's own, never followed.
  const std::string made = "/tmp/velmo-" + std::to_string(self);
  if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = made + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::lstat(made.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *why = made + " is not a folder";
    return false;
  }
  if (info.st_uid != self) {
    *why = made + " belongs to user " + std::to_string(info.st_uid) +
           "; that user or root can remove it";
    return false;
  }
  if ((info.st_mode & 077) != 0 && ::chmod(made.c_str(), 0700) != 0) {
    *why = made + ": " + std::strerror(errno);
    return false;
  }
  *folder = made;
  return true;
}

}  // namespace

CRunLock::Result CRunLock::Refuse(const std::string& path, const std::string& why) {
  m_reason = "cannot lock " + path + ": " + why;
  return Result::kRefused;
}

std::string CRunLock::Refusal(const std::string& what) const {
  return m_reason.empty() ? DescribeHeldLock(what, m_holder) : m_reason;
}

CRunLock::Result CRunLock::Take(const std::string& lockPath) {
  Release();
  m_holder = 0;
  m_reason.clear();
  if (lockPath.empty()) return Result::kNotNeeded;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    bool made = true;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                    0644);
    if (fd < 0 && errno == EEXIST) {
      made = false;
      // Never written: an existing file may be another user's. O_NONBLOCK:
      // a FIFO planted here must not hang the open.
      fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;  // its holder let go meanwhile
    }
    if (fd < 0) {
      const int error = errno;
      if (error == ELOOP) return Refuse(lockPath, "it is a symbolic link");
      return Refuse(lockPath, std::string(std::strerror(error)) +
                                  (error == EACCES ? OwnerText(lockPath) : ""));
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd);
      return Refuse(lockPath, "it is not a regular file");
    }
    if (opened.st_nlink != 1) {
      ::close(fd);
      return Refuse(lockPath, "it has " + std::to_string(opened.st_nlink) +
                                  " names (hard links); a lock file must be a file of its own");
    }
    // Readable by every user whatever this one's umask: they lock it too.
    if (made && fchmod(fd, 0644) != 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(lockPath.c_str());
      return Refuse(lockPath, std::strerror(error));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error != EWOULDBLOCK) {
        ::close(fd);
        return Refuse(lockPath, std::strerror(error));
      }
      m_holder = ListedHolder(opened);
      if (m_holder == 0) m_holder = WrittenHolder(fd);
      ::close(fd);
      return Result::kHeld;
    }
    // The last holder may have removed the file between our open and our
    // lock; a lock on a file no longer there keeps nobody out.
    struct stat named {};
    if (::lstat(lockPath.c_str(), &named) != 0 || !SameFile(opened, named)) {
      ::close(fd);
      continue;
    }
    if (made) {
      const std::string pid = std::to_string(getpid()) + "\n";
      const ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
      (void)written;  // the lock holds without it
    }
    m_fd = fd;
    m_path = lockPath;
    m_removeOnRelease = opened.st_uid == geteuid();
    m_madeLog = false;
    m_logPath.clear();
    m_device = opened.st_dev;
    m_inode = opened.st_ino;
    return Result::kTaken;
  }
  return Refuse(lockPath, "it keeps being removed and made again");
}

CRunLock::Result CRunLock::TakeLog(const std::string& logPath) {
  Release();
  m_holder = 0;
  m_reason.clear();
  OutputTarget target;
  std::string error;
  if (!ResolveOutput(logPath, &target, &error) || target.kind == OutputKind::kInPlace) {
    return Result::kNotNeeded;
  }
  const std::string& path = target.path;
  std::string folder;
  if (!PrivateLockFolder(&folder, &error)) return Refuse(path, error);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    bool made = true;
    // Made as the run would make it (0666 through the umask), and not
    // emptied: an earlier run's log stays until this run starts.
    int logFd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (logFd < 0 && errno == EEXIST) {
      made = false;
      logFd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      if (logFd < 0 && errno == EACCES) {
        logFd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      }
      if (logFd < 0 && errno == ENOENT) continue;
    }
    if (logFd < 0) {
      const int why = errno;
      if (why == ELOOP) return Refuse(path, "it became a symbolic link");
      // Not there and not to be made (its folder went, or is full): the
      // log's own failure, not a lock's.
      m_reason = logPath + ": " + std::strerror(why);
      return made ? Result::kCannotCreate : Refuse(path, std::strerror(why));
    }
    struct stat log {};
    const bool regular = fstat(logFd, &log) == 0 && S_ISREG(log.st_mode);
    ::close(logFd);
    if (!regular) return Refuse(path, "it is no longer a regular file");
    // Only this user can open the lock file, so reading the log gives
    // nobody a hold on its runs.
    const std::string lockPath = folder + "/velmo-log-" + std::to_string(log.st_dev) + "-" +
                                 std::to_string(log.st_ino) + ".lock";
    const int fd =
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    struct stat opened {};
    if (fd < 0 || fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      const int why = fd < 0 ? errno : EINVAL;
      if (fd >= 0) ::close(fd);
      if (made) ::unlink(path.c_str());
      return Refuse(lockPath, std::strerror(why));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int why = errno;
      if (why != EWOULDBLOCK) {
        ::close(fd);
        return Refuse(lockPath, std::strerror(why));
      }
      m_holder = ListedHolder(opened);
      if (m_holder == 0) m_holder = WrittenHolder(fd);
      ::close(fd);
      return Result::kHeld;
    }
    // The last holder may have removed the lock file, or the log may have
    // been replaced, since they were opened: then try again.
    struct stat named {};
    struct stat logNamed {};
    const bool lockSame = ::lstat(lockPath.c_str(), &named) == 0 && SameFile(opened, named);
    if (!lockSame || ::lstat(path.c_str(), &logNamed) != 0 || !SameFile(log, logNamed)) {
      if (lockSame) ::unlink(lockPath.c_str());
      ::close(fd);
      continue;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0) {
      const ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
      (void)written;  // the lock holds without it
    }
    m_fd = fd;
    m_path = lockPath;
    m_removeOnRelease = true;
    m_device = opened.st_dev;
    m_inode = opened.st_ino;
    m_logPath = path;
    m_madeLog = made;
    m_logDevice = log.st_dev;
    m_logInode = log.st_ino;
    return Result::kTaken;
  }
  return Refuse(path, "it keeps being removed and made again");
}

void CRunLock::Release() {
  if (m_fd < 0) return;
  // Removed while still locked, so nobody takes a file about to go; and
  // only while the name still leads to the file locked.
  struct stat named {};
  if (m_madeLog && ::lstat(m_logPath.c_str(), &named) == 0 && named.st_dev == m_logDevice &&
      named.st_ino == m_logInode && named.st_size == 0) {
    ::unlink(m_logPath.c_str());
  }
  const bool same =
      ::lstat(m_path.c_str(), &named) == 0 && named.st_dev == m_device && named.st_ino == m_inode;
  if (same && m_removeOnRelease) ::unlink(m_path.c_str());
  ::close(m_fd);
  m_fd = -1;
  m_removeOnRelease = false;
  m_madeLog = false;
  m_logPath.clear();
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
