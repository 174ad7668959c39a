#include "cli/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string Why(const std::string& path) { return path + ": " + std::strerror(errno); }

}  // namespace

CAtomicFile::~CAtomicFile() { Discard(); }

void CAtomicFile::Discard() {
  if (m_fd < 0) return;
  close(m_fd);
  unlink(m_tempPath.c_str());
  m_fd = -1;
}

bool CAtomicFile::Open(const std::string& path, std::string* error) {
  Discard();
  m_path = path;
  m_tempPath = path + "." + std::to_string(getpid()) + ".tmp";
  // 0666 so the finished file gets the same permissions as any the user makes.
  m_fd = open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (m_fd < 0) {
    *error = Why(path);
    return false;
  }
  return true;
}

bool CAtomicFile::Commit(const std::string& text, std::string* error) {
  if (m_fd < 0) {
    *error = m_path + ": not open";
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(m_fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = Why(m_path);
      Discard();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  const bool synced = fsync(m_fd) == 0;
  const bool closed = close(m_fd) == 0;
  m_fd = -1;
  if (!synced || !closed) {
    *error = Why(m_path);
    unlink(m_tempPath.c_str());
    return false;
  }
  if (std::rename(m_tempPath.c_str(), m_path.c_str()) != 0) {
    *error = Why(m_path);
    unlink(m_tempPath.c_str());
    return false;
  }
  return true;
}
