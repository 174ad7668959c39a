#include "session/output_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

constexpr int kMaxLinkHops = 40;

std::atomic<bool> s_stopWaiting{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// A write or open that a signal broke off: given up when the signal was a
// stop, else tried again.
bool GiveUp() {
  if (!s_stopWaiting.load()) return false;
  errno = EINTR;
  return true;
}

std::string Why(const std::string& path, int error) { return path + ": " + std::strerror(error); }

// *error as "PATH: reason", errno left at code for the caller.
bool Refuse(const std::string& path, int code, std::string* error, const char* text = nullptr) {
  *error = text != nullptr ? path + ": " + text : Why(path, code);
  errno = code;
  return false;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "-", /dev/stdout, /dev/stderr, /dev/stdin, /dev/fd/N, /proc/self/fd/N and
// /proc/PID/fd/N of this process: the descriptor they name, else -1.
int DescriptorNamed(const std::string& path) {
  if (path == "-" || path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                    std::string("/proc/thread-self/fd/"), own}) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    int fd = 0;
    for (size_t i = prefix.size(); i < path.size(); ++i) {
      if (path[i] < '0' || path[i] > '9' || fd > 100000) return -1;
      fd = fd * 10 + (path[i] - '0');
    }
    return fd;
  }
  return -1;
}

// The name of a new file in folder that is not yet there, for the moment
// between the unnamed file getting a name and taking the target's.
std::string TemporaryName(const std::string& folder, const std::string& name) {
  static std::atomic<unsigned> s_counter{0};
  return folder + "/." + name + ".velmo-" + std::to_string(getpid()) + "-" +
         std::to_string(s_counter.fetch_add(1)) + ".tmp";
}

}  // namespace

bool WriteOutputBytes(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  struct stat info {};
  const bool pipe = ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
  while (size > 0) {
    size_t chunk = size;
    if (pipe) {
      // A reader that reads nothing must not hold a stop off, even one that
      // came before this write (while the chart was drawn): the write waits
      // in poll, a tenth of a second at a time, and never takes more than
      // the pipe has room for, so write itself never blocks. A write that
      // need not wait goes on after a stop, as a file's does.
      pollfd ready{fd, POLLOUT, 0};
      int n = ::poll(&ready, 1, 0);
      while (n == 0 || (n < 0 && errno == EINTR)) {
        if (GiveUp()) return false;
        n = ::poll(&ready, 1, 100);
      }
      if (n < 0) return false;
      chunk = std::min<size_t>(size, PIPE_BUF);
    }
    const ssize_t n = ::write(fd, at, chunk);
    if (n < 0 && errno == EINTR) {
      if (GiveUp()) return false;
      continue;
    }
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    at += n;
    size -= static_cast<size_t>(n);
    // A terminal that takes part and blocks the rest: a stop ends it.
    if (!pipe && size > 0 && GiveUp()) return false;
  }
  return true;
}

namespace {

std::mutex s_readerWaitLock;
OutputReaderWait s_readerWait;

// Told once per open, as soon as a FIFO is found to have no reader; whether
// to wait for one.
bool TellReaderWait(const std::string& given) {
  OutputReaderWait tell;
  {
    std::lock_guard<std::mutex> hold(s_readerWaitLock);
    tell = s_readerWait;
  }
  return !tell || tell(given);
}

// "GIVEN: reason"; a FIFO given up for want of a reader says so.
std::string OpenWhy(const std::string& given, const std::string& path, int error) {
  struct stat info {};
  if (error == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
    return given + ": nobody is reading this FIFO";
  }
  return Why(given, error);
}

// A device, FIFO or socket, opened for writing in place. A FIFO's open waits
// for a reader; it is asked without blocking, so that a stop can end the wait
// (a blocking open would only see the signal if it landed on this thread,
// and not at all if it came just before), and so that the wait is said.
int OpenInPlace(const std::string& path, const std::string& given) {
  struct stat info {};
  const bool fifo = ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
  bool told = false;
  for (;;) {
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC | (fifo ? O_NONBLOCK : 0));
    if (fd >= 0) {
      if (fifo) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno == EINTR) {
      if (GiveUp()) return -1;
      continue;
    }
    if (!fifo || errno != ENXIO) return -1;
    // No reader yet.
    if (GiveUp()) return -1;
    if (!told && !TellReaderWait(given)) {
      errno = ENXIO;
      return -1;
    }
    told = true;
    const timespec nap{0, 20 * 1000 * 1000};
    nanosleep(&nap, nullptr);
  }
}

// Whether a file or link of owner in folder may be a trap: the folder is
// writable by every user and sticky (/tmp), so anyone may have put it there
// and only its owner can take it away, and owner is neither this user nor
// the folder's. What the kernel's protected_symlinks and protected_regular
// do, done here for systems where they are off.
bool PlantedInSharedFolder(const std::string& folder, uid_t owner) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return shared && owner != geteuid() && owner != info.st_uid;
}

std::string PlantedText(const char* what, uid_t owner, const char* refused) {
  return std::string(what) + " of user " + std::to_string(owner) +
         " in a folder every user may write into (sticky); it is not " + refused;
}

// Whether folder takes a new file; *error as "SHOWN: reason".
bool CheckFolder(const std::string& folder, const std::string& shown, std::string* error) {
  struct stat folderInfo {};
  if (stat(folder.c_str(), &folderInfo) != 0) {
    return Refuse(shown, errno, error);
  }
  if (!S_ISDIR(folderInfo.st_mode)) {
    return Refuse(shown, ENOTDIR, error);
  }
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return Refuse(shown, errno, error);
  }
  return true;
}

}  // namespace

bool ResolveOutput(const std::string& path, OutputTarget* target, std::string* error) {
  *target = OutputTarget{};
  target->given = path;
  if (path.empty()) {
    *error = "an output needs a file name";
    return false;
  }
  std::string at = path;
  for (int hop = 0;; ++hop) {
    const int fd = DescriptorNamed(at);
    if (fd >= 0) {
      struct stat info {};
      const int flags = fcntl(fd, F_GETFL);
      if (flags < 0 || fstat(fd, &info) != 0) {
        return Refuse(path, EBADF, error);
      }
      if ((flags & O_ACCMODE) == O_RDONLY) {
        return Refuse(path, EBADF, error, "not open for writing");
      }
      target->path = at;
      target->kind = OutputKind::kInPlace;
      target->descriptor = fd;
      target->exists = true;
      target->device = info.st_dev;
      target->inode = info.st_ino;
      return true;
    }
    struct stat link {};
    if (lstat(at.c_str(), &link) != 0) {
      if (errno != ENOENT) {
        return Refuse(path, errno, error);
      }
      break;  // a missing file (or a symlink to one)
    }
    if (!S_ISLNK(link.st_mode)) break;
    if (PlantedInSharedFolder(FolderOf(at), link.st_uid)) {
      return Refuse(path, EACCES, error,
                    PlantedText("a symbolic link", link.st_uid, "followed").c_str());
    }
    if (hop >= kMaxLinkHops) {
      return Refuse(path, ELOOP, error);
    }
    char buffer[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) {
      return Refuse(path, errno, error);
    }
    const std::string next(buffer, static_cast<size_t>(n));
    at = next[0] == '/' ? next : FolderOf(at) + "/" + next;
  }
  target->path = at;

  struct stat info {};
  if (stat(at.c_str(), &info) == 0) {
    target->exists = true;
    target->device = info.st_dev;
    target->inode = info.st_ino;
    if (S_ISDIR(info.st_mode)) {
      return Refuse(path, EISDIR, error, "is a folder; give a file name");
    }
    if ((S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode)) &&
        PlantedInSharedFolder(FolderOf(at), info.st_uid)) {
      return Refuse(
          path, EACCES, error,
          PlantedText(S_ISREG(info.st_mode) ? "a file" : "a FIFO", info.st_uid, "written").c_str());
    }
    target->kind = S_ISREG(info.st_mode) ? OutputKind::kReplaced : OutputKind::kInPlace;
    if (faccessat(AT_FDCWD, at.c_str(), W_OK, AT_EACCESS) != 0) {
      return Refuse(path, errno, error);
    }
    if (target->kind == OutputKind::kInPlace) return true;
  } else if (errno != ENOENT) {
    return Refuse(path, errno, error);
  }
  // A replaced file is made in its folder.
  return CheckFolder(FolderOf(at), path, error);
}

bool CheckOutputFolder(const std::string& folder, std::string* error) {
  if (folder.empty()) return CheckFolder(".", ".", error);
  return CheckFolder(folder, folder, error);
}

void SetOutputReaderWait(OutputReaderWait tell) {
  std::lock_guard<std::mutex> hold(s_readerWaitLock);
  s_readerWait = std::move(tell);
}

void StopWaitingForOutputs() { s_stopWaiting.store(true); }
void ResumeWaitingForOutputs() { s_stopWaiting.store(false); }

bool SameOutput(const OutputTarget& a, const OutputTarget& b) {
  if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
  if (a.exists || b.exists) return false;
  // Neither is there yet: the same name in the same folder.
  struct stat folderA {
  }, folderB{};
  if (stat(FolderOf(a.path).c_str(), &folderA) != 0 ||
      stat(FolderOf(b.path).c_str(), &folderB) != 0) {
    return a.path == b.path;
  }
  return folderA.st_dev == folderB.st_dev && folderA.st_ino == folderB.st_ino &&
         NameOf(a.path) == NameOf(b.path);
}

std::optional<std::pair<size_t, size_t>> FindSameOutput(const std::vector<std::string>& paths) {
  std::vector<std::optional<OutputTarget>> targets;
  for (const std::string& path : paths) {
    OutputTarget target;
    std::string error;
    // An unwritable path still has an identity; only one that cannot be
    // looked at is left out.
    if (path.empty() || (!ResolveOutput(path, &target, &error) && target.path.empty())) {
      targets.emplace_back();
    } else {
      targets.emplace_back(target);
    }
  }
  for (size_t i = 0; i < targets.size(); ++i) {
    for (size_t j = i + 1; j < targets.size(); ++j) {
      if (targets[i] && targets[j] && SameOutput(*targets[i], *targets[j])) return std::pair{i, j};
    }
  }
  return std::nullopt;
}

bool IsStandardOutput(const std::string& path) {
  OutputTarget target;
  std::string error;
  if (!ResolveOutput(path, &target, &error) && target.path.empty()) return false;
  if (target.descriptor == 1) return true;
  struct stat out {};
  return target.exists && fstat(1, &out) == 0 && out.st_dev == target.device &&
         out.st_ino == target.inode;
}

COutputFile::~COutputFile() { Discard(); }

bool COutputFile::Fail(Step step, std::string* error) {
  m_failedStep = step;
  m_failedError = errno;
  if (error != nullptr) *error = OpenWhy(m_target.given, m_target.path, m_failedError);
  return false;
}

void COutputFile::Discard() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_tempPath.empty()) ::unlink(m_tempPath.c_str());
  m_tempPath.clear();
}

bool COutputFile::Open(const std::string& path, std::string* error) {
  Discard();
  m_flushed = false;
  m_failedStep = Step::kNone;
  m_failedError = 0;
  std::string why;
  if (!ResolveOutput(path, &m_target, &why)) {
    m_failedStep = Step::kOpen;
    m_failedError = errno;
    if (error != nullptr) *error = why;
    return false;
  }
  if (m_target.descriptor >= 0) {
    m_fd = fcntl(m_target.descriptor, F_DUPFD_CLOEXEC, 3);
    return m_fd >= 0 || Fail(Step::kOpen, error);
  }
  if (m_target.kind == OutputKind::kInPlace) {
    m_fd = OpenInPlace(m_target.path, m_target.given);
    return m_fd >= 0 || Fail(Step::kOpen, error);
  }
  const std::string folder = FolderOf(m_target.path);
  // 0666 through the umask: the mode any new file of the user's gets.
  m_fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files here: a hidden named one, removed if not committed.
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
      m_tempPath = TemporaryName(folder, NameOf(m_target.path));
      m_fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) m_tempPath.clear();
  }
  if (m_fd < 0) return Fail(Step::kOpen, error);
  if (m_target.exists) {
    struct stat old {};
    if (::stat(m_target.path.c_str(), &old) == 0) {
      // The owner only where this user may give it; the mode after it, as a
      // change of owner clears the set-id bits.
      const int owned = fchown(m_fd, old.st_uid, old.st_gid);
      (void)owned;
      const int moded = fchmod(m_fd, old.st_mode & 07777);
      (void)moded;
    }
  }
  return true;
}

bool COutputFile::Write(const void* data, size_t size, std::string* error) {
  if (m_fd < 0) {
    errno = EBADF;
    return Fail(Step::kWrite, error);
  }
  if (WriteOutputBytes(m_fd, data, size)) return true;
  Fail(Step::kWrite, error);
  Discard();
  return false;
}

bool COutputFile::Flush(std::string* error) {
  if (m_fd < 0) {
    errno = EBADF;
    return Fail(Step::kFlush, error);
  }
  if (m_flushed || m_target.kind == OutputKind::kInPlace) return true;
  // A full disc or a quota may only show here.
  if (fsync(m_fd) != 0) {
    Fail(Step::kFlush, error);
    Discard();
    return false;
  }
  m_flushed = true;
  return true;
}

bool COutputFile::Commit(std::string* error) {
  if (!Flush(error)) return false;
  if (m_target.kind == OutputKind::kInPlace) {
    const bool closed = ::close(m_fd) == 0 || errno == EINTR;
    m_fd = -1;
    return closed || Fail(Step::kFlush, error);
  }
  const std::string folder = FolderOf(m_target.path);
  std::string named = m_tempPath;
  if (named.empty()) {
    // The unnamed file gets a name of its own first: a link cannot replace
    // a file, a rename can.
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
      named = TemporaryName(folder, NameOf(m_target.path));
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      if (errno == ENOENT && linkat(m_fd, "", AT_FDCWD, named.c_str(), AT_EMPTY_PATH) == 0) {
        break;
      }
      if (errno != EEXIST) {
        Fail(Step::kRename, error);
        Discard();
        return false;
      }
    }
    m_tempPath = named;
  }
  if (::close(m_fd) != 0 && errno != EINTR) {
    m_fd = -1;
    Fail(Step::kFlush, error);
    Discard();
    return false;
  }
  m_fd = -1;
  if (std::rename(named.c_str(), m_target.path.c_str()) != 0) {
    Fail(Step::kRename, error);
    Discard();
    return false;
  }
  m_tempPath.clear();
  return true;
}

int OpenOutputStream(const std::string& path, std::string* error) {
  OutputTarget target;
  if (!ResolveOutput(path, &target, error)) return -1;
  int fd = -1;
  if (target.descriptor >= 0) {
    fd = fcntl(target.descriptor, F_DUPFD_CLOEXEC, 3);
  } else if (target.kind == OutputKind::kInPlace) {
    fd = OpenInPlace(target.path, path);
  } else {
    // Emptied only once it is known to be the file looked at: nothing put
    // at its name meanwhile (a link, a FIFO, another user's file) is
    // followed or emptied.
    fd = ::open(target.path.c_str(),
                O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat opened {};
    if (fd >= 0 && (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
                    PlantedInSharedFolder(FolderOf(target.path), opened.st_uid))) {
      ::close(fd);
      fd = -1;
      errno = EACCES;
    }
    if (fd >= 0 &&
        (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
      const int why = errno;
      ::close(fd);
      fd = -1;
      errno = why;
    }
  }
  if (fd < 0) {
    const int why = errno;
    *error = OpenWhy(path, target.path, why);
    errno = why;
  }
  return fd;
}

std::function<int()> OutputStreamOpener(const std::string& path) {
  return [path] {
    std::string error;
    return OpenOutputStream(path, &error);
  };
}
