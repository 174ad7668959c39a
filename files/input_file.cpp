#include "files/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What a path is when it is not a regular file, as the message names it.
const char* NotAFileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something other than a file";
}

bool Fail(const std::string& path, InputFileError kind, const std::string& why,
          InputFileError* outKind, std::string* message) {
  *outKind = kind;
  *message = path + ": " + why;
  return false;
}

bool NotAFile(const std::string& path, mode_t mode, InputFileError* kind, std::string* message) {
  return Fail(path, InputFileError::kUnreadable,
              std::string("is ") + NotAFileKind(mode) + ", not a file", kind, message);
}

bool TooLarge(const std::string& path, unsigned long long size, size_t maxBytes,
              InputFileError* kind, std::string* message) {
  return Fail(
      path, InputFileError::kTooLarge,
      "too large (" + std::to_string(size) + " bytes, more than " + std::to_string(maxBytes) + ")",
      kind, message);
}

bool CannotRead(const std::string& path, int error, InputFileError* kind, std::string* message) {
  if (error == ENOENT || error == ENOTDIR) {
    return Fail(path, InputFileError::kMissing, "no such file", kind, message);
  }
  return Fail(path, InputFileError::kUnreadable,
              std::string("cannot be read (") + std::strerror(error) + ")", kind, message);
}

class CFd {
 public:
  explicit CFd(int fd) : m_fd(fd) {}
  ~CFd() {
    if (m_fd >= 0) close(m_fd);
  }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  int get() const { return m_fd; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

}  // namespace

int OpenInputFile(const std::string& path, InputFileError* kind, std::string* message) {
  *kind = InputFileError::kNone;
  message->clear();
  // A look before opening: opening a device node can itself act (a tape
  // rewinds, a drive spins up), and what is not a file is refused anyway.
  struct stat info {};
  // Each failure is said in *kind and *message; the descriptor is then -1.
  if (stat(path.c_str(), &info) != 0) {
    CannotRead(path, errno, kind, message);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    NotAFile(path, info.st_mode, kind, message);
    return -1;
  }

  // O_NONBLOCK: a FIFO put in the file's place since the look above must
  // not block the open; fstat below then refuses it.
  CFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
    CannotRead(path, errno, kind, message);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    NotAFile(path, info.st_mode, kind, message);
    return -1;
  }
  return fd.Release();
}

bool ReadInputFile(const std::string& path, size_t maxBytes, std::string* text,
                   InputFileError* kind, std::string* message) {
  text->clear();
  const CFd fd(OpenInputFile(path, kind, message));
  if (fd.get() < 0) return false;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return CannotRead(path, errno, kind, message);
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
    return TooLarge(path, static_cast<unsigned long long>(info.st_size), maxBytes, kind, message);
  }

  // The size may change while reading (a file still being written): never
  // take more than one byte past the cap, which is enough to know.
  text->reserve(static_cast<size_t>(info.st_size));
  char buffer[64 * 1024];
  for (;;) {
    const size_t room = maxBytes + 1 - text->size();
    const ssize_t got = read(fd.get(), buffer, room < sizeof buffer ? room : sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      text->clear();
      return CannotRead(path, error, kind, message);
    }
    if (got == 0) break;
    text->append(buffer, static_cast<size_t>(got));
    if (text->size() > maxBytes) {
      text->clear();
      return Fail(path, InputFileError::kTooLarge,
                  "too large (more than " + std::to_string(maxBytes) + " bytes)", kind, message);
    }
  }
  return true;
}
