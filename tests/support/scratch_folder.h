// A folder of the test's own under the temporary directory, made new (never
// one a previous run left) and removed with everything in it when the
// object goes.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

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
  // Removes everything in the folder, for a test that starts over in it.
  void Clear() const {
    std::error_code ignored;
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, ignored)) {
      names.push_back(entry.path());
    }
    for (const auto& name : names) std::filesystem::remove_all(name, ignored);
  }

 private:
  std::string m_path;
};

// For a child of a root test that goes on as another user: opens folder to
// every user (0755) and makes it the working folder, then becomes uid. The
// temporary directory above the folder may be private to the test's own
// user (0700, as mktemp -d makes it), so the other user reaches the
// folder's files by names relative to it, never by their full paths.
inline bool BecomeUserIn(const std::string& folder, uid_t uid) {
  return chmod(folder.c_str(), 0755) == 0 && chdir(folder.c_str()) == 0 && setgid(uid) == 0 &&
         setuid(uid) == 0;
}
