// A folder of the test's own under the temporary directory, made new (never
// one a previous run left) and removed with everything in it when the
// object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class ScratchFolder {
 public:
  // name: the folder's prefix, e.g. "velmo-gui" for /tmp/velmo-gui-XXXXXX.
  explicit ScratchFolder(const std::string& name) {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Empty when the folder could not be made.
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};
