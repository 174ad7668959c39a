// A file that appears whole or not at all: its text goes to a temporary file
// beside it, is flushed to the disk and then renamed over the target. The
// temporary file is made at Open, so a target that cannot be written is
// known before a long scan starts; dropping the object uncommitted removes it.
#pragma once

#include <string>

class CAtomicFile {
 public:
  CAtomicFile() = default;
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return m_fd >= 0; }
  // Writes the whole text and puts it in place; false with *error otherwise
  // (the target is then left as it was).
  bool Commit(const std::string& text, std::string* error);

 private:
  void Discard();

  std::string m_path;
  std::string m_tempPath;
  int m_fd = -1;
};
