// A folder nothing can be written into, even by root: a small tmpfs mounted
// read-only (root only); for other users a folder without write permission.
// Empty Path() when neither can be made (a container without mounts).
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0) return;
    if (geteuid() != 0) {
      if (chmod(path.c_str(), 0555) == 0) m_path = path;
      return;
    }
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") != 0) return;
    m_mountPoint = path;
    if (mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") == 0) {
      m_path = path;
    }
  }
  ~ReadOnlyFolder() {
    if (!m_mountPoint.empty()) umount2(m_mountPoint.c_str(), MNT_DETACH);
  }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  std::string m_mountPoint;
};
